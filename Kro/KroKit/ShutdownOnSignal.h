// ShutdownOnSignal: ends the ORB's event loop when the process is asked to
// stop with SIGTERM or SIGINT.
//
// A watcher thread waits for the signal with sigwait and then calls
// orb->shutdown(false), which is safe there (unlike in a signal handler), so
// every thread in ORB::run() returns and main can clean up.
//
// Ownership and threads: main calls BlockTerminationSignals() first, before
// the ORB or anything else starts a thread, so that every later thread
// inherits the blocked mask and the signal can reach only the watcher. main
// then owns one ShutdownOnSignal for as long as the ORB serves; its
// destructor (also in main) stops and joins the watcher if no signal came,
// e.g. when something else shut the ORB down.
#ifndef KROKIT_SHUTDOWNONSIGNAL_H
#define KROKIT_SHUTDOWNONSIGNAL_H

#include <omniORB4/CORBA.h>

#include <atomic>
#include <functional>
#include <thread>

namespace KroKit
{
  class ShutdownOnSignal
  {
  public:
    // Blocks SIGTERM and SIGINT in the calling thread (main, before any
    // other thread exists).
    static void BlockTerminationSignals();

    // Starts the watcher; on the first SIGTERM or SIGINT it runs
    // beforeShutdown (when given; on the watcher's thread, while the ORB
    // still serves and calls out) and shuts orb down.
    explicit ShutdownOnSignal(CORBA::ORB_ptr orb, std::function<void()> beforeShutdown = nullptr);
    // Stops the watcher if it is still waiting, and joins it.
    ~ShutdownOnSignal();

    ShutdownOnSignal(const ShutdownOnSignal&) = delete;
    ShutdownOnSignal& operator=(const ShutdownOnSignal&) = delete;

    // The signal that shut the ORB down, or 0 when none did.
    int ReceivedSignal() const;

  private:
    // The watcher thread's body.
    void Watch();

    CORBA::ORB_var m_orb;             // the ORB to shut down; our own reference
    const std::function<void()> m_beforeShutdown;  // run before the shutdown; may be empty
    std::atomic<bool> m_stopping;     // set by the destructor: ignore the wake-up signal
    std::atomic<int> m_signal;        // the signal received, 0 until one came
    std::thread m_watcher;            // waits in sigwait
  };
}

#endif
