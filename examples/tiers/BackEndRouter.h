// BackEndRouter: the server object a back end hands to each client (a
// front end, normally). StartWork becomes an asynchronous operation on the
// process's thread pool; its work takes the given number of steps, reports
// Progress after each and Results at the end, and stops at the next step
// when cancelled.
//
// Ownership: created by BackEndFactory, owned by its POA (reference
// counted); it serves a session object of the same POA that holds the
// client's user (m_server), which its Remove deactivates. Each operation
// retires its relay when it ends (or is withdrawn). Threads:
// requests on ORB threads, ExecuteOperation on pool threads.
#ifndef KRO_EXAMPLES_TIERS_BACKENDROUTER_H
#define KRO_EXAMPLES_TIERS_BACKENDROUTER_H

#include "WorkRequests.h"

#include "KroServer/AsynchronousRouter.h"
#include "Tiers.hh"

#include <string>

namespace KroTiers
{
  class BackEndRouter : public virtual POA_KroTiers::IWorkServer, public Krovane::AsynchronousRouter
  {
  public:
    // session: the object served; name: the back end's name, for the
    // results; stepMilliseconds: how long one step of work takes.
    BackEndRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr session, const std::string& name,
                  int stepMilliseconds);

    // IWorkServer
    CORBA::Long StartWork(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override;

    // The work: the steps, then "<name>: <steps> steps done for <user>" as Results.
    void ExecuteOperation(const std::string& name,
                          std::vector<Halvern_Utilities::Variant>* parameters) override;

  private:
    const std::string m_name;         // the back end's name
    const int m_stepMilliseconds;     // length of one step
    WorkRequests m_requests;          // parameters and relays of accepted requests
  };
}

#endif
