// KroExampleAsyncClient: uses a calculator of the asynchronous example
// server from beginning to end and shows what happens, one line per step
// and one line per callback.
//
//   KroExampleAsyncClient (--ior-file PATH | --ior IOR) [--token TEXT]
//                         [--timeout-ms N] [--wait-seconds N] [--verbose | --quiet]
//                         [TLS options] [-ORB... options]
//   KroExampleAsyncClient --help
//
// The operations' callbacks, their waiting and their end are the client
// library's (KroClient); OperationTrack shows them. It asks for six computations, more than the server's pool (two threads by
// default) runs at once, so that some wait in line and are told their place;
// cancels one that waits and one that runs; attaches a new handler to a
// running one; receives a bad request's failure as a typed exception; asks
// the state of every operation; removes its calculator; and ends with a
// one-line summary. Exit status: 0 when the session went through, 1 when a
// step failed, 2 on a usage error.
#include "Console.h"
#include "KroKit/IorFile.h"
#include "OperationStateName.h"
#include "OperationTrack.h"
#include "KroKit/UserTokenText.h"

#include "Calculator.hh"
#include "KroClient/KroClient.h"
#include "OrbLayer/PrintException.h"
#include "KroKit/ServerOptions.h"

#include <omniORB4/omniORB.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;

  const char* const kUsage =
    "usage: %s (--ior-file PATH | --ior IOR) [--token TEXT] [--timeout-ms N]\n"
    "       [--wait-seconds N] [--verbose | --quiet] [TLS options] [-ORB... options]\n"
    "\n"
    "Runs a session with a calculator of KroExampleAsyncServer: six computations\n"
    "(more than the server runs at once), a cancellation while one waits and one\n"
    "while one runs, a new handler for a running one, a bad request whose failure\n"
    "comes back as a typed exception, the state of every operation, and Remove.\n"
    "\n"
    "  --ior-file PATH    read the factory's reference from PATH\n"
    "  --ior IOR          or take it from the command line\n"
    "  --token TEXT       the user to work for (default example-user)\n"
    "  --timeout-ms N     bound of every call to the server (default 10000)\n"
    "  --wait-seconds N   bound of the whole session (default 120)\n"
    "  --tls-...          TLS, as the servers take it (docs/tls-and-users.md); the\n"
    "                     handlers then need -ORBendPoint giop:ssl:HOST:\n"
    "  --verbose, --quiet the log: every priority, or notices and worse only\n";

  // What the command line asks for, beside the kit's standard options.
  struct ClientOptions
  {
    std::string iorFile;              // where to read the factory's IOR
    std::string ior;                  // or the IOR itself
    std::string token = "example-user";  // the user for CreateObject
    int timeoutMs = 10000;            // bound of every call
    int waitSeconds = 120;            // bound of the whole session
  };

  // One step of the session.
  void Say(const std::string& line) { KroExample::SayLine("client: " + line); }

  // One computation the session asks for.
  struct Request
  {
    const char* what;  // the computation
    int steps;         // its steps
  };

  // The session's computations; the fifth is a bad request. Ids are given
  // 1, 2, 3, ... per calculator, so the n-th request gets id n.
  const Request kRequests[] = {{"pi", 12}, {"primes", 40}, {"e", 8}, {"primes", 10}, {"sqrt2", 5}, {"pi", 6}};
  const int kCancelWhileWaiting = 4;   // cancelled at once: it still waits
  const int kCancelWhileRunning = 2;   // cancelled a quarter of the way
  const int kNewHandler = 1;           // gets a new handler half-way

  std::string Seconds(Clock::duration duration)
  {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", std::chrono::duration<double>(duration).count());
    return text;
  }

  // The steps of the session, each reported as it is done. Returns the summary line.
  std::string RunSession(KroClient::ClientOrb& orb, const ClientOptions& options)
  {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.waitSeconds);
    const std::string ior = options.ior.empty() ? KroKit::ReadIorFile(options.iorFile) : options.ior;
    Krovane::IServerFactory_var factory = orb.Resolve<Krovane::IServerFactory>(ior);
    Krovane::ISyncServer_var server = factory->CreateObject(KroKit::TokenFromText(options.token));
    Calculator::ICalculator_var calculator = Calculator::ICalculator::_narrow(server.in());
    if (CORBA::is_nil(calculator.in()))
      throw std::runtime_error("CreateObject returned no Calculator::ICalculator");
    Say("CreateObject(\"" + options.token + "\") -> a calculator");

    // Every computation at once: the first ones start at once (the pool
    // starts a thread for each, pausing a second after each new thread),
    // the others wait in line. The tracks outlive the operations.
    std::vector<std::unique_ptr<KroExample::OperationTrack>> tracks;
    KroClient::AsyncClient client(orb.Poa());
    std::vector<KroClient::Operation> operations;
    for (const Request& request : kRequests)
    {
      tracks.push_back(std::make_unique<KroExample::OperationTrack>(static_cast<int>(tracks.size()) + 1,
                                                                     request.what, request.steps));
      const std::string call = "Compute(\"" + std::string(request.what) + "\", " + std::to_string(request.steps) + ")";
      Say(call + " ...");
      const Clock::time_point start = Clock::now();
      operations.push_back(client.Submit(calculator.in(), [&](Krovane::IAsyncHandler_ptr handler) {
        return calculator->Compute(request.what, request.steps, handler);
      }, tracks.back()->Lines("")));
      const CORBA::Long id = operations.back().Id();
      Say(call + " -> operation id " + std::to_string(id) + " (in " + Seconds(Clock::now() - start) + ")");
      if (id != tracks.back()->Id())
        throw std::runtime_error("expected operation id " + std::to_string(tracks.back()->Id()));
    }

    Say("CancelOperation(" + std::to_string(kCancelWhileWaiting) + ") while it waits in line");
    operations[kCancelWhileWaiting - 1].Cancel();

    if (operations[kNewHandler - 1].WaitForProgress(0.5, deadline))
    {
      // The old handler is deactivated once the new one has taken over.
      operations[kNewHandler - 1] =
        client.Reattach(calculator.in(), kNewHandler, tracks[kNewHandler - 1]->Lines("new handler"));
      Say("RegisterNewHandler(" + std::to_string(kNewHandler) + ", a new handler): its later callbacks come there");
    }

    if (operations[kCancelWhileRunning - 1].WaitForProgress(0.25, deadline))
    {
      Say("CancelOperation(" + std::to_string(kCancelWhileRunning) + ") while it runs");
      operations[kCancelWhileRunning - 1].Cancel();
    }

    for (std::size_t i = 0; i < operations.size(); ++i)
      if (operations[i].WaitForEnd(deadline) == KroClient::Outcome::Pending)
        throw std::runtime_error(tracks[i]->Label() + " has not ended within " + std::to_string(options.waitSeconds) + " s");
    Say("every operation has ended");

    int finished = 0, cancelled = 0, failed = 0;
    for (std::size_t i = 0; i < operations.size(); ++i)
    {
      // Wait throws a failed operation's failure as its own exception.
      try
      {
        operations[i].Wait(deadline);
      }
      catch (const Krovane::AsyncOperationException& ex)
      {
        Say(tracks[i]->Label() + " failed: raise() -> Krovane::AsyncOperationException: " + ex.reason.in());
      }
      catch (const CORBA::Exception& ex)
      {
        Say(tracks[i]->Label() + " failed: raise() -> " + KroOrb::DescribeException(ex));
      }
    }
    for (std::size_t i = 0; i < operations.size(); ++i)
    {
      const Krovane::OperationState state = calculator->GetOperationState(operations[i].Id());
      Say("GetOperationState(" + std::to_string(operations[i].Id()) + ") -> " + KroExample::OperationStateName(state));
      switch (operations[i].Now())
      {
        case KroClient::Outcome::Finished: ++finished; break;
        case KroClient::Outcome::Cancelled: ++cancelled; break;
        case KroClient::Outcome::Failed: ++failed; break;
        case KroClient::Outcome::Pending: break;
      }
    }
    const CORBA::Long unknown = static_cast<CORBA::Long>(operations.size()) + 1;
    try
    {
      calculator->GetOperationState(unknown);
      Say("GetOperationState(" + std::to_string(unknown) + ") answered for an id never given");
    }
    catch (const Krovane::InvalidOperationId&)
    {
      Say("GetOperationState(" + std::to_string(unknown) + ") -> InvalidOperationId: no such operation");
    }

    calculator->Remove();
    Say("Remove -> done: the calculator is gone");
    return "summary: " + std::to_string(finished) + " finished, " + std::to_string(cancelled) +
           " cancelled, " + std::to_string(failed) + " failed";
  }
}

