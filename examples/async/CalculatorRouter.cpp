#include "CalculatorRouter.h"

#include "CalculatorRelay.h"
#include "SteppedComputation.h"

#include "Dazadared/threadLocalUserPacket.h"
#include "KroKit/UserTokenText.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

namespace KroExample
{
  namespace
  {
    const CORBA::Long kMostSteps = 10000;  // the largest step count accepted
  }

  CalculatorRouter::CalculatorRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr account,
                                     int maxThreads, const ACE_Time_Value& stepTime, int callbackTimeout)
    : KroKit::AsyncRouter(poa, account, callbackTimeout, maxThreads), m_stepTime(stepTime)
  {
  }

  CalculatorRouter::~CalculatorRouter()
  {
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) calculator deleted\n")));
  }

  CORBA::Long CalculatorRouter::Compute(const char* what, CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    return Submit("Compute", handler, {what, static_cast<int>(steps)});
  }

  Krovane::AsynchronousHandler* CalculatorRouter::MakeRelay(Krovane::IAsyncHandler_ptr handler)
  {
    return new CalculatorRelay(handler);
  }

  void CalculatorRouter::Submitted(Krovane::AsynchronousHandler& relay, int id)
  {
    static_cast<CalculatorRelay&>(relay).SetOperationId(id);
  }

  void CalculatorRouter::Execute(KroKit::OperationContext& operation)
  {
    if (operation.Name() != "Compute" || operation.Parameters().size() != 2)
      operation.Fail("no such request: " + operation.Name());
    const std::string what = operation.Parameter(0).AsText();
    const long steps = static_cast<long>(operation.Parameter(1).AsInteger());
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) operation %d: %C in %d steps for \"%C\"\n"), operation.Id(), what.c_str(),
               static_cast<int>(steps), KroKit::LoggedUser(Halvern_Utilities::threadLocalUserPacket->GetToken()).c_str()));

    if (!SteppedComputation::IsKnown(what))
      operation.Fail("unknown computation \"" + what + "\" (try pi, e or primes)");
    if (steps < 1 || steps > kMostSteps)
      operation.Fail("steps must be 1 to " + std::to_string(kMostSteps) + ", not " + std::to_string(steps));

    SteppedComputation computation(what);
    for (long step = 1; step <= steps; ++step)
    {
      operation.CheckCancelled();  // leaves with OperationCancelled once the client cancelled
      const ACE_Time_Value start = ACE_OS::gettimeofday();
      computation.Step();
      // Paced, so that a person can watch the operations side by side.
      const ACE_Time_Value rest = m_stepTime - (ACE_OS::gettimeofday() - start);
      if (rest > ACE_Time_Value::zero)
        ACE_OS::sleep(rest);
      operation.Progress(static_cast<double>(step) / static_cast<double>(steps));
      operation.Status(computation.Describe());
    }
    operation.ResultsOf(computation.Value());
  }
}
