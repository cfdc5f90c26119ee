// GrpcJobCall: one job submitted by the gRPC baseline's client, read with
// the callback API until its stream ends, and checked: the id first, places
// only before progress, each step's progress in order, finished last.
//
// Ownership: the client thread that submits owns it and must Await it
// before it goes. Threads: Await on that thread, the reactions on gRPC's
// threads, one at a time.
#ifndef KRO_BENCH_GRPCJOBCALL_H
#define KRO_BENCH_GRPCJOBCALL_H

#include "GrpcJobs.grpc.pb.h"

#include <condition_variable>
#include <mutex>

namespace KroBench
{
  class GrpcJobCall : public grpc::ClientReadReactor<grpcbench::JobEvent>
  {
  public:
    // Submits a job of steps steps.
    GrpcJobCall(grpcbench::Jobs::Stub& stub, int steps);

    // Waits until the call is done; true when it ended well and its reports
    // were complete and in order.
    bool Await();

    void OnReadDone(bool ok) override;
    void OnDone(const grpc::Status& status) override;

  private:
    // Whether m_event may come now.
    bool InOrder() const;

    const int m_steps;
    grpc::ClientContext m_context;
    grpcbench::SubmitRequest m_request;
    // Read by the reactions only, which gRPC runs one at a time:
    grpcbench::JobEvent m_event;  // the read under way
    long m_id = 0;                 // 0: none yet
    int m_progress = 0;            // progress reports so far
    bool m_finished = false;
    bool m_inOrder = true;

    std::mutex m_lock;
    std::condition_variable m_doneChanged;
    bool m_done = false;  // guarded by m_lock; OnDone has run
    bool m_ok = false;    // guarded by m_lock; the job's verdict, once done
  };
}

#endif
