#include "BackEndFactory.h"

#include "KroKit/ActiveServant.h"
#include "BackEndRouter.h"
#include "KroKit/UserTokenText.h"

#include "KroServer/AsyncServerImpl.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  BackEndFactory::BackEndFactory(PortableServer::POA_ptr serverObjectPOA, const std::string& name,
                                 int stepMilliseconds)
    : Krovane::ServerFactoryImpl(serverObjectPOA), m_name(name), m_stepMilliseconds(stepMilliseconds)
  {
  }

  Krovane::ISyncServer_ptr BackEndFactory::CreateObject(const Krovane::UserToken& token)
  {
    // Each is deactivated again when a later step fails, and kept once the
    // router is in the table.
    KroKit::ActiveServant<Krovane::AsyncServerImpl, Krovane::IAsyncServer> session(
      m_serverObjectPOA.in(), new Krovane::AsyncServerImpl(m_serverObjectPOA.in(), 1));
    session->SetUserToken(token);  // before anyone has its reference
    KroKit::ActiveServant<BackEndRouter, Krovane::ISyncServer> router(
      m_serverObjectPOA.in(), new BackEndRouter(m_serverObjectPOA.in(), session.Reference(), m_name,
                                                m_stepMilliseconds));
    router->SetUserToken(token);
    AddObjectToTable(router.Reference());
    session.Keep();
    router.Keep();

    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersBackEnd %C: new object for user \"%C\"\n"), m_name.c_str(),
               KroKit::LoggedUser(token).c_str()));
    return Krovane::ISyncServer::_duplicate(router.Reference());
  }
}
