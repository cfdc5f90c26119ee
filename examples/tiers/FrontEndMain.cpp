// KroTiersFrontEnd: the front end of the two-tier example: a server whose
// objects forward their operations to back ends found in the naming
// service, and whose own factory is bound there as
// KroTiers/FrontEnds/<name>.factory (several front ends may share the back
// ends, each under a name of its own).
//
//   KroTiersFrontEnd [--name NAME] [--ior-file PATH] [--wait-seconds N]
//                    [--refresh-ms N] [--call-ms N] [--retries N] [--threads N]
//                    [--idle-seconds N] [--verbose|--quiet] [TLS options] [user safeguards]
//                    -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//                    [-ORBendPoint giop:tcp:HOST:PORT] [other ORB options]
//
// Its registry of dependent servers follows the back ends bound under
// KroTiers/BackEnds that answer (see BackEndRegistry, BackEndRefresher):
// read at start (none yet is no error), again every --refresh-ms, and at
// once when a back end fails or none is free. Every call it makes to
// another server is bounded by --call-ms. Then as a back end: binds, writes
// the IOR if asked, serves (binding its name again when it goes missing),
// and takes its binding away at a clean end. The
// user safeguards are those of UserSafeguards; the client's token goes on
// to the back ends as it came.
#include "BackEndRefresher.h"
#include "BackEndRegistry.h"
#include "FrontEndFactory.h"
#include "BindingWatch.h"
#include "TierServer.h"
#include "TierServerOptions.h"

#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"

#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

namespace
{
  // HOST-PID: a name no other front end has.
  std::string DefaultName()
  {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
      std::snprintf(host, sizeof host, "front-end");
    return std::string(host) + "-" + std::to_string(getpid());
  }
}

int main(int argc, char** argv)
{
  KroTiers::TierServerOptions options;
  if (!options.ParseOrExplain(argc, argv, /*nameRequired=*/false))
    return options.UsageStatus();

  // Before any thread exists, so that only the watcher sees the signals.
  KroKit::ServingThreads::PrepareProcess();

  // Before the ORB, and never destroyed: the pool's threads are detached
  // and release the entry of an operation that ends after the ORB is gone,
  // up to the end of the process (see the _exit below).
  KroTiers::BackEndRegistry registry;
  KroTiers::BackEndRefresher refresher(registry, std::chrono::milliseconds(options.refreshMilliseconds));
  if (options.name.empty())
    options.name = DefaultName();
  // Read before the ORB takes its options out of orbArgs.
  const std::string namingService = KroTiers::NamingServiceLocation(options.server.orbArgs);
  KroKit::ServerProcess process("KroTiersFrontEnd", KroKit::ServerProcess::kCallsOtherServers);
  int status = 0;
  {
    // Outside the ORB's life: taken away once the ORB is gone.
    KroTiers::TierBinding binding(KroTiers::TierBinding::kFrontEnd, options.name, options.server.orbArgs);
    status = process.Run(options.server.orbArgs, [&]()
    {
      options.safeguards.Apply();
      omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(options.callMilliseconds));
      KroTiers::TierServer server(process, namingService);
      KroTiers::BackEndRefresher::Running refreshing(refresher, server.Directory());
      PortableServer::ServantBase_var factory =
        new KroTiers::FrontEndFactory(server.ServerObjectPOA(), registry, refresher, options.waitSeconds,
                                      options.retries);
      CORBA::Object_var reference = server.ActivateFactory(factory.in());
      std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = options.safeguards.StartReclaim();
      binding.Bind(server.Directory(), process.Orb(), reference.in());
      KroTiers::BindingWatch watch(server.Directory(), KroTiers::TierBinding::kFrontEnd, options.name,
                                   reference.in(), std::chrono::milliseconds(options.refreshMilliseconds));
      process.Publish(reference.in(), options.server);
      process.Serve(options.server);
    });
  }

  // The server ends here, without returning: a return would destroy the
  // registry under pool threads that may still release entries, and run
  // ACE's clean-up at exit beside omniORB's detached threads that are still
  // ending (see KroExampleAsyncServer).
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
