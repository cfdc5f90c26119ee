// KroExampleSyncClient: uses a synchronous server of the family from
// beginning to end and says what happens, one line per step.
//
//   KroExampleSyncClient (--ior-file PATH | --ior IOR) [--token TEXT]
//                        [--new-token TEXT] [--timeout-ms N] [TLS options]
//                        [ORB options]
//
// Steps: reach the factory, CreateObject(token), GetMachineInfo,
// UpdateUserToken(new token), Remove. Exit status: 0 when every step
// worked, 1 when one failed, 2 on a usage error.
#include "KroKit/IorFile.h"
#include "KroKit/UserTokenText.h"

#include "Krovane.hh"
#include "OrbLayer/PrintException.h"
#include "KroKit/TlsOptions.h"

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
  // What the command line asks for.
  struct ClientOptions
  {
    std::string iorFile;              // where to read the factory's IOR
    std::string ior;                  // or the IOR itself
    std::string token = "example-user";        // the user for CreateObject
    std::string newToken = "example-user-2";   // the user for UpdateUserToken
    unsigned long timeoutMs = 10000;  // bound of every call
    KroKit::TlsOptions tls;       // TLS settings; off unless --tls-ca is given
    std::vector<char*> orbArgs;       // argv[0] and every option left for the ORB
  };

  // Takes our own options out of argv; the rest is for the ORB. False on a
  // usage error.
  bool ParseOptions(int argc, char** argv, ClientOptions& options)
  {
    options.orbArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const bool hasValue = i + 1 < argc;
      bool badTls = false;
      if (options.tls.Take(argc, argv, i, badTls))
      {
        if (badTls)
          return false;
      }
      else if (std::strcmp(argv[i], "--ior-file") == 0 && hasValue)
        options.iorFile = argv[++i];
      else if (std::strcmp(argv[i], "--ior") == 0 && hasValue)
        options.ior = argv[++i];
      else if (std::strcmp(argv[i], "--token") == 0 && hasValue)
        options.token = argv[++i];
      else if (std::strcmp(argv[i], "--new-token") == 0 && hasValue)
        options.newToken = argv[++i];
      else if (std::strcmp(argv[i], "--timeout-ms") == 0 && hasValue)
        options.timeoutMs = std::strtoul(argv[++i], nullptr, 10);
      else if (std::strncmp(argv[i], "--", 2) == 0)
        return false;
      else
        options.orbArgs.push_back(argv[i]);
    }
    options.orbArgs.push_back(nullptr);  // argv is null-terminated
    if (!options.tls.Valid())
      return false;
    options.tls.Apply(options.orbArgs);
    return options.iorFile.empty() != options.ior.empty();  // exactly one source
  }

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

  // The steps of the session, each reported as it is done.
  void RunSession(ClientOrb& orb, const ClientOptions& options)
  {
    const std::string ior = options.ior.empty() ? KroKit::ReadIorFile(options.iorFile) : options.ior;
    CORBA::Object_var object = orb->string_to_object(ior.c_str());
    Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
    if (CORBA::is_nil(factory.in()))
      throw std::runtime_error("the reference is not a Krovane::IServerFactory");
    Say("factory reached");

    Krovane::ISyncServer_var server = factory->CreateObject(KroKit::TokenFromText(options.token));
    if (CORBA::is_nil(server.in()))
      throw std::runtime_error("CreateObject returned a nil reference");
    Say("CreateObject(\"" + options.token + "\") -> a server object");

    CORBA::String_var machine = server->GetMachineInfo();
    Say("GetMachineInfo ->");
    SayIndented(machine.in());

    server->UpdateUserToken(KroKit::TokenFromText(options.newToken));
    Say("UpdateUserToken(\"" + options.newToken + "\") -> done");

    server->Remove();
    Say("Remove -> done");
  }
}

int main(int argc, char** argv)
{
  ClientOptions options;
  if (!ParseOptions(argc, argv, options))
  {
    std::fprintf(stderr,
                 "usage: %s (--ior-file PATH | --ior IOR) [--token TEXT] [--new-token TEXT]"
                 " [--timeout-ms N] %s [ORB options]\n",
                 argv[0], KroKit::TlsOptions::Usage());
    return 2;
  }

  try
  {
    int orbArgc = static_cast<int>(options.orbArgs.size()) - 1;
    ClientOrb orb(orbArgc, options.orbArgs.data());
    omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(options.timeoutMs));
    RunSession(orb, options);
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
  Say("all steps done");
  return 0;
}
