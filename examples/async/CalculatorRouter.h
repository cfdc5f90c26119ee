// CalculatorRouter: the server object a client of the example works with.
// It is an asynchronous router (KroKit::AsyncRouter): Compute turns a
// request into an asynchronous operation, and Execute does the work of each
// operation on a pool thread, reporting to the client's handler through a
// relay (a CalculatorRelay). Cancelling, the state of an operation, a new
// handler and Remove are the library's.
//
// Ownership: reference counted; the POA holds it while it is active, and
// every operation holds it while it waits or runs. It serves one
// CalculatorAccount (the user); each operation owns its parameters.
//
// Threads: Compute and the inherited requests on ORB threads; Execute on
// pool threads, several at once.
#ifndef KRO_EXAMPLES_CALCULATORROUTER_H
#define KRO_EXAMPLES_CALCULATORROUTER_H

#include "Calculator.hh"

#include "KroKit/AsyncRouter.h"

#include <ace/Time_Value.h>

namespace KroExample
{
  class CalculatorRouter : public virtual POA_Calculator::ICalculator, public KroKit::AsyncRouter
  {
  public:
    // poa: the POA of the router and of account, the object served.
    // maxThreads: the pool's maximum, if this is the process's first
    // router and the pool was not sized before. stepTime: the least time
    // one step of work takes. callbackTimeout: seconds a client's handler
    // may take per callback.
    CalculatorRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                     const ACE_Time_Value& stepTime, int callbackTimeout);
    ~CalculatorRouter() override;

    // ICalculator: submits a "Compute" operation (parameters: what, steps).
    CORBA::Long Compute(const char* what, CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;

  protected:
    // The work of one "Compute" operation.
    void Execute(KroKit::OperationContext& operation) override;
    // A CalculatorRelay, which logs its end.
    Krovane::AsynchronousHandler* MakeRelay(Krovane::IAsyncHandler_ptr handler) override;
    void Submitted(Krovane::AsynchronousHandler& relay, int id) override;

  private:
    const ACE_Time_Value m_stepTime;  // the least time of one step
  };
}

#endif
