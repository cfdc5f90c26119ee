#include "BackEndRouter.h"

#include <ace/Log_Msg.h>

#include <chrono>
#include <thread>

namespace KroTiers
{
  BackEndRouter::BackEndRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr session,
                               const std::string& name, int stepMilliseconds)
    : Krovane::AsynchronousRouter(poa, session, 5, 0), m_name(name), m_stepMilliseconds(stepMilliseconds)
  {
  }

  CORBA::Long BackEndRouter::StartWork(CORBA::Long steps, Krovane::IAsyncHandler_ptr handler)
  {
    if (steps < 1 || steps > 1000)
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    WorkRequests::Pending request(m_requests, m_poa.in(), steps, handler);  // forgotten unless kept
    const int id = SubmitAsynchronousOperation("StartWork", Krovane::IAsyncServer::_nil(), request->relay.in(),
                                               &request->parameters);
    if (id < 0)
      throw CORBA::NO_MEMORY(0, CORBA::COMPLETED_NO);
    request.Keep();
    return id;
  }

  void BackEndRouter::ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>* parameters)
  {
    const int steps = WorkRequests::Steps(parameters);
    const std::string user = UserName();  // the user part of a signed token
    Krovane::IAsyncHandler_var handler = CurrentOperationHandler();
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersBackEnd %C: %d steps for %C\n"), m_name.c_str(), steps,
               user.c_str()));
    for (int step = 1; step <= steps; ++step)
    {
      ServiceCancellation();
      // The work of one step; a real server computes or queries here.
      std::this_thread::sleep_for(std::chrono::milliseconds(m_stepMilliseconds));
      if (!CORBA::is_nil(handler.in()))
        handler->Progress(static_cast<double>(step) / steps);
    }
    if (!CORBA::is_nil(handler.in()))
    {
      const std::string text = m_name + ": " + std::to_string(steps) + " steps done for " + user;
      CORBA::Any results;
      results <<= text.c_str();
      handler->Results(results);
    }
  }
}
