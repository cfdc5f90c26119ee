#include "TierServerOptions.h"

namespace KroTiers
{
  TierServerOptions::TierServerOptions()
    : server(KroExample::ServerOptions::kIorFile | KroExample::ServerOptions::kThreads |
             KroExample::ServerOptions::kIdleSeconds | KroExample::ServerOptions::kTls)
  {
    server.idleSeconds = 300;
    server.AddValue("--name", [this](const char* value) { name = value; return true; });
    server.AddNumber("--step-ms", stepMilliseconds);
    server.AddNumber("--wait-seconds", waitSeconds);
  }

  bool TierServerOptions::Parse(int argc, char** argv)
  {
    return server.Parse(argc, argv) && server.threads > 0 && server.idleSeconds >= 0 &&
           stepMilliseconds >= 0 && waitSeconds > 0;
  }

  std::string TierServerOptions::Usage(const char* program)
  {
    return std::string("usage: ") + program +
           " [--name NAME] [--ior-file PATH] [--threads N] [--idle-seconds N] [--step-ms N]"
           " [--wait-seconds N] " + KroExample::TlsOptions::Usage() +
           " -ORBInitRef NameService=corbaloc::HOST:PORT/NameService [other ORB options]";
  }
}
