// WorkRequests: what a router keeps for the StartWork requests it accepts:
// the parameters of each operation (the library does not copy them; they
// must live until the operation has ended) and the relay that stands
// between the operation and the client's handler.
//
// Ownership: owned by one router; owns the parameter vectors and one
// reference to each relay it made. Threads: any request or pool thread; a
// lock guards the list.
#ifndef KRO_EXAMPLES_TIERS_WORKREQUESTS_H
#define KRO_EXAMPLES_TIERS_WORKREQUESTS_H

#include "Krovane.hh"

#include "Dazadared/Variant.h"

#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace KroTiers
{
  class WorkRequests
  {
  public:
    // One accepted request.
    struct Request
    {
      std::vector<Halvern_Utilities::Variant> parameters;  // the operation's parameters
      Krovane::IAsyncHandler_var relay;                     // the relay in front of the client
      PortableServer::ObjectId_var relayId;                 // its id in the router's POA
    };

    // A request being submitted: added at construction, and forgotten
    // again (its relay deactivated) when the scope ends before Keep(), as
    // when the submission throws or is refused.
    class Pending
    {
    public:
      // Keeps the parameters {steps} and a new relay to client, active in poa.
      Pending(WorkRequests& requests, PortableServer::POA_ptr poa, int steps, Krovane::IAsyncHandler_ptr client);
      ~Pending();
      Pending(const Pending&) = delete;
      Pending& operator=(const Pending&) = delete;

      Request* operator->() const { return m_request; }
      // The request stays until RetireAll; its operation retires the relay.
      void Keep() { m_kept = true; }

    private:
      WorkRequests& m_requests;        // where it was added
      PortableServer::POA_var m_poa;   // where its relay is active
      Request* m_request;              // owned by m_requests
      bool m_kept = false;             // Keep() was called
    };
    // Deactivates every relay still active (errors are ignored: a relay
    // may be gone already) and drops every request. Only once no operation
    // of the router can run any more, and only for operations that leave
    // their relays active when they end (those of a dependent-server
    // router).
    void RetireAll(PortableServer::POA_ptr poa);

    // The number of steps in an operation's parameters.
    static int Steps(const std::vector<Halvern_Utilities::Variant>* parameters);

  private:
    // Keeps the parameters {steps} and a new relay to client, active in poa.
    Request& Add(PortableServer::POA_ptr poa, int steps, Krovane::IAsyncHandler_ptr client);
    // Drops a request whose submission failed, deactivating its relay.
    void Forget(PortableServer::POA_ptr poa, Request& request);

    std::mutex m_lock;                                // guards m_requests
    std::list<std::unique_ptr<Request>> m_requests;   // every request kept
  };

  // The handler of the operation that the calling pool thread runs (a new
  // reference; nil outside an operation).
  Krovane::IAsyncHandler_ptr CurrentOperationHandler();
}

#endif
