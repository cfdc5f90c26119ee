// BareJobsServant: a client's own Jobs object in the bare baseline. Submit
// queues a job on the process's worker pool and returns its id at once.
//
// Ownership: reference counted, held by the root POA. Threads: any ORB thread.
#ifndef KRO_BENCH_BAREJOBSSERVANT_H
#define KRO_BENCH_BAREJOBSSERVANT_H

#include "BareWorkerPool.h"

#include "BareJobs.hh"

#include <atomic>

namespace KroBench
{
  class BareJobsServant : public virtual POA_BareBench::Jobs, public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit BareJobsServant(BareWorkerPool& pool);

    CORBA::Long SubmitTwoWay(CORBA::Long steps, BareBench::TwoWayHandler_ptr handler) override;
    CORBA::Long SubmitOneway(CORBA::Long steps, BareBench::OnewayHandler_ptr handler) override;
    void Ping() override;

  private:
    BareWorkerPool& m_pool;           // runs the jobs; outlives every servant
    std::atomic<CORBA::Long> m_lastId{0};  // ids given so far
  };
}

#endif
