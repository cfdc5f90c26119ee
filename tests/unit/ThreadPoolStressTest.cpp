// Several threads submit and withdraw thousands of operations to a pool at
// its maximum, some of which fail and end their thread. Every operation runs
// at most once, every one not withdrawn runs, and none is told a place in
// line once it has run or has been withdrawn.
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include "PoolTestItems.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <stdexcept>

using namespace PoolTest;

namespace
{
  const int kThreads = 3;        // the pool's minimum and maximum
  const int kSubmitters = 4;
  const int kPerSubmitter = 1500;
  const int kInFlight = 50;      // most unfinished items a submitter lets wait

  // Counts shared by all the items of the run.
  struct Tally
  {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<int> unfinished = std::vector<int>(kSubmitters, 0);  // kept items not yet run, per submitter
    std::atomic<int> lateReports{0};  // places told after a run or a withdrawal
  };

  class StressItem : public Krovane::Operation
  {
  public:
    StressItem(Tally* tally, int submitter, bool keep, bool fails)
      : Krovane::Operation("stress"), m_tally(tally), m_submitter(submitter), m_keep(keep),
        m_fails(fails)
    {
    }
    void Dispatch() override
    {
      ++m_runs;
      if (m_keep)
      {
        std::lock_guard<std::mutex> guard(m_tally->lock);
        --m_tally->unfinished[m_submitter];
        m_tally->changed.notify_all();
      }
      if (m_fails)
        throw std::runtime_error("failing item");
    }
    void ReportQueuePosition(int) override
    {
      if (m_runs.load() > 0 || m_withdrawn.load())
        ++m_tally->lateReports;
    }
    void Withdrawn() { m_withdrawn = true; }
    bool WasWithdrawn() const { return m_withdrawn.load(); }
    int Runs() const { return m_runs.load(); }
    bool Kept() const { return m_keep; }

  private:
    Tally* m_tally;
    int m_submitter;
    bool m_keep;        // never withdrawn: must run
    bool m_fails;
    std::atomic<int> m_runs{0};
    std::atomic<bool> m_withdrawn{false};
  };
}

TEST(ThreadPoolStress, EveryOperationRunsOnceOrIsWithdrawn)
{
  Krovane::ThreadPoolThreadingPolicy* pool = NewPool(kThreads, kThreads);
  // Bring the pool to its maximum first.
  std::vector<std::unique_ptr<Blocker>> warmers;
  for (int i = 0; i < kThreads; ++i)
  {
    warmers.emplace_back(new Blocker("warm"));
    pool->Submit(warmers.back().get());
    ASSERT_TRUE(warmers.back()->Started().Wait());
  }
  ASSERT_EQ(kThreads, pool->GetPoolSize());
  for (auto& warmer : warmers)
    warmer->Release();

  Tally tally;
  std::vector<std::vector<std::unique_ptr<StressItem>>> items(kSubmitters);
  for (int s = 0; s < kSubmitters; ++s)
  {
    std::mt19937 random(1234 + s);
    for (int i = 0; i < kPerSubmitter; ++i)
    {
      // Two items fail, each ending a pool thread.
      const bool fails = s == 0 && (i == kPerSubmitter / 3 || i == 2 * kPerSubmitter / 3);
      const bool keep = fails || random() % 5 != 0;
      items[s].emplace_back(new StressItem(&tally, s, keep, fails));
    }
  }

  std::atomic<bool> stalled{false};
  auto submit = [&](int s) {
    std::mt19937 random(99 + s);
    std::vector<StressItem*> withdrawable;
    for (auto& item : items[s])
    {
      {
        std::unique_lock<std::mutex> guard(tally.lock);
        if (!tally.changed.wait_for(guard, 30s, [&] { return tally.unfinished[s] < kInFlight; }))
        {
          stalled = true;
          return;
        }
        if (item->Kept())
          ++tally.unfinished[s];
      }
      pool->Submit(item.get());
      if (!item->Kept())
        withdrawable.push_back(item.get());
      // Withdraw at once, or a few submissions later when it may have run.
      while (!withdrawable.empty() && (random() % 3 == 0 || withdrawable.size() > 4))
      {
        const size_t pick = random() % withdrawable.size();
        // Only an item taken out of the queue hears nothing more: one a pool
        // thread has just taken may still hear the place it is being told.
        if (pool->Withdraw(withdrawable[pick]))
          withdrawable[pick]->Withdrawn();
        withdrawable.erase(withdrawable.begin() + pick);
      }
    }
    for (StressItem* item : withdrawable)
      if (pool->Withdraw(item))
        item->Withdrawn();
  };
  std::vector<std::thread> submitters;
  for (int s = 0; s < kSubmitters; ++s)
    submitters.emplace_back(submit, s);
  for (std::thread& submitter : submitters)
    submitter.join();
  ASSERT_FALSE(stalled) << "kept items stopped running";
  {
    std::unique_lock<std::mutex> guard(tally.lock);
    ASSERT_TRUE(tally.changed.wait_for(guard, 30s, [&] {
      for (int count : tally.unfinished)
        if (count != 0)
          return false;
      return true;
    })) << "kept items never ran";
  }

  // Once every pool thread holds a blocker, no item of the run is running or
  // waiting any more. Threads ended by failures are replaced meanwhile.
  std::vector<std::unique_ptr<Blocker>> blockers;
  for (int i = 0; i < kThreads; ++i)
  {
    blockers.emplace_back(new Blocker("last"));
    pool->Submit(blockers.back().get());
    ASSERT_TRUE(blockers.back()->Started().Wait()) << "blocker " << i;
  }

  // Withdrawn means Withdraw said so; every other item, kept or one whose
  // withdrawal came too late, must have run exactly once.
  int withdrawn = 0;
  for (auto& perSubmitter : items)
    for (auto& item : perSubmitter)
    {
      if (item->WasWithdrawn())
      {
        ASSERT_EQ(0, item->Runs()) << "a withdrawn item ran";
        ++withdrawn;
      }
      else
      {
        ASSERT_EQ(1, item->Runs()) << (item->Kept() ? "a kept item" : "an item withdrawn too late");
      }
    }
  EXPECT_GT(withdrawn, 0);
  EXPECT_EQ(0, tally.lateReports.load());
  EXPECT_EQ(kThreads, pool->GetPoolSize());
  for (auto& blocker : blockers)
    blocker->Release();
  for (auto& blocker : blockers)
    EXPECT_TRUE(blocker->Done().Wait());
}
