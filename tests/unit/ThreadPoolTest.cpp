// The thread pool at work: when it grows and shrinks, the order and places
// of waiting work, what its threads run, and how it survives failures.
// Each new pool thread costs a second (the pool's throttle), so pools here
// stay small; ctest runs each test in a process of its own.
#include "KroServer/OpnType.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include "PoolTestItems.h"
#include "support/LogCapture.h"

#include <ace/Thread.h>
#include <ace/Thread_Manager.h>

#include <gtest/gtest.h>

#include <stdexcept>

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
