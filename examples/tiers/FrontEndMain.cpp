// KroTiersFrontEnd: the front end of the two-tier example: a server whose
// objects forward their operations to back ends found in the naming
// service, and whose own factory is bound there as
// KroTiers/FrontEnd.factory.
//
//   KroTiersFrontEnd [--ior-file PATH] [--wait-seconds N] [--threads N]
//                    [--idle-seconds N] [TLS options] [user safeguards]
//                    -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//                    [-ORBendPoint giop:tcp:HOST:PORT] [other ORB options]
//
// At start it builds its registry of dependent servers from the back ends
// bound under KroTiers/BackEnds that answer (one entry each, in name
// order; back ends bound later are not seen) and refuses to start without
// any. Then as a back end: binds, writes the IOR if asked, serves. The
// user safeguards are those of UserSafeguards; the client's token goes on
// to the back ends as it came.
#include "BackEndRegistry.h"
#include "FrontEndFactory.h"
#include "TierServer.h"
#include "TierServerOptions.h"

#include "ServerProcess.h"
#include "ServingThreads.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include <unistd.h>

int main(int argc, char** argv)
{
  KroTiers::TierServerOptions options;
  if (!options.Parse(argc, argv) || !options.name.empty())
  {
    std::fprintf(stderr, "%s\n", KroTiers::TierServerOptions::Usage(argv[0]).c_str());
    return 2;
  }

  // Before any thread exists, so that only the watcher sees the signals.
  KroExample::ServingThreads::PrepareProcess();

  // Before the ORB, and never destroyed: the pool's threads are detached
  // and release the entry of an operation that ends after the ORB is gone,
  // up to the end of the process (see the _exit below).
  KroTiers::BackEndRegistry registry;
  KroExample::ServerProcess process("KroTiersFrontEnd", KroExample::ServerProcess::kCallsOtherServers);
  const int status = process.Run(options.server.orbArgs, [&]()
  {
    options.safeguards.Apply();
    KroTiers::TierServer server(process);
    if (registry.Load(server.Directory()) == 0)
      throw std::runtime_error("no back end is bound under KroTiers/BackEnds");
    PortableServer::ServantBase_var factory =
      new KroTiers::FrontEndFactory(server.ServerObjectPOA(), registry.List(), options.waitSeconds);
    CORBA::Object_var reference = server.ActivateFactory(factory.in());
    std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = options.safeguards.StartReclaim();
    server.Directory().BindFrontEnd(reference.in());
    process.Publish(reference.in(), options.server);
    process.Serve(options.server);
  });

  // The server ends here, without returning: a return would destroy the
  // registry under pool threads that may still release entries, and run
  // ACE's clean-up at exit beside omniORB's detached threads that are still
  // ending (see KroExampleAsyncServer).
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
