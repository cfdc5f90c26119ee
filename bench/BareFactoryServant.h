// BareFactoryServant: hands each client of the bare baseline a Jobs object
// of its own, active in the root POA for the process's life.
//
// Ownership: reference counted, held by the root POA. Threads: any ORB thread.
#ifndef KRO_BENCH_BAREFACTORYSERVANT_H
#define KRO_BENCH_BAREFACTORYSERVANT_H

#include "BareWorkerPool.h"

#include "BareJobs.hh"

namespace KroBench
{
  class BareFactoryServant : public virtual POA_BareBench::JobsFactory, public virtual PortableServer::RefCountServantBase
  {
  public:
    BareFactoryServant(PortableServer::POA_ptr poa, BareWorkerPool& pool);

    BareBench::Jobs_ptr CreateJobs() override;

  private:
    PortableServer::POA_var m_poa;  // where the Jobs objects live
    BareWorkerPool& m_pool;         // runs their jobs
  };
}

#endif
