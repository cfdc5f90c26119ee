// The thread pool at work: when it grows and shrinks, the order and places
// of waiting work, what its threads run, and how it survives failures.
// Each new pool thread costs a second (the pool's throttle), so pools here
// stay small; ctest runs each test in a process of its own.
#include "KroServer/OpnType.h"
#include "KroServer/ServerMetrics.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include "PoolTestItems.h"
#include "support/LogCapture.h"

#include <ace/Thread.h>
#include <ace/Thread_Manager.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

using Krovane::ThreadPoolThreadingPolicy;
using KroTest::LogCapture;
using namespace PoolTest;
using Strings = std::vector<std::string>;

namespace
{
  const std::string kThreadExits = "(%P|%t) Decrementing ThreadPool size: thread exitting.\n";
  const std::string kThreadCloses = "(%P|%t) shutting down ThreadPool threads.\n";
  const std::string kUnknownException = "(%P|%t) Unknown exception dispatching Operation.\n";
  const std::string kFailedDefault =
    "(%P|%t) Failed to create a Threadpool Thread with default stack size. Check the stacksize/data "
    "limits for the machine using the limit command(if available).\n";
  const std::string kFailedSized =
    "(%P|%t) Failed to create a Threadpool Thread with stack size(256000). Check the stacksize/data "
    "limits for the machine using the limit command(if available).\n";

  // Submits a blocker and waits until a pool thread runs it.
  ::testing::AssertionResult Occupy(ThreadPoolThreadingPolicy* pool, Blocker& blocker)
  {
    pool->Submit(&blocker);
    if (!blocker.Started().Wait())
      return ::testing::AssertionFailure() << blocker.GetName() << " never started";
    return ::testing::AssertionSuccess();
  }

  // A pool whose first thread starts fail, recording what it asks of ACE.
  class FailingStartPool : public ThreadPoolThreadingPolicy
  {
  public:
    FailingStartPool() : ThreadPoolThreadingPolicy(1, 1) {}
    int activate(long flags, int n, int force, long priority, int group, ACE_Task_Base* task,
                 ACE_hthread_t handles[], void* stacks[], size_t stackSizes[], ACE_thread_t ids[],
                 const char* names[]) override
    {
      m_stackSizes.push_back(stackSizes ? stackSizes[0] : 0);
      if (m_failures-- > 0)
        return -1;
      return ThreadPoolThreadingPolicy::activate(flags, n, force, priority, group, task, handles,
                                                 stacks, stackSizes, ids, names);
    }
    std::atomic<int> m_failures{2};
    std::vector<size_t> m_stackSizes;
  };

  // Notes what the thread's current operation was while it ran.
  class SyncItem : public Krovane::SynchronousOperation
  {
  public:
    SyncItem() : Krovane::SynchronousOperation(CORBA::Object::_nil(), "sync") {}
    void Dispatch() override
    {
      m_wasCurrent = Krovane::threadLocalOperation->m_operation == this;
      m_managed = ACE_Thread_Manager::instance()->thread_within(ACE_Thread::self()) != 0;
      m_done.Set();
    }
    std::atomic<bool> m_wasCurrent{false};
    std::atomic<bool> m_managed{false};
    Event m_done;
  };

  class NotAnOperation : public Krovane::Dispatchable
  {
  public:
    void Dispatch() override { ++m_runs; }
    std::atomic<int> m_runs{0};
  };
}

TEST(ThreadPool, GrowsWhenEveryThreadIsBusyAndShrinksToItsMinimumOneThreadAfterAnother)
{
  ThreadPoolThreadingPolicy* pool = NewPool(1, 3);
  Blocker a("a"), b("b"), c("c");
  int expected = 0;
  for (Blocker* blocker : {&a, &b, &c})
  {
    ASSERT_TRUE(Occupy(pool, *blocker));  // every thread busy: one more each time
    EXPECT_EQ(++expected, pool->GetPoolSize());
  }

  LogCapture capture;
  for (Blocker* blocker : {&a, &b, &c})
    blocker->Release();
  ASSERT_TRUE(capture.WaitFor(kThreadCloses, 2));
  ASSERT_TRUE(WaitUntil([&] { return pool->GetIdle() == 1; }));
  EXPECT_EQ(1, pool->GetPoolSize());
  EXPECT_EQ(2, capture.Count(kThreadExits));

  Item next("next");
  pool->Submit(&next);  // the last thread waits: it is woken, none is started
  EXPECT_TRUE(next.Done().Wait());
  EXPECT_EQ(1, pool->GetPoolSize());
  EXPECT_EQ(2, capture.Count(kThreadCloses));
}

