// KroProbeServer: a server of the family for the cross-process tests of the
// request interceptors and the process tasks.
//
//   KroProbeServer [--ior-file PATH] [--threads N] [--idle-seconds N]
//                  [--exit-mode orb|exit|_exit] [--idle-on-request]
//                  [--client-interceptor] [--log-contexts] [ORB options]
//
// Built like every server of the family: the server interceptor registered
// before the ORB starts, a factory in the root POA handing out server
// objects (here KroProbe::IProbe), the event-loop task with N threads
// (default 4) and the idle-shutdown task (interval N seconds, default 60).
// It ends when the idle task shuts it down (as --exit-mode says) or on
// SIGTERM/SIGINT.
//
//   --idle-on-request     open the idle-shutdown task only when a client
//                         calls IProbe::StartIdleShutdown, not at start
//   --client-interceptor  register the client interceptor too, for the
//                         requests the server sends itself
//   --log-contexts        log the user-token service context (0xDEADBEEF) of
//                         every request it receives, as hex octets
//
// The log goes to standard error. Exit handlers write "ProbeServer exit
// handlers ran" there; they run only when the idle task ends the process
// with exit(0): main itself ends with _exit.
#include "ProbeServants.h"

#include "IorFile.h"
#include "ShutdownOnSignal.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroClientInterceptor.h"
#include "KroServer/KroClient_ORBInitializer.h"
#include "KroServer/KroServerEventHandler.h"
#include "KroServer/KroServerInterceptor.h"
#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/KroServer_ORBInitializer.h"
#include "OrbLayer/PrintException.h"

#include <omniORB4/omniInterceptors.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/GIOP_S.h>

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
  struct ServerOptions
  {
    std::string iorFile;             // where to write the factory's IOR
    int threads = 4;                 // event-loop threads
    int idleSeconds = 60;            // idle interval
    void* exitMode = nullptr;        // the idle task's open() argument
    bool idleOnRequest = false;      // open the idle task when a client asks
    bool clientInterceptor = false;  // register KroClientInterceptor too
    bool logContexts = false;        // log incoming 0xDEADBEEF contexts
    std::vector<char*> orbArgs;      // argv[0] and the ORB's options, null-terminated
  };

  bool ParseOptions(int argc, char** argv, ServerOptions& options)
  {
    options.orbArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const std::string option = argv[i];
      if (option == "--ior-file" && i + 1 < argc)
        options.iorFile = argv[++i];
      else if (option == "--threads" && i + 1 < argc)
        options.threads = std::atoi(argv[++i]);
      else if (option == "--idle-seconds" && i + 1 < argc)
        options.idleSeconds = std::atoi(argv[++i]);
      else if (option == "--exit-mode" && i + 1 < argc)
      {
        const std::string mode = argv[++i];
        if (mode == "exit")
          options.exitMode = reinterpret_cast<void*>(-2);
        else if (mode == "_exit")
          options.exitMode = reinterpret_cast<void*>(-1);
        else if (mode != "orb")
          return false;
      }
      else if (option == "--idle-on-request")
        options.idleOnRequest = true;
      else if (option == "--client-interceptor")
        options.clientInterceptor = true;
      else if (option == "--log-contexts")
        options.logContexts = true;
      else if (option.compare(0, 2, "--") == 0)
        return false;
      else
        options.orbArgs.push_back(argv[i]);
    }
    options.orbArgs.push_back(nullptr);
    return !options.iorFile.empty();
  }

  // serverReceiveRequest hook: one log line per remote request, with its
  // user-token context as the octets arrived.
  CORBA::Boolean LogUserTokenContext(omni::omniInterceptors::serverReceiveRequest_T::info_T& info)
  {
    const char* operation = info.giop_s.operation_name();
    const IOP::ServiceContextList& contexts = info.giop_s.service_contexts();
    for (CORBA::ULong i = 0; i < contexts.length(); ++i)
    {
      if (contexts[i].context_id != Krovane::KroClientInterceptor::UserTokenContextId)
        continue;
      const IOP::ServiceContext& context = contexts[i];
      const std::string octets(reinterpret_cast<const char*>(context.context_data.get_buffer()),
                               context.context_data.length());
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer %C context 0xDEADBEEF: %C\n"),
                 operation, KroProbe::Hex(octets).c_str()));
      return true;
    }
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer %C without context 0xDEADBEEF\n"), operation));
    return true;
  }

  // The POA of the server objects, as in every server of the family:
  // explicit activation, system ids, RETAIN and UNIQUE_ID.
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
    PortableServer::POA_var poa = root->create_POA("ProbeObjects", manager.in(), policies);
    for (CORBA::ULong i = 0; i < policies.length(); ++i)
      policies[i]->destroy();
    return poa._retn();
  }

  void Serve(const ServerOptions& options)
  {
    Krovane::KroSystem* system = Krovane::KroSystem::Instance(1);
    CORBA::ORB_var orb = system->GetOrb();
    PortableServer::POA_var root = system->GetRootPOA();
    PortableServer::POA_var objectPOA = CreateServerObjectPOA(root.in());
    if (options.logContexts)
      omniORB::getInterceptors()->serverReceiveRequest.add(LogUserTokenContext);

    Krovane::KroServerEventHandler eventThreads(orb.in(), options.threads, 0);
    Krovane::KroServerShutdownTask idleShutdown(orb.in(), ACE_Time_Value(options.idleSeconds));
    std::once_flag idleShutdownOpened;
    auto openIdleShutdown = [&]()
    {
      std::call_once(idleShutdownOpened, [&]()
      {
        if (idleShutdown.open(options.exitMode) != 0)
          throw std::runtime_error("cannot start the idle-shutdown task");
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer idle-shutdown task opened\n")));
      });
    };
    if (options.idleOnRequest)
      KroProbe::SetIdleShutdownStarter(openIdleShutdown);

    PortableServer::ServantBase_var factory = new KroProbe::ProbeFactory(objectPOA.in());
    PortableServer::ObjectId_var factoryId = root->activate_object(factory.in());
    CORBA::Object_var factoryReference = root->id_to_reference(factoryId.in());
    CORBA::String_var ior = orb->object_to_string(factoryReference.in());

    // Published before the tasks start: an idle interval of 0 may end the
    // process at once.
    KroExample::WriteIorFile(options.iorFile, ior.in());

    KroExample::ShutdownOnSignal shutdownOnSignal(orb.in());
    if (eventThreads.open() != 0)
      throw std::runtime_error("cannot start the event threads");
    if (!options.idleOnRequest)
      openIdleShutdown();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer ready\n")));

    eventThreads.wait();
    if (Krovane::KroServerShutdownTask::IsEndingProcess())
      Krovane::KroServerShutdownTask::AwaitProcessEnd();  // its exit(0) ends the process
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer event threads ended (signal %d)\n"),
               shutdownOnSignal.ReceivedSignal()));
    KroProbe::SetIdleShutdownStarter(nullptr);
    // After an idle shutdown the task's thread is ending: let it end before
    // the task goes. After a signal it may sleep for a whole interval.
    if (shutdownOnSignal.ReceivedSignal() == 0)
      idleShutdown.wait();
  }

  void ReportExitHandlers()
  {
    std::fputs("ProbeServer exit handlers ran\n", stderr);
  }
}

