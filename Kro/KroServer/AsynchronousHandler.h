// AsynchronousHandler: the relay between an asynchronous operation and the
// client's own callback object.
//
// The operation is given the relay's reference instead of the client's.
// Every callback reaching the relay is forwarded to the client's handler
// (m_proxy), one at a time, optionally bounded by a time-out. A client that
// does not answer in time is logged and stays attached until a number of
// its callbacks in a row have timed out (SetDetachAfterTimeouts, default
// 3), then it is detached; a client that has gone (any other system exception) is
// detached, so that later callbacks do nothing and the operation never
// fails because of it. A user exception of the client's handler goes back
// to the code that made the callback. setProxyHandler attaches another
// handler at any time.
//
// Ownership: a reference-counted servant. The application creates it around
// the client's handler, activates it in the POA of its server object and
// keeps it in a PortableServer::ServantBase_var (or leaves it to the POA);
// the library reaches it through reference_to_servant. The relay owns one
// reference to the client's handler. Who activates a relay may tell it
// where (ActiveIn), or leave the activation to the relay itself, in a POA
// it names, for when a reference is first asked for (ActivateOnDemandIn).
// An operation given the relay itself then reaches it without a reference,
// makes one only when asked (OwnReference) and retires it by its id, or
// not at all when it was never activated.
//
// Delivery: by default each callback returns once the client has answered
// (waiting). In the non-waiting mode (opt-in, setDelivery) a callback is
// put in the relay's outbox and returns at once; RelayDelivery's threads
// send the outbox in order, one callback at a time, with the same time-out,
// detach and error rules. A client's failure that the caller would have
// seen (a user exception, or an exception that escapes the handling) is
// raised to whoever makes the relay's next callback, after that callback
// has been queued. A full outbox makes the caller send it itself, so a
// client slower than its operation costs bounded memory; with
// SetDropSupersededWhenFull it first drops its places, progress and status
// texts (later ones supersede them), so that a caller is held only by an
// outbox full of other callbacks.
//
// Threads: any thread may call everything. m_lock serialises the callbacks
// and guards m_proxy and m_timeout; it is held across each remote call, so a
// client that blocks holds up the relay's other callers until the time-out,
// if one is set, ends its call. m_outboxLock is taken inside m_lock or
// alone, never held across a remote call.
#ifndef KROSERVER_ASYNCHRONOUSHANDLER_H
#define KROSERVER_ASYNCHRONOUSHANDLER_H

#include "Krovane.hh"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstddef>
#include <list>
#include <exception>
#include <functional>
#include <mutex>

