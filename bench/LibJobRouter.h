// LibJobRouter: the benchmark's server object on the library, an
// asynchronous router. Submit wraps the client's handler in a relay and
// queues an operation; ExecuteOperation reports one Progress per step (the
// steps do no work) and the library reports Queued and Finished.
//
// Ownership: reference counted; the POA holds it while it is active and
// every operation while it waits or runs. Threads: requests on ORB threads,
// ExecuteOperation on pool threads, several at once.
#ifndef KRO_BENCH_LIBJOBROUTER_H
#define KRO_BENCH_LIBJOBROUTER_H

#include "KroBenchJobs.hh"

#include "KroServer/AsynchronousRouter.h"

#include <ace/Thread_Mutex.h>

#include <map>
#include <vector>

namespace KroBench
{
  class LibJobRouter : public virtual POA_KroBench::IJobs, public Krovane::AsynchronousRouter
  {
  public:
    // poa: the POA of the router and of account; maxThreads: the pool's
    // maximum if this is the first router; callbackTimeout: seconds per callback.
    LibJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                 int callbackTimeout);

    // IJobs
    CORBA::Long Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;
    void Ping() override;
    CORBA::Long PoolThreads() override;

    // One job: parameters hold the step count.
    void ExecuteOperation(const std::string& name,
                          std::vector<Halvern_Utilities::Variant>* parameters) override;

  private:
    // The parameters of a job of steps steps, shared by all such jobs and
    // kept for the router's life (map nodes never move), so that the
    // router keeps nothing per operation of its own.
    std::vector<Halvern_Utilities::Variant>* ParametersFor(int steps);

    const int m_callbackTimeout;  // seconds per callback
    ACE_Thread_Mutex m_parametersLock;  // guards m_parameters
    std::map<int, std::vector<Halvern_Utilities::Variant>> m_parameters;  // by step count
  };
}

#endif
