#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "KroServer/Operation.h"
#include "KroServer/OpnType.h"
#include "KroServer/ServerMetrics.h"
#include "KroServer/ServerStop.h"
#include "KroServer/StoppedThreads.h"
#include "KroServer/SynchronousOperation.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Thread.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Time_Value.h>

#include <cxxabi.h>

namespace Krovane
{
  namespace
  {
    const int kMinCeiling = 30;              // the constructor's upper bound on min
    const int kMaxCeiling = 100;             // setMax's upper bound
    const int kSmallestStack = 128000;       // smaller stack sizes are raised to this
    const int kLargeStack = 20000000;        // larger stack sizes are logged
    const char* const kCancelAll = "CancelAllOperations";  // runs before all waiting work
    // Waiting items looked at for one of a user under the bound: a thread
    // taking work must not walk a very long queue.
    const std::size_t kFairLook = 1000;
    const ThreadPoolThreadingPolicy::PlaceReports kDefaultPlaceReports =
      ThreadPoolThreadingPolicy::PlaceReports::kLatest;
  }

  std::atomic<bool> ThreadPoolThreadingPolicy::s_noThreadStarted(true);

  ThreadPoolThreadingPolicy::ThreadPoolThreadingPolicy(int min, int max)
    : m_idle(0), m_poolSize(0), m_max(max), m_min(min), m_stackSize(0), m_leaving(0),
      m_startPauseMs(kDefaultStartPauseMs), m_perUserBound(0), m_placeReports(kDefaultPlaceReports), m_submitted(false),
      m_reporter(new OperationQueueReporter), m_waiting(0)
  {
    if (m_min <= 0)
      m_min = 1;
    else if (m_min > kMinCeiling)
      m_min = kMinCeiling;
    if (m_max < m_min)
      m_max = m_min;
  }

  ThreadPoolThreadingPolicy::ThreadPoolThreadingPolicy(const ThreadPoolThreadingPolicy& other)
    : BufferedThreadingPolicy(other), m_idle(0), m_poolSize(0), m_max(other.GetMax()),
      m_min(other.GetMin()), m_stackSize(0), m_leaving(0), m_startPauseMs(other.GetStartPause()),
      m_perUserBound(other.GetMaxThreadsPerUser()), m_placeReports(const_cast<ThreadPoolThreadingPolicy&>(other).GetPlaceReports()), m_submitted(false),
      m_reporter(new OperationQueueReporter), m_waiting(0)
  {
  }

  ThreadPoolThreadingPolicy::~ThreadPoolThreadingPolicy() {}

  ThreadingPolicy* ThreadPoolThreadingPolicy::Copy() { return new ThreadPoolThreadingPolicy(1, 5); }

  int ThreadPoolThreadingPolicy::setMin(int n)
  {
    if (n <= 0)
      return 0;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    m_min = n;
    return 1;
  }

