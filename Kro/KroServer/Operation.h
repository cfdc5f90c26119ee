// Operation: a named unit of work with a state, that can be cancelled.
//
// The state is written by the thread that runs the work and by cancelling
// threads; it is atomic, so any thread may read or write it. Cancel is
// called from threads other than the operation's own. An operation that is
// watched (OperationWatcher) tells its record of every change of state,
// progress and status text. Operations know nothing above them: what
// watches them and which threads besides ACE's Cancel can reach are handed
// down (OperationWatcher::Install, ReachAlso).
#ifndef KROSERVER_OPERATION_H
#define KROSERVER_OPERATION_H

#include "KroServer/Dispatchable.h"
#include "Krovane.hh"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <memory>
#include <string>

namespace Krovane
{
  class OperationRecord;

  // An operation's state, with the calls of std::atomic that operations use,
  // telling the operation's record (when one is tracked) of each change. The
  // operation lets go of its record once it has ended (the registry keeps it
  // as long as it keeps ended ones), so that operations kept long after
  // their end hold no record.
  class TrackedState
  {
  public:
    explicit TrackedState(OperationState initial) : m_value(initial) {}

    OperationState load() const { return m_value.load(); }
    void store(OperationState state)
    {
      m_value.store(state);
      if (m_tracked.load(std::memory_order_relaxed))
        Note(state);
    }
    bool compare_exchange_strong(OperationState& expected, OperationState desired)
    {
      if (!m_value.compare_exchange_strong(expected, desired))
        return false;
      if (m_tracked.load(std::memory_order_relaxed))
        Note(desired);
      return true;
    }

    // Set once, from the operation's constructor.
    void Track(std::shared_ptr<OperationRecord> record);
    // The record while the operation is tracked and has not ended, else null.
    std::shared_ptr<OperationRecord> Record() const;
    // The record leaves the registry's live set (once), whatever the state.
    void EndTracking();

  private:
    // Tells the record; an ended state ends the tracking.
    void Note(OperationState state);

    std::atomic<OperationState> m_value;        // the state
    std::atomic<bool> m_tracked{false};         // a record was set: untracked operations look no further
    std::shared_ptr<OperationRecord> m_record;  // read and written only with std::atomic_load/_store/_exchange
  };

  class Operation : public Dispatchable
  {
  public:
    Operation();
    explicit Operation(const char* name);
    virtual ~Operation();

    // A copy of the name (for a request, the IDL operation's name).
    std::string GetName();
    // The user the operation works for, as the pool counts its threads per
    // user; set before it is submitted, read only after (empty: nobody's).
    void SetOwner(const std::string& user) { m_owner = user; }
    const std::string& Owner() const { return m_owner; }
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

    // For operators (OperationWatcher): the progress (0..1) and status text
    // reported, and that Error was told (a failure). Nothing when untracked.
    void NoteProgress(double progress);
    void NoteStatus(const char* text);
    void NoteFailed();

    // Whether a thread that is not ACE's can be reached by Cancel (its jobs
    // cancelled, or the thread stopped).
    using ThreadTest = bool (*)(unsigned long threadId);
    // Cancel also reaches the threads test accepts, from now on (one test
    // for the process: the layer that runs requests on the ORB's threads
    // hands it down).
    static void ReachAlso(ThreadTest test);
    // Whether operations made now are watched (an OperationWatcher is installed).
    static bool Watched();

  protected:
    // Starts tracking as operation id of the object at objectKey, working
    // for user, when a watcher is installed. Call from the constructor.
    void TrackFor(const void* objectKey, const std::string& user, int id);

    // Running -> Cancelled, unless the work has ended (or was cancelled) in
    // the meantime: a finished operation never becomes Cancelled.
    void MarkCancelled();
    // The job loop: cancels every job registered for the thread; when
    // logEachJob is set, each job found is logged first.
    void CancelJobs(bool logEachJob);
    // Stops a thread that cannot stop itself (m_cooperativeCancel clear).
    void StopThread(unsigned long threadId);

    TrackedState m_state;                 // see the transitions of OperationState
    int m_cooperativeCancel;              // 1: jobs only; 0: stop the thread as well
    std::string m_name;                   // the operation's name
    std::string m_owner;                  // set before submission, then only read
    // Held across Cancel's job loop: GetState waits until the jobs are cancelled.
    ACE_Thread_Mutex m_lock;
  };
}

#endif
