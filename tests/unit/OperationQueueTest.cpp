// The operation queue's order and reported places, the buffered policy's
// rule, and the thread pool's settings (no thread is started here).
#include "KroServer/BufferedThreadingPolicy.h"
#include "KroServer/OperationQueue.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include "PoolTestItems.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <stdexcept>

using Krovane::Dispatchable;
using Krovane::OperationQueue;
using Krovane::ThreadPoolThreadingPolicy;
using PoolTest::Item;
using PoolTest::Journal;
using Strings = std::vector<std::string>;

namespace
{
  // The items of a queue, front first, without changing it.
  std::vector<Dispatchable*> Items(const OperationQueue& queue)
  {
    std::vector<Dispatchable*> items;
    for (const Krovane::OperationQueueEntry* entry : queue)
      items.push_back(entry->m_item);
    return items;
  }

  // A buffered policy that can be told whether work may start now, and notes
  // the work it starts.
  class TestBufferedPolicy : public Krovane::BufferedThreadingPolicy
  {
  public:
    int m_canDispatch = 0;
    std::vector<Dispatchable*> m_started;
    std::vector<Dispatchable*> Waiting() { return Items(m_queue); }

  protected:
    int CanDispatchNow() override { return m_canDispatch; }
    void DispatchInNewThread(Dispatchable* work) override { m_started.push_back(work); }
  };

  class FailingReport : public Item
  {
  public:
    using Item::Item;
    void ReportQueuePosition(int) override { throw std::runtime_error("client gone"); }
  };
}

TEST(OperationQueue, PlacesAreToldOnlyWhenTheyChange)
{
  Journal journal;
  Item a("A", &journal), b("B", &journal), c("C", &journal), d("D", &journal), e("E", &journal);
  OperationQueue queue;
  queue.Enqueue(&a);
  queue.Enqueue(&b);
  queue.Enqueue(&c);
  queue.ReportPositions();
  queue.ReportPositions();  // nothing changed: nobody is told again
  EXPECT_EQ((Strings{"A:1", "B:2", "C:3"}), journal.Entries());

  EXPECT_EQ(&a, queue.Dequeue());
  queue.ReportPositions();
  queue.EnqueueFront(&d);
  queue.ReportPositions();
  queue.Enqueue(&e);
  queue.ReportPositions();
  EXPECT_EQ((Strings{"A:1", "B:2", "C:3", "B:1", "C:2", "D:1", "B:2", "C:3", "E:4"}),
            journal.Entries());
}

TEST(OperationQueue, ExtractTakesOnlyTheFrontMostStandingOfAQueuedItem)
{
  Item a("A"), b("B"), c("C");
  OperationQueue queue;
  EXPECT_EQ(nullptr, queue.Dequeue());
  queue.Enqueue(nullptr);
  queue.EnqueueFront(nullptr);
  EXPECT_TRUE(queue.IsEmpty());

  queue.Enqueue(&a);
  queue.Enqueue(&b);
  queue.Enqueue(&a);
  EXPECT_EQ(nullptr, queue.Extract(&c));
  EXPECT_EQ(nullptr, queue.Extract(nullptr));
  EXPECT_EQ((std::vector<Dispatchable*>{&a, &b, &a}), Items(queue));
  EXPECT_EQ(&a, queue.Extract(&a));
  EXPECT_EQ((std::vector<Dispatchable*>{&b, &a}), Items(queue));
  EXPECT_EQ(&b, queue.Dequeue());
  EXPECT_EQ(&a, queue.Dequeue());
  EXPECT_EQ(nullptr, queue.Dequeue());
  EXPECT_TRUE(queue.IsEmpty());
}

TEST(OperationQueue, AFailingReportKeepsNoOtherItemFromBeingTold)
{
  Journal journal;
  Item a("A", &journal), c("C", &journal);
  FailingReport b("B", &journal);
  OperationQueue queue;
  queue.Enqueue(&a);
  queue.Enqueue(&b);
  queue.Enqueue(&c);
  KroTest::LogCapture capture;
  queue.ReportPositions();
  EXPECT_EQ((Strings{"A:1", "C:3"}), journal.Entries());
  EXPECT_EQ((Strings{"(%P|%t) ********OperationQueue::ReportPositions Unknown exception reporting a queue position.\n"}),
            capture.Lines());
  EXPECT_EQ(3u, queue.size());
}

