// GrpcSession: one client of the gRPC baseline: a channel of its own (its
// own connection, as each client of the omniORB runs has) and the operation
// it repeats, a job until finished or a ping.
//
// Ownership and threads: as ClientSession.
#ifndef KRO_BENCH_GRPCSESSION_H
#define KRO_BENCH_GRPCSESSION_H

#include "ClientSession.h"
#include "GrpcJobs.grpc.pb.h"

#include <memory>
#include <string>

namespace KroBench
{
  class GrpcSession : public ClientSession
  {
  public:
    // address: host:port; ping: repeat pings instead of jobs.
    GrpcSession(const std::string& address, int steps, bool ping);

    bool Operation() override;

  private:
    bool Ping();

    const int m_steps;
    const bool m_ping;
    std::unique_ptr<grpcbench::Jobs::Stub> m_stub;
  };
}

#endif
