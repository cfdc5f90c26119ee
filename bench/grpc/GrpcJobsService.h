// GrpcJobsService: the gRPC baseline's service: Submit queues a job on the
// pool and streams its reports; Ping does nothing.
//
// Ownership: main owns it for the server's life. Threads: gRPC's.
#ifndef KRO_BENCH_GRPCJOBSSERVICE_H
#define KRO_BENCH_GRPCJOBSSERVICE_H

#include "BareWorkerPool.h"
#include "GrpcJobs.grpc.pb.h"

#include <atomic>

namespace KroBench
{
  class GrpcJobsService : public grpcbench::Jobs::CallbackService
  {
  public:
    explicit GrpcJobsService(BareWorkerPool& pool);

    grpc::ServerWriteReactor<grpcbench::JobEvent>* Submit(grpc::CallbackServerContext* context,
                                                          const grpcbench::SubmitRequest* request) override;
    grpc::ServerUnaryReactor* Ping(grpc::CallbackServerContext* context, const grpcbench::PingRequest* request,
                                   grpcbench::PingReply* reply) override;

  private:
    BareWorkerPool& m_pool;
    std::atomic<long> m_lastId{0};  // ids 1, 2, 3, ... per server
  };
}

#endif
