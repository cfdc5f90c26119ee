#include "GrpcJobsService.h"

#include "GrpcJob.h"

namespace KroBench
{
  GrpcJobsService::GrpcJobsService(BareWorkerPool& pool) : m_pool(pool) {}

  grpc::ServerWriteReactor<grpcbench::JobEvent>* GrpcJobsService::Submit(grpc::CallbackServerContext*,
                                                                        const grpcbench::SubmitRequest* request)
  {
    std::shared_ptr<GrpcJob> job = GrpcJob::Start(++m_lastId, request->steps() < 0 ? 0 : request->steps());
    m_pool.Submit(job);
    return job.get();
  }

  grpc::ServerUnaryReactor* GrpcJobsService::Ping(grpc::CallbackServerContext* context, const grpcbench::PingRequest*,
                                                  grpcbench::PingReply*)
  {
    grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
    reactor->Finish(grpc::Status::OK);
    return reactor;
  }
}
