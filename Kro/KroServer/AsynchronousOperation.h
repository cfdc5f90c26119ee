// AsynchronousOperation: one asynchronous request: its name, id,
// parameters, the client's callback object and the router that does the
// work.
//
// Ownership: the router creates it and keeps it in its lists, which own it;
// it is deleted with the router. The parameters are neither owned nor
// copied: whoever submits the operation keeps them alive until it has
// ended. While it stands in the pool or runs, the operation holds a
// reference to its router's servant, so that the router (and with it the
// operation) outlives every dispatch, whatever the client does meanwhile.
//
// Callbacks: the operation reaches its handler through a RelayLink, made
// once per handler: straight to the relay's servant when the handler is a
// relay active in the router's POA, through the reference otherwise.
// Application code reaches the link of the operation its pool thread runs
// through CurrentRelay().
//
// Threads: a pool thread runs Dispatch and reports queue positions; request
// threads cancel it and swap its handler. The handler reference and its
// link are guarded by a lock the operation shares with a few others (one
// of a small fixed set, chosen by its address: finished operations are kept
// for GetOperationState, and a lock each would double what they keep);
// calls on them are made outside it.
#ifndef KROSERVER_ASYNCHRONOUSOPERATION_H
#define KROSERVER_ASYNCHRONOUSOPERATION_H

#include "KroServer/RelayLink.h"
#include "KroServer/SynchronousOperation.h"

#include "KroServer/Restartable.h"

