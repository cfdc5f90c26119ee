// KroExampleAsyncServer: the asynchronous example server. Its factory hands
// each client a calculator (Calculator::ICalculator) whose computations run
// as asynchronous operations on the library's thread pool.
//
//   KroExampleAsyncServer [--ior-file PATH] [--print-ior] [--threads N]
//                         [--idle-seconds N] [--exit-mode orb|exit|_exit]
//                         [--max-threads N] [--min-threads N] [--start-pause-ms N]
//                         [--step-ms N] [--callback-timeout N] [user safeguards]
//                         [ORB options]
//
// It publishes the reference of its factory (in PATH, and/or on standard
// output; on standard output when no file is given) and serves requests in
// N event threads (default 4). Operations run on at most --max-threads pool
// threads (default 2; 1 to 100); the pool keeps --min-threads of them once
// started (default 1; at most --max-threads), so that steady work does not
// wait for it to grow again, and pauses --start-pause-ms after starting each
// (default 1000; 0: none). Each step of work takes at least --step-ms
// milliseconds (default 250); a client's handler has --callback-timeout
// seconds per callback (default 10). The process ends once it has been idle
// for two checks in a row, --idle-seconds apart (default 60), or on SIGTERM
// or SIGINT. The user safeguards (--token-key FILE, --user-from-cert,
// --max-objects-per-user N, --max-queued-per-user N, --reclaim-seconds N,
// --reclaim-interval N) are those of UserSafeguards. The log (ACE_DEBUG) goes to standard error; exceptions the
// library handles are printed on standard output.
//
// The steps are those of every server of the family, in the order the
// library expects them (see ServerProcess).
#include "CalculatorFactory.h"
#include "ServerObjectPOA.h"
#include "ServerOptions.h"
#include "ServerProcess.h"
#include "ServingThreads.h"
#include "UserSafeguards.h"

#include "KroServer/AsynchronousRouter.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace
{
  const char* const kUsage =
    "usage: %s [--ior-file PATH] [--print-ior] [--threads N] [--idle-seconds N]\n"
    "       [--exit-mode orb|exit|_exit] [--max-threads N] [--min-threads N] [--start-pause-ms N]\n"
    "       [--step-ms N] [--callback-timeout N] [--token-key FILE | --user-from-cert]\n"
    "       [--max-objects-per-user N] [--max-queued-per-user N]\n"
    "       [--reclaim-seconds N] [--reclaim-interval N] [ORB options]\n";
}

int main(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0)
    {
      std::printf(kUsage, argv[0]);
      return 0;
    }

  // Before any thread exists, so that only the watcher sees the signals.
  // Pool threads wait for work until the process ends: the process does
  // not wait for them at exit.
  KroExample::ServingThreads::PrepareProcess();

  // The standard options, and how the calculators work.
  KroExample::ServerOptions options;
  KroExample::CalculatorSettings calculators;
  options.AddNumber("--max-threads", calculators.maxThreads);
  int minThreads = 0;  // 0: the pool's own minimum
  options.AddNumber("--min-threads", minThreads);
  int startPauseMs = -1;  // -1: the pool's own pause
  options.AddNumber("--start-pause-ms", startPauseMs);
  options.AddValue("--step-ms", [&](const char* ms) { calculators.stepTime.msec(std::atol(ms)); return true; });
  options.AddNumber("--callback-timeout", calculators.callbackTimeout);
  KroExample::UserSafeguards safeguards;
  safeguards.AddOptions(options);
  if (!options.Parse(argc, argv))
  {
    std::fprintf(stderr, kUsage, argv[0]);
    return 2;
  }

  // The pool's minimum is set before the first calculator sets its maximum,
  // which may not be below it.
  Krovane::ThreadPoolThreadingPolicy* pool = Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy;
  if ((minThreads > 0 && !pool->setMin(minThreads)) || (startPauseMs != -1 && !pool->setStartPause(startPauseMs)))
  {
    std::fprintf(stderr, kUsage, argv[0]);
    return 2;
  }

  KroExample::ServerProcess process("KroExampleAsyncServer");
  const int status = process.Run(options.orbArgs, [&]()
  {
    safeguards.Apply();
    // The server objects (accounts and calculators) and the relays of their
    // operations live in a POA of their own.
    PortableServer::POA_var serverObjectPOA =
      KroExample::CreateServerObjectPOA(process.RootPOA(), "ServerObjects");

    // The factory lives in the root POA; the POA owns it once it is active.
    PortableServer::ServantBase_var factory =
      new KroExample::CalculatorFactory(serverObjectPOA.in(), calculators);
    CORBA::Object_var factoryReference = process.ActivateFactory(factory.in());
    std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = safeguards.StartReclaim();
    process.Publish(factoryReference.in(), options);
    // Ends once no request has come and no operation has been active for
    // two checks in a row, or on a signal.
    process.Serve(options);
  });

  // The ORB is gone, but the pool's threads wait for work until the process
  // ends, and some of omniORB's detached threads may still be ending and
  // running ACE's per-thread clean-up, which races with ACE's own clean-up
  // at exit. The server ends here, without static destructors.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