TEST(BufferedThreadingPolicy, StartsWorkOnlyWhenNothingWaitsAndItMay)
{
  Item a("A"), b("B"), c("C");
  TestBufferedPolicy policy;
  policy.Submit(nullptr);
  policy.Remove(nullptr);
  policy.Submit(&a);
  policy.Submit(&b);
  EXPECT_TRUE(policy.m_started.empty());
  EXPECT_EQ((std::vector<Dispatchable*>{&a, &b}), policy.Waiting());

  policy.m_canDispatch = 1;
  policy.Submit(&c);  // must not overtake a and b
  EXPECT_EQ((std::vector<Dispatchable*>{&a, &b, &c}), policy.Waiting());
  policy.Remove(&a);
  policy.Remove(&b);
  policy.Remove(&b);  // no longer waiting: nothing happens
  policy.Remove(&c);
  policy.Submit(&b);
  EXPECT_EQ(std::vector<Dispatchable*>{&b}, policy.m_started);
  EXPECT_TRUE(policy.Waiting().empty());
  EXPECT_EQ(nullptr, policy.Copy());
}

TEST(ThreadPoolSettings, ConstructionAndCopiesKeepMinAndMaxInRange)
{
  const std::vector<std::array<int, 4>> cases = {
    {0, 0, 1, 1}, {-3, 5, 1, 5}, {50, 10, 30, 30}, {2, 1000, 2, 1000}, {3, 2, 3, 3}};
  for (const auto& c : cases)
  {
    ThreadPoolThreadingPolicy pool(c[0], c[1]);
    EXPECT_EQ(c[2], pool.GetMin()) << c[0] << "," << c[1];
    EXPECT_EQ(c[3], pool.GetMax()) << c[0] << "," << c[1];
    EXPECT_EQ(0, pool.GetPoolSize());
  }
  ThreadPoolThreadingPolicy pool(3, 7);
  ASSERT_EQ(1, pool.setStackSize(200000));
  ThreadPoolThreadingPolicy copied(pool);
  EXPECT_EQ(3, copied.GetMin());
  EXPECT_EQ(7, copied.GetMax());
  EXPECT_EQ(0, copied.GetStackSize());
  std::unique_ptr<Krovane::ThreadingPolicy> made(pool.Copy());
  auto* madePool = dynamic_cast<ThreadPoolThreadingPolicy*>(made.get());
  ASSERT_NE(nullptr, madePool);
  EXPECT_EQ(1, madePool->GetMin());
  EXPECT_EQ(5, madePool->GetMax());
}

TEST(ThreadPoolSettings, SettersRefuseValuesOutOfRange)
{
  ThreadPoolThreadingPolicy pool(2, 5);
  EXPECT_EQ(0, pool.setMax(0));
  EXPECT_EQ(0, pool.setMax(1));  // below min
  EXPECT_EQ(0, pool.setMax(101));
  EXPECT_EQ(5, pool.GetMax());
  EXPECT_EQ(1, pool.setMax(100));
  EXPECT_EQ(100, pool.GetMax());
  EXPECT_EQ(1, pool.setMax(2));
  EXPECT_EQ(2, pool.GetMax());

  EXPECT_EQ(0, pool.setMin(0));
  EXPECT_EQ(0, pool.setMin(-1));
  EXPECT_EQ(2, pool.GetMin());
  EXPECT_EQ(1, pool.setMin(50));  // no comparison with the maximum
  EXPECT_EQ(50, pool.GetMin());

  EXPECT_EQ(1000, pool.GetStartPause());
  EXPECT_EQ(0, pool.setStartPause(-1));
  EXPECT_EQ(1, pool.setStartPause(0));  // no pause at all
  EXPECT_EQ(0, ThreadPoolThreadingPolicy(pool).GetStartPause());
}

TEST(ThreadPoolSettings, StackSizeIsRaisedToItsFloorAndLargeOnesAreLogged)
{
  const std::string tooSmall =
    "(%P|%t) Stacksize too small(127999 bytes). Setting to 128KB for ThreadPool threads: 128000\n";
  const std::string negative =
    "(%P|%t) Stacksize too small(-5 bytes). Setting to 128KB for ThreadPool threads: 128000\n";
  const std::string veryLarge = "(%P|%t) Setting a very large stacksize for ThreadPool threads: 20000001 bytes\n";
  ThreadPoolThreadingPolicy pool;
  EXPECT_EQ(0, pool.GetStackSize());
  KroTest::LogCapture capture;
  EXPECT_EQ(0, pool.setStackSize(127999));
  EXPECT_EQ(128000, pool.GetStackSize());
  EXPECT_EQ(1, pool.setStackSize(20000000));
  EXPECT_EQ(20000000, pool.GetStackSize());
  EXPECT_EQ(0, pool.setStackSize(20000001));
  EXPECT_EQ(20000001, pool.GetStackSize());
  EXPECT_EQ(0, pool.setStackSize(-5));  // the default cannot be restored
  EXPECT_EQ(128000, pool.GetStackSize());
  EXPECT_EQ(1, pool.setStackSize(128000));
  EXPECT_EQ((Strings{tooSmall, veryLarge, negative}), capture.Lines());
}
