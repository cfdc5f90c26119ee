// Threads that take work as the pool's threads do (note the count, look,
// wait) never sleep through a wake-up given for work they did not see.
#include "KroServer/WakeUpCount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
  const int kTakers = 3;
  const int kItems = 20000;

  TEST(WakeUpCount, EveryItemIsTakenAndAStaleCountDoesNotWait)
  {
    Krovane::WakeUpCount wakeUps;
    const std::uint32_t before = wakeUps.Seen();
    wakeUps.WakeOne();
    wakeUps.Wait(before);  // given since: returns at once
    EXPECT_EQ(wakeUps.Seen(), before + 1);

    std::atomic<int> waiting{0};  // items given and not taken
    std::atomic<int> taken{0};
    std::mutex doneLock;
    std::condition_variable done;  // the last item was taken
    std::atomic<bool> over{false};
    std::vector<std::thread> takers;
    for (int i = 0; i < kTakers; ++i)
      takers.emplace_back([&]
      {
        while (!over.load())
        {
          const std::uint32_t seen = wakeUps.Seen();
          int left = waiting.load();
          if (left > 0 && waiting.compare_exchange_strong(left, left - 1))
          {
            if (++taken == kItems)
            {
              std::lock_guard<std::mutex> guard(doneLock);
              done.notify_one();
            }
          }
          else if (left == 0 && !over.load())
            wakeUps.Wait(seen);
        }
      });
    for (int i = 0; i < kItems; ++i)
    {
      ++waiting;
      wakeUps.WakeOne();  // one wake-up per item, as the pool gives
      if (i % 64 == 0)
        std::this_thread::yield();  // let takers fall asleep now and then
    }
    // A lost wake-up leaves an item waiting while every taker sleeps.
    {
      std::unique_lock<std::mutex> guard(doneLock);
      done.wait_for(guard, std::chrono::seconds(60), [&] { return taken.load() == kItems; });
    }
    EXPECT_EQ(taken.load(), kItems);
    over = true;
    for (int i = 0; i < kTakers; ++i)
      wakeUps.WakeOne();
    for (std::thread& taker : takers)
      taker.join();
  }
}
