// ServerStop: the process's orderly stop, in the library's terms.
//
// Once Begin() has been called, routers refuse new operations with
// Krovane::Unavailable ("server is stopping"). Run() then waits for the
// operations still waiting or running to end by themselves, at most the
// drain time; those left are cancelled (each router tells its clients,
// see AsynchronousRouter::CancelForStop), and Run waits a short, bounded
// while more for their dispatches to end and for their clients to raise
// the Unavailable holders they were sent (StopNoticeHolder), before it
// returns and the ORB is shut down. The thread pool starts no waiting
// operation once the stop has begun.
//
// Every wait is on events (an operation's or a dispatch's end, a notice
// raised) with a deadline, never a poll.
//
// One per process (Instance). Threads: Begin and Run on the thread that
// stops the server (a signal's watcher, the idle task, main); the Note...
// calls from any thread. m_lock is a leaf: nothing is called while it is
// held, so it may be taken under any other lock (m_asyncLock included).
#ifndef KROSERVER_SERVERSTOP_H
#define KROSERVER_SERVERSTOP_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Krovane
{
  class ServerStop
  {
  public:
    // The reason of the Unavailable a stopping server raises and sends.
    static const char* const kReason;  // "server is stopping"
    // The Status text its cancelled operations' clients get first.
    static const char* const kStatus;  // "server stopping"

    // How the operations ended, for the log.
    struct Outcome
    {
      int drained = 0;    // ended by themselves within the drain time
      int cancelled = 0;  // cancelled when the drain time was over
      std::chrono::milliseconds took{0};  // from Begin to the end of Run
    };

    static ServerStop& Instance();

    // How long running operations may take to end by themselves (default 10 s).
    void SetDrainTime(std::chrono::seconds drain);
    std::chrono::seconds DrainTime() const;

    // From now on new operations are refused. True for the first call only.
    bool Begin();
    bool IsStopping() const { return m_stopping.load(); }
    // Krovane::Unavailable("server is stopping") once Begin() was called.
    void RefuseIfStopping() const;

    // Begin(), the drain, the cancellation of what is left and the short
    // wait for its ends. Returns at once with an empty Outcome when another
    // thread's Run has already done it.
    Outcome Run();

    // A pool thread began or ended the dispatch of an operation.
    void NoteDispatchBegan();
    void NoteDispatchEnded();
    // An active operation left its router's active list.
    void NoteOperationEnded();
    // A stop notice (an Unavailable holder) was sent, or raised by its client
    // and retired.
    void NoteNoticeSent();
    void NoteNoticeRaised();

  private:
    ServerStop() = default;

    // The operations still waiting or running in the process's routers.
    static int CountActive();
    // Waits until nothing is active and no dispatch runs, at most until
    // deadline; the number still active then.
    int WaitForQuiet(std::chrono::steady_clock::time_point deadline);
    // Waits until no sent notice is still to be raised, at most until deadline.
    void WaitForNotices(std::chrono::steady_clock::time_point deadline);
    // Wakes the waits; m_lock not held.
    void Changed();

    std::atomic<bool> m_stopping{false};    // Begin was called
    std::atomic<bool> m_ran{false};         // a Run has started
    std::atomic<long> m_drainSeconds{10};   // the drain time
    std::chrono::steady_clock::time_point m_begun;  // guarded by m_lock; when Begin was first called
    mutable std::mutex m_lock;              // a leaf: guards the counts below
    std::condition_variable m_changed;      // notified on every change of the counts
    unsigned long m_generation = 0;         // guarded by m_lock; counts ended operations
    int m_dispatches = 0;                   // guarded by m_lock; dispatches running
    int m_noticesUnraised = 0;              // guarded by m_lock; notices sent, not raised yet
  };
}

#endif
