// KroServerShutdownTask: ends the server process when it is idle.
//
// One thread looks every interval (whole seconds) whether a request came
// since its last look (OperationCalled, from the server interceptor) and
// whether any operation is active in the object table. After two idle looks
// in a row it makes the root POA discard requests and shuts the ORB down,
// or ends the process, as the argument of open() chose:
//   null       shut the ORB down only
//   (void*)-1  log "KroServer exit", then _exit(0) (no exit handlers)
//   (void*)-2  log "KroServer exitting", then exit(0)
//   otherwise  an ACE_Task_Base* whose close(0) is called, then the ORB is shut down
//
// The application creates it with the initialised ORB and calls open()
// once; the task must outlive its thread.
#ifndef KROSERVER_KROSERVERSHUTDOWNTASK_H
#define KROSERVER_KROSERVERSHUTDOWNTASK_H

#include <omniORB4/CORBA.h>

#include <ace/Atomic_Op.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

namespace Krovane
{
  class KroServerShutdownTask : public ACE_Task_Base
  {
  public:
    // interval: the idle interval; only its whole seconds count.
    KroServerShutdownTask(CORBA::ORB_ptr orb, const ACE_Time_Value& interval);
    virtual ~KroServerShutdownTask();

    // Marks the process as used. Any thread.
    static void OperationCalled();

    // True once the task has begun to end the process itself (exit modes
    // -1 and -2). In mode -2 it first ends the ORB's request loop, so the
    // event threads return while exit(0) runs: a main thread that waits for
    // them must then not end the process on its own (two exits at once):
    // it calls AwaitProcessEnd instead.
    static bool IsEndingProcess();
    // Blocks the calling thread until the task's exit ends the process.
    static void AwaitProcessEnd();

    // Remembers args (see above) and starts the thread. 0, or -1 (logged).
    virtual int open(void* args = 0);
    // Does nothing.
    virtual int close(u_long flags = 0);
    // The idle loop, then the shutdown.
    virtual int svc();

  private:
    // Ends the process or shuts the ORB down, as open() was told.
    void ShutDown();

    CORBA::ORB_ptr m_orb;         // own reference; may be nil
    ACE_Time_Value m_interval;    // the idle interval

    static ACE_Atomic_Op<ACE_Thread_Mutex, int> s_operationCalled;  // 1: a request came
  };
}

#endif
