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

#include "KroKit/ServerObjectPOA.h"
#include "KroKit/ServerOptions.h"
#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"

#include "KroServer/KroClientInterceptor.h"

#include <omniORB4/omniInterceptors.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/GIOP_S.h>

#include <ace/Log_Msg.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace
{
  // What the probe takes beyond the standard options.
  struct ProbeOptions
  {
    bool idleOnRequest = false;      // open the idle task when a client asks
    bool clientInterceptor = false;  // register KroClientInterceptor too
    bool logContexts = false;        // log incoming 0xDEADBEEF contexts
  };

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

  // Creates the factory, publishes it and serves until the ORB is shut down.
  void Serve(KroKit::ServerProcess& process, const KroKit::ServerOptions& options,
             const ProbeOptions& probe)
  {
    PortableServer::POA_var objectPOA = KroKit::CreateServerObjectPOA(process.RootPOA(), "ProbeObjects");
    if (probe.logContexts)
      omniORB::getInterceptors()->serverReceiveRequest.add(LogUserTokenContext);

    KroKit::ServingThreads threads(process.Orb(), options.threads, options.idleSeconds, options.exitMode);
    auto openIdleShutdown = [&]()
    {
      if (threads.OpenIdleShutdown())
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer idle-shutdown task opened\n")));
    };
    if (probe.idleOnRequest)
      KroProbe::SetIdleShutdownStarter(openIdleShutdown);

    PortableServer::ServantBase_var factory = new KroProbe::ProbeFactory(objectPOA.in());
    CORBA::Object_var factoryReference = process.ActivateFactory(factory.in());

    // Published before the tasks start: an idle interval of 0 may end the
    // process at once.
    process.Publish(factoryReference.in(), options);

    threads.Start(false);
    if (!probe.idleOnRequest)
      openIdleShutdown();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer ready\n")));

    const int signal = threads.Wait();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeServer event threads ended (signal %d)\n"), signal));
    // Before the idle task goes (threads joins it after an idle shutdown).
    KroProbe::SetIdleShutdownStarter(nullptr);
  }

  void ReportExitHandlers()
  {
    std::fputs("ProbeServer exit handlers ran\n", stderr);
  }
}

int main(int argc, char** argv)
{
  KroKit::ServingThreads::PrepareProcess();

  KroKit::ServerOptions options(KroKit::ServerOptions::kIorFile | KroKit::ServerOptions::kThreads |
                                    KroKit::ServerOptions::kIdleSeconds |
                                    KroKit::ServerOptions::kExitMode);
  ProbeOptions probe;
  options.AddFlag("--idle-on-request", probe.idleOnRequest);
  options.AddFlag("--client-interceptor", probe.clientInterceptor);
  options.AddFlag("--log-contexts", probe.logContexts);
  options.debug = true;  // the probe reports on its debug lines; the tests read them
  if (!options.Parse(argc, argv) || options.iorFile.empty())
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--threads N] [--idle-seconds N]"
                 " [--exit-mode orb|exit|_exit] [--idle-on-request] [--client-interceptor]"
                 " [--log-contexts] [ORB options]\n", argv[0]);
    return 2;
  }
  std::atexit(ReportExitHandlers);

  KroKit::ServerProcess process("KroProbeServer", probe.clientInterceptor
                                                        ? KroKit::ServerProcess::kCallsOtherServers
                                                        : KroKit::ServerProcess::kServesOnly);
  const int status = process.Run(options.orbArgs, [&]() { Serve(process, options, probe); });

  // The ORB is gone, but some of omniORB's detached threads may still be
  // ending and running ACE's per-thread clean-up, which races with ACE's
  // own clean-up at exit. The probe ends here, without static destructors
  // and exit handlers.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
