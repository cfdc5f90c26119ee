// CalculatorRouter: the server object a client of the example works with.
// It is an asynchronous router: Compute turns a request into an
// asynchronous operation, and ExecuteOperation does the work of each
// operation on a pool thread, reporting to the client's handler through a
// relay. Cancelling, the state of an operation, a new handler and Remove
// are the library's.
//
// Ownership: reference counted; the POA holds it while it is active, and
// every operation holds it while it waits or runs. It serves one
// CalculatorAccount (the user) and owns the parameters of its operations,
// which therefore live as long as the operations themselves.
//
// Threads: Compute and the inherited requests on ORB threads;
// ExecuteOperation on pool threads, several at once.
#ifndef KRO_EXAMPLES_CALCULATORROUTER_H
#define KRO_EXAMPLES_CALCULATORROUTER_H

#include "Calculator.hh"

#include "KroServer/AsynchronousRouter.h"

#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <list>
#include <vector>

namespace KroExample
{
  class CalculatorRouter : public virtual POA_Calculator::ICalculator, public Krovane::AsynchronousRouter
  {
  public:
    // poa: the POA of the router and of account, the object served.
    // maxThreads: the pool's maximum, if this is the process's first
    // router. stepTime: the least time one step of work takes.
    // callbackTimeout: seconds a client's handler may take per callback.
    CalculatorRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                     const ACE_Time_Value& stepTime, int callbackTimeout);
    ~CalculatorRouter() override;

    // ICalculator: wraps handler in a relay and submits the operation.
    CORBA::Long Compute(const char* what, CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;

    // The work of one "Compute" operation (parameters: what, steps).
    void ExecuteOperation(const std::string& name,
                          std::vector<Halvern_Utilities::Variant>* parameters) override;

  private:
    // Stores parameters until the router goes and returns the stored vector.
    std::vector<Halvern_Utilities::Variant>* KeepParameters(std::vector<Halvern_Utilities::Variant> parameters);
    // Reports reason to handler as an AsyncOperationException holder and
    // fails the operation with the same exception.
    [[noreturn]] void Fail(Krovane::IAsyncHandler_ptr handler, const std::string& reason);

    const ACE_Time_Value m_stepTime;  // the least time of one step
    const int m_callbackTimeout;      // seconds per callback
    ACE_Thread_Mutex m_parametersLock;  // guards m_parameters
    // The parameters of every operation submitted (a list: stored vectors never move).
    std::list<std::vector<Halvern_Utilities::Variant>> m_parameters;
  };
}

#endif