TEST(ThreadPool, CancelAllOperationsRunsNextAndWaitingItemsAreToldTheirPlaces)
{
  ThreadPoolThreadingPolicy* pool = NewPool(1, 1);
  ASSERT_EQ(1, pool->setPlaceReports(ThreadPoolThreadingPolicy::PlaceReports::kEveryChange));
  Journal journal;
  Blocker running("running", &journal);
  Item a("A", &journal), b("B", &journal), removed("R", &journal), c("C", &journal);
  Item cancelAll("CancelAllOperations", &journal);
  ASSERT_TRUE(Occupy(pool, running));
  for (Item* item : {&a, &b, &removed, &c, &cancelAll})
    pool->Submit(item);
  pool->Remove(&removed);
  pool->Remove(&removed);  // no longer queued: nothing happens

  running.Release();
  ASSERT_TRUE(c.Done().Wait());
  EXPECT_EQ((Strings{"run running", "A:1", "B:2", "C:3", "run CancelAllOperations", "B:1", "C:2",
                     "run A", "C:1", "run B", "run C"}),
            journal.Entries());
  EXPECT_EQ(0, removed.Runs());
}

TEST(ThreadPool, RunsOnlyOperationsEachAsItsThreadsCurrentOperation)
{
  ThreadPoolThreadingPolicy* pool = NewPool(1, 1);
  NotAnOperation plain;
  SyncItem sync;
  Item operation("plain operation", nullptr, [] {
    // Not a SynchronousOperation: the thread serves no operation.
    if (Krovane::threadLocalOperation->m_operation != nullptr)
      throw std::logic_error("stale current operation");
  });
  pool->Submit(&plain);
  pool->Submit(&sync);
  pool->Submit(&operation);
  ASSERT_TRUE(sync.m_done.Wait());
  ASSERT_TRUE(operation.Done().Wait());
  EXPECT_TRUE(sync.m_wasCurrent);
  EXPECT_TRUE(sync.m_managed);  // so Operation::Cancel can reach its jobs
  EXPECT_EQ(0, plain.m_runs);
  EXPECT_EQ(1, pool->GetPoolSize());
}

TEST(ThreadPool, AnExceptionEndsOnlyItsThreadAndTheNextSubmitReplacesIt)
{
  ThreadPoolThreadingPolicy* pool = NewPool(1, 2);
  Blocker busy("busy");
  ASSERT_TRUE(Occupy(pool, busy));
  LogCapture capture;
  Item failing("failing", nullptr, [] { throw std::runtime_error("work failed"); });
  pool->Submit(&failing);  // the first thread is busy: a second one runs it
  ASSERT_TRUE(capture.WaitFor(kThreadCloses));
  EXPECT_EQ((Strings{kUnknownException, kThreadExits, kThreadCloses}), capture.Lines());
  EXPECT_EQ(1, pool->GetPoolSize());
  EXPECT_EQ(1, failing.Runs());

  Item after("after");
  pool->Submit(&after);  // every thread busy again: a replacement starts
  // It runs while the first thread is still held: only a new thread can run it.
  EXPECT_TRUE(after.Done().Wait());
  busy.Release();
  EXPECT_TRUE(busy.Done().Wait());
  EXPECT_TRUE(WaitUntil([&] { return pool->GetPoolSize() == 1 && pool->GetIdle() == 1; }));
}

TEST(ThreadPool, WorkStaysQueuedWhenAThreadCannotStart)
{
  auto* pool = new FailingStartPool;
  KeepForProcess(pool);
  ASSERT_EQ(1, pool->setPlaceReports(ThreadPoolThreadingPolicy::PlaceReports::kEveryChange));
  Journal journal;
  Item a("A", &journal), b("B", &journal), c("C", &journal);
  LogCapture capture;
  pool->Submit(&a);
  ASSERT_EQ(1, pool->setStackSize(256000));
  pool->Submit(&b);
  EXPECT_EQ(0, pool->GetPoolSize());
  Strings failures;  // besides the process's first-thread announcement
  for (const std::string& line : capture.Lines())
    if (line.find("Creating Threadpool Threads") == std::string::npos)
      failures.push_back(line);
  EXPECT_EQ((Strings{kFailedDefault, kFailedSized}), failures);

  pool->Submit(&c);
  ASSERT_TRUE(c.Done().Wait());
  EXPECT_EQ((Strings{"B:1", "C:2", "run A", "C:1", "run B", "run C"}), journal.Entries());
  EXPECT_EQ(1, pool->GetPoolSize());
  EXPECT_EQ((std::vector<size_t>{0, 256000, 256000}), pool->m_stackSizes);
}