  int ThreadPoolThreadingPolicy::setMax(int n)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    if (n <= 0 || n < m_min || n > kMaxCeiling)
      return 0;
    m_max = n;
    return 1;
  }

  int ThreadPoolThreadingPolicy::setStackSize(int n)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    if (n < kSmallestStack)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) Stacksize too small(%d bytes). Setting to 128KB for ThreadPool threads: %d\n"),
                 n, kSmallestStack));
      m_stackSize = kSmallestStack;
      return 0;
    }
    m_stackSize = n;
    if (n > kLargeStack)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) Setting a very large stacksize for ThreadPool threads: %d bytes\n"), n));
      return 0;
    }
    return 1;
  }

  int ThreadPoolThreadingPolicy::GetMin() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    return m_min;
  }

  int ThreadPoolThreadingPolicy::GetMax() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    return m_max;
  }

  int ThreadPoolThreadingPolicy::GetStackSize() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    return m_stackSize;
  }

  int ThreadPoolThreadingPolicy::setStartPause(int milliseconds)
  {
    if (milliseconds < 0)
      return 0;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    m_startPauseMs = milliseconds;
    return 1;
  }

  int ThreadPoolThreadingPolicy::GetStartPause() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    return m_startPauseMs;
  }

  void ThreadPoolThreadingPolicy::setMaxThreadsPerUser(int n)
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_poolLock);
    m_perUserBound = n > 0 ? n : 0;
  }

  int ThreadPoolThreadingPolicy::GetMaxThreadsPerUser() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 1);
    return PerUserBound();
  }

  int ThreadPoolThreadingPolicy::PerUserBound() const
  {
    if (m_perUserBound > 0)
      return m_perUserBound;
    return m_max / 2 > 0 ? m_max / 2 : 1;
  }

  int ThreadPoolThreadingPolicy::GetPoolSize() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    return m_poolSize;
  }

  int ThreadPoolThreadingPolicy::GetIdle() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, 0);
    return m_idle;
  }

  PoolSnapshot ThreadPoolThreadingPolicy::Snapshot() const
  {
    PoolSnapshot snapshot;
    snapshot.waiting = m_waiting.load(std::memory_order_relaxed);
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_poolLock, snapshot);
    snapshot.threads = m_poolSize;
    snapshot.idle = m_idle;
    snapshot.min = m_min;
    snapshot.max = m_max;
    return snapshot;
  }

  int ThreadPoolThreadingPolicy::setPlaceReports(PlaceReports mode)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_queueLock, 0);
    // Places posted in one mode and told in the other could overtake each other.
    if (m_submitted)
      return 0;
    m_placeReports = mode;
    return 1;
  }

  void ThreadPoolThreadingPolicy::setPlaceReportPace(std::chrono::milliseconds pace)
  {
    m_reporter->SetPace(pace);
  }

  ThreadPoolThreadingPolicy::PlaceReports ThreadPoolThreadingPolicy::GetPlaceReports()
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_queueLock, m_placeReports);
    return m_placeReports;
  }

  int ThreadPoolThreadingPolicy::CanDispatchNow()
  {
    // A stopping server starts nothing new: what waits is cancelled once
    // the running work has drained.
    return ServerStop::Instance().IsStopping() ? 0 : 1;
  }

  void ThreadPoolThreadingPolicy::Submit(Dispatchable* work)
  {
    if (!work)
      return;
    if (Operation* operation = dynamic_cast<Operation*>(work))
    {
      const bool cancelAll = operation->GetName() == kCancelAll;
      ACE_GUARD(ACE_Thread_Mutex, guard, m_queueLock);
      m_submitted = true;
      if (cancelAll)
        m_queue.EnqueueFront(work);
      else
        m_queue.Enqueue(work);
      NoteQueueLength();
    }
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_poolLock);
      if (m_idle == 0 && m_poolSize < m_max && !StartThread())
        return;
    }
    WakeOne();
  }

  bool ThreadPoolThreadingPolicy::StartThread()
  {
    if (s_noThreadStarted.exchange(false))
    {
      if (m_stackSize > 0)
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) Creating Threadpool Threads with stack size(%d)\n"), m_stackSize));
      else
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) Creating Threadpool Threads with default stack size\n")));
    }

    // ACE makes the per-thread store's key at its first use without ordering
    // first uses by several threads: it is made here, once per process,
    // before any pool thread can reach it.
    static const bool storeReady = threadLocalOperation.operator->() != nullptr;
    (void)storeReady;

    size_t stackSizes[1] = {static_cast<size_t>(m_stackSize)};
    // One more detached thread each time, at the platform's normal priority,
    // under ACE's thread manager (so Operation::Cancel finds it).
    const int started = activate(THR_DETACHED, 1, 1, ACE_DEFAULT_THREAD_PRIORITY, -1, nullptr,
                                 nullptr, nullptr, m_stackSize > 0 ? stackSizes : nullptr, nullptr);
    if (started == -1)
    {
      if (m_stackSize > 0)
        ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) Failed to create a Threadpool Thread with stack size(%d). Check the stacksize/data limits for the machine using the limit command(if available).\n"),
                   m_stackSize));
      else
        ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) Failed to create a Threadpool Thread with default stack size. Check the stacksize/data limits for the machine using the limit command(if available).\n")));
      return false;
    }
    ++m_poolSize;
    // Growth is throttled (one thread a second unless set otherwise);
    // submissions wait meanwhile.
    if (m_startPauseMs > 0)
      ACE_OS::sleep(ACE_Time_Value(0, static_cast<suseconds_t>(m_startPauseMs) * 1000));
    return true;
  }

  void ThreadPoolThreadingPolicy::Remove(Dispatchable* work)
  {
    Withdraw(work);
  }

  int ThreadPoolThreadingPolicy::Withdraw(Dispatchable* work)
  {
    if (!work)
      return 0;
    Dispatchable* removed = nullptr;
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_queueLock, 0);
      removed = m_queue.Extract(work);
      if (removed)
      {
        NoteQueueLength();
        if (m_placeReports == PlaceReports::kLatest)
          m_reporter->Drop(removed);
      }
    }
    if (!removed)
      return 0;
    // The withdrawer may free it, or tell its client it was cancelled.
    m_reporter->AwaitIdle(removed);
    WakeOne();
    return 1;
  }

  void ThreadPoolThreadingPolicy::WakeOne() { m_wakeUps.WakeOne(); }

  void ThreadPoolThreadingPolicy::WaitForWakeUp(std::uint32_t seen) { m_wakeUps.Wait(seen); }

  Dispatchable* ThreadPoolThreadingPolicy::GetOperation(int& keepRunning)
  {
    std::chrono::steady_clock::time_point startedAt;
    std::string user;
    Dispatchable* item = TakeNext(keepRunning, startedAt, user);
    // Whoever runs it here is not counted against its user.
    HeldByUser released(*this, std::move(user));
    return item;
  }

  ThreadPoolThreadingPolicy::HeldByUser::~HeldByUser()
  {
    if (m_user.empty())
      return;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_pool.m_queueLock);
      auto held = m_pool.m_heldByUser.find(m_user);
      if (held == m_pool.m_heldByUser.end())
        return;
      const int before = held->second;
      if (--held->second <= 0)
        m_pool.m_heldByUser.erase(held);
      if (m_pool.m_queue.IsEmpty())
        return;
      // Below the bound, no item of this user was passed over for it: what
      // waits was woken for when it came. Waking a thread for it again only
      // sends one more to find the queue taken, for every operation.
      ACE_GUARD(ACE_Thread_Mutex, poolGuard, m_pool.m_poolLock);
      if (before < m_pool.PerUserBound())
        return;
    }
    // An item of this user may have been left waiting for the thread.
    m_pool.WakeOne();
  }

  Dispatchable* ThreadPoolThreadingPolicy::DequeueFairly(int perUserBound, bool spare,
                                                         std::chrono::steady_clock::time_point* enqueuedAt,
                                                         std::string& user)
  {
    auto underBound = [this, perUserBound](Dispatchable* waiting)
    {
      const Operation* operation = dynamic_cast<const Operation*>(waiting);
      if (!operation || operation->Owner().empty())
        return true;
      auto held = m_heldByUser.find(operation->Owner());
      return held == m_heldByUser.end() || held->second < perUserBound;
    };
    Dispatchable* item = m_queue.DequeueFirst(underBound, kFairLook, spare, enqueuedAt);
    const Operation* operation = dynamic_cast<const Operation*>(item);
    if (operation && !operation->Owner().empty())
    {
      user = operation->Owner();
      ++m_heldByUser[user];
    }
    return item;
  }

  Dispatchable* ThreadPoolThreadingPolicy::TakeNext(int& keepRunning,
                                                    std::chrono::steady_clock::time_point& startedAt,
                                                    std::string& user)
  {
    Dispatchable* item = nullptr;
    std::chrono::steady_clock::time_point enqueuedAt;
    std::uint32_t seen = 0;
    int perUserBound = 1;
    bool spare = false;
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, queueGuard, m_queueLock, nullptr);
      {
        ACE_GUARD_RETURN(ACE_Thread_Mutex, poolGuard, m_poolLock, nullptr);
        perUserBound = PerUserBound();
        // Threads that have already decided to end no longer count, or
        // several could end at once and leave the pool below its minimum.
        if (m_queue.IsEmpty() && m_poolSize - m_leaving > m_min)
        {
          ++m_leaving;
          keepRunning = 0;
          return nullptr;
        }
        ++m_idle;
        // Another thread waits for work, or one more may be started.
        spare = m_idle > 1 || m_poolSize < m_max;
      }
      // Read while the queue is still locked: any item this look misses is
      // queued later, and its wake-up is counted later still.
      seen = m_wakeUps.Seen();
      if (CanDispatchNow())
        item = DequeueFairly(perUserBound, spare, &enqueuedAt, user);
      UpdatePlaces(item);
    }
    if (item)
    {
      // Its run must not begin while its client still hears a place.
      m_reporter->AwaitIdle(item);
      startedAt = std::chrono::steady_clock::now();
      ServerMetrics::Instance().RecordQueueWait(startedAt - enqueuedAt);
    }
    else
      WaitForWakeUp(seen);
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, poolGuard, m_poolLock, item);
      --m_idle;
    }
    return item;
  }

  void ThreadPoolThreadingPolicy::UpdatePlaces(Dispatchable* left)
  {
    if (left)
      NoteQueueLength();
    if (m_placeReports == PlaceReports::kEveryChange)
    {
      m_queue.ReportPositions();
      return;
    }
    if (left)
      m_reporter->Drop(left);
    m_queue.CollectChangedPlaces(m_changedPlaces);
    m_reporter->Post(m_changedPlaces);
  }

  void ThreadPoolThreadingPolicy::NoteQueueLength()
  {
    m_waiting.store(static_cast<int>(m_queue.size()), std::memory_order_relaxed);
  }

  void ThreadPoolThreadingPolicy::decrementPoolSize()
  {
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_poolLock);
      --m_poolSize;
      --m_leaving;
    }
    WakeOne();
  }

  void ThreadPoolThreadingPolicy::MarkLeaving()
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_poolLock);
    ++m_leaving;
  }

  int ThreadPoolThreadingPolicy::open(void*) { return 0; }

  int ThreadPoolThreadingPolicy::close(u_long)
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) shutting down ThreadPool threads.\n")));
    return 0;
  }

  int ThreadPoolThreadingPolicy::svc()
  {
    int keepRunning = 1;
    while (keepRunning)
    {
      std::chrono::steady_clock::time_point startedAt;
      std::string user;
      Dispatchable* item = TakeNext(keepRunning, startedAt, user);
      HeldByUser held(*this, std::move(user));
      if (!item)
        continue;
      CurrentOperation current(dynamic_cast<SynchronousOperation*>(item));
      try
      {
        item->Dispatch();
        // The item may be gone by now (it is not touched); a run that
        // failed is not timed, as its thread ends.
        ServerMetrics::Instance().RecordRunTime(std::chrono::steady_clock::now() - startedAt);
      }
      catch (abi::__forced_unwind&)
      {
        // The thread is being ended from within the work: it leaves the pool.
        MarkLeaving();
        decrementPoolSize();
        throw;
      }
      catch (...)
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) Unknown exception dispatching Operation.\n")));
        keepRunning = 0;
        MarkLeaving();
        continue;
      }
      if (WasStopped())
      {
        keepRunning = 0;
        LeaveForAFreshThread();
      }
    }
    decrementPoolSize();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) Decrementing ThreadPool size: thread exitting.\n")));
    return 0;
  }

  ThreadPoolThreadingPolicy::CurrentOperation::CurrentOperation(SynchronousOperation* operation)
  {
    threadLocalOperation->m_operation = operation;
  }

  ThreadPoolThreadingPolicy::CurrentOperation::~CurrentOperation()
  {
    // The operation may be gone once its dispatch has ended: the queue-place
    // reports this thread makes next must not name it. The store itself is
    // gone when the process ends under a running pool thread.
    if (OpnType* current = threadLocalOperation.ts_object())
      current->m_operation = nullptr;
  }

  bool ThreadPoolThreadingPolicy::WasStopped()
  {
    return StoppedThreads::Take(static_cast<unsigned long>(ACE_Thread::self()));
  }

  void ThreadPoolThreadingPolicy::LeaveForAFreshThread()
  {
    bool workWaits = false;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_queueLock);
      workWaits = !m_queue.IsEmpty();
    }
    ACE_GUARD(ACE_Thread_Mutex, guard, m_poolLock);
    ++m_leaving;
    // Without a replacement, work already waiting could wait for the next
    // submission, and the pool could fall below its minimum.
    if (workWaits || m_poolSize - m_leaving < m_min)
      StartThread();
  }
}
