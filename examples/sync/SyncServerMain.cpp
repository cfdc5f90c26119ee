// KroExampleSyncServer: a minimal synchronous server of the family.
//
//   KroExampleSyncServer [--ior-file PATH] [--print-ior] [ORB options]
//
// It publishes the reference of its factory (in PATH, and/or on standard
// output; on standard output when no file is given), then serves requests
// until it receives SIGTERM or SIGINT. Options it does not know go to the
// ORB, e.g. -ORBendPoint giop:tcp:127.0.0.1: to listen on the loopback
// interface only. The log (ACE_DEBUG) goes to standard error.
//
// The steps in main are the ones every server of the family takes, in the
// order the library expects them.
#include "ExampleSyncFactory.h"
#include "IorFile.h"
#include "ShutdownOnSignal.h"

#include "KroDazadared/KroSystem.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace
{
  // What the command line asks for.
  struct ServerOptions
  {
    std::string iorFile;            // where to write the factory's IOR; empty: nowhere
    bool printIor = false;          // print the IOR on standard output
    std::vector<char*> orbArgs;     // argv[0] and every option left for the ORB
  };

  // Takes our own options out of argv; the rest is for the ORB. False on a
  // usage error.
  bool ParseOptions(int argc, char** argv, ServerOptions& options)
  {
    options.orbArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      if (std::strcmp(argv[i], "--ior-file") == 0 && i + 1 < argc)
        options.iorFile = argv[++i];
      else if (std::strcmp(argv[i], "--print-ior") == 0)
        options.printIor = true;
      else if (std::strncmp(argv[i], "--", 2) == 0)
        return false;
      else
        options.orbArgs.push_back(argv[i]);
    }
    if (options.iorFile.empty())
      options.printIor = true;
    options.orbArgs.push_back(nullptr);  // argv is null-terminated
    return true;
  }

  // The POA of the server objects. They are activated explicitly by the
  // factory (activate_object), get system ids and live as long as the
  // process. The library looks servants up by reference and references by
  // servant (object table, Remove), which needs RETAIN and UNIQUE_ID;
  // without implicit activation a removed object cannot come back to life
  // by accident. It shares the root POA's manager, so it takes requests
  // as soon as the root POA does.
  PortableServer::POA_ptr CreateServerObjectPOA(PortableServer::POA_ptr root)
  {
    PortableServer::POAManager_var manager = root->the_POAManager();
    CORBA::PolicyList policies;
    policies.length(5);
    policies[0] = root->create_servant_retention_policy(PortableServer::RETAIN);
    policies[1] = root->create_id_uniqueness_policy(PortableServer::UNIQUE_ID);
    policies[2] = root->create_implicit_activation_policy(PortableServer::NO_IMPLICIT_ACTIVATION);
    policies[3] = root->create_id_assignment_policy(PortableServer::SYSTEM_ID);
    policies[4] = root->create_lifespan_policy(PortableServer::TRANSIENT);
    PortableServer::POA_var poa = root->create_POA("ServerObjects", manager.in(), policies);
    for (CORBA::ULong i = 0; i < policies.length(); ++i)
      policies[i]->destroy();
    return poa._retn();
  }

  // Makes the factory reachable: writes its IOR to the file and/or prints it.
  void PublishReference(CORBA::ORB_ptr orb, CORBA::Object_ptr factory, const ServerOptions& options)
  {
    CORBA::String_var ior = orb->object_to_string(factory);
    if (!options.iorFile.empty())
      KroExample::WriteIorFile(options.iorFile, ior.in());
    if (options.printIor)
    {
      std::printf("%s\n", ior.in());
      std::fflush(stdout);
    }
  }

  // Creates the factory, publishes it and serves until the ORB is shut down.
  void Serve(const ServerOptions& options)
  {
    Krovane::KroSystem* system = Krovane::KroSystem::Instance(1);
    CORBA::ORB_var orb = system->GetOrb();
    PortableServer::POA_var root = system->GetRootPOA();
    PortableServer::POA_var serverObjectPOA = CreateServerObjectPOA(root.in());

    // The factory lives in the root POA; the POA owns it once it is active.
    PortableServer::ServantBase_var factory = new KroExample::ExampleSyncFactory(serverObjectPOA.in());
    PortableServer::ObjectId_var factoryId = root->activate_object(factory.in());
    CORBA::Object_var factoryReference = root->id_to_reference(factoryId.in());
    PublishReference(orb.in(), factoryReference.in(), options);

    KroExample::ShutdownOnSignal shutdownOnSignal(orb.in());
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroExampleSyncServer ready\n")));
    orb->run();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroExampleSyncServer shutting down (signal %d)\n"),
               shutdownOnSignal.ReceivedSignal()));
  }
}

int main(int argc, char** argv)
{
  // Before any thread exists, so that only the watcher sees the signals.
  KroExample::ShutdownOnSignal::BlockTerminationSignals();

  ServerOptions options;
  if (!ParseOptions(argc, argv, options))
  {
    std::fprintf(stderr, "usage: %s [--ior-file PATH] [--print-ior] [ORB options]\n", argv[0]);
    return 2;
  }

  int status = 0;
  try
  {
    int orbArgc = static_cast<int>(options.orbArgs.size()) - 1;
    Krovane::KroSystem::Instance(1)->InitOrb(orbArgc, options.orbArgs.data());
    Serve(options);
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "KroExampleSyncServer", stderr);
    status = 1;
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "KroExampleSyncServer: %s\n", ex.what());
    status = 1;
  }

  // Destroys the POAs (and so every servant still active) and the ORB.
  try
  {
    Krovane::KroSystem::Instance(1)->Destroy();
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "KroExampleSyncServer at exit", stderr);
    status = 1;
  }
  return status;
}
