#include "KroJournal/WalCheckpointer.h"

#include <fcntl.h>
#include <unistd.h>

namespace KroJournal
{
  WalCheckpointer::WalCheckpointer(std::string walPath, std::function<void()> checkpoint)
    : m_walPath(std::move(walPath)), m_checkpoint(std::move(checkpoint)), m_thread([this] { Run(); })
  {
  }

  WalCheckpointer::~WalCheckpointer()
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

  void WalCheckpointer::Request()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_requested)
        return;
      m_requested = true;
    }
    m_wake.notify_one();
  }

  long long WalCheckpointer::Done() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_done;
  }

  void WalCheckpointer::Run()
  {
    std::unique_lock<std::mutex> lock(m_lock);
    while (true)
    {
      m_wake.wait(lock, [this] { return m_requested || m_stopping; });
      if (m_stopping)
        return;
      lock.unlock();
      if (m_walFd < 0)
        m_walFd = open(m_walPath.c_str(), O_RDONLY | O_CLOEXEC);
      // A failure here only leaves more for the checkpoint to flush.
      if (m_walFd >= 0)
        fdatasync(m_walFd);
      m_checkpoint();
      lock.lock();
      // Requests made meanwhile were for frames this checkpoint took.
      m_requested = false;
      ++m_done;
    }
  }
}