int main(int argc, char** argv)
{
  KroExample::ShutdownOnSignal::BlockTerminationSignals();

  ServerOptions options;
  if (!ParseOptions(argc, argv, options))
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--threads N] [--idle-seconds N]"
                 " [--exit-mode orb|exit|_exit] [--idle-on-request] [--client-interceptor]"
                 " [--log-contexts] [ORB options]\n", argv[0]);
    return 2;
  }
  std::atexit(ReportExitHandlers);
  ACE_Thread_Manager::instance()->wait_on_exit(0);

  int status = 0;
  try
  {
    PortableInterceptor::ServerRequestInterceptor_var serverInterceptor = new Krovane::KroServerInterceptor;
    PortableInterceptor::ORBInitializer_var serverInitializer =
      new Krovane::KroServer_ORBInitializer(serverInterceptor.in());
    PortableInterceptor::register_orb_initializer(serverInitializer.in());
    if (options.clientInterceptor)
    {
      PortableInterceptor::ClientRequestInterceptor_var clientInterceptor = new Krovane::KroClientInterceptor;
      PortableInterceptor::ORBInitializer_var clientInitializer =
        new Krovane::KroClient_ORBInitializer(clientInterceptor.in());
      PortableInterceptor::register_orb_initializer(clientInitializer.in());
    }

    int orbArgc = static_cast<int>(options.orbArgs.size()) - 1;
    Krovane::KroSystem::Instance(1)->InitOrb(orbArgc, options.orbArgs.data());
    Serve(options);
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "KroProbeServer", stderr);
    status = 1;
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "KroProbeServer: %s\n", ex.what());
    status = 1;
  }

  try
  {
    Krovane::KroSystem::Instance(1)->Destroy();
  }
  catch (const CORBA::Exception& ex)
  {
    KroOrb::PrintException(ex, "KroProbeServer at exit", stderr);
    status = 1;
  }

  // The ORB is gone, but some of omniORB's detached threads may still be
  // ending and running ACE's per-thread clean-up, which races with ACE's
  // own clean-up at exit. The probe ends here, without static destructors
  // and exit handlers.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
