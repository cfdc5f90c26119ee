#include "KroClient/BackgroundCalls.h"

#include <ace/Log_Msg.h>

namespace KroClient
{
  BackgroundCalls::BackgroundCalls() : m_thread([this] { Serve(); }) {}

  BackgroundCalls::~BackgroundCalls() { Stop(); }

  bool BackgroundCalls::Run(std::function<void()> task)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_stopping)
        return false;
      m_tasks.push_back(std::move(task));
    }
    m_changed.notify_one();
    return true;
  }

  void BackgroundCalls::Stop()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stopping = true;
    }
    m_changed.notify_one();
    if (m_thread.joinable())
      m_thread.join();
  }

  void BackgroundCalls::Serve()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;)
    {
      m_changed.wait(guard, [this] { return m_stopping || !m_tasks.empty(); });
      if (m_tasks.empty())
        return;  // stopping, nothing left
      std::function<void()> task = std::move(m_tasks.front());
      m_tasks.pop_front();
      guard.unlock();
      try
      {
        task();
      }
      catch (...)
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) KroClient: a background call failed unexpectedly\n")));
      }
      guard.lock();
    }
  }
}
