// JobGuard: registers a job with the JobController for the life of a scope,
// so that the job is withdrawn on every path out of the work.
#ifndef DAZADARED_JOBGUARD_H
#define DAZADARED_JOBGUARD_H

#include "Dazadared/JobController.h"

namespace Halvern_Utilities
{
  class JobGuard
  {
  public:
    // Registers job (not owned; it must outlive the guard).
    explicit JobGuard(Job& job) : m_job(job) { JobController::Instance()->Register(&m_job); }
    ~JobGuard() { JobController::Instance()->Unregister(&m_job); }

  private:
    JobGuard(const JobGuard&) = delete;
    JobGuard& operator=(const JobGuard&) = delete;

    Job& m_job;  // the registered job
  };
}

#endif
