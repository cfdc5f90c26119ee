// RelayDelivery: the threads that send the queued callbacks of relays in
// the non-waiting mode (AsynchronousHandler::Delivery::kNonWaiting).
//
// A relay with callbacks queued is scheduled once (a pipelined one once per
// callback it may have in flight); a delivery thread takes it, sends a
// bounded run of its callbacks (the relay keeps them in order, and one at a
// time unless pipelined) and schedules it again at the back while some are
// left, so that a slow client holds up its own runs' threads, not the
// others' relays. The threads start with the first schedule.
//
// Ownership: one per process, never destroyed (its threads may be inside a
// client's call when the process ends). A scheduled relay is held by a
// servant reference until its outbox is empty.
// Threads: Schedule from any thread.
#ifndef KROSERVER_RELAYDELIVERY_H
#define KROSERVER_RELAYDELIVERY_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace Krovane
{
  class AsynchronousHandler;

  class RelayDelivery
  {
  public:
    static RelayDelivery& Instance();

    // Threads to start (at least 1; default 4). Only before the first
    // Schedule; later calls change nothing.
    static void SetThreads(int count);

    // Takes a reference to relay and has its outbox sent (one run of it).
    void Schedule(AsynchronousHandler* relay);

    // Waits, at most timeout, until no relay is scheduled and every
    // reference the threads took is released (a relay may be deleted by that
    // release). For a process's end, before its ORB goes. True when idle.
    bool WaitUntilIdle(std::chrono::milliseconds timeout);

  private:
    RelayDelivery() = default;
    // A delivery thread's loop.
    void Serve();

    std::mutex m_lock;
    std::condition_variable m_ready;             // signalled when a relay is scheduled
    std::condition_variable m_idle;              // signalled when m_held falls to 0
    std::deque<AsynchronousHandler*> m_relays;   // guarded by m_lock; each held by a reference
    std::size_t m_held = 0;                      // guarded by m_lock; relays scheduled and not yet released
    bool m_started = false;                      // guarded by m_lock
  };
}

#endif
