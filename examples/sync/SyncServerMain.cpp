// KroExampleSyncServer: a minimal synchronous server of the family.
//
//   KroExampleSyncServer [--ior-file PATH] [--print-ior] [--threads N]
//                        [--idle-seconds N] [--exit-mode orb|exit|_exit]
//                        [--name-service CORBALOC --bind NAME]
//                        [user safeguards] [--verbose|--quiet] [-ORB options]
//
// It publishes the reference of its factory (in PATH, and/or on standard
// output; on standard output when no file is given), then serves requests
// in N event threads (default 4) until it has been idle for two checks in a
// row, N seconds apart (default 60; 0 checks at once), or until it receives
// SIGTERM or SIGINT. At idle shutdown it shuts the ORB down and cleans up
// (orb, the default), or ends at once with exit(0) or _exit(0). The user
// safeguards (--token-key FILE, --user-from-cert, --max-objects-per-user N,
// --reclaim-seconds N, --reclaim-interval N) are those of UserSafeguards;
// --max-queued-per-user is refused, as this server queues no operations.
// Options starting with -ORB go to the ORB, e.g. -ORBendPoint
// giop:tcp:127.0.0.1: to listen on the loopback interface only; any other
// unknown option is refused. The log (ACE_DEBUG) goes to standard error,
// each line after its time.
//
// The steps are the ones every server of the family takes, in the order
// the library expects them (see ServerProcess).
#include "ExampleSyncFactory.h"
#include "KroKit/ServerObjectPOA.h"
#include "KroKit/ServerOptions.h"
#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"
#include "KroKit/UserSafeguards.h"

#include "KroServer/UserLimits.h"

#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv)
{
  // Before any thread exists, so that only the watcher sees the signals.
  KroKit::ServingThreads::PrepareProcess();

  // The standard options without the operation pool's: this server queues no operations.
  KroKit::ServerOptions options(KroKit::ServerOptions::kEveryStandard & ~KroKit::ServerOptions::kPool);
  KroKit::UserSafeguards safeguards;
  safeguards.AddOptions(options);
  if (!options.ParseOrExplain(argc, argv))
    return options.UsageStatus();

  KroKit::ServerProcess process("KroExampleSyncServer");
  return process.Run(options.orbArgs, [&]()
  {
    safeguards.Apply();
    if (Krovane::UserLimits::MaxQueuedOperationsPerUser() > 0)
      throw std::runtime_error("--max-queued-per-user does not apply: this server queues no operations");
    // The server objects live as long as the process, in a POA of their own.
    PortableServer::POA_var serverObjectPOA =
      KroKit::CreateServerObjectPOA(process.RootPOA(), "ServerObjects");

    // The factory lives in the root POA; the POA owns it once it is active.
    PortableServer::ServantBase_var factory = new KroExample::ExampleSyncFactory(serverObjectPOA.in());
    CORBA::Object_var factoryReference = process.ActivateFactory(factory.in());
    std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = safeguards.StartReclaim();
    process.Publish(factoryReference.in(), options);
    process.Serve(options);
  });
}
