// KroBenchLibServer: the benchmark's job server on the library, written as
// the README and the calculator example show.
//
//   KroBenchLibServer --ior-file PATH [--threads N] [--idle-seconds N]
//                     [--pool-threads N] [ORB options]
//
// Jobs run on a pool of --pool-threads threads (default 5), all of them kept
// once started.
#include "LibJobFactory.h"

#include "ServerObjectPOA.h"
#include "ServerOptions.h"
#include "ServerProcess.h"
#include "ServingThreads.h"

#include "KroServer/AsynchronousRouter.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv)
{
  KroExample::ServingThreads::PrepareProcess();

  KroExample::ServerOptions options(KroExample::ServerOptions::kIorFile | KroExample::ServerOptions::kThreads |
                                    KroExample::ServerOptions::kIdleSeconds);
  options.idleSeconds = 3600;
  int poolThreads = 5;
  options.AddNumber("--pool-threads", poolThreads);
  if (!options.Parse(argc, argv) || poolThreads < 1)
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--threads N] [--idle-seconds N] [--pool-threads N]"
                 " [ORB options]\n", argv[0]);
    return 2;
  }

  // As a server under steady load should: keep every pool thread once
  // started, and start them without a pause.
  Krovane::ThreadPoolThreadingPolicy* pool = Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy;
  pool->setMax(poolThreads);
  pool->setMin(poolThreads);
  pool->setStartPause(0);

  KroExample::ServerProcess process("KroBenchLibServer");
  const int status = process.Run(options.orbArgs, [&]()
  {
    PortableServer::POA_var serverObjectPOA =
      KroExample::CreateServerObjectPOA(process.RootPOA(), "ServerObjects");
    PortableServer::ServantBase_var factory =
      new KroBench::LibJobFactory(serverObjectPOA.in(), poolThreads, 10);
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
