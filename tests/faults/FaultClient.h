// FaultClient: the client's handler of one fault case, as the test sees
// it. A FaultyHandler in the test process, or, when one of its faults ends
// a process (Action::Exit), in a handler host process of its own
// (KroFaultHandlerHost), whose printed lines give its callbacks. Either
// way the test reads the same event lines ("Queued 1", "Status <text>",
// "Progress", "Results", "Error", "Finished") and waits for them.
//
// Ownership and threads: one per case, created, used and destroyed by the
// test's thread. The destructor ends any Block and kills and reaps a host;
// a local handler stays (active, unless it vanished) to the program's end.
#ifndef KRO_TESTS_FAULTS_FAULTCLIENT_H
#define KRO_TESTS_FAULTS_FAULTCLIENT_H

#include "FaultyHandler.h"

#include "support/ProcessHarness.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace KroTest
{
  class FaultClient
  {
  public:
    // blockFor: how long a Block holds a call at most (past the server's bound).
    explicit FaultClient(std::vector<Fault> faults, std::chrono::milliseconds blockFor = std::chrono::milliseconds(2500));
    ~FaultClient();
    FaultClient(const FaultClient&) = delete;
    FaultClient& operator=(const FaultClient&) = delete;

    // The handler's reference (owned here).
    Krovane::IAsyncHandler_ptr Reference() const;
    // Every callback so far, in order.
    std::vector<std::string> Events() const;
    // The holder of the last Error a local handler heard (nil when none,
    // and for a handler host); a new reference.
    Krovane::IAsyncExceptionHolder_ptr Holder() const;
    // How many events begin with prefix.
    int Count(const std::string& prefix) const;
    // Waits until Count(prefix) >= times, at most timeout.
    bool WaitFor(const std::string& prefix, std::chrono::milliseconds timeout, int times = 1) const;
    // Whether none of its faults makes it go (Exit, Vanish): such a handler
    // must hear Finished exactly once per operation.
    bool StaysAlive() const;
    // The handler host's description (empty for a local handler).
    std::string Describe() const;

  private:
    bool m_staysAlive;                               // no Exit or Vanish fault
    PortableServer::ServantBase_var m_local;         // the local handler, or nil
    std::unique_ptr<TemporaryDirectory> m_files;     // the host's IOR file
    std::unique_ptr<ChildProcess> m_host;            // the handler host, or null
    Krovane::IAsyncHandler_var m_reference;          // the handler
  };
}

#endif