int main(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0)
    {
      std::printf(kUsage, argv[0]);
      return 0;
    }

  // Long options (the kit's parser): numbers checked, unknown options
  // refused, -ORB... options left for the ORB.
  ClientOptions options;
  KroKit::ServerOptions parsed(KroKit::ServerOptions::kIorFile | KroKit::ServerOptions::kTls);
  parsed.AddValue("--ior", [&](const char* ior) { options.ior = ior; return true; }, "IOR");
  parsed.AddValue("--token", [&](const char* token) { options.token = token; return true; }, "TEXT");
  parsed.AddNumber("--timeout-ms", options.timeoutMs, 1);
  parsed.AddNumber("--wait-seconds", options.waitSeconds, 1);
  const bool parsedWell = parsed.Parse(argc, argv);
  options.iorFile = parsed.iorFile;
  if (!parsedWell || options.iorFile.empty() == options.ior.empty())  // exactly one source
  {
    if (!parsed.Error().empty())
      std::fprintf(stderr, "%s: %s\n", argv[0], parsed.Error().c_str());
    std::fprintf(stderr, kUsage, argv[0]);
    return 2;
  }

  try
  {
    int orbArgc = static_cast<int>(parsed.orbArgs.size()) - 1;
    KroClient::ClientOrb orb(orbArgc, parsed.orbArgs.data());
    omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(options.timeoutMs));
    const std::string summary = RunSession(orb, options);
    Say(summary);
  }
  catch (const CORBA::Exception& ex)
  {
    Say("failed: " + KroOrb::DescribeException(ex));
    return 1;
  }
  catch (const std::exception& ex)
  {
    Say(std::string("failed: ") + ex.what());
    return 1;
  }
  return 0;
}
