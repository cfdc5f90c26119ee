// Job: a piece of work that a thread runs and another thread may cancel.
//
// The work creates a job for its own thread and registers it with the
// JobController for as long as it runs (JobGuard does both); a canceller
// finds it there by thread id and calls Cancel. The work owns the job; the
// canceller never deletes it.
#ifndef DAZADARED_JOB_H
#define DAZADARED_JOB_H

#include <atomic>

namespace Halvern_Utilities
{
  class Job
  {
  public:
    // A job of the calling thread.
    Job();
    // A job of the thread with id threadId (ACE_Thread::self() of that thread).
    explicit Job(unsigned long threadId);
    // Withdraws any registration left, so that no canceller can reach it.
    virtual ~Job();

    // Marks the job cancelled, lets it stop its work (OnCancel) and withdraws
    // one of its registrations, so that the controller then finds the next
    // job of the thread. Any thread; a second call does nothing more than the
    // withdrawal.
    virtual void Cancel();

    // Nonzero once Cancel has been called: the work polls this.
    int IsCancelled() const;
    unsigned long GetThreadId() const;

  protected:
    // Called by the first Cancel, on the cancelling thread: stop what the
    // work waits on (a query, a socket). Must not wait for the job's thread.
    virtual void OnCancel();

  private:
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    const unsigned long m_threadId;   // the thread that runs the work
    std::atomic<bool> m_cancelled;    // set once by Cancel
  };
}

#endif
