// KroServerEventHandler: runs the ORB's request loop (ORB::run) in 1 to 20
// threads. A thread whose loop fails is replaced while the ORB runs; once
// the ORB is shut down every thread returns and none is replaced.
//
// The application creates it with the initialised ORB, calls open() once
// from its main thread, and waits for the threads through ACE's thread
// manager (ACE_Thread_Manager::instance()->wait(), or wait() on the task).
// The task must outlive its threads.
#ifndef KROSERVER_KROSERVEREVENTHANDLER_H
#define KROSERVER_KROSERVEREVENTHANDLER_H

#include <omniORB4/CORBA.h>

#include <ace/Task.h>

namespace Krovane
{
  class KroServerEventHandler : public ACE_Task_Base
  {
  public:
    // threadCount is clamped to 1..20; stackSize <= 0 means ACE's default.
    KroServerEventHandler(CORBA::ORB_ptr orb, int threadCount, int stackSize);
    virtual ~KroServerEventHandler();

    // Starts the threads. 0 on success, -1 on failure (logged).
    virtual int open(void* args = 0);
    // Does nothing.
    virtual int close(u_long flags = 0);
    // One event-loop thread.
    virtual int svc();
    // Waits for the event-loop threads. When they ended because the idle
    // task is ending the process with exit(0), it never returns: the task's
    // exit ends the process, and the caller must not end it a second time.
    virtual int wait();

    int GetThreadCount() const { return m_threadCount; }

  private:
    CORBA::ORB_ptr m_orb;  // own reference; may be nil
    int m_threadCount;     // event-loop threads, 1..20
    int m_stackSize;       // bytes per thread; <= 0: ACE's default
  };
}

#endif
