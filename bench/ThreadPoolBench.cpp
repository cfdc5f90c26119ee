// The thread pool's throughput for empty work, and the cost of telling
// waiting items their places in line.
//
// Pool: the pool is started once and warmed up to 5 threads (about 5 s: the
// pool adds at most one thread a second); each iteration then submits 100
// empty operations and waits until all have run.
#include "KroServer/Operation.h"
#include "KroServer/OperationQueue.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace
{
  const int kPoolThreads = 5;
  const int kBatch = 100;  // items waiting at most

  // Counts the items run; a waiter learns when a count is reached.
  class Counter
  {
  public:
    void Add()
    {
      if (++m_count % kBatch == 0)
      {
        std::lock_guard<std::mutex> guard(m_lock);
        m_changed.notify_all();
      }
    }
    bool WaitFor(long count)
    {
      std::unique_lock<std::mutex> guard(m_lock);
      return m_changed.wait_for(guard, std::chrono::seconds(30), [&] { return m_count.load() >= count; });
    }

  private:
    std::atomic<long> m_count{0};
    std::mutex m_lock;
    std::condition_variable m_changed;
  };

  class EmptyWork : public Krovane::Operation
  {
  public:
    explicit EmptyWork(Counter* counter) : Krovane::Operation("empty"), m_counter(counter) {}
    void Dispatch() override { m_counter->Add(); }

  private:
    Counter* m_counter;
  };

  // Holds a pool thread until let go, so that the pool grows.
  class Holder : public Krovane::Operation
  {
  public:
    Holder() : Krovane::Operation("hold") {}
    void Dispatch() override
    {
      std::unique_lock<std::mutex> guard(m_lock);
      m_started = true;
      m_changed.notify_all();
      m_changed.wait_for(guard, std::chrono::seconds(60), [this] { return m_released; });
    }
    void WaitStarted()
    {
      std::unique_lock<std::mutex> guard(m_lock);
      m_changed.wait_for(guard, std::chrono::seconds(30), [this] { return m_started; });
    }
    void Release()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_released = true;
      m_changed.notify_all();
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_started = false;
    bool m_released = false;
  };

  // The warmed-up pool, kept for the process as the library keeps its own.
  Krovane::ThreadPoolThreadingPolicy* WarmPool()
  {
    static Krovane::ThreadPoolThreadingPolicy* pool = [] {
      auto* made = new Krovane::ThreadPoolThreadingPolicy(kPoolThreads, kPoolThreads);
      static Holder holders[kPoolThreads];
      for (Holder& holder : holders)
      {
        made->Submit(&holder);
        holder.WaitStarted();
      }
      for (Holder& holder : holders)
        holder.Release();
      return made;
    }();
    return pool;
  }

  void PoolThroughput(benchmark::State& state)
  {
    Krovane::ThreadPoolThreadingPolicy* pool = WarmPool();
    if (pool->GetPoolSize() != kPoolThreads)
    {
      state.SkipWithError("the pool did not warm up");
      return;
    }
    Counter counter;
    std::vector<std::unique_ptr<EmptyWork>> items;
    for (int i = 0; i < kBatch; ++i)
      items.emplace_back(new EmptyWork(&counter));
    long submitted = 0;
    for (auto _ : state)
    {
      for (auto& item : items)
        pool->Submit(item.get());
      submitted += kBatch;
      if (!counter.WaitFor(submitted))
      {
        state.SkipWithError("items were left waiting");
        return;
      }
    }
    state.SetItemsProcessed(submitted);
  }
  BENCHMARK(PoolThroughput)->UseRealTime()->Unit(benchmark::kMicrosecond);

  // One pass of a pool thread: the front item leaves, a new one joins at the
  // back, and every waiting item is told its new place.
  void ReportPositions(benchmark::State& state)
  {
    const int waiting = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<Krovane::Dispatchable>> items;
    Krovane::OperationQueue queue;
    for (int i = 0; i < waiting; ++i)
    {
      items.emplace_back(new Krovane::Dispatchable);
      queue.Enqueue(items.back().get());
    }
    queue.ReportPositions();
    for (auto _ : state)
    {
      queue.Enqueue(queue.Dequeue());
      queue.ReportPositions();
    }
    state.SetItemsProcessed(state.iterations() * waiting);
    state.SetComplexityN(waiting);
  }
  BENCHMARK(ReportPositions)->Arg(10)->Arg(100)->Arg(1000)->Complexity(benchmark::oN);
}
