// KroTiersClient: a client of the two-tier example. It finds the front
// ends in the naming service (KroTiers/FrontEnds), takes one that answers,
// runs one operation there and says what happens, one line per step or
// callback.
//
//   KroTiersClient [--token TEXT] [--steps N] [--timeout-seconds N]
//                  [--loss-seconds N] [--front-end NAME] [--verbose|--quiet] [TLS options]
//                  -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//                  [other ORB options]
//   KroTiersClient --help
//
// The front ends are tried from a random one on, in name order, so that
// clients spread over them; --front-end NAME tries that one only.
// Steps: CreateObject(token), StartWork(steps) with a handler of its own,
// the callbacks until the operation ends (at most N seconds, default 60),
// Remove. The operation runs on the client library, whose watch ends it
// Failed once its front end is gone or silent for --loss-seconds (default
// 10; 0: no watch); the object then is not removed (its server is gone).
// A failure is one line on standard error that says what the client was
// doing ("client: cannot reach the naming service at corbaloc::...: ...").
// Exit status: 0 when every step worked, 1 when one failed, 2 on a usage
// error.
#include "ClientLines.h"
#include "TierDirectory.h"
#include "KroKit/ServerOptions.h"
#include "KroKit/UserTokenText.h"

#include "KroClient/AsyncClient.h"
#include "OrbLayer/PrintException.h"
#include "Tiers.hh"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <random>
#include <string>
#include <vector>

namespace
{
  // What the command line asks for, beside the kit's standard options.
  struct ClientOptions
  {
    std::string token = "tiers-user";  // the user for CreateObject
    int steps = 4;                     // the operation's length
    int timeoutSeconds = 60;           // wait for the end at most this long
    int lossSeconds = 10;              // the client library's loss bound; 0: no watch
    std::string frontEnd;              // the front end to use; empty: any that answers
  };

  using KroTiers::Say;

  // An object for options.token on the first front end that makes one (nil
  // when none does), trying them from a random one on.
  Krovane::ISyncServer_ptr CreateOnAFrontEnd(KroTiers::TierDirectory& directory, const ClientOptions& options)
  {
    std::vector<KroTiers::NamedFactory> frontEnds = directory.FrontEnds();
    frontEnds.erase(std::remove_if(frontEnds.begin(), frontEnds.end(),
                                   [&](const KroTiers::NamedFactory& frontEnd) {
                                     return !options.frontEnd.empty() && frontEnd.name != options.frontEnd;
                                   }),
                    frontEnds.end());
    if (frontEnds.empty())
      return Krovane::ISyncServer::_nil();
    std::rotate(frontEnds.begin(), frontEnds.begin() + std::random_device()() % frontEnds.size(), frontEnds.end());
    for (const KroTiers::NamedFactory& frontEnd : frontEnds)
    {
      try
      {
        Krovane::ISyncServer_var created = frontEnd.factory->CreateObject(KroKit::TokenFromText(options.token));
        Say("front end " + frontEnd.name);
        return created._retn();
      }
      catch (const CORBA::SystemException& ex)
      {
        Say("front end " + frontEnd.name + " does not answer (" + ex._name() + ")");
      }
    }
    return Krovane::ISyncServer::_nil();
  }

  // The session with the front end; true when every step worked.
  // namingService: where the naming service is, for messages; doing: what
  // the session is doing, for the line that reports a failure.
  bool RunSession(CORBA::ORB_ptr orb, const ClientOptions& options, const std::string& namingService,
                  std::string& doing)
  {
    doing = "activating the client's POA";
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();

    doing = "looking for a front end";
    KroTiers::TierDirectory directory(orb, namingService);
    Krovane::ISyncServer_var created = CreateOnAFrontEnd(directory, options);
    if (CORBA::is_nil(created.in()))
    {
      Say("no front end answers");
      return false;
    }
    KroTiers::IWorkServer_var server = KroTiers::IWorkServer::_narrow(created.in());
    if (CORBA::is_nil(server.in()))
    {
      Say("the front end's object does no work");
      return false;
    }
    Say("object created for user " + options.token);

    doing = "starting the work";
    KroTiers::ClientLines lines;  // outlives the client, which ends the operation's callbacks
    KroClient::AsyncClient client(root.in(), std::chrono::seconds(options.lossSeconds));
    KroClient::Operation operation = client.Submit(
      server.in(), [&](Krovane::IAsyncHandler_ptr handler) { return server->StartWork(options.steps, handler); },
      lines.Callbacks());
    Say("operation " + std::to_string(operation.Id()) + " started, " + std::to_string(options.steps) + " steps");
    const KroClient::Outcome outcome =
      operation.WaitForEnd(std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds));
    if (outcome == KroClient::Outcome::Pending)
      Say("no end within " + std::to_string(options.timeoutSeconds) + " s");
    if (lines.Lost())
      return false;  // its front end is gone: nothing to remove there

    doing = "removing the object";
    server->Remove();
    Say("object removed");
    return outcome != KroClient::Outcome::Pending;
  }
}

int main(int argc, char** argv)
{
  // Long options (the kit's parser): numbers checked, unknown options
  // refused, -ORB... options left for the ORB.
  ClientOptions options;
  KroKit::ServerOptions parsed(KroKit::ServerOptions::kTls);
  parsed.AddValue("--token", [&](const char* token) { options.token = token; return true; }, "TEXT");
  parsed.AddNumber("--steps", options.steps, 1);
  parsed.AddNumber("--timeout-seconds", options.timeoutSeconds, 1);
  parsed.AddNumber("--loss-seconds", options.lossSeconds, 0, 3600, "seconds an operation waits on a lost front end");
  parsed.AddValue("--front-end", [&](const char* name) { options.frontEnd = name; return *name != '\0'; }, "NAME");
  if (!parsed.Parse(argc, argv))
  {
    const std::string usage = parsed.Usage(argv[0]) + "\n  the naming service: " + KroTiers::kNamingServiceOption;
    if (parsed.Error().empty())  // --help
      std::printf("%s\n", usage.c_str());
    else
      std::fprintf(stderr, "KroTiersClient: %s\n%s\n", parsed.Error().c_str(), usage.c_str());
    return parsed.UsageStatus();
  }

  int status = 1;
  std::string doing;  // what the session does, for a failure's line
  const std::string namingService = KroTiers::NamingServiceLocation(parsed.orbArgs);  // before the ORB takes them
  int orbArgc = static_cast<int>(parsed.orbArgs.size()) - 1;
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, parsed.orbArgs.data());
  try
  {
    status = RunSession(orb.in(), options, namingService, doing) ? 0 : 1;
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, ("client: " + doing).c_str(), stderr);
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "client: %s\n", ex.what());
  }
  try
  {
    orb->destroy();
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "client at exit", stderr);
    status = 1;
  }
  return status;
}
