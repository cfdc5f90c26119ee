// BackgroundCalls: runs, one after the other on a thread of its own, the
// calls to servers that callbacks give rise to. A callback must not make
// them itself: the server makes some callbacks (the Status of a waiting
// operation's cancellation) while holding the lock that GetOperationState
// takes, and waits for the callback to return.
//
// Ownership: shared by the client and its operations. Threads: any thread
// may Run; Stop is called by the owner, never from a task.
#ifndef KROCLIENT_BACKGROUNDCALLS_H
#define KROCLIENT_BACKGROUNDCALLS_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace KroClient
{
  class BackgroundCalls
  {
  public:
    // Starts the thread.
    BackgroundCalls();
    // Stops, when Stop has not.
    ~BackgroundCalls();

    BackgroundCalls(const BackgroundCalls&) = delete;
    BackgroundCalls& operator=(const BackgroundCalls&) = delete;

    // Queues task; false (task dropped) once stopped.
    bool Run(std::function<void()> task);
    // Runs the tasks already queued, then ends the thread and joins it.
    void Stop();

  private:
    void Serve();  // the thread's body

    std::mutex m_lock;                             // a leaf: nothing else is taken under it
    std::condition_variable m_changed;             // a task came, or Stop
    std::deque<std::function<void()>> m_tasks;     // guarded by m_lock
    bool m_stopping = false;                       // guarded by m_lock
    std::thread m_thread;                          // runs Serve; joined by Stop
  };
}

#endif
