#include "TierServerOptions.h"

#include "TierDirectory.h"

#include <cstdio>
#include <cstring>

namespace KroTiers
{
  TierServerOptions::TierServerOptions()
    : server(KroKit::ServerOptions::kIorFile | KroKit::ServerOptions::kThreads |
             KroKit::ServerOptions::kIdleSeconds | KroKit::ServerOptions::kTls)
  {
    server.idleSeconds = 300;
    server.AddValue("--name", [this](const char* value) { name = value; return *value != '\0'; }, "NAME");
    server.AddNumber("--step-ms", stepMilliseconds, 0);
    server.AddNumber("--wait-seconds", waitSeconds, 1);
    server.AddNumber("--refresh-ms", refreshMilliseconds, 1);
    server.AddNumber("--call-ms", callMilliseconds, 1);
    server.AddNumber("--retries", retries, 0);
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
      std::printf("%s\n", Usage(argv[0]).c_str());
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
