#include "LibRefJobRouter.h"

#include "KroKit/ActiveServant.h"

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

namespace KroBench
{
  LibRefJobRouter::LibRefJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                                   int callbackTimeout, Handover handover)
    : Krovane::AsynchronousRouter(poa, account, maxThreads, 0), m_callbackTimeout(callbackTimeout),
      m_handover(handover)
  {
  }

  CORBA::Long LibRefJobRouter::Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    // The application's own relay: it bounds each callback and survives a
    // vanished client.
    Krovane::AsynchronousHandler* relay = new Krovane::AsynchronousHandler(handler);
    const PortableServer::ServantBase_var ownership = relay;  // ours until the operation holds it
    relay->setTimeout(m_callbackTimeout);
    if (m_handover == Handover::kReference)
      return SubmitByReference(relay, steps);
    // Nobody outside needs it from the start: it is activated, with a
    // reference, only if someone asks for one.
    relay->ActivateOnDemandIn(m_poa.in());
    const int id = SubmitAsynchronousOperation("Job", *relay, {static_cast<int>(steps)});
    if (id < 0)
      throw CORBA::NO_MEMORY();
    return id;
  }

  CORBA::Long LibRefJobRouter::SubmitByReference(Krovane::AsynchronousHandler* relay, CORBA::Long steps)
  {
    relay->_add_ref();  // the activation's own, handed to ActiveRelay
    KroKit::ActiveRelay<Krovane::AsynchronousHandler> active(m_poa.in(), relay);
    const int id = SubmitAsynchronousOperation("Job", active.Reference(), {static_cast<int>(steps)});
    if (id < 0)
      throw CORBA::NO_MEMORY();
    active.Keep();  // the operation retires it
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
