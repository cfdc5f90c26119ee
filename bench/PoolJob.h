// PoolJob: what the baselines' worker pool runs: a job that is told its
// place in line while it waits, then run.
//
// Ownership: shared by the pool's queues and whoever made it. Threads:
// ReportPlace on the pool's reporter, Run on a worker.
#ifndef KRO_BENCH_POOLJOB_H
#define KRO_BENCH_POOLJOB_H

namespace KroBench
{
  class PoolJob
  {
  public:
    virtual ~PoolJob() = default;
    // Tells the client its place, unless the job has started.
    virtual void ReportPlace(int place) = 0;
    // Reports one Progress per step, then Finished.
    virtual void Run() = 0;
  };
}

#endif
