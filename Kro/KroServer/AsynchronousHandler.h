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
// In the pipelined mode (setDelivery) callbacks are queued as in the
// non-waiting one, and toward a client that restores their order (its
// request that handed the handler over said so: CallbackNumbers) up to
// SetPipelineDepth of them are in flight at once, each numbered; a
// Finished or Error goes alone, once every callback before it has been
// answered or given up, so that the client never waits for a number that
// will not come. Toward any other client it delivers as the non-waiting
// mode does, one at a time. A full outbox makes the caller wait for room
// (its callbacks in flight end within the time-out). The time-out, detach
// and error rules are those of the other modes: callbacks timed out in a
// row count in the order they end; a failure goes to the next caller.
//
// Threads: any thread may call everything. m_lock serialises the callbacks
// of the waiting and non-waiting modes and guards m_proxy and m_timeout; it
// is held across each of their remote calls, so a client that blocks holds
// up the relay's other callers until the time-out, if one is set, ends its
// call. Pipelined calls take a reference to the proxy under m_lock and call
// without it. The latest Results or Error that found no handler is kept and
// sent first to the next handler attached, so that a client attaching
// between an operation's outcome and its end hears both. m_outboxLock is
// taken inside m_lock or alone, never held across a remote call.
#ifndef KROSERVER_ASYNCHRONOUSHANDLER_H
#define KROSERVER_ASYNCHRONOUSHANDLER_H

#include "Krovane.hh"

#include "OrbLayer/CallbackNumbers.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
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
    // When a callback returns: once the client answered, or once queued
    // (sent one at a time, or several at once).
    enum class Delivery { kWaiting, kNonWaiting, kPipelined };

    // The delivery of relays constructed from now on (kWaiting unless set).
    static void SetDefaultDelivery(Delivery delivery);
    // Callbacks in a row that time out before a relay detaches its client
    // (n > 0; 0: never). 3 unless set.
    static void SetDetachAfterTimeouts(int n);
    // Whether a full outbox drops its places, progress and status texts
    // before its caller sends it (false unless set).
    static void SetDropSupersededWhenFull(bool drop);
    // Callbacks of one relay in flight at once in the pipelined mode (at
    // least 1; 8 unless set).
    static void SetPipelineDepth(int depth);

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

    // For RelayDelivery's threads, each with a run of the relay: sends the
    // queued callbacks in order, at most limit of them; true when more are
    // left (the run stays scheduled), false when the run ends.
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
    // What became of one forwarded call.
    enum class Outcome { kSent, kTimedOut, kGone, kOther };

    // A callback on the client's handler, as queued.
    typedef std::function<void(Krovane::IAsyncHandler_ptr)> ProxyCall;
    struct QueuedCallback
    {
      const CallTexts* texts;      // static, per callback
      ProxyCall call;              // owns its argument
      CORBA::ULong number = 0;     // its place in the relay's order (pipelined)
    };

    // Forwards one callback, operation(argument) on the client's handler,
    // now or through the outbox as the delivery mode says.
    template <typename Operation, typename Argument>
    void Forward(const CallTexts& texts, Operation operation, const Argument& argument);
    // A client's refusal described, read while this thread alone holds it;
    // empty for none (or one that is not a CORBA exception).
    static std::string DescribeRefusal(const std::exception_ptr& refused);
    // Prints a refusal so described, once it is kept for the next callback
    // (whose thread may have taken it by then).
    static void ReportRefusal(const CallTexts& texts, const std::string& described);
    // After a queued callback: keeps its refusal (else its other failure)
    // for the operation's next callback, then prints the refusal.
    void KeepAndReport(const CallTexts& texts, std::exception_ptr refused, std::exception_ptr failure);

    // Makes call(m_proxy), its failures handled as texts says; nothing when
    // detached. A COMM_FAILURE is tried again, a few times, before the
    // client is detached (each stale pooled connection to the client fails
    // that way once). Caller holds m_lock. Returns the client's user exception,
    // for the caller to raise once the lock is free; other failures that
    // texts lets through propagate.
    template <typename Call>
    std::exception_ptr Deliver(const CallTexts& texts, const Call& call);
    // Makes call(proxy) (a COMM_FAILURE tried once more, as above), counts
    // and prints what befell it as texts says; the client's user exception
    // goes to refused. Needs no lock; other failures that texts lets
    // through propagate.
    template <typename Call>
    Outcome CallProxy(const CallTexts& texts, const Call& call, Krovane::IAsyncHandler_ptr proxy,
                      std::exception_ptr& refused);
    // The detach rules for an outcome of a call to m_proxy. Caller holds m_lock.
    void Account(Outcome outcome);

    // Whether callbacks go several at once now. Caller holds m_outboxLock.
    bool PipeliningLocked() const;
    // Pipelined: sends queued callbacks, several runs of it at once, until
    // limit are sent, the outbox is empty or waits behind a last callback;
    // true when this run should go on.
    bool SendPipelined(std::size_t limit);
    // Sends one callback numbered number, without m_lock.
    void SendInFlight(const QueuedCallback& callback, KroOrb::CallbackNumber number);
    // Keeps failure for the next caller.
    void KeepFailure(std::exception_ptr failure);
    // Marks callback in flight; its number with the settled mark. Caller holds m_outboxLock.
    KroOrb::CallbackNumber TakeInFlight(const QueuedCallback& callback);
    // Ends number's flight and tells who waits for room. Caller holds m_outboxLock.
    void EndFlight(CORBA::ULong number);

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
    QueuedCallback m_unsent{};           // guarded by m_lock; the latest outcome that found no handler; empty call: none
    std::atomic<CORBA::ULong> m_refCount;  // references to the servant
    std::atomic<Delivery> m_delivery;      // how callbacks are delivered

    unsigned m_epoch = 0;                // guarded by m_lock; handlers set so far (a call's outcome counts for its own)

    std::mutex m_outboxLock;                   // taken inside m_lock or alone
    std::condition_variable m_outboxChanged;   // a pipelined call ended (room, or in flight no more)
    std::list<QueuedCallback> m_outbox;        // guarded by m_outboxLock; oldest first (a list: nothing allocated while empty)
    std::size_t m_scheduled;                   // guarded by m_outboxLock; runs handed to RelayDelivery
    std::exception_ptr m_pendingFailure;       // guarded by m_outboxLock; for the next caller
    bool m_ordered;                            // guarded by m_outboxLock; the client restores the order of numbered callbacks
    CORBA::ULong m_nextNumber = 1;             // guarded by m_outboxLock; of the next callback queued
    std::deque<CORBA::ULong> m_inFlight;       // guarded by m_outboxLock; numbers sent, not yet answered, rising
    std::mutex m_activationLock;                // guards the four below; never held across a callback
    PortableServer::POA_var m_activePoa;        // where the relay is (or will be) active; nil when not told
    PortableServer::ObjectId_var m_activeId;    // its id there; null until it is active
    Krovane::IAsyncHandler_var m_ownReference;  // made on request; nil until then
    bool m_retired = false;                     // DeactivateIn has retired it
  };
}

#endif
