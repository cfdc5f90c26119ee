#include "TierServerOptions.h"

#include <cstdlib>
#include <cstring>

namespace KroTiers
{
  bool TierServerOptions::Parse(int argc, char** argv)
  {
    orbArgs.assign(1, argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const bool hasValue = i + 1 < argc;
      if (std::strcmp(argv[i], "--name") == 0 && hasValue)
        name = argv[++i];
      else if (std::strcmp(argv[i], "--ior-file") == 0 && hasValue)
        iorFile = argv[++i];
      else if (std::strcmp(argv[i], "--threads") == 0 && hasValue)
        threads = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--idle-seconds") == 0 && hasValue)
        idleSeconds = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--step-ms") == 0 && hasValue)
        stepMilliseconds = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--wait-seconds") == 0 && hasValue)
        waitSeconds = std::atoi(argv[++i]);
      else if (std::strncmp(argv[i], "--", 2) == 0)
        return false;
      else
        orbArgs.push_back(argv[i]);
    }
    orbArgs.push_back(nullptr);  // argv is null-terminated
    return threads > 0 && idleSeconds >= 0 && stepMilliseconds >= 0 && waitSeconds > 0;
  }

  std::string TierServerOptions::Usage(const char* program)
  {
    return std::string("usage: ") + program +
           " [--name NAME] [--ior-file PATH] [--threads N] [--idle-seconds N] [--step-ms N]"
           " [--wait-seconds N] -ORBInitRef NameService=corbaloc::HOST:PORT/NameService"
           " [other ORB options]";
  }
}
