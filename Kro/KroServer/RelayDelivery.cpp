#include "KroServer/RelayDelivery.h"

#include "KroServer/AsynchronousHandler.h"

#include <atomic>
#include <cstddef>
#include <thread>

namespace Krovane
{
  namespace
  {
    std::atomic<int> s_threads{4};

    // Callbacks of one relay sent in a row before the next relay's turn.
    const std::size_t kTurn = 32;
  }

  RelayDelivery& RelayDelivery::Instance()
  {
    static RelayDelivery* const instance = new RelayDelivery;  // never destroyed: see the header
    return *instance;
  }

  void RelayDelivery::SetThreads(int count)
  {
    s_threads.store(count < 1 ? 1 : count);
  }

  void RelayDelivery::Schedule(AsynchronousHandler* relay)
  {
    relay->_add_ref();
    bool start = false;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_relays.push_back(relay);
      ++m_held;
      start = !m_started;
      m_started = true;
    }
    if (start)
      for (int i = 0; i < s_threads.load(); ++i)
        std::thread([this] { Serve(); }).detach();
    m_ready.notify_one();
  }

  void RelayDelivery::Serve()
  {
    for (;;)
    {
      AsynchronousHandler* relay = nullptr;
      {
        std::unique_lock<std::mutex> guard(m_lock);
        m_ready.wait(guard, [this] { return !m_relays.empty(); });
        relay = m_relays.front();
        m_relays.pop_front();
      }
      if (relay->DeliverQueued(kTurn))
      {
        // More queued: back in line, still held.
        std::lock_guard<std::mutex> guard(m_lock);
        m_relays.push_back(relay);
        continue;
      }
      relay->_remove_ref();
      std::lock_guard<std::mutex> guard(m_lock);
      if (--m_held == 0)
        m_idle.notify_all();
    }
  }

  bool RelayDelivery::WaitUntilIdle(std::chrono::milliseconds timeout)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_idle.wait_for(guard, timeout, [this] { return m_held == 0; });
  }
}
