// JobController: the process's registry of the jobs that threads run.
//
// Thread-safe. Each registration of a job is an entry of the job's thread,
// in registration order. A canceller loops FindJob / Job::Cancel: each
// Cancel withdraws one entry, so FindJob then yields the thread's next job;
// a job registered twice comes back after its Cancel, which tells the
// canceller to stop.
//
// Lifetime: FindJob keeps the job it returns reserved for the calling thread
// until that thread calls FindJob again or ReleaseFoundJob. Unregister (and
// so a job's destruction) waits while another thread holds the job
// reserved, so a found job is never deleted under its canceller.
#ifndef DAZADARED_JOBCONTROLLER_H
#define DAZADARED_JOBCONTROLLER_H

#include "Dazadared/Job.h"

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <cstddef>
#include <list>
#include <map>

namespace Halvern_Utilities
{
  class JobController
  {
  public:
    // The process's controller; created on first use, never destroyed.
    static JobController* Instance();
    virtual ~JobController();

    // Adds one entry for job under its thread. Null is ignored.
    void Register(Job* job);
    // Takes out every entry of job, waiting while another thread holds it
    // reserved through FindJob. Null is ignored.
    void Unregister(Job* job);

    // The first job registered for threadId, or null; reserves it for the
    // calling thread (see above).
    virtual Job* FindJob(unsigned long threadId);
    // Ends the calling thread's reservation, if it has one.
    void ReleaseFoundJob();

    // The number of entries registered for threadId.
    std::size_t NumJobs(unsigned long threadId);

  private:
    friend class Job;
    JobController();
    JobController(const JobController&) = delete;
    JobController& operator=(const JobController&) = delete;

    // Takes out the first entry of job (Job::Cancel).
    void WithdrawOne(Job* job);
    // Whether a thread other than the caller holds job reserved; m_lock held.
    bool ReservedByAnother(Job* job, unsigned long self) const;

    ACE_Thread_Mutex m_lock;                            // guards both maps
    ACE_Condition_Thread_Mutex m_released;              // signalled when a reservation ends
    std::map<unsigned long, std::list<Job*>> m_jobs;    // entries per thread id
    std::map<unsigned long, Job*> m_reserved;           // reservation per finding thread
  };
}

#endif
