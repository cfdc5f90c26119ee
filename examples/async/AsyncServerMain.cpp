// KroExampleAsyncServer: the asynchronous example server. Its factory hands
// each client a calculator (Calculator::ICalculator) whose computations run
// as asynchronous operations on the library's thread pool.
//
//   KroExampleAsyncServer [--ior-file PATH] [--print-ior] [--threads N]
//                         [--idle-seconds N] [--exit-mode orb|exit|_exit]
//                         [--max-threads N] [--step-ms N]
//                         [--callback-timeout N] [ORB options]
//
// It publishes the reference of its factory (in PATH, and/or on standard
// output; on standard output when no file is given) and serves requests in
// N event threads (default 4). Operations run on at most --max-threads pool
// threads (default 2; 1 to 100); each step of work takes at least --step-ms
// milliseconds (default 250); a client's handler has --callback-timeout
// seconds per callback (default 10). The process ends once it has been idle
// for two checks in a row, --idle-seconds apart (default 60), or on SIGTERM
// or SIGINT. The log (ACE_DEBUG) goes to standard error; exceptions the
// library handles are printed on standard output.
//
// The steps in main are those of every server of the family, in the order
// the library expects them.
#include "CalculatorFactory.h"
#include "IorFile.h"
#include "ShutdownOnSignal.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroServerEventHandler.h"
#include "KroServer/KroServerInterceptor.h"
#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/KroServer_ORBInitializer.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
  // What the command line asks for.
  struct ServerOptions
  {
    std::string iorFile;                  // where to write the factory's IOR; empty: nowhere
    bool printIor = false;                // print the IOR on standard output
    int threads = 4;                      // event-loop threads
    int idleSeconds = 60;                 // idle interval of the shutdown task
    void* exitMode = nullptr;             // how the shutdown task ends the process
    KroExample::CalculatorSettings calculators;  // how the calculators work
    std::vector<char*> orbArgs;           // argv[0] and every option left for the ORB
  };

  const char* const kUsage =
    "usage: %s [--ior-file PATH] [--print-ior] [--threads N] [--idle-seconds N]\n"
    "       [--exit-mode orb|exit|_exit] [--max-threads N] [--step-ms N]\n"
    "       [--callback-timeout N] [ORB options]\n";

  // Takes our own options out of argv; the rest is for the ORB. False on a
  // usage error.
  bool ParseOptions(int argc, char** argv, ServerOptions& options)
  {
    options.orbArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const bool hasValue = i + 1 < argc;
      if (std::strcmp(argv[i], "--ior-file") == 0 && hasValue)
        options.iorFile = argv[++i];
      else if (std::strcmp(argv[i], "--print-ior") == 0)
        options.printIor = true;
      else if (std::strcmp(argv[i], "--threads") == 0 && hasValue)
        options.threads = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--idle-seconds") == 0 && hasValue)
        options.idleSeconds = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--max-threads") == 0 && hasValue)
        options.calculators.maxThreads = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--step-ms") == 0 && hasValue)
        options.calculators.stepTime.msec(std::atol(argv[++i]));
      else if (std::strcmp(argv[i], "--callback-timeout") == 0 && hasValue)
        options.calculators.callbackTimeout = std::atoi(argv[++i]);
      else if (std::strcmp(argv[i], "--exit-mode") == 0 && hasValue)
      {
        const std::string mode = argv[++i];
        if (mode == "exit")
          options.exitMode = reinterpret_cast<void*>(-2);
        else if (mode == "_exit")
          options.exitMode = reinterpret_cast<void*>(-1);
        else if (mode != "orb")
          return false;
      }
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

  // The POA of the server objects (accounts and calculators) and of the
  // relays of their operations. Everything in it is activated explicitly
  // and gets a system id; the library looks servants up by reference and
  // references by servant, which needs RETAIN and UNIQUE_ID. It shares the
  // root POA's manager, so it takes requests as soon as the root POA does.
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
    PortableServer::ServantBase_var factory =
      new KroExample::CalculatorFactory(serverObjectPOA.in(), options.calculators);
    PortableServer::ObjectId_var factoryId = root->activate_object(factory.in());
    CORBA::Object_var factoryReference = root->id_to_reference(factoryId.in());
    PublishReference(orb.in(), factoryReference.in(), options);

    KroExample::ShutdownOnSignal shutdownOnSignal(orb.in());

    // The request loop in its own threads, and the task that ends the
    // process once no request has come and no operation has been active
    // for two checks in a row.
    Krovane::KroServerEventHandler eventThreads(orb.in(), options.threads, 0);
    Krovane::KroServerShutdownTask idleShutdown(orb.in(), ACE_Time_Value(options.idleSeconds));
    if (eventThreads.open() != 0 || idleShutdown.open(options.exitMode) != 0)
      throw std::runtime_error("cannot start the server's threads");
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroExampleAsyncServer ready\n")));
    eventThreads.wait();
    // Ended by the idle-shutdown task: its thread is returning, so join it.
    // Ended by a signal, the task may sleep for a whole interval yet: the
    // process does not wait for it.
    if (shutdownOnSignal.ReceivedSignal() == 0)
      idleShutdown.wait();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroExampleAsyncServer shutting down (signal %d)\n"),
               shutdownOnSignal.ReceivedSignal()));
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

  // Before any thread exists, so that only the watcher sees the signals.
  KroExample::ShutdownOnSignal::BlockTerminationSignals();

  ServerOptions options;
  if (!ParseOptions(argc, argv, options))
  {
    std::fprintf(stderr, kUsage, argv[0]);
    return 2;
  }

  // The idle-shutdown task may still be asleep when the server ends by a
  // signal, and pool threads wait for work until the process ends: the
  // process does not wait for them at exit.
  ACE_Thread_Manager::instance()->wait_on_exit(0);

  int status = 0;
  try
  {
    // Every request is recorded on its server object and runs as its user.
    PortableInterceptor::ServerRequestInterceptor_var interceptor = new Krovane::KroServerInterceptor;
    PortableInterceptor::ORBInitializer_var initializer =
      new Krovane::KroServer_ORBInitializer(interceptor.in());
    PortableInterceptor::register_orb_initializer(initializer.in());

    int orbArgc = static_cast<int>(options.orbArgs.size()) - 1;
    Krovane::KroSystem::Instance(1)->InitOrb(orbArgc, options.orbArgs.data());
    Serve(options);
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "KroExampleAsyncServer", stderr);
    status = 1;
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "KroExampleAsyncServer: %s\n", ex.what());
    status = 1;
  }

  // Destroys the POAs (and so every servant still active) and the ORB.
  try
  {
    Krovane::KroSystem::Instance(1)->Destroy();
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "KroExampleAsyncServer at exit", stderr);
    status = 1;
  }

  // The ORB is gone, but the pool's threads wait for work until the process
  // ends, and some of omniORB's detached threads may still be ending and
  // running ACE's per-thread clean-up, which races with ACE's own clean-up
  // at exit. The server ends here, without static destructors.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
