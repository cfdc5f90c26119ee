#include "CalculatorAccount.h"

#include "KroKit/UserTokenText.h"

#include <ace/Log_Msg.h>

namespace KroExample
{
  CalculatorAccount::CalculatorAccount(PortableServer::POA_ptr poa)
    : Krovane::AsyncServerImpl(poa, 0)  // it serves no requests of its own: nothing to track
  {
  }

  CalculatorAccount::~CalculatorAccount()
  {
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) account of \"%C\" deleted\n"), KroKit::LoggedUser(GetUserPacket().GetToken()).c_str()));
  }
}
