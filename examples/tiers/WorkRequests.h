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

    // Keeps the parameters {steps} and a new relay to client, active in
    // poa. The request stays until Forget or RetireAll.
    Request& Add(PortableServer::POA_ptr poa, int steps, Krovane::IAsyncHandler_ptr client);
    // Drops a request whose submission was refused, deactivating its relay.
    void Forget(PortableServer::POA_ptr poa, Request& request);
    // Deactivates every relay still active (errors are ignored: a relay
    // may be gone already) and drops every request. Only once no operation
    // of the router can run any more, and only for operations that leave
    // their relays active when they end (those of a dependent-server
    // router).
    void RetireAll(PortableServer::POA_ptr poa);

    // The number of steps in an operation's parameters.
    static int Steps(const std::vector<Halvern_Utilities::Variant>* parameters);

  private:
    std::mutex m_lock;                                // guards m_requests
    std::list<std::unique_ptr<Request>> m_requests;   // every request kept
  };

  // The handler of the operation that the calling pool thread runs (a new
  // reference; nil outside an operation).
  Krovane::IAsyncHandler_ptr CurrentOperationHandler();
}

#endif
