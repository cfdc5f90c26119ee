// KroBenchLibServer: the benchmark's job server on the library, written as
// docs/building-with-the-library.md and the calculator example show.
//
//   KroBenchLibServer --ior-file PATH [--threads N] [--idle-seconds N]
//                     [--pool-threads N] [--place-reports every-change|latest]
//                     [--non-waiting-relays | --pipelined-relays]
//                     [--library-alone | --relays-by-reference] [--journal-dir DIR] [ORB options]
//
// Jobs run on a pool of --pool-threads threads (default 5), all of them kept
// once started; --place-reports as for every server of the kit;
// --library-alone: routers written with the library alone, which make their
// own relays and hand them over as docs/building-with-the-library.md shows
// (as themselves, activated only when their reference is asked for), and
// keep no journal (else the kit's); --relays-by-reference: the same routers,
// which activate each relay up front and hand over a reference made for it;
// --journal-dir records every job in DIR/KroBenchLibServer-PID.db, as a kit
// server's --journal does (to measure its cost: run-bench.sh starts several
// servers at once, KRO_BENCH_LIB_SETTINGS="--journal-dir DIR"; the objects
// are not brought back after a restart).
#include "LibJobFactory.h"

#include "KroKit/ServerObjectPOA.h"
#include "KroKit/ServerOptions.h"
#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"

#include "KroJournal/Journal.h"
#include "KroJournal/JournalError.h"
#include "KroServer/AsynchronousHandler.h"

#include <cstdio>
#include <exception>
#include <string>

#include <unistd.h>

int main(int argc, char** argv)
{
  KroKit::ServingThreads::PrepareProcess();

  KroKit::ServerOptions options(KroKit::ServerOptions::kIorFile | KroKit::ServerOptions::kThreads |
                                    KroKit::ServerOptions::kIdleSeconds | KroKit::ServerOptions::kStatus |
                                    KroKit::ServerOptions::kPool);
  options.idleSeconds = 3600;
  int poolThreads = 5;
  options.AddNumber("--pool-threads", poolThreads);
  bool nonWaitingRelays = false;  // relays' non-waiting delivery (the lib-async column)
  options.AddFlag("--non-waiting-relays", nonWaitingRelays);
  bool pipelinedRelays = false;  // several callbacks in flight per relay (the lib-pipelined column)
  options.AddFlag("--pipelined-relays", pipelinedRelays);
  bool libraryAlone = false;  // the lib-relay-itself column
  options.AddFlag("--library-alone", libraryAlone);
  bool relaysByReference = false;  // the lib-by-reference column
  options.AddFlag("--relays-by-reference", relaysByReference);
  std::string journalDir;  // empty: no journal
  options.AddValue("--journal-dir", [&journalDir](const char* dir) { journalDir = dir; return *dir != 0; }, "DIR");
  if (!options.Parse(argc, argv) || poolThreads < 1)
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--threads N] [--idle-seconds N] [--pool-threads N]"
                 " [--place-reports every-change|latest] [--non-waiting-relays | --pipelined-relays]"
                 " [--library-alone | --relays-by-reference] [--journal-dir DIR] [ORB options]\n", argv[0]);
    return 2;
  }

  // As a server under steady load should: keep every pool thread once
  // started, and start them without a pause.
  options.pool.maxThreads = poolThreads;
  options.pool.minThreads = poolThreads;
  options.pool.startPauseMs = 0;
  // Every bench client is one user ("bench"), and the bare servers share
  // their pool with no bound per user: so may this one.
  options.pool.maxThreadsPerUser = poolThreads;
  // The lib column measures the waiting relay (the bare servers' two-way
  // callbacks), lib-async the non-waiting one.
  options.pool.waitingCallbacks = !nonWaitingRelays && !pipelinedRelays;
  // Two in flight: on this benchmark's two cores more only add thread
  // switches (measured against 3, 4 and 8); --callbacks-in-flight sets another.
  if (pipelinedRelays && options.pool.callbacksInFlight < 2)
    options.pool.callbacksInFlight = 2;
  try
  {
    KroKit::ServerProcess::ConfigurePool(options.pool);
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "%s: %s\n", argv[0], ex.what());
    return 2;
  }
  if (nonWaitingRelays)
    Krovane::AsynchronousHandler::SetDefaultDelivery(Krovane::AsynchronousHandler::Delivery::kNonWaiting);

  // Never deleted: pool threads record into it until the process ends.
  KroJournal::Journal* journal = nullptr;
  try
  {
    if (!journalDir.empty())
      journal = new KroJournal::Journal(journalDir + "/KroBenchLibServer-" + std::to_string(getpid()) + ".db", 24);
  }
  catch (const KroJournal::JournalError& ex)
  {
    std::fprintf(stderr, "%s: %s\n", argv[0], ex.what());
    return 1;
  }

  KroKit::ServerProcess process("KroBenchLibServer");
  const int status = process.Run(options.orbArgs, [&]()
  {
    PortableServer::POA_var serverObjectPOA =
      KroKit::CreateServerObjectPOA(process.RootPOA(), "ServerObjects");
    PortableServer::ServantBase_var factory =
      new KroBench::LibJobFactory(serverObjectPOA.in(), poolThreads, 10, journal, libraryAlone || relaysByReference,
                                  relaysByReference ? KroBench::LibRefJobRouter::Handover::kReference
                                                    : KroBench::LibRefJobRouter::Handover::kItself);
    CORBA::Object_var factoryReference = process.ActivateFactory(factory.in());
    process.Publish(factoryReference.in(), options);
    process.Serve(options);
  });
  // As the example server: pool threads wait for work until the process
  // ends, so it ends without static destructors.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
