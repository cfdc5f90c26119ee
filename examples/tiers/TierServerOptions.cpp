#include "TierServerOptions.h"

#include "TierDirectory.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace KroTiers
{
  TierServerOptions::TierServerOptions()
    : server(KroKit::ServerOptions::kIorFile | KroKit::ServerOptions::kThreads |
             KroKit::ServerOptions::kIdleSeconds | KroKit::ServerOptions::kTls)
  {
    server.idleSeconds = 300;
    server.AddValue("--name", [this](const char* value) { name = value; return *value != '\0'; }, "NAME",
                    "the server's name in the naming service (a back end needs one)", "a front end's: HOST-PID");
    server.AddNumber("--step-ms", stepMilliseconds, 0, INT_MAX, "length of one step of work in ms (back end)");
    server.AddNumber("--wait-seconds", waitSeconds, 1, INT_MAX, "bound of one forwarded operation (front end)");
    server.AddNumber("--refresh-ms", refreshMilliseconds, 1, INT_MAX,
                     "ms between two re-reads of the back ends (front end)");
    server.AddNumber("--call-ms", callMilliseconds, 1, INT_MAX, "bound in ms of every call to another server (front end)");
    server.AddNumber("--retries", retries, 0, INT_MAX,
                     "times a restartable operation runs again on another back end when its own is lost (front end)");
    safeguards.AddOptions(server);
  }

  bool TierServerOptions::ParseOrExplain(int argc, char** argv, bool nameRequired)
  {
    std::string error;
    if (server.Parse(argc, argv))
    {
      if (!nameRequired || !name.empty())
        return true;
      error = "--name NAME is required";
    }
    else if (server.Error().empty())  // --help
    {
      std::printf("%s  the naming service: %s\n", server.Help(argv[0]).c_str(), kNamingServiceOption);
      m_usageStatus = 0;
      return false;
    }
    else
      error = server.Error();
    const char* slash = std::strrchr(argv[0], '/');
    std::fprintf(stderr, "%s: %s\n%s\n", slash ? slash + 1 : argv[0], error.c_str(), Usage(argv[0]).c_str());
    m_usageStatus = 2;
    return false;
  }

  std::string TierServerOptions::Usage(const char* program) const
  {
    return server.Usage(program) +
           "\n  the naming service: " + kNamingServiceOption;
  }
}
