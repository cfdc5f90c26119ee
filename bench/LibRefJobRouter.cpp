#include "LibRefJobRouter.h"

#include "KroKit/ActiveServant.h"

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

namespace KroBench
{
  LibRefJobRouter::LibRefJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                                   int callbackTimeout)
    : Krovane::AsynchronousRouter(poa, account, maxThreads, 0), m_callbackTimeout(callbackTimeout)
  {
  }

  CORBA::Long LibRefJobRouter::Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    // The application's own relay: it bounds each callback and survives a
    // vanished client; the library gets its reference. Bounded on the
    // servant at hand: through its reference would cost a look-up in the POA.
    KroKit::ActiveRelay<Krovane::AsynchronousHandler> relay(m_poa.in(), new Krovane::AsynchronousHandler(handler));
    relay->setTimeout(m_callbackTimeout);
    const int id = SubmitAsynchronousOperation("Job", relay.Reference(), {static_cast<int>(steps)});
    if (id < 0)
      throw CORBA::NO_MEMORY();
    relay.Keep();  // the operation retires it
    return id;
  }

  void LibRefJobRouter::Ping() {}

  CORBA::Long LibRefJobRouter::PoolThreads()
  {
    return Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->GetPoolSize();
  }

  void LibRefJobRouter::ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>* parameters)
  {
    const Krovane::RelayLink relay = Krovane::AsynchronousOperation::CurrentRelay();
    const long steps = parameters && !parameters->empty() ? static_cast<long>((*parameters)[0].AsInteger()) : 0;
    for (long step = 1; step <= steps; ++step)
    {
      ServiceCancellation();
      relay.Progress(static_cast<double>(step) / static_cast<double>(steps));
    }
  }
}
