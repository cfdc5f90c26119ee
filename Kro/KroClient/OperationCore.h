// OperationCore: one operation on the client's side: its handler (active
// while the core is open), the sequencer that delivers the handler's
// callbacks, the record they update, and the server asked to confirm how it
// ended. Operation is the application's handle on it.
//
// A server's failure (Error) is raised once as it arrives and kept here as
// a FailureCopy: the server's holder answers one raise() only, and may be
// gone with its server by the time the application asks. An Unavailable
// failure (the server is stopping) ends the operation Failed at once.
//
// Ownership: shared; the handle holds it, the servant, background calls and
// the server watch only weakly, so it goes with the handle. Threads: see
// the members.
#ifndef KROCLIENT_OPERATIONCORE_H
#define KROCLIENT_OPERATIONCORE_H

#include "KroClient/ActiveHandler.h"
#include "KroClient/BackgroundCalls.h"
#include "KroClient/CallbackSequencer.h"
#include "KroClient/HandlerServant.h"
#include "KroClient/OperationRecord.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace KroClient
{
  class ServerWatch;

  class OperationCore : public CallbackSink, public std::enable_shared_from_this<OperationCore>
  {
  public:
    using Clock = std::chrono::steady_clock;

    // A core for an operation of server, its callbacks held until Start.
    // Activate must follow before the handler is handed out. watch (null
    // when off) watches it from Start on.
    OperationCore(Krovane::IAsyncServer_ptr server, Callbacks callbacks, std::shared_ptr<BackgroundCalls> calls,
                  std::shared_ptr<ServerWatch> watch);
    ~OperationCore() override;

    // Activates the handler in poa.
    void Activate(PortableServer::POA_ptr poa);
    // The handler's reference (not a new one); valid until the core goes
    // (after Close it names a deactivated object).
    Krovane::IAsyncHandler_ptr Handler() const;
    // The operation's id is id, its handler handed to the server's start
    // incarnation (ServerIncarnation; 0: unknown): callbacks that were held
    // are delivered now, in this thread. Called once, by the thread that
    // submitted.
    void Start(CORBA::Long id, std::uint64_t incarnation = 0);
    // Deactivates the handler and drops later callbacks; waits a while for
    // a callback still running in another thread. Once, by the handle's thread.
    void Close();

    // CallbackSink (ORB threads).
    void Post(CallbackEvent event) override;

    CORBA::Long Id() const;
    Krovane::IAsyncServer_ptr Server() const;  // not a new reference
    const OperationRecord& Record() const;
    const CallbackSequencer& Sequencer() const;
    // Started, not closed and not ended (as far as delivered). Any thread.
    bool Pending() const;
    // When the server last called the handler (or Start). Any thread.
    Clock::time_point LastHeard() const;
    // The start of the server (ServerIncarnation) the handler was last
    // handed to; 0: unknown. Any thread.
    std::uint64_t Incarnation() const;
    // The handler is now known to be with incarnation (or needs no more
    // attaching there). Any thread.
    void NoteIncarnation(std::uint64_t incarnation);

    // Asks the server for the state (the calling thread makes the call) and
    // ends the operation as it says, for check.
    void EndAsServerSays(OperationRecord::Check check);
    // Ends the operation as the server's state says (Finished or
    // Cancelled), after the callbacks already posted: its end callbacks were
    // lost on the way. Any thread.
    void EndAsStateSays(Krovane::OperationState state);
    // Ends the operation Failed with failure (Error, then the end), after
    // the callbacks already posted. Any thread.
    void EndFailed(const CORBA::Exception& failure);
    // Hands the server this handler again (RegisterNewHandler) through
    // server (a reference to its server) and ends the operation if the
    // server says it has ended. Throws what the calls throw. The calling
    // thread makes the calls. The requests it made (2, or 3 when it had
    // ended: its end is asked for once more).
    int AttachAgain(Krovane::IAsyncServer_ptr server);

  private:
    // Queues EndAsServerSays on the background thread (from a delivery).
    void CheckWithServer(OperationRecord::Check check);
    // Where the sequencer delivers: a server's Error is kept first.
    void Deliver(const CallbackEvent& event);
    // A new reference to a FailureCopy of failure, active while the core
    // lives; nil when it cannot be activated.
    Krovane::IAsyncExceptionHolder_ptr Keep(const CORBA::Exception& failure);

    const Krovane::IAsyncServer_var m_server;          // set at construction
    const std::shared_ptr<BackgroundCalls> m_calls;    // set at construction
    const std::shared_ptr<ServerWatch> m_watch;        // set at construction; null when off
    std::atomic<CORBA::Long> m_id{0};                  // set by Start
    std::atomic<bool> m_started{false};                // set by Start
    std::atomic<bool> m_closed{false};                 // set by Close
    std::atomic<bool> m_failing{false};                // set by EndFailed: its end is on the way
    std::atomic<Clock::rep> m_heard{0};                // see LastHeard
    std::atomic<std::uint64_t> m_incarnation{0};       // see Incarnation
    OperationRecord m_record;                          // guards itself
    CallbackSequencer m_sequencer;                     // guards itself
    PortableServer::POA_var m_poa;                     // set by Activate; where failures are kept too
    Krovane::IAsyncHandler_var m_handlerReference;     // set by Activate
    std::unique_ptr<ActiveHandler> m_handler;          // set by Activate, reset by Close; the handle's thread
    std::mutex m_failuresLock;                         // a leaf
    std::vector<std::unique_ptr<ActiveFailure>> m_failures;  // guarded by m_failuresLock
  };
}

#endif
