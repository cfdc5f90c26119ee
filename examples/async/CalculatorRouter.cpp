#include "CalculatorRouter.h"

#include "ActiveServant.h"
#include "CalculatorRelay.h"
#include "SteppedComputation.h"

#include "Dazadared/threadLocalUserPacket.h"
#include "KroServer/AsyncOperationExceptionHolderImpl.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/OpnType.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

namespace KroExample
{
  namespace
  {
    const CORBA::Long kMostSteps = 10000;  // the largest step count accepted

    // The handler of the operation that the calling pool thread runs: the
    // pool makes that operation the thread's current one before it
    // dispatches it. A new reference (nil when there is none).
    Krovane::IAsyncHandler_ptr CurrentHandler(int& operationId)
    {
      Krovane::AsynchronousOperation* operation =
        dynamic_cast<Krovane::AsynchronousOperation*>(Krovane::threadLocalOperation->m_operation);
      operationId = operation ? operation->GetId() : 0;
      return operation ? operation->GetHandler() : Krovane::IAsyncHandler::_nil();
    }
  }

  CalculatorRouter::CalculatorRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account,
                                     int maxThreads, const ACE_Time_Value& stepTime, int callbackTimeout)
    : Krovane::AsynchronousRouter(poa, account, maxThreads, 0),
      m_stepTime(stepTime),
      m_callbackTimeout(callbackTimeout)
  {
  }

  CalculatorRouter::~CalculatorRouter()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) calculator deleted\n")));
  }

  std::vector<Halvern_Utilities::Variant>* CalculatorRouter::KeepParameters(
    std::vector<Halvern_Utilities::Variant> parameters)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_parametersLock, nullptr);
    m_parameters.push_back(std::move(parameters));
    return &m_parameters.back();
  }

  CORBA::Long CalculatorRouter::Compute(const char* what, CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    // The operation talks to the relay, never to the client directly: the
    // relay bounds each callback, survives a client that goes away and can
    // be given a new handler (RegisterNewHandler).
    ActiveRelay<CalculatorRelay> relay(m_poa.in(), new CalculatorRelay(handler));  // deactivated unless kept
    RegisterWrappedAsynchronousHandlerTimeout(relay.Reference(), m_callbackTimeout);
    const int id = SubmitAsynchronousOperation("Compute", Krovane::IAsyncServer::_nil(), relay.Reference(),
                                               KeepParameters({what, static_cast<int>(steps)}));
    if (id < 0)
      throw CORBA::NO_MEMORY();
    relay.Keep();  // from here on the operation retires it
    relay->SetOperationId(id);
    return id;
  }

  void CalculatorRouter::ExecuteOperation(const std::string& name,
                                          std::vector<Halvern_Utilities::Variant>* parameters)
  {
    int id = 0;
    Krovane::IAsyncHandler_var handler = CurrentHandler(id);
    if (name != "Compute" || !parameters || parameters->size() != 2)
      Fail(handler.in(), "no such request: " + name);
    const std::string what = (*parameters)[0].AsText();
    const long steps = static_cast<long>((*parameters)[1].AsInteger());
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) operation %d: %C in %d steps for \"%C\"\n"), id, what.c_str(),
               static_cast<int>(steps), Halvern_Utilities::threadLocalUserPacket->GetToken().c_str()));

    if (!SteppedComputation::IsKnown(what))
      Fail(handler.in(), "unknown computation \"" + what + "\" (try pi, e or primes)");
    if (steps < 1 || steps > kMostSteps)
      Fail(handler.in(), "steps must be 1 to " + std::to_string(kMostSteps) + ", not " + std::to_string(steps));

    SteppedComputation computation(what);
    for (long step = 1; step <= steps; ++step)
    {
      ServiceCancellation();  // leaves with OperationCancelled once the client cancelled
      const ACE_Time_Value start = ACE_OS::gettimeofday();
      computation.Step();
      // Paced, so that a person can watch the operations side by side.
      const ACE_Time_Value rest = m_stepTime - (ACE_OS::gettimeofday() - start);
      if (rest > ACE_Time_Value::zero)
        ACE_OS::sleep(rest);
      if (!CORBA::is_nil(handler.in()))
      {
        handler->Progress(static_cast<double>(step) / static_cast<double>(steps));
        handler->Status(computation.Describe().c_str());
      }
    }
    if (!CORBA::is_nil(handler.in()))
    {
      CORBA::Any result;
      result <<= computation.Value();
      handler->Results(result);
    }
  }

  void CalculatorRouter::Fail(Krovane::IAsyncHandler_ptr handler, const std::string& reason)
  {
    // The holder goes to the client, whose raise() then throws the typed
    // exception; the POA keeps the holder until then.
    Krovane::IAsyncExceptionHolder_var holder =
      CreateKroExceptionHolder(new Krovane::AsyncOperationExceptionHolderImpl(reason));
    if (!CORBA::is_nil(handler))
      handler->Error(holder.in());
    throw Krovane::AsyncOperationException(reason.c_str());
  }
}
