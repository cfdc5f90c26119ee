// AsyncRouter: the base of an application's asynchronous server object.
// An asynchronous method is one call:
//
//   CORBA::Long Count(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler) override
//   {
//     return Submit("Count", handler, {steps});
//   }
//
// Submit wraps the client's handler in a relay (each callback bounded by the
// callback time-out; the operation calls it directly, and it is activated in
// the router's POA, under an unguessable id, only when its reference is
// asked for), hands the parameters to the operation, which owns them for its
// whole life, and queues it on the process's pool; on every path that fails
// the relay goes, never left active.
// The work is Execute, on a pool thread, as the router's user, with an
// OperationContext that carries the operation's id, name, parameters and
// the way to its client (Progress, Status, Results, Fail).
//
// A router that serves no other object (served nil, the default) is its
// own user: its factory sets its token (ObjectFactory does).
//
// Ownership: reference counted, like every server object (see
// AsynchronousRouter). Threads: Submit on ORB request threads; Execute on
// pool threads, several at once.
#ifndef KROKIT_ASYNCROUTER_H
#define KROKIT_ASYNCROUTER_H

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/AsynchronousRouter.h"

#include "Dazadared/Variant.h"

#include <string>
#include <vector>

namespace KroKit
{
  // One running operation, as its work sees it. Lives on the pool thread's
  // stack for the call of Execute.
  class OperationContext
  {
  public:
    OperationContext(Krovane::AsynchronousRouter& router, const Krovane::AsynchronousOperation& operation,
                     const std::string& name);

    int Id() const { return m_id; }
    const std::string& Name() const { return m_name; }
    const std::vector<Halvern_Utilities::Variant>& Parameters() const { return *m_parameters; }
    // Parameters()[index]; fails the operation (Fail) when there is none.
    const Halvern_Utilities::Variant& Parameter(std::size_t index);
    // The way to the client's handler (does nothing when it has none).
    const Krovane::RelayLink& Relay() const { return m_relay; }

    // Callbacks to the client, through its relay, each recorded in the
    // journal first when there is one.
    void Progress(double fraction) const
    {
      m_operation.RecordProgress(fraction);
      m_relay.Progress(fraction);
    }
    void Status(const std::string& text) const
    {
      m_operation.RecordStatus(text);
      m_relay.Status(text.c_str());
    }
    void Results(const CORBA::Any& data) const
    {
      m_operation.RecordResults(data);
      m_relay.Results(data);
    }
    // Results with value in an Any (anything with an Any insertion).
    template <typename Value>
    void ResultsOf(const Value& value) const
    {
      CORBA::Any data;
      data <<= value;
      Results(data);
    }
    // Leaves the work with OperationCancelled once the client cancelled.
    void CheckCancelled() { m_router.ServiceCancellation(); }
    // Tells the client reason (an AsyncOperationException holder through
    // Error) and ends the operation with that exception.
    [[noreturn]] void Fail(const std::string& reason);

  private:
    Krovane::AsynchronousRouter& m_router;                          // whose work it is
    const Krovane::AsynchronousOperation& m_operation;              // the operation run
    const int m_id;                                                 // the operation's id
    const std::string m_name;                                       // its name
    const std::vector<Halvern_Utilities::Variant>* m_parameters;    // the operation's; never null
    const Krovane::RelayLink m_relay;                               // to the client
  };

  class AsyncRouter : public Krovane::AsynchronousRouter
  {
  public:
    // poa: the POA of the router, its relays and served; served: the
    // object served (nil: none). callbackTimeout: seconds the client's
    // handler may take per callback (0: unbounded). maxThreads: the pool's
    // maximum when this is the process's first router and nobody sized the
    // pool before (ServerProcess does).
    explicit AsyncRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr served = Krovane::IAsyncServer::_nil(),
                         int callbackTimeout = 10, int maxThreads = 2);

  protected:
    // Queues the operation name for handler with parameters (see above) and
    // returns its id. CORBA::NO_MEMORY when it cannot be queued; what the
    // queue limit raises (IMP_LIMIT) passes through. restartable: Yes when
    // the work may run again from its start (failover, a restart).
    CORBA::Long Submit(const std::string& name, Krovane::IAsyncHandler_ptr handler,
                       std::vector<Halvern_Utilities::Variant> parameters,
                       Krovane::Restartable restartable = Krovane::Restartable::No);

    // The work of one operation, on a pool thread.
    virtual void Execute(OperationContext& operation) = 0;

    // The relay for a client's handler (new; its reference is the caller's):
    // a plain Krovane::AsynchronousHandler unless a router needs more.
    virtual Krovane::AsynchronousHandler* MakeRelay(Krovane::IAsyncHandler_ptr handler);
    // Called once the operation id was given to the operation relay serves.
    virtual void Submitted(Krovane::AsynchronousHandler& relay, int id);
    // MakeRelay's relay, detached, with the callback time-out.
    Krovane::AsynchronousHandler* MakeRestoredRelay() override;

  private:
    void ExecuteOperation(const std::string& name, std::vector<Halvern_Utilities::Variant>* parameters) final;
    // MakeRelay's relay for handler, each callback bounded by the callback time-out (new; the caller's).
    Krovane::AsynchronousHandler* BoundedRelay(Krovane::IAsyncHandler_ptr handler);

    const int m_callbackTimeout;  // seconds per callback; 0: unbounded
  };
}

#endif
