// KroSoak: a soak of the asynchronous example server (see SoakCoordinator
// and SoakClient).
//
//   KroSoak [--minutes N | --seconds N] [--clients N] [--seed N] [--refusing-percent N]
//           [--restarts [--restart-seconds N] [--loss-bound-ms N]] [--server PATH]
//
// runs two identical rounds against a server it starts (default 2 minutes
// in all; the example server of this build unless --server names another
// build of it) and ends non-zero on any violation, each named with its check,
// client, calculator and operation. With --client it is one of the soak's
// client processes (started by the soak itself). With --restarts the server
// is killed and started again on the same port every N seconds (default 30).
#include "SoakClient.h"
#include "SoakCoordinator.h"

#include <omniORB4/CORBA.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include <unistd.h>

namespace
{
  const char* const kUsage =
    "usage: %s [--minutes N | --seconds N] [--clients N] [--seed N] [--refusing-percent N]\n"
    "          [--restarts [--restart-seconds N] [--loss-bound-ms N]] [--server PATH]\n"
    "  Soaks the asynchronous example server (this build's, or PATH): two identical rounds of client processes\n"
    "  (default 5, two killed mid-round) with random submissions, cancels, re-attaches,\n"
    "  CancelAllOperations, state queries and Remove; default 2 minutes in all.\n"
    "  --restarts: the server is killed (SIGKILL) and started again on the same port every N s\n"
    "  (default 30); each operation it had ends Failed within the loss bound (default 10000 ms).\n"
    "  Exit status 0 when no check was violated.\n";

  int ToNumber(const char* text, int low, int high)
  {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > high)
      return -1;
    return static_cast<int>(value);
  }

  std::string SelfPath()
  {
    std::vector<char> path(PATH_MAX + 1, '\0');
    ssize_t length = readlink("/proc/self/exe", path.data(), PATH_MAX);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length)) : std::string();
  }

  int RunClient(int argc, char** argv, KroSoak::ClientOptions& options)
  {
    CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
    int code = 2;
    try
    {
      KroSoak::SoakClient client(orb.in(), options);
      // Its handlers may still be called back as it ends: the ORB stops and
      // waits for calls under way before the client, whose activity they
      // tell, goes.
      struct StopOrbFirst
      {
        CORBA::ORB_ptr orb;
        ~StopOrbFirst() { orb->shutdown(true); }
      } stopOrbFirst{orb.in()};
      code = client.Run();
    }
    catch (const CORBA::Exception& ex)
    {
      std::printf("%s: setting up raised %s\n", options.name.c_str(), ex._name());
    }
    orb->destroy();
    return code;
  }
}

int main(int argc, char** argv)
{
  bool client = false;
  KroSoak::SoakOptions soak;
  soak.server = KRO_EXAMPLE_ASYNC_SERVER;
  KroSoak::ClientOptions clientOptions;
  std::vector<char*> orbArgs = {argv[0]};
  for (int i = 1; i < argc; ++i)
  {
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    int number = 0;
    if (std::strcmp(argv[i], "--client") == 0)
      client = true;
    else if (std::strcmp(argv[i], "--help") == 0)
    {
      std::printf(kUsage, argv[0]);
      return 0;
    }
    else if (std::strcmp(argv[i], "--minutes") == 0 && (number = ToNumber(value, 1, 24 * 60)) > 0)
      soak.seconds = number * 60, ++i;
    else if (std::strcmp(argv[i], "--seconds") == 0 && (number = ToNumber(value, 1, INT_MAX / 1000)) > 0)
      soak.seconds = clientOptions.seconds = number, ++i;
    else if (std::strcmp(argv[i], "--clients") == 0 && (number = ToNumber(value, 1, 50)) > 0)
      soak.clients = number, ++i;
    else if (std::strcmp(argv[i], "--seed") == 0 && (number = ToNumber(value, 0, INT_MAX)) >= 0)
      soak.seed = clientOptions.seed = static_cast<unsigned>(number), ++i;
    else if (std::strcmp(argv[i], "--refusing-percent") == 0 && (number = ToNumber(value, 0, 100)) >= 0)
      soak.refusingPercent = clientOptions.refusingPercent = number, ++i;
    else if (!client && std::strcmp(argv[i], "--restarts") == 0)
      soak.restartSeconds = soak.restartSeconds > 0 ? soak.restartSeconds : 30;
    else if (!client && std::strcmp(argv[i], "--restart-seconds") == 0 && (number = ToNumber(value, 1, 3600)) > 0)
      soak.restartSeconds = number, ++i;
    else if (std::strcmp(argv[i], "--loss-bound-ms") == 0 && (number = ToNumber(value, 1, 600000)) > 0)
      soak.lossBoundMs = clientOptions.lossBoundMs = number, ++i;
    else if (client && std::strcmp(argv[i], "--ior-file") == 0 && *value)
      clientOptions.iorFile = argv[++i];
    else if (!client && std::strcmp(argv[i], "--server") == 0 && *value)
      soak.server = argv[++i];
    else if (client && std::strcmp(argv[i], "--name") == 0 && *value)
      clientOptions.name = argv[++i];
    else if (client && std::strcmp(argv[i], "--ior") == 0 && *value)
      clientOptions.ior = argv[++i];
    else if (client && std::strncmp(argv[i], "-ORB", 4) == 0 && *value)
      orbArgs.push_back(argv[i]), orbArgs.push_back(argv[++i]);  // every ORB option has a value
    else
    {
      std::fprintf(stderr, kUsage, argv[0]);
      return 2;
    }
  }

  if (client)
  {
    int orbArgc = static_cast<int>(orbArgs.size());
    orbArgs.push_back(nullptr);
    return RunClient(orbArgc, orbArgs.data(), clientOptions);
  }
  soak.self = SelfPath();
  try
  {
    return KroSoak::SoakCoordinator(soak).Run();
  }
  catch (const std::exception& ex)
  {
    std::printf("soak: FAILED: %s\n", ex.what());
    return 1;
  }
}
