#include "CalculatorFactory.h"

#include "KroKit/ActiveServant.h"
#include "CalculatorAccount.h"
#include "CalculatorRouter.h"
#include "KroKit/UserTokenText.h"

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
    // Each is deactivated again when a later step fails (the router's
    // activation, the object table), and kept once the calculator is in
    // the table.
    KroKit::ActiveServant<CalculatorAccount, Krovane::IAsyncServer> account(
      m_serverObjectPOA.in(), new CalculatorAccount(m_serverObjectPOA.in()));
    account->SetUserToken(token);  // before anyone has its reference
    KroKit::ActiveServant<CalculatorRouter, Krovane::ISyncServer> router(
      m_serverObjectPOA.in(), new CalculatorRouter(m_serverObjectPOA.in(), account.Reference(), m_settings.maxThreads,
                                                   m_settings.stepTime, m_settings.callbackTimeout));
    AddObjectToTable(router.Reference());
    account.Keep();
    router.Keep();

    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) CalculatorFactory created a calculator for user \"%C\"\n"),
               KroKit::LoggedUser(token).c_str()));
    return Krovane::ISyncServer::_duplicate(router.Reference());
  }
}
