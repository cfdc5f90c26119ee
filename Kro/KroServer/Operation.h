// Operation: a named unit of work with a state, that can be cancelled.
//
// The state is written by the thread that runs the work and by cancelling
// threads; it is atomic, so any thread may read or write it. Cancel is
// called from threads other than the operation's own.
#ifndef KROSERVER_OPERATION_H
#define KROSERVER_OPERATION_H

#include "KroServer/Dispatchable.h"
#include "Krovane.hh"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <string>

namespace Krovane
{
  class Operation : public Dispatchable
  {
  public:
    Operation();
    explicit Operation(const char* name);
    virtual ~Operation();

    // A copy of the name (for a request, the IDL operation's name).
    std::string GetName();
    // The state, read under m_lock.
    OperationState GetState();
    // Sets the state.
    void SetState(OperationState state);
    // Queued or Running -> Cancelled; false when the operation had already
    // ended (Finished or Cancelled), which then stays as it was.
    bool CancelUnlessEnded();
    // Running -> Finished; an operation cancelled meanwhile stays Cancelled.
    void FinishUnlessCancelled();

    // Cancels a Running operation: cancels the jobs its thread registered
    // with the job controller and sets the state to Cancelled. Does nothing
    // in any other state. The work itself learns of it through its jobs and
    // through SyncServerImpl::ServiceCancellation.
    virtual void Cancel();

  protected:
    // Running -> Cancelled, unless the work has ended (or was cancelled) in
    // the meantime: a finished operation never becomes Cancelled.
    void MarkCancelled();
    // The job loop: cancels every job registered for the thread; when
    // logEachJob is set, each job found is logged first.
    void CancelJobs(bool logEachJob);
    // Stops a thread that cannot stop itself (m_cooperativeCancel clear).
    void StopThread(unsigned long threadId);

    std::atomic<OperationState> m_state;  // see the transitions of OperationState
    int m_cooperativeCancel;              // 1: jobs only; 0: stop the thread as well
    std::string m_name;                   // the operation's name
    // Held across Cancel's job loop: GetState waits until the jobs are cancelled.
    ACE_Thread_Mutex m_lock;
  };
}

#endif
