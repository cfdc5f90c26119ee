// GrpcJob: one job of the gRPC baseline and the stream that reports it: the
// id first, its place while it waits, one progress per step, finished. A
// stream has one write in flight at a time, so events wait in a queue of
// their own and each finished write starts the next; the last one finishes
// the call.
//
// Ownership: keeps itself from Start until gRPC is done with the stream
// (OnDone), and is shared with the pool's queues meanwhile. Threads:
// ReportPlace on the pool's reporter, Run on a worker, the reactions on
// gRPC's threads.
#ifndef KRO_BENCH_GRPCJOB_H
#define KRO_BENCH_GRPCJOB_H

#include "GrpcJobs.grpc.pb.h"
#include "PoolJob.h"

#include <deque>
#include <memory>
#include <mutex>

namespace KroBench
{
  class GrpcJob : public PoolJob, public grpc::ServerWriteReactor<grpcbench::JobEvent>
  {
  public:
    // A job of steps steps whose stream starts with id.
    static std::shared_ptr<GrpcJob> Start(long id, int steps);

    void ReportPlace(int place) override;
    void Run() override;

    void OnWriteDone(bool ok) override;
    void OnCancel() override;
    void OnDone() override;

  private:
    explicit GrpcJob(int steps);
    // Writes the next queued event unless a write is in flight or the call
    // is ending; releases guard when it writes.
    void WriteNext(std::unique_lock<std::mutex>& guard);
    // Ends the call as cancelled unless it is ending already; releases guard.
    void FinishCancelled(std::unique_lock<std::mutex>& guard);

    const int m_steps;
    std::mutex m_lock;
    std::shared_ptr<GrpcJob> m_self;             // guarded by m_lock; from Start until OnDone
    std::deque<grpcbench::JobEvent> m_queued;    // guarded by m_lock; not yet written
    grpcbench::JobEvent m_writing;               // guarded by m_lock while no write is in flight
    bool m_inFlight = false;                     // guarded by m_lock; a write is under way
    bool m_lastQueued = false;                   // guarded by m_lock; finished is in m_queued
    bool m_ending = false;                       // guarded by m_lock; Finish was asked for
    bool m_cancelled = false;                    // guarded by m_lock; the client is gone
    bool m_started = false;                      // guarded by m_lock; Run has begun: no more places
  };
}

#endif