namespace
{
  // An operation that cannot stop itself, cancelled while it runs: the
  // cancellation stops its thread.
  class StoppedItem : public Krovane::SynchronousOperation
  {
  public:
    StoppedItem() : Krovane::SynchronousOperation(CORBA::Object::_nil(), "stopped") { m_cooperativeCancel = 0; }
    void Dispatch() override
    {
      m_thread = ACE_Thread::self();
      SetThreadId(static_cast<unsigned long>(m_thread));
      SetState(Krovane::Running);
      Cancel();
    }
    ACE_thread_t m_thread{};
  };

  // Notes, at each place report, whether its thread still named an operation.
  class PlaceWatcher : public Item
  {
  public:
    PlaceWatcher() : Item("watcher") {}
    void ReportQueuePosition(int) override
    {
      if (Krovane::threadLocalOperation->m_operation != nullptr)
        ++m_staleReports;
    }
    std::atomic<int> m_staleReports{0};
  };
}

// After its operation, a pool thread names no operation any more (that one
// may be deleted), and a thread that a cancellation stopped gives way to a
// fresh one: the next operation must not find itself stopped.
TEST(ThreadPool, ThreadsCarryNothingOfTheirLastOperationIntoTheNext)
{
  ThreadPoolThreadingPolicy* pool = NewPool(1, 1);
  Blocker busy("busy");
  ASSERT_TRUE(Occupy(pool, busy));
  StoppedItem stopped;
  bool nextSawStop = true;
  ACE_thread_t nextThread{};
  Item next("next", nullptr, [&] {
    nextThread = ACE_Thread::self();
    nextSawStop = ACE_Thread_Manager::instance()->testcancel(nextThread) != 0;
  });
  PlaceWatcher watcher;
  pool->Submit(&stopped);
  pool->Submit(&next);
  pool->Submit(&watcher);
  LogCapture capture;
  busy.Release();

  ASSERT_TRUE(watcher.Done().Wait());
  EXPECT_TRUE(next.Done().Wait());
  EXPECT_FALSE(nextSawStop);
  EXPECT_FALSE(ACE_OS::thr_equal(stopped.m_thread, nextThread));
  EXPECT_EQ(0, watcher.m_staleReports);
  EXPECT_TRUE(capture.WaitFor(kThreadExits));  // the stopped thread, once it has started its successor
  EXPECT_TRUE(WaitUntil([&] { return pool->GetPoolSize() == 1 && pool->GetIdle() == 1; }));
}

namespace
{
  using PlaceReports = ThreadPoolThreadingPolicy::PlaceReports;

  // An item whose client is slower than the pool, and which finds fault with
  // any place that breaks the rules: in a queue that nothing jumps places
  // only fall, so an older place after a newer one shows as a rise; and no
  // place may come once the item has started or has been withdrawn.
  class PlaceRecorder : public Item
  {
  public:
    // Its work takes a moment, so that the burst lasts while places are told.
    PlaceRecorder() : Item("recorder", nullptr, [] { std::this_thread::sleep_for(100us); }) {}
    void Dispatch() override
    {
      m_started = true;
      Item::Dispatch();
    }
    void ReportQueuePosition(int place) override
    {
      // The round trip first, so that a report overlapping the start is caught.
      std::this_thread::sleep_for(200us);
      std::lock_guard<std::mutex> guard(m_lock);
      const std::string told = "place " + std::to_string(place);
      if (m_started)
        m_faults += told + " after the start; ";
      else if (m_withdrawn)
        m_faults += told + " after the withdrawal; ";
      else if (m_last != 0 && place >= m_last)
        m_faults += told + " after place " + std::to_string(m_last) + "; ";
      m_last = place;
      ++m_told;
    }
    void MarkWithdrawn() { m_withdrawn = true; }
    bool Withdrawn() const { return m_withdrawn; }
    int LastPlace()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_last;
    }
    int Told()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_told;
    }
    std::string Faults()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_faults;
    }

  private:
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_withdrawn{false};
    std::mutex m_lock;
    int m_last = 0;         // guarded by m_lock; the last place told, 0 before any
    int m_told = 0;         // guarded by m_lock
    std::string m_faults;   // guarded by m_lock
  };
}

