// ServerObjectReclaimTask: reclaims the server objects whose clients have
// gone. One thread looks every interval at the process's object table and
// removes each object that has had neither a request nor an active
// operation for idleTime (ServerObjectTable::ReclaimIdleObjects, which logs
// each one). Until then an object counts in NumObjectsAndActiveOperations.
//
// Opt-in: the application creates one after its first factory (which gives
// the table its POA) and calls open() once. The destructor stops the loop
// and joins the thread, so the task may go as soon as main is done with it.
#ifndef KROSERVER_SERVEROBJECTRECLAIMTASK_H
#define KROSERVER_SERVEROBJECTRECLAIMTASK_H

#include <ace/Task.h>
#include <ace/Time_Value.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace Krovane
{
  class ServerObjectReclaimTask : public ACE_Task_Base
  {
  public:
    // interval: time between looks; idleTime: how long an object may go unused.
    ServerObjectReclaimTask(const ACE_Time_Value& interval, const ACE_Time_Value& idleTime);
    // Stops the loop if it runs and joins the thread.
    virtual ~ServerObjectReclaimTask();
    ServerObjectReclaimTask(const ServerObjectReclaimTask&) = delete;
    ServerObjectReclaimTask& operator=(const ServerObjectReclaimTask&) = delete;

    // Starts the thread. 0, or -1.
    virtual int open(void* args = 0);
    // The loop: look, then wait an interval, until stopped.
    virtual int svc();

  private:
    // Waits an interval, or less when stopped; true once stopped.
    bool StoppedWithinInterval();

    const long long m_intervalMilliseconds;  // between looks
    const long long m_idleMilliseconds;      // unused time that makes an object reclaimable
    std::atomic<bool> m_started;             // open() started the thread
    std::mutex m_stopLock;                   // taken by the thread's waits and by the destructor
    std::condition_variable m_stopChanged;   // signalled when m_stopped is set
    bool m_stopped;                          // guarded by m_stopLock; the destructor wants the thread to end
  };
}

#endif
