// Work items, events and pools for the threading-policy tests.
//
// Pools made by NewPool live until the process ends: their detached threads
// use them until then. Items given to a pool must outlive the pool's use of
// them; each test waits for its items before it returns.
#ifndef KRO_TESTS_POOLTESTITEMS_H
#define KRO_TESTS_POOLTESTITEMS_H

#include "KroServer/Operation.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace PoolTest
{
  using namespace std::chrono_literals;

  // A one-way signal that threads can wait for with a deadline.
  class Event
  {
  public:
    void Set()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_set = true;
      m_changed.notify_all();
    }
    bool Wait(std::chrono::milliseconds timeout = 20s)
    {
      std::unique_lock<std::mutex> guard(m_lock);
      return m_changed.wait_for(guard, timeout, [this] { return m_set; });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_set = false;
  };

  // What the items of one test did, in order: "run NAME" and "NAME:POSITION".
  class Journal
  {
  public:
    void Add(const std::string& entry)
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_entries.push_back(entry);
    }
    std::vector<std::string> Entries()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_entries;
    }

  private:
    std::mutex m_lock;
    std::vector<std::string> m_entries;
  };

  // An operation that notes its runs and reported places, does work, and
  // sets Done() once the work has returned.
  class Item : public Krovane::Operation
  {
  public:
    Item(const char* name, Journal* journal = nullptr, std::function<void()> work = nullptr)
      : Krovane::Operation(name), m_journal(journal), m_work(std::move(work))
    {
    }
    void Dispatch() override
    {
      ++m_runs;
      if (m_journal)
        m_journal->Add("run " + m_name);
      if (m_work)
        m_work();
      m_done.Set();
    }
    void ReportQueuePosition(int position) override
    {
      if (m_journal)
        m_journal->Add(m_name + ":" + std::to_string(position));
    }
    int Runs() const { return m_runs; }
    Event& Done() { return m_done; }

  private:
    Journal* m_journal;
    std::function<void()> m_work;
    std::atomic<int> m_runs{0};
    Event m_done;
  };

  // An item that holds its pool thread from the moment it starts until let go.
  class Blocker : public Item
  {
  public:
    explicit Blocker(const char* name, Journal* journal = nullptr)
      : Item(name, journal, [this] { m_started.Set(); m_release.Wait(60s); })
    {
    }
    Event& Started() { return m_started; }
    void Release() { m_release.Set(); }

  private:
    Event m_started;
    Event m_release;
  };

  // A pool kept for the rest of the process.
  inline Krovane::ThreadPoolThreadingPolicy* KeepForProcess(Krovane::ThreadPoolThreadingPolicy* pool)
  {
    static std::mutex lock;
    static auto* kept = new std::vector<Krovane::ThreadPoolThreadingPolicy*>;
    std::lock_guard<std::mutex> guard(lock);
    kept->push_back(pool);
    return pool;
  }

  inline Krovane::ThreadPoolThreadingPolicy* NewPool(int min, int max)
  {
    return KeepForProcess(new Krovane::ThreadPoolThreadingPolicy(min, max));
  }

  // Polls condition until it holds or timeout passes; returns whether it held.
  inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
      if (std::chrono::steady_clock::now() >= deadline)
        return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
}

#endif
