#include "BackEndFactory.h"

#include "BackEndRouter.h"
#include "UserTokenText.h"

#include "KroServer/AsyncServerImpl.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  namespace
  {
    // Activates servant in poa and returns its reference; the POA takes
    // its own servant reference, the caller keeps its one.
    CORBA::Object_ptr Activate(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant)
    {
      PortableServer::ObjectId_var id = poa->activate_object(servant);
      return poa->id_to_reference(id.in());
    }
  }

  BackEndFactory::BackEndFactory(PortableServer::POA_ptr serverObjectPOA, const std::string& name,
                                 int stepMilliseconds)
    : Krovane::ServerFactoryImpl(serverObjectPOA), m_name(name), m_stepMilliseconds(stepMilliseconds)
  {
  }

  Krovane::ISyncServer_ptr BackEndFactory::CreateObject(const Krovane::UserToken& token)
  {
    Krovane::AsyncServerImpl* session = new Krovane::AsyncServerImpl(m_serverObjectPOA.in(), 1);
    PortableServer::ServantBase_var sessionOwnership = session;
    session->SetUserToken(token);
    CORBA::Object_var sessionObject = Activate(m_serverObjectPOA.in(), session);
    Krovane::IAsyncServer_var sessionReference = Krovane::IAsyncServer::_narrow(sessionObject.in());

    BackEndRouter* router = new BackEndRouter(m_serverObjectPOA.in(), sessionReference.in(), m_name,
                                              m_stepMilliseconds);
    PortableServer::ServantBase_var routerOwnership = router;
    router->SetUserToken(token);
    CORBA::Object_var routerObject = Activate(m_serverObjectPOA.in(), router);
    Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(routerObject.in());
    AddObjectToTable(server.in());

    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroTiersBackEnd %C: new object for user \"%C\"\n"), m_name.c_str(),
               KroExample::TokenToText(token).c_str()));
    return server._retn();
  }
}
