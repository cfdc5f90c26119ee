// RelayLink: an operation's way to its client's callbacks.
//
// When the operation's handler is a relay (AsynchronousHandler) active in
// the operation's own POA, the link holds the relay's servant and calls it
// directly: the callback does not pass through the ORB (POA, interceptor,
// argument copies), and the relay serialises, bounds, detaches and maps
// errors exactly as it does for a call through its reference. Any other
// handler (a relay of another process or POA, a client's own object) is
// called through its reference. A link made from the relay itself (which
// knows where it is active) needs no reference: one is made only when asked
// for, and the relay is deactivated by its id. An empty link does nothing.
//
// Ownership: a value. It holds a reference to the handler and, on the
// direct path, a reference to the relay's servant, so that the servant
// outlives every call made through the link, even once its operation has
// deactivated it. Threads: a link is not shared; copies may be used by
// several threads at once (the relay serialises their callbacks).
#ifndef KROSERVER_RELAYLINK_H
#define KROSERVER_RELAYLINK_H

#include "Krovane.hh"

namespace Krovane
{
  class AsynchronousHandler;

  class RelayLink
  {
  public:
    // Empty: every callback does nothing.
    RelayLink();
    // To handler (nil: empty), found behind its reference in poa when it is
    // a relay active there; nil poa: always through the reference.
    RelayLink(IAsyncHandler_ptr handler, PortableServer::POA_ptr poa);
    // To relay itself, directly; relay has been told where it is or will be
    // active (AsynchronousHandler::ActiveIn, ActivateOnDemandIn).
    explicit RelayLink(AsynchronousHandler& relay);
    // Copies share the handler and hold the relay's servant each.
    RelayLink(const RelayLink& other);
    RelayLink(RelayLink&& other) noexcept;
    RelayLink& operator=(RelayLink other) noexcept;
    ~RelayLink();

    bool IsEmpty() const;
    // Whether callbacks go straight to the relay's servant.
    bool IsDirect() const;
    // The relay's servant on the direct path (held by this link), else null.
    AsynchronousHandler* DirectRelay() const { return m_relay; }
    // The handler's reference (nil when empty); no new reference. A link
    // made from the relay itself asks the relay for its own.
    IAsyncHandler_ptr Reference() const;
    // Retires the handler's object in poa (where a finished operation's relay
    // is active): by the relay's id when it knows it, else by the reference's.
    // Throws what the POA throws (a handler not active there, for one), and
    // WrongAdapter for a link made from a relay of another POA.
    void DeactivateIn(PortableServer::POA_ptr poa) const;

    // The callbacks, each as the handler's operation of the same name would
    // be called through its reference: the same exceptions reach the caller.
    void Queued(CORBA::Long position) const;
    void Status(const char* text) const;
    void Progress(CORBA::Double progress) const;
    void Results(const CORBA::Any& data) const;
    void Finished(const CORBA::Any& data) const;
    void Error(IAsyncExceptionHolder_ptr holder) const;

  private:
    // Calls direct(relay) on the direct path, remote(reference) otherwise;
    // nothing when empty.
    template <typename Direct, typename Remote>
    void Call(Direct direct, Remote remote) const;

    // Exchanges the contents of both links.
    void Swap(RelayLink& other) noexcept;

    IAsyncHandler_var m_reference;  // the handler; nil when empty or made from the relay itself
    // The relay's servant, holding one reference of it (no _var: kept as the
    // relay, so that operations kept after their end stay small); null off
    // the direct path.
    AsynchronousHandler* m_relay;
  };
}

#endif
