// FaultChecks: what every fault case asks of a server object across
// processes: an operation's state as text, Remove once nothing runs, and
// the sequence a live handler must have heard.
//
// Free functions, called from the test's thread.
#ifndef KRO_TESTS_FAULTS_FAULTCHECKS_H
#define KRO_TESTS_FAULTS_FAULTCHECKS_H

#include "FaultClient.h"

#include "Krovane.hh"

#include <string>

namespace KroTest
{
  // "Queued", "Running", "Finished", "Cancelled", or the name of the
  // exception GetOperationState raised.
  std::string StateText(Krovane::IAsyncServer_ptr server, CORBA::Long id);

  // Remove, retried while OperationsStillActive and log (the server's
  // standard error) still grows, for at most 20 s. Empty once accepted,
  // otherwise what the last attempt raised.
  std::string RemoveWhenIdle(Krovane::ISyncServer_ptr server, const OutputCollector& log);

  // Empty when handler, if it stays alive, heard Finished exactly once and
  // nothing after it (waiting for it at most 15 s); otherwise what it heard.
  std::string FinishedOnceAndLast(const FaultClient& handler);

  // The events, one line each, for failure messages.
  std::string Joined(const std::vector<std::string>& events);
}

#endif
