#include "GrpcSession.h"

#include "BenchClock.h"
#include "GrpcJobCall.h"

#include <grpcpp/grpcpp.h>

#include <condition_variable>
#include <mutex>

namespace KroBench
{
  GrpcSession::GrpcSession(const std::string& address, int steps, bool ping) : m_steps(steps), m_ping(ping)
  {
    grpc::ChannelArguments arguments;
    arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);  // a connection not shared with other sessions
    m_stub = grpcbench::Jobs::NewStub(
      grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), arguments));
  }

  bool GrpcSession::Operation()
  {
    if (m_ping)
      return Ping();
    GrpcJobCall call(*m_stub, m_steps);
    return call.Await();
  }

  bool GrpcSession::Ping()
  {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + kJobDeadline);
    grpcbench::PingRequest request;
    grpcbench::PingReply reply;
    std::mutex lock;
    std::condition_variable doneChanged;
    bool done = false;  // guarded by lock
    bool ok = false;    // guarded by lock
    m_stub->async()->Ping(&context, &request, &reply, [&](grpc::Status status)
    {
      std::lock_guard<std::mutex> guard(lock);
      done = true;
      ok = status.ok();
      doneChanged.notify_all();
    });
    std::unique_lock<std::mutex> guard(lock);
    // The call's deadline ends it; gRPC calls back in every case.
    doneChanged.wait(guard, [&]() { return done; });
    return ok;
  }
}
