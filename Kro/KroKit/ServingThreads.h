// ServingThreads: the threads a server serves with: the event-loop threads
// (KroServerEventHandler), the idle-shutdown task (KroServerShutdownTask)
// and the watcher that shuts the ORB down on SIGTERM or SIGINT
// (ShutdownOnSignal).
//
// The server ends when the idle task shuts the ORB down (in exit mode
// _exit it ends the process at once) or on a signal; Wait returns then, and
// the end of the process is main's.
//
// Ownership and threads: main calls PrepareProcess first, before any other
// thread exists. It then owns one ServingThreads, with the initialised ORB,
// and calls Start and Wait on its own thread; OpenIdleShutdown may be
// called from any thread. The destructor ends the idle task (it stops the
// task's wait when a signal ended the server) and joins it.
#ifndef KROKIT_SERVINGTHREADS_H
#define KROKIT_SERVINGTHREADS_H

#include "KroKit/ShutdownOnSignal.h"

#include "KroServer/KroServerEventHandler.h"
#include "KroServer/KroServerShutdownTask.h"

#include <omniORB4/CORBA.h>

#include <ace/Task.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace KroKit
{
  class ServingThreads
  {
  public:
    // Blocks SIGTERM and SIGINT, so that only the watcher sees them, and
    // lets the process end without waiting for ACE's threads (the pool's
    // wait for work to the end). Call it in main before any other thread
    // starts.
    static void PrepareProcess();

    // threads: event-loop threads; idleSeconds and exitMode: the idle
    // task's interval and open() argument (see KroServerShutdownTask).
    // beforeShutdown (may be empty) runs once, before a signal or the idle
    // task (exit mode orb) shuts the ORB down, on their thread.
    ServingThreads(CORBA::ORB_ptr orb, int threads, int idleSeconds, void* exitMode,
                   std::function<void()> beforeShutdown = nullptr);
    // Ends and joins the idle task; stops the watcher.
    ~ServingThreads() = default;
    ServingThreads(const ServingThreads&) = delete;
    ServingThreads& operator=(const ServingThreads&) = delete;

    // Starts the watcher and the event threads, and the idle task unless
    // withIdleShutdown is false (OpenIdleShutdown starts it later). Throws
    // std::runtime_error when a thread cannot start.
    void Start(bool withIdleShutdown = true);
    // Starts the idle task if it has not started yet; true if this call
    // started it. Throws std::runtime_error when it cannot start. Any thread.
    bool OpenIdleShutdown();
    // Blocks until the event threads have returned; the signal that ended
    // the server, or 0.
    int Wait();
    // After Wait: whether the idle task ended the server.
    bool EndedIdle() const { return m_beforeShutdown.ByIdleTask(); }
    // Runs beforeShutdown unless a signal or the idle task already did (or
    // waits for theirs to end): for an ORB shut down by someone else.
    void RunBeforeShutdown() { m_beforeShutdown.Run(); }

  private:
    // Runs an action once, whichever of the idle task (as its close(0)) and
    // the signal watcher comes first.
    class BeforeShutdown : public ACE_Task_Base
    {
    public:
      explicit BeforeShutdown(std::function<void()> action) : m_action(std::move(action)) {}
      // Called by the idle task only.
      int close(u_long) override { m_byIdleTask = true; Run(); return 0; }
      void Run() { std::call_once(m_ran, [this]() { if (m_action) m_action(); }); }
      bool ByIdleTask() const { return m_byIdleTask.load(); }

    private:
      const std::function<void()> m_action;  // may be empty
      std::once_flag m_ran;                  // the action runs once
      std::atomic<bool> m_byIdleTask{false}; // the idle task called close
    };

    BeforeShutdown m_beforeShutdown;                     // before the ORB is shut down
    CORBA::ORB_var m_orb;                                // the process ORB; our own reference
    void* const m_exitMode;                              // the idle task's open() argument
    Krovane::KroServerEventHandler m_eventThreads;       // the request loop
    Krovane::KroServerShutdownTask m_idleShutdown;       // ends the server once idle
    std::once_flag m_idleShutdownOpened;                 // the idle task starts once
    std::unique_ptr<ShutdownOnSignal> m_shutdownOnSignal;  // the watcher, from Start on
  };
}

#endif
