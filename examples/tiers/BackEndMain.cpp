// KroTiersBackEnd: a back end of the two-tier example: an asynchronous
// server whose factory is bound in the naming service as
// KroTiers/BackEnds/<name>.factory.
//
//   KroTiersBackEnd --name NAME [--ior-file PATH] [--step-ms N] [--threads N]
//                   [--idle-seconds N] [--verbose|--quiet] [TLS options] [user safeguards]
//                   -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//                   [-ORBendPoint giop:tcp:HOST:PORT] [other ORB options]
//
// Each object it makes runs StartWork(steps) as an asynchronous operation
// (see BackEndRouter). It binds its factory once it can serve, writes the
// factory's IOR to PATH if asked, and serves until idle, SIGTERM or
// SIGINT, and then takes its binding away (a killed back end leaves it:
// the front end that finds it gone takes it away). While it serves, it
// binds its name again, every --refresh-ms, when the name is missing. A back end restarted
// with the same name replaces its binding and is used again; on the same
// fixed endpoint port (-ORBendPoint giop:tcp:HOST:PORT) even through the
// same reference. The user safeguards are those of UserSafeguards but
// --user-from-cert, which it refuses: its caller is the front end, which
// passes the client's token on (with --token-key, front end and back ends
// share the key). The log goes to standard error.
#include "BackEndFactory.h"
#include "BindingWatch.h"
#include "TierServer.h"
#include "TierServerOptions.h"

#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"

#include "KroKit/CertificateUserVerifier.h"

#include <memory>
#include <stdexcept>
#include <string>

int main(int argc, char** argv)
{
  KroTiers::TierServerOptions options;
  if (!options.ParseOrExplain(argc, argv, /*nameRequired=*/true))
    return options.UsageStatus();

  // Before any thread exists, so that only the watcher sees the signals.
  KroKit::ServingThreads::PrepareProcess();

  // Outside the ORB's life: taken away once the ORB is gone.
  KroTiers::TierBinding binding(KroTiers::TierBinding::kBackEnd, options.name, options.server.orbArgs);
  // Read before the ORB takes its options out of orbArgs.
  const std::string namingService = KroTiers::NamingServiceLocation(options.server.orbArgs);
  KroKit::ServerProcess process("KroTiersBackEnd");
  return process.Run(options.server.orbArgs, [&]()
  {
    options.safeguards.Apply();
    if (std::dynamic_pointer_cast<KroKit::CertificateUserVerifier>(Krovane::UserVerifier::Installed()))
      throw std::runtime_error("--user-from-cert does not apply: a back end's caller is the front end");
    KroTiers::TierServer server(process, namingService);
    PortableServer::ServantBase_var factory =
      new KroTiers::BackEndFactory(server.ServerObjectPOA(), options.name, options.stepMilliseconds);
    CORBA::Object_var reference = server.ActivateFactory(factory.in());
    std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = options.safeguards.StartReclaim();
    binding.Bind(server.Directory(), process.Orb(), reference.in());
    KroTiers::BindingWatch watch(server.Directory(), KroTiers::TierBinding::kBackEnd, options.name,
                                 reference.in(), std::chrono::milliseconds(options.refreshMilliseconds));
    process.Publish(reference.in(), options.server);
    process.Serve(options.server);
  });
}
