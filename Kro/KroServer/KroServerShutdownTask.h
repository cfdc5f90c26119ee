// KroServerShutdownTask: ends the server process when it is idle.
//
// One thread looks every interval (whole seconds) whether a request came
// since its last look (OperationCalled, from the server interceptor) and
// whether any operation is active in the object table. After two idle looks
// in a row, an interval apart, it makes the root POA discard requests and shuts the ORB down,
// or ends the process, as the argument of open() chose:
//   null       shut the ORB down only
//   (void*)-1  log "KroServer exit", then _exit(0) (no exit handlers)
//   (void*)-2  log "KroServer exitting", shut the ORB down, waiting for the
//              requests in progress, then exit(0)
//   otherwise  an ACE_Task_Base* whose close(0) is called, then the ORB is shut down
//
// In mode -2 the process end belongs to this task: a main thread waiting in
// KroServerEventHandler::wait stays there rather than destroy the ORB and
// return while exit(0) runs the exit handlers (two ends at once).
//
// The application creates it with the initialised ORB and calls open()
// once. The destructor stops an idle loop still waiting and joins the
// thread, so the task may go as soon as main is done with it.
#ifndef KROSERVER_KROSERVERSHUTDOWNTASK_H
#define KROSERVER_KROSERVERSHUTDOWNTASK_H

#include <omniORB4/CORBA.h>

#include <ace/Atomic_Op.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace Krovane
{
  class KroServerShutdownTask : public ACE_Task_Base
  {
  public:
    // interval: the idle interval; only its whole seconds count.
    KroServerShutdownTask(CORBA::ORB_ptr orb, const ACE_Time_Value& interval);
    // Ends the idle loop if it still waits and joins the thread.
    virtual ~KroServerShutdownTask();

    // Marks the process as used. Any thread.
    static void OperationCalled();
    // True once a task has begun to end the process itself (modes -1, -2).
    static bool IsEndingProcess();

    // Remembers args (see above) and starts the thread. 0, or -1 (logged).
    virtual int open(void* args = 0);
    // Does nothing.
    virtual int close(u_long flags = 0);
    // The idle loop, then the shutdown.
    virtual int svc();

  private:
    // Waits milliseconds, or less when the destructor stops the task; true
    // once it is stopped.
    bool StoppedWithin(long milliseconds);
    // Ends the process or shuts the ORB down, as open() was told.
    void ShutDown();

    CORBA::ORB_ptr m_orb;         // own reference; may be nil
    ACE_Time_Value m_interval;    // the idle interval
    std::atomic<bool> m_started;  // open() started the thread
    std::mutex m_stopLock;        // taken by the thread's waits and by the destructor
    std::condition_variable m_stopChanged;  // signalled when m_stopped is set
    bool m_stopped;               // guarded by m_stopLock; the destructor wants the thread to end

    static ACE_Atomic_Op<ACE_Thread_Mutex, int> s_operationCalled;  // 1: a request came
  };
}

#endif
