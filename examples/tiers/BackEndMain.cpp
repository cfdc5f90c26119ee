// KroTiersBackEnd: a back end of the two-tier example: an asynchronous
// server whose factory is bound in the naming service as
// KroTiers/BackEnds/<name>.factory.
//
//   KroTiersBackEnd --name NAME [--ior-file PATH] [--step-ms N] [--threads N]
//                   [--idle-seconds N] [TLS options] [user safeguards]
//                   -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//                   [-ORBendPoint giop:tcp:HOST:PORT] [other ORB options]
//
// Each object it makes runs StartWork(steps) as an asynchronous operation
// (see BackEndRouter). It binds its factory once it can serve, writes the
// factory's IOR to PATH if asked, and serves until idle, SIGTERM or
// SIGINT. Its binding stays when it ends (the ORB that could take it away
// is down by then): a front end leaves out back ends that do not answer,
// and a back end restarted on the same fixed endpoint port
// (-ORBendPoint giop:tcp:HOST:PORT) is reached again through the same
// reference. The user safeguards are those of UserSafeguards but
// --user-from-cert, which it refuses: its caller is the front end, which
// passes the client's token on (with --token-key, front end and back ends
// share the key). The log goes to standard error.
#include "BackEndFactory.h"
#include "TierServer.h"
#include "TierServerOptions.h"

#include "ServerProcess.h"
#include "ServingThreads.h"

#include "KroKit/CertificateUserVerifier.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

int main(int argc, char** argv)
{
  KroTiers::TierServerOptions options;
  if (!options.Parse(argc, argv) || options.name.empty())
  {
    std::fprintf(stderr, "%s\n", KroTiers::TierServerOptions::Usage(argv[0]).c_str());
    return 2;
  }

  // Before any thread exists, so that only the watcher sees the signals.
  KroExample::ServingThreads::PrepareProcess();

  KroExample::ServerProcess process("KroTiersBackEnd");
  return process.Run(options.server.orbArgs, [&]()
  {
    options.safeguards.Apply();
    if (std::dynamic_pointer_cast<KroKit::CertificateUserVerifier>(Krovane::UserVerifier::Installed()))
      throw std::runtime_error("--user-from-cert does not apply: a back end's caller is the front end");
    KroTiers::TierServer server(process);
    PortableServer::ServantBase_var factory =
      new KroTiers::BackEndFactory(server.ServerObjectPOA(), options.name, options.stepMilliseconds);
    CORBA::Object_var reference = server.ActivateFactory(factory.in());
    std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = options.safeguards.StartReclaim();
    server.Directory().BindBackEnd(options.name, reference.in());
    process.Publish(reference.in(), options.server);
    process.Serve(options.server);
  });
}
