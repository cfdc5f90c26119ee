#include "FrontEndFactory.h"

#include "FrontEndRouter.h"
#include "KroKit/UserTokenText.h"

#include "KroServer/UnguessableObjectIds.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  FrontEndFactory::FrontEndFactory(PortableServer::POA_ptr serverObjectPOA, BackEndRegistry& registry,
                                   BackEndRefresher& refresher, int waitSeconds)
    : Krovane::ServerFactoryImpl(serverObjectPOA),
      m_registry(registry),
      m_refresher(refresher),
      m_waitSeconds(waitSeconds)
  {
  }

  Krovane::ISyncServer_ptr FrontEndFactory::CreateObject(const Krovane::UserToken& token)
  {
    FrontEndRouter* router = new FrontEndRouter(m_serverObjectPOA.in(), m_registry, m_refresher, m_waitSeconds);
    PortableServer::ServantBase_var ownership = router;
    router->SetUserToken(token);
    PortableServer::ObjectId_var id = Krovane::UnguessableObjectIds::Activate(m_serverObjectPOA.in(), router);
    CORBA::Object_var reference = m_serverObjectPOA->id_to_reference(id.in());
    Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(reference.in());
    AddObjectToTable(server.in());

    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: new object for user \"%C\"\n"),
               KroKit::TokenToText(token).c_str()));
    return server._retn();
  }
}
