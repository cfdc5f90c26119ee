#include "TierServerOptions.h"

namespace KroTiers
{
  TierServerOptions::TierServerOptions()
    : server(KroKit::ServerOptions::kIorFile | KroKit::ServerOptions::kThreads |
             KroKit::ServerOptions::kIdleSeconds | KroKit::ServerOptions::kTls)
  {
    server.idleSeconds = 300;
    server.AddValue("--name", [this](const char* value) { name = value; return true; });
    server.AddNumber("--step-ms", stepMilliseconds);
    server.AddNumber("--wait-seconds", waitSeconds);
    server.AddNumber("--refresh-ms", refreshMilliseconds);
    server.AddNumber("--call-ms", callMilliseconds);
    safeguards.AddOptions(server);
  }

  bool TierServerOptions::Parse(int argc, char** argv)
  {
    return server.Parse(argc, argv) && server.threads > 0 && server.idleSeconds >= 0 &&
           stepMilliseconds >= 0 && waitSeconds > 0 && refreshMilliseconds > 0 && callMilliseconds > 0;
  }

  std::string TierServerOptions::Usage(const char* program)
  {
    return std::string("usage: ") + program +
           " [--name NAME] [--ior-file PATH] [--threads N] [--idle-seconds N] [--step-ms N]"
           " [--wait-seconds N] [--refresh-ms N] [--call-ms N] " + KroKit::TlsOptions::Usage() +
           " [--token-key FILE | --user-from-cert (front end)] [--max-objects-per-user N]"
           " [--max-queued-per-user N] [--reclaim-seconds N] [--reclaim-interval N]"
           " -ORBInitRef NameService=corbaloc::HOST:PORT/NameService [other ORB options]";
  }
}
