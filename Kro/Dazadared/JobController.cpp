#include "Dazadared/JobController.h"

#include <ace/Guard_T.h>
#include <ace/Thread.h>

namespace Halvern_Utilities
{
  namespace
  {
    unsigned long Self() { return static_cast<unsigned long>(ACE_Thread::self()); }
  }

  JobController::JobController() : m_released(m_lock) {}

  JobController::~JobController() {}

  JobController* JobController::Instance()
  {
    static JobController* controller = new JobController;  // lives to process end
    return controller;
  }

  void JobController::Register(Job* job)
  {
    if (!job)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    m_jobs[job->GetThreadId()].push_back(job);
  }

  bool JobController::ReservedByAnother(Job* job, unsigned long self) const
  {
    for (const auto& reservation : m_reserved)
      if (reservation.second == job && reservation.first != self)
        return true;
    return false;
  }

  void JobController::Unregister(Job* job)
  {
    if (!job)
      return;
    const unsigned long self = Self();
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    auto entries = m_jobs.find(job->GetThreadId());
    if (entries != m_jobs.end())
    {
      entries->second.remove(job);
      if (entries->second.empty())
        m_jobs.erase(entries);
    }
    while (ReservedByAnother(job, self))
      m_released.wait();
    auto own = m_reserved.find(self);
    if (own != m_reserved.end() && own->second == job)
      m_reserved.erase(own);
  }

  Job* JobController::FindJob(unsigned long threadId)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, nullptr);
    Job* found = nullptr;
    auto entries = m_jobs.find(threadId);
    if (entries != m_jobs.end() && !entries->second.empty())
      found = entries->second.front();

    const unsigned long self = Self();
    if (found)
      m_reserved[self] = found;
    else
      m_reserved.erase(self);
    m_released.broadcast();
    return found;
  }

  void JobController::ReleaseFoundJob()
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    if (m_reserved.erase(Self()) > 0)
      m_released.broadcast();
  }

  std::size_t JobController::NumJobs(unsigned long threadId)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    auto entries = m_jobs.find(threadId);
    return entries == m_jobs.end() ? 0 : entries->second.size();
  }

  void JobController::WithdrawOne(Job* job)
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    auto entries = m_jobs.find(job->GetThreadId());
    if (entries == m_jobs.end())
      return;
    for (auto entry = entries->second.begin(); entry != entries->second.end(); ++entry)
      if (*entry == job)
      {
        entries->second.erase(entry);
        break;
      }
    if (entries->second.empty())
      m_jobs.erase(entries);
  }
}
