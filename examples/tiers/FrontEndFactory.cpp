#include "FrontEndFactory.h"

#include "FrontEndRouter.h"
#include "KroKit/UserTokenText.h"

#include "KroKit/ActiveServant.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  FrontEndFactory::FrontEndFactory(PortableServer::POA_ptr serverObjectPOA, BackEndRegistry& registry,
                                   BackEndRefresher& refresher, int waitSeconds, int retries)
    : Krovane::ServerFactoryImpl(serverObjectPOA),
      m_registry(registry),
      m_refresher(refresher),
      m_waitSeconds(waitSeconds),
      m_retries(retries)
  {
  }

  Krovane::ISyncServer_ptr FrontEndFactory::CreateObject(const Krovane::UserToken& token)
  {
    // Deactivated again unless the table takes it: a refused creation leaves nothing active.
    KroKit::ActiveServant<FrontEndRouter, Krovane::ISyncServer> router(
      m_serverObjectPOA.in(), new FrontEndRouter(m_serverObjectPOA.in(), m_registry, m_refresher, m_waitSeconds, m_retries));
    router->SetUserToken(token);  // before the client has its reference
    AddObjectToTable(router.Reference());
    router.Keep();

    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: new object for user \"%C\"\n"),
               KroKit::LoggedUser(token).c_str()));
    return Krovane::ISyncServer::_duplicate(router.Reference());
  }
}
