// KroExampleAsyncServer: the asynchronous example server. Its factory hands
// each client a calculator (Calculator::ICalculator) whose computations run
// as asynchronous operations on the library's thread pool.
//
//   KroExampleAsyncServer [--ior-file PATH] [--print-ior] [--threads N]
//                         [--idle-seconds N] [--exit-mode orb|exit|_exit]
//                         [--max-threads N] [--min-threads N] [--start-pause-ms N]
//                         [--stack-kb N] [--name-service CORBALOC --bind NAME]
//                         [--step-ms N] [--callback-timeout N] [user safeguards]
//                         [--verbose|--quiet] [-ORB options]
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
// --reclaim-interval N) are those of UserSafeguards. The log (ACE_DEBUG) goes
// to standard error, each line after its time; exceptions the library
// handles are printed on standard output.
//
// The steps are those of every server of the family, in the order the
// library expects them (see ServerProcess).
#include "CalculatorFactory.h"

#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"
#include "KroKit/UserSafeguards.h"

#include <memory>

int main(int argc, char** argv)
{
  // The standard options (the pool's among them), and how the calculators work.
  // Not --journal: a calculator comes with an account object of its own,
  // which the journal cannot make again; taking the option and keeping
  // nothing would lose every operation at a restart unsaid.
  KroKit::ServerOptions options(KroKit::ServerOptions::kEveryStandard & ~KroKit::ServerOptions::kJournal);
  KroExample::CalculatorSettings calculators;
  int stepMs = 250;
  options.AddNumber("--step-ms", stepMs, 0, 60000, "length of one step of a computation in ms");
  options.AddNumber("--callback-timeout", calculators.callbackTimeout, 0, 3600,
                    "seconds a client's handler may take per callback");
  KroKit::UserSafeguards safeguards;
  safeguards.AddOptions(options);
  if (!options.ParseOrExplain(argc, argv))
    return options.UsageStatus();
  calculators.stepTime.msec(static_cast<long>(stepMs));
  calculators.maxThreads = options.pool.maxThreads;

  // Before any thread exists, so that only the watcher sees the signals.
  KroKit::ServingThreads::PrepareProcess();
  KroKit::ServerProcess process("KroExampleAsyncServer");
  const int status = process.Run(options.orbArgs, [&]()
  {
    KroKit::ServerProcess::ConfigurePool(options.pool);  // before the first calculator
    safeguards.Apply();
    // The server objects (accounts and calculators) and the relays of their
    // operations live in the server-object POA; the factory in the root POA,
    // which owns it once it is active.
    PortableServer::ServantBase_var factory =
      new KroExample::CalculatorFactory(process.ServerObjectPOA(), calculators);
    CORBA::Object_var factoryReference = process.ActivateFactory(factory.in());
    std::unique_ptr<Krovane::ServerObjectReclaimTask> reclaim = safeguards.StartReclaim();
    process.Publish(factoryReference.in(), options);
    // Ends once no request has come and no operation has been active for
    // two checks in a row, or on a signal.
    process.Serve(options);
  });
  // Without static destructors: see ServerProcess::Exit.
  KroKit::ServerProcess::Exit(status);
}
