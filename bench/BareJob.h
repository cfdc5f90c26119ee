// BareJob: one job of the bare omniORB baseline: its steps and the client's
// handler, two-way or oneway. The place report and the run take the job's
// lock, so that a place is never sent after the job has started and the
// callbacks reach the client in order.
//
// Ownership: shared by the queue, the place reporter and the worker that
// runs it. Threads: ReportPlace on the reporter, Run on a worker.
#ifndef KRO_BENCH_BAREJOB_H
#define KRO_BENCH_BAREJOB_H

#include "BareJobs.hh"
#include "PoolJob.h"

#include <mutex>

namespace KroBench
{
  class BareJob : public PoolJob
  {
  public:
    // Exactly one of the handlers is not nil.
    BareJob(int steps, BareBench::TwoWayHandler_ptr twoWay, BareBench::OnewayHandler_ptr oneway);

    // Tells the client its place, unless the job has started.
    void ReportPlace(int place) override;
    // Reports one Progress per step, then Finished. A failing client ends the job.
    void Run() override;

  private:
    const int m_steps;                       // steps of no work
    BareBench::TwoWayHandler_var m_twoWay;   // the client's handler, or nil
    BareBench::OnewayHandler_var m_oneway;   // the client's handler, or nil
    std::mutex m_lock;                       // guards m_started; held across a place report
    bool m_started = false;                  // Run has begun
  };
}

#endif
