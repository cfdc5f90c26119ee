// KroExampleSyncClient: uses a synchronous server of the family from
// beginning to end and says what happens, one line per step.
//
//   KroExampleSyncClient (--ior-file PATH | --ior IOR) [--token TEXT]
//                        [--new-token TEXT] [--timeout-ms N] [TLS options]
//                        [--verbose|--quiet] [-ORB options]
//
// Steps: reach the factory, CreateObject(token), GetMachineInfo,
// UpdateUserToken(new token), Remove. Exit status: 0 when every step
// worked, 1 when one failed, 2 on a usage error.
#include "KroKit/IorFile.h"
#include "KroKit/UserTokenText.h"

#include "Krovane.hh"
#include "OrbLayer/PrintException.h"
#include "KroKit/ServerOptions.h"

#include <omniORB4/omniORB.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

namespace
{
  // What the command line asks for, parsed with the kit's options (long
  // options, checked numbers, TLS, --verbose/--quiet, -ORB... for the ORB).
  struct ClientOptions
  {
    ClientOptions() : line(KroKit::ServerOptions::kTls)
    {
      line.AddValue("--ior-file", [this](const char* path) { iorFile = path; return true; }, "PATH");
      line.AddValue("--ior", [this](const char* text) { ior = text; return true; }, "IOR");
      line.AddValue("--token", [this](const char* text) { token = text; return true; }, "TEXT");
      line.AddValue("--new-token", [this](const char* text) { newToken = text; return true; }, "TEXT");
      line.AddNumber("--timeout-ms", timeoutMs, 0);
    }

    // -1 when the session may run; else the exit status: 2 after a usage
    // error (explained), 0 after --help.
    int Parse(int argc, char** argv)
    {
      if (!line.ParseOrExplain(argc, argv))
        return line.UsageStatus();
      if (iorFile.empty() == ior.empty())
      {
        std::fprintf(stderr, "%s: give --ior-file or --ior\n%s\n", argv[0], line.Usage(argv[0]).c_str());
        return 2;
      }
      return -1;
    }

    KroKit::ServerOptions line;       // the parser; line.orbArgs: argv[0] and the ORB's options
    std::string iorFile;              // where to read the factory's IOR
    std::string ior;                  // or the IOR itself
    std::string token = "example-user";        // the user for CreateObject
    std::string newToken = "example-user-2";   // the user for UpdateUserToken
    int timeoutMs = 10000;            // bound of every call
  };

  // One line of the report, on standard output at once.
  void Say(const std::string& line)
  {
    std::printf("client: %s\n", line.c_str());
    std::fflush(stdout);
  }

  // Each line of text, indented, as part of the report.
  void SayIndented(const std::string& text)
  {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
      Say("  " + line);
  }

  // The client's ORB, destroyed when the client ends.
  class ClientOrb
  {
  public:
    ClientOrb(int& argc, char** argv) : m_orb(CORBA::ORB_init(argc, argv)) {}
    ~ClientOrb()
    {
      try { m_orb->destroy(); } catch (const CORBA::Exception&) {}
    }
    CORBA::ORB_ptr operator->() const { return m_orb.in(); }

  private:
    CORBA::ORB_var m_orb;  // the process's ORB
  };

  // The steps of the session, each reported as it is done; doing says which
  // step runs, for the message when one fails.
  void RunSession(ClientOrb& orb, const ClientOptions& options, std::string& doing)
  {
    doing = options.ior.empty() ? "reading the factory's IOR from " + options.iorFile : "reading the IOR given";
    const std::string ior = options.ior.empty() ? KroKit::ReadIorFile(options.iorFile) : options.ior;
    CORBA::Object_var object = orb->string_to_object(ior.c_str());
    doing = "reaching the factory" + (options.iorFile.empty() ? std::string() : " in " + options.iorFile);
    Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
    if (CORBA::is_nil(factory.in()))
      throw std::runtime_error("the reference is not a Krovane::IServerFactory");
    Say("factory reached");

    doing = "creating a server object";
    Krovane::ISyncServer_var server = factory->CreateObject(KroKit::TokenFromText(options.token));
    if (CORBA::is_nil(server.in()))
      throw std::runtime_error("CreateObject returned a nil reference");
    Say("CreateObject(\"" + options.token + "\") -> a server object");

    doing = "asking for the machine's description";
    CORBA::String_var machine = server->GetMachineInfo();
    Say("GetMachineInfo ->");
    SayIndented(machine.in());

    doing = "changing the user token";
    server->UpdateUserToken(KroKit::TokenFromText(options.newToken));
    Say("UpdateUserToken(\"" + options.newToken + "\") -> done");

    doing = "removing the server object";
    server->Remove();
    Say("Remove -> done");
  }
}

int main(int argc, char** argv)
{
  ClientOptions options;
  const int usage = options.Parse(argc, argv);
  if (usage >= 0)
    return usage;

  std::string doing = "starting the ORB";
  try
  {
    int orbArgc = static_cast<int>(options.line.orbArgs.size()) - 1;
    ClientOrb orb(orbArgc, options.line.orbArgs.data());
    omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(options.timeoutMs));
    RunSession(orb, options, doing);
  }
  catch (const CORBA::Exception& ex)
  {
    Say("failed: " + KroOrb::DescribeException(ex) + " (while " + doing + ")");
    return 1;
  }
  catch (const std::exception& ex)
  {
    Say(std::string("failed: ") + ex.what() + " (while " + doing + ")");
    return 1;
  }
  Say("all steps done");
  return 0;
}