namespace Krovane
{
  class AsynchronousHandler : public virtual POA_Krovane::IAsyncHandler,
                              public virtual PortableServer::RefCountServantBase
  {
  public:
    // When a callback returns: once the client answered, or once queued.
    enum class Delivery { kWaiting, kNonWaiting };

    // The delivery of relays constructed from now on (kWaiting unless set).
    static void SetDefaultDelivery(Delivery delivery);
    // Callbacks in a row that time out before a relay detaches its client
    // (n > 0; 0: never). 3 unless set.
    static void SetDetachAfterTimeouts(int n);
    // Whether a full outbox drops its places, progress and status texts
    // before its caller sends it (false unless set).
    static void SetDropSupersededWhenFull(bool drop);

    // Detached: no client handler, no time-out.
    AsynchronousHandler();
    // Attached to handler (a duplicate is kept; nil leaves it detached); no time-out.
    explicit AsynchronousHandler(Krovane::IAsyncHandler_ptr handler);
    // Releases the client's handler.
    virtual ~AsynchronousHandler();

    // Attaches handler (a duplicate is kept) and bounds it by the stored
    // time-out, or detaches for a nil handler. The time-out is kept either
    // way. Errors of the time-out's set-up propagate, the relay unchanged.
    void setProxyHandler(Krovane::IAsyncHandler_ptr handler);
    // A new reference to the client's handler, nil when detached; the caller releases it.
    Krovane::IAsyncHandler_ptr getProxyHandler();

    // The servant's reference count (1 at construction; deleted at 0). Kept
    // here rather than inside the ORB, so that the last release, which may
    // come from a pool thread retiring the relay while a request thread lets
    // go of its own look-up, is ordered before the deletion in a way that
    // thread checkers can see.
    virtual void _add_ref();
    virtual void _remove_ref();
    virtual CORBA::ULong _refcount_value();
    // Bounds every later callback to seconds (> 0), now and for each handler
    // set later. 0 or less is only logged. Errors of the set-up propagate.
    void setTimeout(int seconds);
    // Switches the delivery of later callbacks; callbacks already queued are
    // still sent in order before any later one.
    void setDelivery(Delivery delivery);

    // For RelayDelivery's threads: sends the queued callbacks in order, at
    // most limit of them; true when more are left (the relay stays
    // scheduled), false when the outbox was found empty (it no longer is).
    bool DeliverQueued(std::size_t limit);

    // Where the relay has been activated: poa, as id. For whoever activated it.
    void ActiveIn(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id);
    // Not active yet: the relay activates itself in poa (with an unguessable
    // id) when its reference is first asked for, unless retired before.
    void ActivateOnDemandIn(PortableServer::POA_ptr poa);
    // The relay's reference in the POA named above, made on the first call
    // (not a new one: valid while the relay lives); nil when no POA was
    // named, once retired before it was activated, or when the ORB cannot
    // make it (it is going).
    Krovane::IAsyncHandler_ptr OwnReference();
    // Retires the relay when the POA named above is poa, and says so:
    // deactivated by its id when it is active, nothing more when it never
    // was (no reference is made from then on). False (nothing done) for any
    // other POA. Throws what deactivate_object throws.
    bool DeactivateIn(PortableServer::POA_ptr poa);
    // IAsyncHandler: each is forwarded to the same operation of the client's handler.
    virtual void Queued(CORBA::Long position);
    virtual void Status(const char* text);
    virtual void Progress(CORBA::Double progress);
    virtual void Results(const CORBA::Any& data);
    virtual void Finished(const CORBA::Any& data);
    virtual void Error(Krovane::IAsyncExceptionHolder_ptr holder);
    virtual void SyncQueued(CORBA::Long position);
    virtual void SyncStatus(const char* text);
    virtual void SyncProgress(CORBA::Double progress);
    virtual void SyncResults(const CORBA::Any& data);
    virtual void SyncFinished(const CORBA::Any& data);
    virtual void SyncError(Krovane::IAsyncExceptionHolder_ptr holder);

  private:
    AsynchronousHandler(const AsynchronousHandler&) = delete;
    AsynchronousHandler& operator=(const AsynchronousHandler&) = delete;

    // How one callback reports what befalls its forwarded call.
    struct CallTexts;

    // A callback on the client's handler, as queued.
    typedef std::function<void(Krovane::IAsyncHandler_ptr)> ProxyCall;
    struct QueuedCallback
    {
      const CallTexts* texts;  // static, per callback
      ProxyCall call;          // owns its argument
    };

    // Forwards one callback, operation(argument) on the client's handler,
    // now or through the outbox as the delivery mode says.
    template <typename Operation, typename Argument>
    void Forward(const CallTexts& texts, Operation operation, const Argument& argument);

    // Makes call(m_proxy), its failures handled as texts says; nothing when
    // detached. A COMM_FAILURE is tried again, a few times, before the
    // client is detached (each stale pooled connection to the client fails
    // that way once). Caller holds m_lock. Returns the client's user exception,
    // for the caller to raise once the lock is free; other failures that
    // texts lets through propagate.
    template <typename Call>
    std::exception_ptr Deliver(const CallTexts& texts, const Call& call);

    // Non-waiting: queues callback and schedules the relay; raises a failure
    // kept from an earlier callback.
    void Post(QueuedCallback callback);
    // Sends at most limit queued callbacks, in order; failures are kept for
    // the next caller. Caller holds m_lock.
    void DrainOutbox(std::size_t limit);

    // A new reference to handler bounded by m_timeout seconds. Caller holds m_lock.
    Krovane::IAsyncHandler_ptr BoundedProxy(Krovane::IAsyncHandler_ptr handler) const;

    Krovane::IAsyncHandler_var m_proxy;  // the client's handler; nil when detached
    ACE_Thread_Mutex m_lock;             // guards m_proxy and m_timeout; held across each callback
    int m_timeout;                       // the time-out in seconds; 0 when none was set
    int m_timeoutsInARow;                // guarded by m_lock; callbacks timed out since the last answer
    std::atomic<CORBA::ULong> m_refCount;  // references to the servant
    std::atomic<Delivery> m_delivery;      // how callbacks are delivered

    ACE_Thread_Mutex m_outboxLock;             // taken inside m_lock or alone
    std::list<QueuedCallback> m_outbox;        // guarded by m_outboxLock; oldest first (a list: nothing allocated while empty)
    bool m_scheduled;                          // guarded by m_outboxLock; handed to RelayDelivery
    std::exception_ptr m_pendingFailure;       // guarded by m_outboxLock; for the next caller
    std::mutex m_activationLock;                // guards the four below; never held across a callback
    PortableServer::POA_var m_activePoa;        // where the relay is (or will be) active; nil when not told
    PortableServer::ObjectId_var m_activeId;    // its id there; null until it is active
    Krovane::IAsyncHandler_var m_ownReference;  // made on request; nil until then
    bool m_retired = false;                     // DeactivateIn has retired it
  };
}

#endif
