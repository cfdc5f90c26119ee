// CallbackSequencer: hands one operation's callbacks to the application one
// at a time, in the order they arrived.
//
// The server's relay sends an operation's next callback once the previous
// one has returned, or has timed out: after a time-out the next one arrives
// on another ORB thread while the application may still be in the previous
// one. Such a callback is queued and delivered by the thread that is already
// delivering, so that no ORB thread waits for the application. Callbacks
// that arrive before the submitting call has returned the operation's id
// (Queued can) are held until Release(), then delivered in order.
//
// Threads: any thread may call everything. Deliver runs in one thread at a
// time, never under m_lock.
//
// A server that pipelines numbers its callbacks (CallbackNumbers): they may
// arrive in any order on several ORB threads. Numbered callbacks are put
// back in order before the queue: one that arrives early waits for those
// numbered before it, or until the server says those are settled (answered
// or given up); one that arrives again, or after a later one has gone on
// (a number given up that came late), is dropped.
#ifndef KROCLIENT_CALLBACKSEQUENCER_H
#define KROCLIENT_CALLBACKSEQUENCER_H

#include "KroClient/CallbackEvent.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <functional>
#include <mutex>
#include <thread>

namespace KroClient
{
  class CallbackSequencer
  {
  public:
    using Deliver = std::function<void(const CallbackEvent&)>;

    // deliver: where each callback goes; held: keep what arrives until Release().
    CallbackSequencer(Deliver deliver, bool held);

    CallbackSequencer(const CallbackSequencer&) = delete;
    CallbackSequencer& operator=(const CallbackSequencer&) = delete;

    // Queues event; delivers it (and whatever follows) in this thread unless
    // another thread is delivering, the sequencer holds or is closed.
    void Post(CallbackEvent event);
    // Stops holding; what was held is delivered now, in this thread.
    void Release();
    // Drops what is queued and what comes later, and waits, at most bound,
    // for a delivery running in another thread to end. False if it has not.
    bool Close(std::chrono::milliseconds bound);
    // Waits until count callbacks in all have been posted, at most until deadline.
    bool WaitForPosted(std::size_t count, Deadline deadline) const;

  private:
    // Delivers the queue until it is empty; guard holds m_lock, released
    // around each delivery.
    void DeliverQueued(std::unique_lock<std::mutex>& guard);
    // Puts a numbered event in order: into m_early, and what is due from
    // there into m_queue. False when it was dropped. Caller holds m_lock.
    bool Admit(CallbackEvent event);

    const Deliver m_deliver;                     // the application's side
    mutable std::mutex m_lock;                   // a leaf: nothing else is taken under it
    mutable std::condition_variable m_changed;   // a post arrived, or a delivery run ended
    std::deque<CallbackEvent> m_queue;           // guarded by m_lock; arrived, not yet delivered
    std::map<CORBA::ULong, CallbackEvent> m_early;  // guarded by m_lock; numbered, ahead of m_nextNumber
    CORBA::ULong m_nextNumber = 1;               // guarded by m_lock; the number due next
    std::size_t m_posted = 0;                    // guarded by m_lock; posts in all
    bool m_held;                                 // guarded by m_lock; see Release()
    bool m_delivering = false;                   // guarded by m_lock; a thread is in DeliverQueued
    std::thread::id m_deliverer;                 // guarded by m_lock; which one
    bool m_closed = false;                       // guarded by m_lock; see Close()
  };
}

#endif
