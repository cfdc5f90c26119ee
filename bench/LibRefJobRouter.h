// LibRefJobRouter: the benchmark's server object written with the library
// alone, as docs/building-with-the-library.md shows: Submit makes the relay,
// bounds its callbacks and hands it to the library, as itself (activated
// only if its reference is asked for) or, kReference, activated in the
// router's POA through a reference made up front, as the tiers example does
// for relays it hands to another server; ExecuteOperation reports one
// Progress per step through CurrentRelay (the steps do no work) and the
// library reports Queued and Finished.
//
// Ownership: reference counted; the POA holds it while it is active and
// every operation while it waits or runs. Threads: requests on ORB threads,
// ExecuteOperation on pool threads, several at once.
#ifndef KRO_BENCH_LIBREFJOBROUTER_H
#define KRO_BENCH_LIBREFJOBROUTER_H

#include "KroBenchJobs.hh"

#include "KroServer/AsynchronousRouter.h"

namespace Krovane
{
  class AsynchronousHandler;
}

namespace KroBench
{
  class LibRefJobRouter : public virtual POA_KroBench::IJobs, public Krovane::AsynchronousRouter
  {
  public:
    // How Submit hands its relay to the library.
    enum class Handover
    {
      kItself,     // the relay itself, activated only when its reference is asked for
      kReference   // a reference made for each relay, which is activated up front
    };

    // poa: the POA of the router, its relays and account; maxThreads: the
    // pool's maximum if this is the first router; callbackTimeout: seconds per callback.
    LibRefJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                    int callbackTimeout, Handover handover);

    // IJobs
    CORBA::Long Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;
    void Ping() override;
    CORBA::Long PoolThreads() override;

    // One job: its one parameter is the step count.
    void ExecuteOperation(const std::string& name, std::vector<Halvern_Utilities::Variant>* parameters) override;

  private:
    // Submit by way of a reference made for the relay.
    CORBA::Long SubmitByReference(Krovane::AsynchronousHandler* relay, CORBA::Long steps);

    const int m_callbackTimeout;  // seconds per callback
    const Handover m_handover;    // how Submit hands its relay over
  };
}

#endif
