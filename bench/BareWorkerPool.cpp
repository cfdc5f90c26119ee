#include "BareWorkerPool.h"

#include <thread>

namespace KroBench
{
  BareWorkerPool::BareWorkerPool(int workers)
  {
    for (int i = 0; i < workers; ++i)
      std::thread([this]() { Work(); }).detach();
    std::thread([this]() { ReportPlaces(); }).detach();
  }

  void BareWorkerPool::Submit(std::shared_ptr<PoolJob> job)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    // Jobs ahead of this one that no idle worker takes at once.
    const int place = static_cast<int>(m_jobs.size()) + 1 - m_idle;
    m_jobs.push_back(job);
    m_jobWaiting.notify_one();
    if (place > 0)
    {
      m_places.emplace_back(std::move(job), place);
      m_placeWaiting.notify_one();
    }
  }

  void BareWorkerPool::Work()
  {
    for (;;)
    {
      std::shared_ptr<PoolJob> job;
      {
        std::unique_lock<std::mutex> guard(m_lock);
        ++m_idle;
        m_jobWaiting.wait(guard, [this]() { return !m_jobs.empty(); });
        --m_idle;
        job = std::move(m_jobs.front());
        m_jobs.pop_front();
      }
      job->Run();
    }
  }

  void BareWorkerPool::ReportPlaces()
  {
    for (;;)
    {
      std::pair<std::shared_ptr<PoolJob>, int> report;
      {
        std::unique_lock<std::mutex> guard(m_lock);
        m_placeWaiting.wait(guard, [this]() { return !m_places.empty(); });
        report = std::move(m_places.front());
        m_places.pop_front();
      }
      report.first->ReportPlace(report.second);
    }
  }
}