// A burst of dequeues and withdrawals with clients slower than the pool, in
// each mode: every item hears its places in falling order and none once it
// has started or been withdrawn; the items still waiting at the end hear
// their true places; the latest-place mode drops superseded places; the
// snapshot and the metrics follow the queue.
TEST(ThreadPool, PlacesFallInOrderStopAtTheStartAndEndAtTheTruePlace)
{
  const int kBurst = 60;
  const int kLeftWaiting = 8;
  struct Reporting
  {
    const char* what;
    PlaceReports mode;
    std::chrono::milliseconds pace;  // between rounds of latest places
  };
  const Reporting reportings[] = {
    {"every change", PlaceReports::kEveryChange, std::chrono::milliseconds(0)},
    {"latest place", PlaceReports::kLatest, std::chrono::milliseconds(0)},
    {"latest place, paced", PlaceReports::kLatest, std::chrono::milliseconds(30)},
  };
  std::map<std::string, int> told;
  for (const Reporting& reporting : reportings)
  {
    SCOPED_TRACE(reporting.what);
    const PlaceReports mode = reporting.mode;
    const Krovane::ServerMetrics::Snapshot metricsBefore = Krovane::ServerMetrics::Instance().Read();
    ThreadPoolThreadingPolicy* pool = NewPool(2, 2);
    ASSERT_EQ(1, pool->setStartPause(0));
    ASSERT_EQ(1, pool->setPlaceReports(mode));
    pool->setPlaceReportPace(reporting.pace);
    Blocker first("first"), second("second"), third("third"), fourth("fourth");
    ASSERT_TRUE(Occupy(pool, first));
    ASSERT_TRUE(Occupy(pool, second));
    EXPECT_EQ(0, pool->setPlaceReports(mode));  // fixed once work has come

    // The burst, then two blockers that stop the threads, then the items
    // left waiting behind them.
    std::vector<std::unique_ptr<PlaceRecorder>> burst(kBurst), left(kLeftWaiting);
    for (auto& item : burst)
      pool->Submit((item = std::make_unique<PlaceRecorder>()).get());
    pool->Submit(&third);
    pool->Submit(&fourth);
    for (auto& item : left)
      pool->Submit((item = std::make_unique<PlaceRecorder>()).get());
    ASSERT_EQ(1, pool->Withdraw(burst[1].get()));
    burst[1]->MarkWithdrawn();
    first.Release();
    second.Release();
    // From the back, where items are still waiting while the threads take the front.
    for (int i = kBurst - 1; i >= 0; i -= 5)
      if (pool->Withdraw(burst[i].get()))
        burst[i]->MarkWithdrawn();
    ASSERT_TRUE(third.Started().Wait());
    ASSERT_TRUE(fourth.Started().Wait());

    for (int i = 0; i < kLeftWaiting; ++i)
      EXPECT_TRUE(WaitUntil([&] { return left[i]->LastPlace() == i + 1; }))
        << "item " << i << " left waiting last heard place " << left[i]->LastPlace();
    const Krovane::PoolSnapshot snapshot = pool->Snapshot();
    EXPECT_EQ((std::vector<int>{2, 0, 2, 2, kLeftWaiting}),
              (std::vector<int>{snapshot.threads, snapshot.idle, snapshot.min, snapshot.max, snapshot.waiting}));

    third.Release();
    fourth.Release();
    // The blockers go with this pass: their runs must be over first.
    for (Blocker* blocker : {&first, &second, &third, &fourth})
      EXPECT_TRUE(blocker->Done().Wait());
    int ran = 4;
    for (auto* items : {&burst, &left})
      for (auto& item : *items)
      {
        if (item->Withdrawn())
          EXPECT_EQ(0, item->Runs());
        else
        {
          EXPECT_TRUE(item->Done().Wait());
          ++ran;
        }
        EXPECT_EQ("", item->Faults());
        told[reporting.what] += item->Told();
      }
    EXPECT_TRUE(WaitUntil([&] {
      const Krovane::ServerMetrics::Snapshot now = Krovane::ServerMetrics::Instance().Read();
      return now.queueWait.count - metricsBefore.queueWait.count == static_cast<std::uint64_t>(ran) &&
             now.runTime.count - metricsBefore.runTime.count == static_cast<std::uint64_t>(ran);
    })) << "queue waits and run times are recorded once per run";
  }
  EXPECT_LT(told["latest place"], told["every change"]);
  EXPECT_LT(told["latest place, paced"], told["every change"]);
}