#include "Dazadared/Variant.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Krovane
{
  class AsynchronousRouter;

  class AsynchronousOperation : public SynchronousOperation
  {
  public:
    // server: the router's own reference (the target); handler: the client's
    // callback object, normally a relay (the operation takes its own
    // reference); parameters: not owned.
    AsynchronousOperation(IAsyncServer_ptr server, const char* name, int id, IAsyncHandler_ptr handler,
                          AsynchronousRouter* router,
                          std::vector<Halvern_Utilities::Variant>* parameters);
    virtual ~AsynchronousOperation();

    // Runs the work on the calling pool thread (see the source).
    virtual void Dispatch();
    // Tells the client its place in the queue (Queued); nothing without a handler.
    virtual void ReportQueuePosition(int position);
    // A waiting operation becomes Cancelled and the client is told; a running
    // one is cancelled as an Operation.
    virtual void Cancel();
    virtual AsynchronousRouter* GetRouter() const;
    // 1 when both have the same id.
    virtual int operator==(const AsynchronousOperation& other) const;
    using Dispatchable::operator==;

    int GetId() const;
    // A new reference to the handler (nil after the operation ended); the caller releases it.
    IAsyncHandler_ptr GetHandler() const;
    // Adopts handler (no duplicate is taken) and releases the old one.
    void SetHandler(IAsyncHandler_ptr handler);
    // Makes relay itself the handler, reached directly (RelayLink), its
    // reference made only when someone asks for it; relay was told where it
    // is or will be active (AsynchronousHandler::ActiveIn, ActivateOnDemandIn).
    void LinkRelay(AsynchronousHandler& relay);
    // The way to the handler's callbacks (empty after the operation ended).
    RelayLink Relay() const;

    // The asynchronous operation the calling pool thread runs, or null
    // (another thread, or a synchronous request's record).
    static AsynchronousOperation* Current();
    // Current()'s relay link; empty when there is no current operation. For
    // application code inside ExecuteOperation: CurrentRelay().Progress(0.5).
    static RelayLink CurrentRelay();
    std::vector<Halvern_Utilities::Variant>* GetParameters() const;
    // Takes parameters over until the work is over (they go at the end of
    // Dispatch: a finished operation kept for its state needs none),
    // GetParameters then pointing at them; called before the operation is
    // submitted.
    void OwnParameters(std::vector<Halvern_Utilities::Variant> parameters);
    // Set before the operation is submitted, read by any thread after.
    void SetRestartable(Restartable restartable) { m_restartable = restartable; }
    bool IsRestartable() const { return m_restartable == Restartable::Yes; }

    // Queued -> Cancelled; false when the operation had already left Queued
    // (a dispatch started it, or it was cancelled before).
    bool CancelIfQueued();
    // True once the work will no longer run: RunWork has returned, or the
    // operation was cancelled while it waited.
    bool IsWorkOver() const { return m_workOver.load(); }
    // Cancel, telling which way it went: true when the operation was still
    // waiting (now Cancelled, the client told, and it will never run), false
    // when it was cancelled as an Operation (or had ended).
    bool CancelWaitingOrRunning();

    // The router keeps its servant alive for this operation from submission
    // (HoldRouter) until the operation has left the pool for good
    // (ReleaseRouter: at the end of Dispatch, or when a waiting operation is
    // withdrawn from the queue). Releasing may delete the router and this
    // operation with it: the caller must not touch the operation afterwards.
    void HoldRouter();
    void ReleaseRouter();
    // Whether the pool may still have it (held, not yet released).
    bool HoldsRouter() const { return m_holdsRouter.load(); }

    // The client's object will get no more callbacks: the relay is
    // deactivated in poa and the handler dropped. Errors are printed.
    void RetireHandler(PortableServer::POA_ptr poa);

    // What the work reports, recorded in the router's journal (nothing
    // without one) before the caller sends it to the client; pool thread.
    void RecordProgress(double fraction) const;
    void RecordStatus(const std::string& text) const;
    void RecordResults(const CORBA::Any& data) const;
    void RecordFailure(const std::string& reason) const;

    // Marks the operation as kept among its server object's finished ones;
    // false when it already was. Only under that server object's operation
    // lists' lock (AsyncServerImpl's m_asyncLock), which guards the mark.
    bool MarkKeptAsFinished();

  protected:
    // Status to the client that the waiting operation is cancelled; nothing
    // without a handler. The client's failure is printed, never passed on.
    void ReportCancelledWhileQueued();
    // Queued -> Running, unless the operation was cancelled while waiting.
    bool StartRunning();

    // Runs work on the calling pool thread as the router's user and records
    // how it ended: Running while it runs; Finished when it returns;
    // Cancelled when the operation was cancelled before or during it, whether
    // or not the work noticed (a state once Cancelled stays so); Finished
    // after any other failure, which is printed with printedText (a CORBA
    // exception) or logged as unknownText. Nothing leaves it.
    void RunWork(AsynchronousRouter* router, const std::function<void()>& work,
                 const char* printedText, const ACE_TCHAR* unknownText);

    // Ends a dispatch when it leaves scope: the thread forgets the operation,
    // then the router is let go (which may delete the operation). Declare it
    // first in a Dispatch, so that it ends last.
    class DispatchEnd
    {
    public:
      explicit DispatchEnd(AsynchronousOperation* operation);
      ~DispatchEnd();

    private:
      AsynchronousOperation* m_operation;  // the operation dispatched
    };

    int m_id;                                                // given by the router
    // The link to handler, found in the router's POA.
    RelayLink LinkTo(IAsyncHandler_ptr handler) const;

    // The lock that guards m_relay (shared with other operations; taken alone).
    std::mutex& HandlerLock() const;
    // Puts link in place of the operation's link, under HandlerLock().
    void ReplaceRelay(RelayLink link);
    // Deletes the parameters when owned (m_parameters becomes null then).
    void ReleaseOwnedParameters();

    RelayLink m_relay;  // guarded by HandlerLock(); the client's callback object and the way to it
    AsynchronousRouter* m_router;                            // the router; not owned
    // Read by the pool thread that runs the work; owned when m_ownsParameters
    // (OwnParameters: until the work is over), else not.
    std::vector<Halvern_Utilities::Variant>* m_parameters;
    std::atomic<bool> m_holdsRouter;                         // HoldRouter without ReleaseRouter yet
    std::atomic<bool> m_workOver;                            // see IsWorkOver
    bool m_ownsParameters;  // m_parameters is this operation's (one flag beside the others: no padding)
    Restartable m_restartable = Restartable::No;  // set before submission, constant after
    bool m_keptAsFinished = false;  // guarded by the server object's m_asyncLock; see MarkKeptAsFinished
  };
}

#endif
