#include "KroJournal/JournalWorker.h"

#include <fcntl.h>
#include <unistd.h>

namespace KroJournal
{
  JournalWorker::JournalWorker(std::string walPath, std::function<void()> checkpoint, std::function<void()> tick,
                               std::chrono::milliseconds period)
    : m_walPath(std::move(walPath)),
      m_checkpoint(std::move(checkpoint)),
      m_tick(std::move(tick)),
      m_period(period),
      m_thread([this] { Run(); })
  {
  }

  JournalWorker::~JournalWorker()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
    if (m_walFd >= 0)
      close(m_walFd);
  }

  void JournalWorker::Request() { Raise(m_requested); }

  void JournalWorker::Hurry() { Raise(m_hurried); }

  void JournalWorker::Raise(bool& flag)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (flag)
        return;  // the thread is woken already
      flag = true;
    }
    m_wake.notify_one();
  }

  void JournalWorker::Run()
  {
    auto nextTick = std::chrono::steady_clock::now() + m_period;
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopping)
    {
      m_wake.wait_until(lock, nextTick, [this] { return m_requested || m_hurried || m_stopping; });
      if (m_stopping)
        return;
      const bool checkpoint = m_requested;
      const bool hurried = m_hurried;
      m_hurried = false;
      lock.unlock();
      if (checkpoint)
      {
        if (m_walFd < 0)
          m_walFd = open(m_walPath.c_str(), O_RDONLY | O_CLOEXEC);
        // A failure here only leaves more for the checkpoint to flush.
        if (m_walFd >= 0)
          fdatasync(m_walFd);
        m_checkpoint();
      }
      if (hurried || std::chrono::steady_clock::now() >= nextTick)
      {
        m_tick();
        nextTick = std::chrono::steady_clock::now() + m_period;
      }
      lock.lock();
      // Requests made meanwhile were for frames this checkpoint took.
      if (checkpoint)
        m_requested = false;
    }
  }
}
