// CalculatorAccount: the server object that a calculator serves: it stands
// for the client's user (its token) and holds nothing else. The router
// (CalculatorRouter) runs its operations as this object's user and passes
// cancellation on to it; Remove of the router deactivates it.
//
// Ownership: reference counted; the POA and the router hold it (the router
// until it is destroyed itself). Created by CalculatorFactory. Any ORB
// thread may call it.
#ifndef KRO_EXAMPLES_CALCULATORACCOUNT_H
#define KRO_EXAMPLES_CALCULATORACCOUNT_H

#include "KroServer/AsyncServerImpl.h"

namespace KroExample
{
  class CalculatorAccount : public Krovane::AsyncServerImpl
  {
  public:
    // poa: the POA of the server objects (the router's too).
    explicit CalculatorAccount(PortableServer::POA_ptr poa);
    // Logs "account of <user> deleted".
    ~CalculatorAccount() override;
  };
}

#endif
