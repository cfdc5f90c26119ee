// FrontEndRouter: the server object the front end hands to each client. It
// offers the same StartWork as a back end, but each operation is carried
// out by a back end: the library claims a free entry of the registry and
// creates a server object on that back end for this router's user
// (GetServer()); ExecuteOperation then starts the work there with a
// ForwardingHandler of its own, which passes the back end's callbacks on
// to the client, and waits for the back end's Finished. Meanwhile it stops
// when the client cancels (cancelling the back end's operation too), when
// the back end is gone or at the bound given. The work is submitted
// restartable: when its back end is gone (dead, or not answering within
// --call-ms), the library runs it again on another free back end, at most
// the retries given, and the client hears Status "retrying on B2"; when no
// other back end is free, or the retries are spent, the client gets an
// Error holder ("back end B1 is gone"). A back end that is lost after it
// sent its Results has done the work: the operation ends as finished.
//
// One operation at a time: StartWork while one is active is refused with
// Unavailable. No free back end: the registry is re-read at once and the
// claim tried once more; when that finds none either, the client gets an
// Error holder ("no back end is free") and Finished. A back end that fails
// (creating the object, starting or during the work) is withdrawn from the
// registry before its entry is freed, and the registry is re-read soon.
//
// Ownership: created by FrontEndFactory, owned by its POA (reference
// counted). The relays of its operations stay active after the operations
// end (RegisterNewHandler may still re-point them) and are retired by
// Remove. Threads: requests on ORB threads, ExecuteOperation on pool
// threads.
#ifndef KRO_EXAMPLES_TIERS_FRONTENDROUTER_H
#define KRO_EXAMPLES_TIERS_FRONTENDROUTER_H

#include "BackEndRefresher.h"
#include "BackEndRegistry.h"
#include "WorkRequests.h"

#include "KroServer/AsynchronousDepServerRouter.h"
#include "Tiers.hh"

#include <chrono>
#include <string>

namespace KroTiers
{
  class ForwardingHandler;

  class FrontEndRouter : public virtual POA_KroTiers::IWorkServer, public Krovane::AsynchronousDepServerRouter
  {
  public:
    // registry: its list is offered to the library as the process's
    // registry; refresher: re-reads it; both main's. waitSeconds: bound of
    // one forwarded operation; retries: runs again of work whose back end was lost.
    FrontEndRouter(PortableServer::POA_ptr poa, BackEndRegistry& registry, BackEndRefresher& refresher,
                   int waitSeconds, int retries);

    // IWorkServer
    CORBA::Long StartWork(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;
    // ISyncServer: as the library's (refused while an operation is active), then the relays go.
    void Remove() override;

    // The library's, tried once more after a re-read when no back end was free.
    void DispatchOperation(const std::string& name, int operationId, Krovane::IAsyncHandler_ptr handler,
                           std::vector<Halvern_Utilities::Variant>* params) override;
    // The work: drives the claimed back end (see above).
    void ExecuteOperation(const std::string& name,
                          std::vector<Halvern_Utilities::Variant>* parameters) override;
    // The library's, after withdrawing the entry of a back end that failed.
    void Cleanup() override;

  private:
    // Waits for the back end's Finished; false when the back end is gone
    // before it sent its Results.
    // Raises OperationCancelled when the client cancels.
    bool WaitForBackEnd(KroTiers::IWorkServer_ptr backEnd, CORBA::Long backEndOperation,
                        ForwardingHandler& forwarder);
    // Tells client through an Error holder what went wrong.
    void ReportError(Krovane::IAsyncHandler_ptr client, const std::string& reason);
    // Marks the current attempt's back end as failed and raises
    // DependentServerLost for it.
    [[noreturn]] void LoseBackEnd(const std::string& backEndName);

    BackEndRegistry& m_registry;        // the back ends; main's
    BackEndRefresher& m_refresher;      // re-reads them; main's
    const std::chrono::seconds m_wait;  // bound of one forwarded operation
    WorkRequests m_requests;            // parameters and relays of accepted requests
    // Of the operation being dispatched; only its pool thread uses them (one at a time).
    bool m_workStarted = false;         // ExecuteOperation ran: a back end was claimed and made an object
    bool m_backEndFailed = false;       // the back end of the current attempt failed the work
  };
}

#endif
