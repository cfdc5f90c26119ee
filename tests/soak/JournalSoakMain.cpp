// KroJournalSoak: the smallest example server on a journal, killed and
// stopped at random under clients of the client library (see JournalSoak
// and JournalSoakClient).
//
//   KroJournalSoak [--minutes N | --seconds N] [--clients N] [--seed N] [--loss-bound-ms N] [--server PATH]
//
// ends non-zero on any violation. With --journal-client it is one of the
// soak's client processes (started by the soak itself).
#include "JournalSoak.h"
#include "JournalSoakClient.h"

#include "KroClient/ClientOrb.h"

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
    "usage: %s [--minutes N | --seconds N] [--clients N] [--seed N] [--loss-bound-ms N] [--server PATH]\n"
    "  Soaks the smallest example server (this build's, or PATH) on a journal: client processes (default 3)\n"
    "  keep counts pending through the client library while the server is killed (SIGKILL) or stopped\n"
    "  (SIGTERM, every fourth time) every 1.5 to 4 s and started again on the same port and journal; default 25 s.\n"
    "  Every count whose id came back must end Finished with its true result, once (or, at an orderly\n"
    "  stop, Failed with \"server is stopping\"), within its bound; no id given twice.\n"
    "  Exit status 0 when no check was violated.\n";

  int ToNumber(const char* text, int low, int high)
  {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > high)
      return -1;
    return static_cast<int>(value);
  }

  std::string SelfPath()
  {
    std::vector<char> path(PATH_MAX + 1, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), PATH_MAX);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length)) : std::string();
  }

  int RunClient(int argc, char** argv, const KroSoak::JournalClientOptions& options)
  {
    try
    {
      KroClient::ClientOrb orb(argc, argv);
      KroSoak::JournalSoakClient client(orb.Poa(), orb.Orb(), options);
      return client.Run();
    }
    catch (const CORBA::Exception& ex)
    {
      std::printf("%s: setting up raised %s\n", options.name.c_str(), ex._name());
    }
    return 2;
  }
}

int main(int argc, char** argv)
{
  bool client = false;
  KroSoak::JournalSoakOptions soak;
  soak.server = KRO_SMALLEST_SERVER;
  KroSoak::JournalClientOptions clientOptions;
  std::vector<char*> orbArgs = {argv[0]};
  for (int i = 1; i < argc; ++i)
  {
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    int number = 0;
    if (std::strcmp(argv[i], "--journal-client") == 0)
      client = true;
    else if (std::strcmp(argv[i], "--help") == 0)
    {
      std::printf(kUsage, argv[0]);
      return 0;
    }
    else if (std::strcmp(argv[i], "--minutes") == 0 && (number = ToNumber(value, 1, 24 * 60)) > 0)
      soak.seconds = clientOptions.seconds = number * 60, ++i;
    else if (std::strcmp(argv[i], "--seconds") == 0 && (number = ToNumber(value, 5, INT_MAX / 1000)) > 0)
      soak.seconds = clientOptions.seconds = number, ++i;
    else if (!client && std::strcmp(argv[i], "--clients") == 0 && (number = ToNumber(value, 1, 50)) > 0)
      soak.clients = number, ++i;
    else if (std::strcmp(argv[i], "--seed") == 0 && (number = ToNumber(value, 0, INT_MAX)) >= 0)
      soak.seed = clientOptions.seed = static_cast<unsigned>(number), ++i;
    else if (std::strcmp(argv[i], "--loss-bound-ms") == 0 && (number = ToNumber(value, 1, 600000)) > 0)
      soak.lossBoundMs = clientOptions.lossBoundMs = number, ++i;
    else if (!client && std::strcmp(argv[i], "--server") == 0 && *value)
      soak.server = argv[++i];
    else if (client && std::strcmp(argv[i], "--name") == 0 && *value)
      clientOptions.name = argv[++i];
    else if (client && std::strcmp(argv[i], "--ior-file") == 0 && *value)
      clientOptions.iorFile = argv[++i];
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
    return KroSoak::JournalSoak(soak).Run();
  }
  catch (const std::exception& ex)
  {
    std::printf("journal soak: FAILED: %s\n", ex.what());
    return 1;
  }
}
