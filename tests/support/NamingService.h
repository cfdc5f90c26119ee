// NamingService: omniNames on a free loopback port, with its data in a
// temporary directory of its own, for cross-process tests of servers that
// find each other through the naming service. Killed and reaped with the
// object. Used from the test's thread.
#ifndef KRO_TESTS_SUPPORT_NAMINGSERVICE_H
#define KRO_TESTS_SUPPORT_NAMINGSERVICE_H

#include "support/ProcessHarness.h"

#include <memory>
#include <string>
#include <vector>

namespace KroTest
{
  // A TCP port of 127.0.0.1 that nobody listens on at the moment.
  int FreeLoopbackPort();

  class NamingService
  {
  public:
    // Throws std::runtime_error when omniNames does not start (three ports tried).
    NamingService();

    // The ORB option that makes it a process's "NameService".
    std::vector<std::string> InitRef() const;

    // Kills omniNames, forgets its data and starts it again on the same
    // port, empty (every name gone); std::runtime_error when it does not start.
    void RestartEmpty();

  private:
    // Starts omniNames on m_port; false when it does not say it started within 20 s.
    bool Start();

    TemporaryDirectory m_data;                // its data files
    int m_port = 0;                           // where it listens
    std::unique_ptr<ChildProcess> m_process;  // omniNames
  };
}

#endif
