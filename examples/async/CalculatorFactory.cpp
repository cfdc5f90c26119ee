#include "CalculatorFactory.h"

#include "CalculatorAccount.h"
#include "CalculatorRouter.h"
#include "UserTokenText.h"

#include <ace/Log_Msg.h>

namespace KroExample
{
  CalculatorFactory::CalculatorFactory(PortableServer::POA_ptr serverObjectPOA,
                                       const CalculatorSettings& settings)
    : Krovane::ServerFactoryImpl(serverObjectPOA), m_settings(settings)
  {
  }

  Krovane::ISyncServer_ptr CalculatorFactory::CreateObject(const Krovane::UserToken& token)
  {
    // The POA takes its own reference to each servant on activation; ours
    // go when this function returns.
    CalculatorAccount* account = new CalculatorAccount(m_serverObjectPOA.in());
    PortableServer::ServantBase_var accountOwnership = account;
    account->SetUserToken(token);
    PortableServer::ObjectId_var accountId = m_serverObjectPOA->activate_object(account);
    CORBA::Object_var accountObject = m_serverObjectPOA->id_to_reference(accountId.in());
    Krovane::IAsyncServer_var accountReference = Krovane::IAsyncServer::_narrow(accountObject.in());

    CalculatorRouter* router = new CalculatorRouter(m_serverObjectPOA.in(), accountReference.in(),
                                                    m_settings.maxThreads, m_settings.stepTime,
                                                    m_settings.callbackTimeout);
    PortableServer::ServantBase_var routerOwnership = router;
    PortableServer::ObjectId_var routerId = m_serverObjectPOA->activate_object(router);
    CORBA::Object_var routerObject = m_serverObjectPOA->id_to_reference(routerId.in());
    Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(routerObject.in());
    AddObjectToTable(server.in());

    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) CalculatorFactory created a calculator for user \"%C\"\n"),
               TokenToText(token).c_str()));
    return server._retn();
  }
}
