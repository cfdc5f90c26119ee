// FrontEndRouter: the server object the front end hands to each client. It
// offers the same StartWork as a back end, but each operation is carried
// out by a back end: the library claims a free entry of the registry and
// creates a server object on that back end for this router's user
// (GetServer()); ExecuteOperation then starts the work there with a
// ForwardingHandler of its own, which passes the back end's callbacks on
// to the client, and waits for the back end's Finished. Meanwhile it stops
// when the client cancels (cancelling the back end's operation too), when
// the back end is gone (the client gets an Error holder saying so) or at
// the bound given.
//
// One operation at a time: StartWork while one is active is refused with
// Unavailable. No free back end: the operation ends at once, Finished.
//
// Ownership: created by FrontEndFactory, owned by its POA (reference
// counted). The relays of its operations stay active after the operations
// end (RegisterNewHandler may still re-point them) and are retired by
// Remove. Threads: requests on ORB threads, ExecuteOperation on pool
// threads.
#ifndef KRO_EXAMPLES_TIERS_FRONTENDROUTER_H
#define KRO_EXAMPLES_TIERS_FRONTENDROUTER_H

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
    // registry: offered to the library as the process's registry;
    // waitSeconds: bound of one forwarded operation.
    FrontEndRouter(PortableServer::POA_ptr poa, Krovane::DependentServerList* registry, int waitSeconds);

    // IWorkServer
    CORBA::Long StartWork(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;
    // ISyncServer: as the library's (refused while an operation is active), then the relays go.
    void Remove() override;

    // The work: drives the claimed back end (see above).
    void ExecuteOperation(const std::string& name,
                          std::vector<Halvern_Utilities::Variant>* parameters) override;

  private:
    // Waits for the back end's Finished; false when the back end is gone.
    // Raises OperationCancelled when the client cancels.
    bool WaitForBackEnd(KroTiers::IWorkServer_ptr backEnd, CORBA::Long backEndOperation,
                        ForwardingHandler& forwarder);
    // Tells client through an Error holder that the back end is gone.
    void ReportLostBackEnd(Krovane::IAsyncHandler_ptr client, const std::string& backEndName);

    const std::chrono::seconds m_wait;  // bound of one forwarded operation
    WorkRequests m_requests;            // parameters and relays of accepted requests
  };
}

#endif
