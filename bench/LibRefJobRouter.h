// LibRefJobRouter: the benchmark's server object written with the library
// alone, as docs/building-with-the-library.md and the tiers example do:
// Submit makes the relay, activates it in the router's POA, bounds its
// callbacks and hands the library the relay's reference; ExecuteOperation
// reports one Progress per step through CurrentRelay (the steps do no work)
// and the library reports Queued and Finished.
//
// Ownership: reference counted; the POA holds it while it is active and
// every operation while it waits or runs. Threads: requests on ORB threads,
// ExecuteOperation on pool threads, several at once.
#ifndef KRO_BENCH_LIBREFJOBROUTER_H
#define KRO_BENCH_LIBREFJOBROUTER_H

#include "KroBenchJobs.hh"

#include "KroServer/AsynchronousRouter.h"

namespace KroBench
{
  class LibRefJobRouter : public virtual POA_KroBench::IJobs, public Krovane::AsynchronousRouter
  {
  public:
    // poa: the POA of the router, its relays and account; maxThreads: the
    // pool's maximum if this is the first router; callbackTimeout: seconds per callback.
    LibRefJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                    int callbackTimeout);

    // IJobs
    CORBA::Long Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;
    void Ping() override;
    CORBA::Long PoolThreads() override;

    // One job: its one parameter is the step count.
    void ExecuteOperation(const std::string& name, std::vector<Halvern_Utilities::Variant>* parameters) override;

  private:
    const int m_callbackTimeout;  // seconds per callback
  };
}

#endif
