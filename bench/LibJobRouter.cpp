#include "LibJobRouter.h"

#include "KroKit/ActiveServant.h"

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <ace/Guard_T.h>

namespace KroBench
{
  LibJobRouter::LibJobRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account, int maxThreads,
                             int callbackTimeout)
    : Krovane::AsynchronousRouter(poa, account, maxThreads, 0), m_callbackTimeout(callbackTimeout)
  {
  }

  std::vector<Halvern_Utilities::Variant>* LibJobRouter::ParametersFor(int steps)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_parametersLock, nullptr);
    auto found = m_parameters.find(steps);
    if (found == m_parameters.end())
      found = m_parameters.emplace(steps, std::vector<Halvern_Utilities::Variant>{steps}).first;
    return &found->second;
  }

  CORBA::Long LibJobRouter::Submit(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    // As the calculator example does: the operation talks to a relay that
    // bounds each callback and survives a vanished client.
    KroKit::ActiveRelay<Krovane::AsynchronousHandler> relay(m_poa.in(), new Krovane::AsynchronousHandler(handler));
    RegisterWrappedAsynchronousHandlerTimeout(relay.Reference(), m_callbackTimeout);
    const int id = SubmitAsynchronousOperation("Job", Krovane::IAsyncServer::_nil(), relay.Reference(),
                                               ParametersFor(static_cast<int>(steps)));
    if (id < 0)
      throw CORBA::NO_MEMORY();
    relay.Keep();  // the operation retires it
    return id;
  }

  void LibJobRouter::Ping() {}

  CORBA::Long LibJobRouter::PoolThreads()
  {
    return Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->GetPoolSize();
  }

  void LibJobRouter::ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>* parameters)
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
