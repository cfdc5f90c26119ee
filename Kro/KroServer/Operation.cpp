#include "KroServer/Operation.h"

#include "KroServer/OperationRecord.h"
#include "KroServer/OperationWatcher.h"
#include "KroServer/StoppedThreads.h"

#include "Dazadared/JobController.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <cstdio>

namespace Krovane
{
  namespace
  {
    // Ends this thread's hold on the last job it found, on every path out
    // of a job loop, so that the job's owner may delete it.
    struct FoundJobRelease
    {
      ~FoundJobRelease() { Halvern_Utilities::JobController::Instance()->ReleaseFoundJob(); }
    };

    // The test of threads that are not ACE's (see Operation::ReachAlso).
    std::atomic<Operation::ThreadTest> s_alsoReachable{nullptr};

    // A thread that Cancel can reach: one of ACE's thread manager (the
    // pool's), or one the layer above hands the test of (an ORB thread
    // while it serves a request).
    bool ThreadIsManaged(unsigned long threadId)
    {
      if (ACE_Thread_Manager::instance()->thread_within(static_cast<ACE_thread_t>(threadId)) != 0)
        return true;
      const Operation::ThreadTest also = s_alsoReachable.load(std::memory_order_acquire);
      return also && also(threadId);
    }
  }

  void Operation::ReachAlso(ThreadTest test) { s_alsoReachable.store(test, std::memory_order_release); }

  void TrackedState::Track(std::shared_ptr<OperationRecord> record)
  {
    std::atomic_store(&m_record, std::move(record));
    m_tracked.store(true, std::memory_order_relaxed);
  }

  std::shared_ptr<OperationRecord> TrackedState::Record() const
  {
    if (!m_tracked.load(std::memory_order_relaxed))
      return nullptr;
    return std::atomic_load(&m_record);
  }

  void TrackedState::Note(OperationState state)
  {
    const std::shared_ptr<OperationRecord> record = std::atomic_load(&m_record);
    if (!record)
      return;
    record->NoteState(state);
    if (state == Finished || state == Cancelled)
      EndTracking();
  }

  void TrackedState::EndTracking()
  {
    if (!m_tracked.load(std::memory_order_relaxed))
      return;
    const std::shared_ptr<OperationRecord> record = std::atomic_exchange(&m_record, std::shared_ptr<OperationRecord>());
    OperationWatcher* watcher = OperationWatcher::Installed();
    if (record && watcher)
      watcher->Ended(record);
  }

  Operation::Operation() : m_state(Queued), m_cooperativeCancel(1) {}

  Operation::Operation(const char* name)
    : m_state(Queued), m_cooperativeCancel(1), m_name(name ? name : "")
  {
  }

  // Deleted before it ended (its object went first): ended now.
  Operation::~Operation() { m_state.EndTracking(); }

  bool Operation::Watched() { return OperationWatcher::Installed() != nullptr; }

  void Operation::TrackFor(const void* objectKey, const std::string& user, int id)
  {
    if (OperationWatcher* watcher = OperationWatcher::Installed())
      m_state.Track(watcher->Track(objectKey, user, id, m_name));
  }

  void Operation::NoteProgress(double progress)
  {
    if (const std::shared_ptr<OperationRecord> record = m_state.Record())
      record->NoteProgress(progress);
  }

  void Operation::NoteStatus(const char* text)
  {
    if (const std::shared_ptr<OperationRecord> record = m_state.Record())
      record->NoteStatus(text);
  }

  void Operation::NoteFailed()
  {
    if (const std::shared_ptr<OperationRecord> record = m_state.Record())
      record->NoteFailed();
  }

  std::string Operation::GetName() { return m_name; }

  OperationState Operation::GetState()
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, m_state.load());
    return m_state.load();
  }

  void Operation::SetState(OperationState state) { m_state.store(state); }

  bool Operation::CancelUnlessEnded()
  {
    OperationState expected = Queued;
    if (m_state.compare_exchange_strong(expected, Cancelled))
      return true;
    expected = Running;
    return m_state.compare_exchange_strong(expected, Cancelled);
  }

  void Operation::FinishUnlessCancelled()
  {
    OperationState expected = Running;
    m_state.compare_exchange_strong(expected, Finished);
  }

  void Operation::MarkCancelled()
  {
    OperationState expected = Running;
    m_state.compare_exchange_strong(expected, Cancelled);
  }

  void Operation::CancelJobs(bool logEachJob)
  {
    Halvern_Utilities::JobController* controller = Halvern_Utilities::JobController::Instance();
    FoundJobRelease release;
    Halvern_Utilities::Job* cancelled = nullptr;
    for (;;)
    {
      Halvern_Utilities::Job* job = controller->FindJob(GetThreadId());
      if (!job)
        break;
      if (logEachJob)
      {
        // ACE's formatter reads %l as a line number and %x as a 32-bit int:
        // the full address is formatted here.
        char address[2 * sizeof(void*) + 1];
        std::snprintf(address, sizeof address, "%lx", reinterpret_cast<unsigned long>(job));
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) Operation::Cancel(): found job(%C) to cancel\n"),
                   address));
      }
      if (job == cancelled)
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ***** Operation::Cancel(): found duplicate Jobs registered with the JobController. You must unregister jobs when they are done.\n")));
        break;
      }
      job->Cancel();
      cancelled = job;
    }
  }

  void Operation::StopThread(unsigned long threadId)
  {
    // A signal cannot stop one thread of a process on this platform (SIGKILL
    // ends the whole server), and the thread may be detached, so it can be
    // neither killed nor joined. It is asked to stop through the thread
    // manager's cancel flag, which it reads with ACE_Thread_Manager::testcancel,
    // besides the jobs and the state that the rest of Cancel changes. ACE
    // cannot clear that flag again: a pool thread so marked leaves the pool
    // once its operation has ended, and a fresh thread takes its place.
    StoppedThreads::Mark(threadId);
    ACE_Thread_Manager::instance()->cancel(static_cast<ACE_thread_t>(threadId));
  }

  void Operation::Cancel()
  {
    if (m_state.load() != Running)
      return;

    // A thread that cannot stop itself is stopped first; its jobs are
    // cancelled either way.
    const bool stopThread = !m_cooperativeCancel;
    try
    {
      if (!ThreadIsManaged(GetThreadId()))
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("Operation::Cancel() Thread isn't valid.\n")));
        MarkCancelled();
        return;
      }
      if (stopThread)
        StopThread(GetThreadId());
      ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
      CancelJobs(stopThread);
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) Operation::Cancel(): Set state to Cancelled\n")));
      MarkCancelled();
    }
    catch (...)
    {
      if (stopThread)
        ACE_DEBUG((LM_WARNING, ACE_TEXT("Operation::Cancel() Unknown exception while terminating and joining thread.\n")));
      else
        MarkCancelled();
      throw;
    }
  }
}
