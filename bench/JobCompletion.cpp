#include "JobCompletion.h"

namespace KroBench
{
  void JobCompletion::Begin(int steps)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_steps = steps;
    m_progress = 0;
    m_finished = false;
  }

  void JobCompletion::OnProgress()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_progress;
    if (m_finished && m_progress >= m_steps)
      m_done.notify_one();
  }

  void JobCompletion::OnFinished()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    if (m_progress >= m_steps)
      m_done.notify_one();
  }

  bool JobCompletion::WaitDone(std::chrono::steady_clock::time_point deadline)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    const bool done = m_done.wait_until(guard, deadline, [this]() { return m_finished && m_progress >= m_steps; });
    return done && m_progress == m_steps;
  }
}
