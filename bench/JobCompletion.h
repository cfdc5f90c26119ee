// JobCompletion: what a client thread's handler has heard of its current
// job: Progress callbacks and Finished. The thread starts a job with Begin
// and waits with WaitDone until Finished and every Progress have come
// (oneway callbacks may be dispatched out of order).
//
// Ownership: one per client thread, owned by its session. Threads: the
// client thread calls Begin and WaitDone; the ORB's threads the rest.
#ifndef KRO_BENCH_JOBCOMPLETION_H
#define KRO_BENCH_JOBCOMPLETION_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace KroBench
{
  class JobCompletion
  {
  public:
    // A new job of steps steps is about to be submitted.
    void Begin(int steps);
    void OnProgress();
    void OnFinished();
    // Waits, at most until deadline, for Finished and the job's Progress
    // callbacks; false when they did not all come in time or too many came.
    bool WaitDone(std::chrono::steady_clock::time_point deadline);

  private:
    std::mutex m_lock;               // guards everything below
    std::condition_variable m_done;  // Finished or a Progress arrived
    int m_steps = 0;                 // Progress callbacks expected
    int m_progress = 0;              // Progress callbacks received
    bool m_finished = false;         // Finished received
  };
}

#endif
