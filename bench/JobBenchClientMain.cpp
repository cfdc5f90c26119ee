// KroBenchClient: the benchmark's client. Its threads each get a server
// object and a callback object of their own and repeat one operation: a job
// (submitted, then waited for until Finished) or a ping.
//
//   KroBenchClient --ior-file PATH --target lib|twoway|oneway [--server-pid PID]
//                  [--clients N] [--steps N] [--ping] [--seconds S] [--warmup S]
//                  [--pool-threads N] [ORB options]
//   KroBenchClient ... --first-ops      time until every client's first job finished
//   KroBenchClient ... --kept-ops M     server memory kept per finished job (one object)
//
// It prints one line: RESULT followed by key=value pairs. --pool-threads
// makes the warm-up (lib only) last until the server's pool has N threads.
// Exit status: 0 when every operation went through, 1 otherwise, 2 on a
// usage error.
#include "BareSession.h"
#include "LibSession.h"
#include "LoadRun.h"
#include "ProcessUsage.h"
#include "ResultLine.h"

#include "KroKit/IorFile.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniORB.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
  struct Options
  {
    std::string iorFile;
    std::string target;           // lib, twoway or oneway
    pid_t serverPid = 0;
    int clients = 1;
    int steps = 0;
    bool ping = false;
    double seconds = 3;
    double warmup = 0.5;
    int poolThreads = 0;
    bool firstOps = false;
    long keptOps = 0;
    std::vector<char*> orbArgs;
  };

  bool Parse(int argc, char** argv, Options& options)
  {
    options.orbArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const std::string name = argv[i];
      const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
      auto takes = [&]() { return value && ++i; };
      if (name == "--ior-file" && takes())
        options.iorFile = value;
      else if (name == "--target" && takes())
        options.target = value;
      else if (name == "--server-pid" && takes())
        options.serverPid = std::atoi(value);
      else if (name == "--clients" && takes())
        options.clients = std::atoi(value);
      else if (name == "--steps" && takes())
        options.steps = std::atoi(value);
      else if (name == "--seconds" && takes())
        options.seconds = std::atof(value);
      else if (name == "--warmup" && takes())
        options.warmup = std::atof(value);
      else if (name == "--pool-threads" && takes())
        options.poolThreads = std::atoi(value);
      else if (name == "--kept-ops" && takes())
        options.keptOps = std::atol(value);
      else if (name == "--ping")
        options.ping = true;
      else if (name == "--first-ops")
        options.firstOps = true;
      else if (name.compare(0, 2, "--") == 0)
        return false;
      else
        options.orbArgs.push_back(argv[i]);
    }
    options.orbArgs.push_back(nullptr);
    return !options.iorFile.empty() && options.clients > 0 && options.steps >= 0 && options.seconds > 0 &&
           (options.target == "lib" || options.target == "twoway" || options.target == "oneway");
  }

  // Server memory kept per finished job: the growth of the server's resident
  // set over keptOps jobs on one object, after a warm-up on the same object.
  int MeasureKept(KroBench::ClientSession& session, const Options& options)
  {
    for (int i = 0; i < 2000; ++i)
      if (!session.Operation())
        return 1;
    const long before = KroBench::ProcessResidentBytes(options.serverPid);
    for (long i = 0; i < options.keptOps; ++i)
      if (!session.Operation())
        return 1;
    const long after = KroBench::ProcessResidentBytes(options.serverPid);
    std::printf("RESULT target=%s kept_ops=%ld rss_before=%ld rss_after=%ld bytes_per_op=%.0f\n",
                options.target.c_str(), options.keptOps, before, after,
                static_cast<double>(after - before) / static_cast<double>(options.keptOps));
    return before > 0 && after > 0 ? 0 : 1;
  }
}

int main(int argc, char** argv)
{
  Options options;
  if (!Parse(argc, argv, options))
  {
    std::fprintf(stderr,
                 "usage: %s --ior-file PATH --target lib|twoway|oneway [--server-pid PID] [--clients N]\n"
                 "       [--steps N] [--ping] [--seconds S] [--warmup S] [--pool-threads N]\n"
                 "       [--first-ops | --kept-ops M] [ORB options]\n", argv[0]);
    return 2;
  }
  int status = 0;
  try
  {
    int orbArgc = static_cast<int>(options.orbArgs.size()) - 1;
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, options.orbArgs.data());
    omniORB::setClientCallTimeout(30000);  // no call waits for ever
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();
    CORBA::Object_var factory = orb->string_to_object(KroKit::ReadIorFile(options.iorFile).c_str());

    const KroBench::BareSession::Mode bareMode =
      options.ping ? KroBench::BareSession::kPing
                   : options.target == "twoway" ? KroBench::BareSession::kTwoWay : KroBench::BareSession::kOneway;
    KroBench::LoadRun::SessionMaker makeSession = [&]() -> std::unique_ptr<KroBench::ClientSession>
    {
      if (options.target == "lib")
        return std::make_unique<KroBench::LibSession>(factory.in(), root.in(), options.steps, options.ping);
      return std::make_unique<KroBench::BareSession>(factory.in(), root.in(), options.steps, bareMode);
    };

    KroBench::LoadRun run(options.clients, makeSession, options.serverPid);
    if (options.keptOps > 0)
    {
      std::unique_ptr<KroBench::ClientSession> session = makeSession();
      status = MeasureKept(*session, options);
    }
    else if (options.firstOps)
    {
      const double ms = run.FirstOperations();
      std::printf("RESULT target=%s clients=%d steps=%d first_ops_ms=%.1f\n", options.target.c_str(),
                  options.clients, options.steps, ms);
      status = ms < 0 ? 1 : 0;
    }
    else
    {
      const KroBench::LoadResult result = run.Measure(options.warmup, options.poolThreads, options.seconds);
      KroBench::PrintResultLine(options.target, options.steps, options.clients, options.ping, result);
      status = result.errors == 0 && result.operations > 0 ? 0 : 1;
    }
    std::fflush(stdout);
    root->destroy(true, true);
    orb->destroy();
  }
  catch (const CORBA::Exception& ex)
  {
    std::fprintf(stderr, "KroBenchClient: CORBA exception %s\n", ex._name());
    return 1;
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "KroBenchClient: %s\n", ex.what());
    return 1;
  }
  return status;
}
