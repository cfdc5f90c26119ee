#include "FaultChecks.h"

#include "OperationStateName.h"

#include <chrono>

namespace KroTest
{
  std::string StateText(Krovane::IAsyncServer_ptr server, CORBA::Long id)
  {
    try
    {
      return KroExample::OperationStateName(server->GetOperationState(id));
    }
    catch (const CORBA::Exception& ex)
    {
      return ex._name();
    }
  }

  std::string RemoveWhenIdle(Krovane::ISyncServer_ptr server, const OutputCollector& log)
  {
    // Generous for a sanitized server on a loaded machine; an accepted
    // Remove returns at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string failure;
    // Bounded by the deadline; between attempts, waits for the server to log something new.
    for (int attempt = 0; attempt < 100 && std::chrono::steady_clock::now() < deadline; ++attempt)
    {
      const int linesBefore = log.Count("\n");
      try
      {
        server->Remove();
        return "";
      }
      catch (const Krovane::OperationsStillActive&)
      {
        failure = "OperationsStillActive";
      }
      catch (const CORBA::Exception& ex)
      {
        return ex._name();
      }
      log.WaitFor("\n", std::chrono::milliseconds(500), linesBefore + 1);
    }
    return failure;
  }

  std::string FinishedOnceAndLast(const FaultClient& handler)
  {
    if (!handler.StaysAlive())
      return "";
    handler.WaitFor("Finished", std::chrono::seconds(15));
    const std::vector<std::string> events = handler.Events();
    if (handler.Count("Finished") == 1 && !events.empty() && events.back() == "Finished")
      return "";
    return "want Finished once and last, heard:\n" + Joined(events);
  }

  std::string Joined(const std::vector<std::string>& events)
  {
    std::string text;
    for (const std::string& event : events)
      text += "  " + event + "\n";
    return text;
  }
}
