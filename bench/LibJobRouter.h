// LibJobRouter: the benchmark's server object on the library, an
// asynchronous router written with the kit, as the calculator example is.
// Submit wraps the client's handler in a relay and queues an operation;
// Execute reports one Progress per step (the steps do no work) and the
// library reports Queued and Finished.
//
// Ownership: reference counted; the POA holds it while it is active and
// every operation while it waits or runs. Threads: requests on ORB threads,
// ExecuteOperation on pool threads, several at once.
#ifndef KRO_BENCH_LIBJOBROUTER_H
#define KRO_BENCH_LIBJOBROUTER_H

#include "KroBenchJobs.hh"

#include "KroKit/AsyncRouter.h"

namespace KroBench
{
  class LibJobRouter : public virtual POA_KroBench::IJobs, public KroKit::AsyncRouter
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

    // One job: its one parameter is the step count.
    void Execute(KroKit::OperationContext& job) override;
  };
}

#endif
