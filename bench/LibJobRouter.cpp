#include "LibJobRouter.h"

#include "KroServer/ThreadPoolThreadingPolicy.h"

namespace KroBench
{
  LibJobRouter::LibJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                             int callbackTimeout)
    : KroKit::AsyncRouter(poa, account, callbackTimeout, maxThreads)
  {
  }

  CORBA::Long LibJobRouter::Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    // The relay bounds each callback and survives a vanished client.
    return KroKit::AsyncRouter::Submit("Job", handler, {static_cast<int>(steps)});
  }

  void LibJobRouter::Ping() {}

  CORBA::Long LibJobRouter::PoolThreads()
  {
    return Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->GetPoolSize();
  }

  void LibJobRouter::Execute(KroKit::OperationContext& job)
  {
    const long steps = job.Parameter(0).AsInteger();
    for (long step = 1; step <= steps; ++step)
    {
      job.CheckCancelled();
      job.Progress(static_cast<double>(step) / static_cast<double>(steps));
    }
  }
}
