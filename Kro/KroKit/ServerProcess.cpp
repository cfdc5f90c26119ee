#include "KroKit/ServerProcess.h"

#include "KroKit/IorFile.h"
#include "KroKit/NameBinding.h"
#include "KroKit/ServerObjectPOA.h"
#include "KroKit/ServingThreads.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/AsyncServerImpl.h"
#include "KroServer/AsynchronousHandler.h"
#include "KroServer/FinishedOperations.h"
#include "KroJournal/Journal.h"
#include "KroJournal/JournalActivator.h"
#include "KroJournal/JournalError.h"
#include "KroServer/AsynchronousRouter.h"
#include "KroServer/KroClientInterceptor.h"
#include "KroServer/KroClient_ORBInitializer.h"
#include "KroServer/KroServerInterceptor.h"
#include "KroServer/KroServer_ORBInitializer.h"
#include "KroServer/RelayDelivery.h"
#include "KroServer/ServerObjectTable.h"
#include "KroServer/ServerStop.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "KroStatus/StatusEndpoint.h"
#include "OrbLayer/PrintException.h"
#include "OrbLayer/RequestRefusal.h"
#include "OrbLayer/TlsSettings.h"

#include <ace/Log_Msg.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

namespace KroKit
{
  namespace
  {
    // How long the end of a process waits for relays still delivering.
    const std::chrono::milliseconds kRelayDrainTime(10000);

    // The ORB's endpoint options, for the message when it cannot start.
    std::string EndpointsOf(const std::vector<char*>& orbArgs)
    {
      std::string endpoints;
      for (std::size_t i = 1; i + 1 < orbArgs.size() && orbArgs[i + 1]; ++i)
        if (std::string(orbArgs[i]) == "-ORBendPoint")
          endpoints += std::string(endpoints.empty() ? "" : ", ") + orbArgs[i + 1];
      return endpoints.empty() ? "the default endpoint" : endpoints;
    }
  }

  ServerProcess::ServerProcess(const std::string& program, Calls calls)
    : m_program(program), m_calls(calls)
  {
  }

  ServerProcess::~ServerProcess() { Unpublish(); }

  void ServerProcess::Unpublish()
  {
    NameBinding* binding = nullptr;
    std::string iorFile;
    std::string ior;
    {
      std::lock_guard<std::mutex> guard(m_publishedLock);
      std::swap(binding, m_binding);
      std::swap(iorFile, m_iorFile);
      std::swap(ior, m_ior);
    }
    delete binding;  // unbinds: a remote call, outside the lock
    // A client reading a stale file would get TRANSIENT.
    if (!iorFile.empty())
      RemoveIorFile(iorFile, ior);
  }

  int ServerProcess::Run(const ServerOptions& options, const FactoryMaker& makeFactory)
  {
    // Before any thread exists, so that only the watcher sees the signals.
    ServingThreads::PrepareProcess();
    try
    {
      ConfigurePool(options.pool);
    }
    catch (const std::exception& ex)
    {
      std::fprintf(stderr, "%s: %s\n", m_program.c_str(), ex.what());
      return 1;
    }
    try
    {
      OpenJournal(options);
    }
    catch (const std::exception& ex)
    {
      std::fprintf(stderr, "%s: %s\n", m_program.c_str(), ex.what());
      return 1;
    }
    std::vector<char*> orbArgs = options.orbArgs;
    return Run(orbArgs, [&]()
    {
      PortableServer::ServantBase_var factory = makeFactory(*this);
      // Work that had not ended runs again before new work is taken.
      if (m_activator)
        m_activator->ReviveObjectsWithWaitingWork(ServerObjectPOA());
      CORBA::Object_var reference = ActivateFactory(factory.in());
      KroOrb::RequestRefusal::AcceptFromNow();
      Publish(reference.in(), options);
      Serve(options);
    });
  }

  void ServerProcess::OpenJournal(const ServerOptions& options)
  {
    if (options.journal.empty())
      return;
    if (!m_makeObject)
      throw std::runtime_error("--journal needs a server whose objects it can make again (RunObjects)");
    try
    {
      m_journal = new KroJournal::Journal(options.journal, options.journalKeepHours);
    }
    catch (const KroJournal::JournalError& ex)
    {
      throw std::runtime_error(ex.what());
    }
  }

  int ServerProcess::Run(std::vector<char*>& orbArgs, const std::function<void()>& serve)
  {
    int status = 0;
    try
    {
      Start(orbArgs);
      serve();
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, m_program.c_str(), stderr);
      status = 1;
    }
    catch (const std::exception& ex)
    {
      std::fprintf(stderr, "%s: %s\n", m_program.c_str(), ex.what());
      status = 1;
    }
    // The name and the file go before the ORB that serves them (if a shutdown left them).
    Unpublish();
    if (!Stop())
      status = 1;
    return status;
  }

  void ServerProcess::Exit(int status)
  {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }

  void ServerProcess::ConfigurePool(const PoolSettings& pool)
  {
    if (!Krovane::AsynchronousRouter::ConfigurePool(pool.minThreads, pool.maxThreads, pool.stackKb * 1024,
                                                    pool.startPauseMs))
      throw std::runtime_error("the operation pool refused its settings (--min-threads " +
                               std::to_string(pool.minThreads) + ", --max-threads " +
                               std::to_string(pool.maxThreads) + ", --stack-kb " + std::to_string(pool.stackKb) +
                               ", --start-pause-ms " + std::to_string(pool.startPauseMs) + ")");
    Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->setPlaceReportPace(
      std::chrono::milliseconds(pool.placeReportMs));
    Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->setMaxThreadsPerUser(pool.maxThreadsPerUser);
    // A pool thread never waits on a client unless asked to.
    using Delivery = Krovane::AsynchronousHandler::Delivery;
    Krovane::AsynchronousHandler::SetDefaultDelivery(pool.waitingCallbacks       ? Delivery::kWaiting
                                                     : pool.callbacksInFlight > 1 ? Delivery::kPipelined
                                                                                  : Delivery::kNonWaiting);
    Krovane::AsynchronousHandler::SetPipelineDepth(pool.callbacksInFlight);
    // A delivery thread waits out each call it has in flight.
    Krovane::RelayDelivery::SetThreads(std::max(4, 2 * pool.callbacksInFlight));
    Krovane::AsynchronousHandler::SetDropSupersededWhenFull(!pool.waitingCallbacks);
    Krovane::AsynchronousHandler::SetDetachAfterTimeouts(pool.detachAfterTimeouts);
    Krovane::FinishedOperations::SetKeptPerObject(static_cast<std::size_t>(pool.keptFinished));
    Krovane::AsyncServerImpl::SetExceptionHoldersKept(static_cast<std::size_t>(pool.keptExceptionHolders));
    if (pool.placeReports == PoolSettings::PlaceReports::kPoolDefault)
      return;
    const bool everyChange = pool.placeReports == PoolSettings::PlaceReports::kEveryChange;
    const Krovane::ThreadPoolThreadingPolicy::PlaceReports mode =
      everyChange ? Krovane::ThreadPoolThreadingPolicy::PlaceReports::kEveryChange
                  : Krovane::ThreadPoolThreadingPolicy::PlaceReports::kLatest;
    // The mode is fixed by the first submission.
    if (!Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->setPlaceReports(mode))
      throw std::runtime_error(std::string("the operation pool refused --place-reports ") +
                               (everyChange ? "every-change" : "latest") + " (work was already submitted)");
  }

  CORBA::ORB_ptr ServerProcess::Orb() const { return m_orb.in(); }

  PortableServer::POA_ptr ServerProcess::RootPOA() const { return m_root.in(); }

  PortableServer::POA_ptr ServerProcess::ServerObjectPOA()
  {
    if (!CORBA::is_nil(m_serverObjects.in()))
      return m_serverObjects.in();
    if (!m_journal)
    {
      m_serverObjects = CreateServerObjectPOA(m_root.in(), "ServerObjects");
      return m_serverObjects.in();
    }
    m_activator = new KroJournal::JournalActivator(*m_journal, m_makeObject);
    m_serverObjects = KroJournal::JournalActivator::MakePOA(m_root.in(), "ServerObjects", m_activator);
    return m_serverObjects.in();
  }

  CORBA::Object_ptr ServerProcess::ActivateFactory(PortableServer::ServantBase* factory)
  {
    PortableServer::ObjectId_var id = m_root->activate_object(factory);
    return m_root->id_to_reference(id.in());
  }

  void ServerProcess::StartStatus(const ServerOptions& options)
  {
    if (options.statusPort >= 0 && !m_status)
      m_status.reset(new KroStatus::StatusEndpoint(m_orb.in(), options.statusAddress, options.statusPort));
  }

  void ServerProcess::Publish(CORBA::Object_ptr factory, const ServerOptions& options)
  {
    StartStatus(options);
    CORBA::String_var ior = m_orb->object_to_string(factory);
    // The name first: whoever waits for the IOR file may look the name up next.
    if (!options.nameService.empty())
    {
      Unpublish();
      NameBinding* binding = new NameBinding(m_orb.in(), options.nameService, options.bindName, factory);
      {
        std::lock_guard<std::mutex> guard(m_publishedLock);
        m_binding = binding;
      }
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) %C bound as \"%C\" in %C\n"), m_program.c_str(),
                 options.bindName.c_str(), options.nameService.c_str()));
    }
    if (!options.iorFile.empty())
    {
      try
      {
        WriteIorFile(options.iorFile, ior.in());
        std::lock_guard<std::mutex> guard(m_publishedLock);
        m_iorFile = options.iorFile;
        m_ior = ior.in();
      }
      catch (const std::exception& ex)
      {
        throw std::runtime_error("cannot write the IOR file " + options.iorFile + " (" + ex.what() + ")");
      }
    }
    if (options.printIor)
    {
      std::printf("%s\n", ior.in());
      std::fflush(stdout);
    }
  }

  void ServerProcess::Serve(const ServerOptions& options)
  {
    Krovane::ServerStop& stop = Krovane::ServerStop::Instance();
    stop.SetDrainTime(std::chrono::seconds(options.drainSeconds));
    // Before the ORB is shut down, on the thread that shuts it down.
    ServingThreads threads(m_orb.in(), options.threads, options.idleSeconds, options.exitMode,
                           [this, &stop]()
                           {
                             stop.Begin();  // new operations refused from here on
                             Unpublish();   // new clients no longer find the server
                             stop.Run();    // running ones drain; the rest are cancelled, their clients told
                             // What comes while the ORB shuts down: TRANSIENT, not
                             // OBJECT_NOT_EXIST from POAs being destroyed.
                             KroOrb::RequestRefusal::RefuseFromNow();
                           });
    // The status endpoint (--status-port), for as long as the server serves:
    // every server comes through here, most after Publish started it. A
    // port it cannot take ends the server.
    StartStatus(options);
    threads.Start();
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) %C ready\n"), m_program.c_str()));
    const int signal = threads.Wait();
    if (signal != 0)
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) %C shutting down (signal %d)\n"), m_program.c_str(), signal));
    else if (threads.EndedIdle())
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) %C shutting down (idle)\n"), m_program.c_str()));
    else
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) %C shutting down (the ORB was shut down)\n"), m_program.c_str()));
    // The ORB was shut down by someone else: its operations end in order too
    // (as far as a stopped ORB lets their clients hear it).
    threads.RunBeforeShutdown();
    m_status.reset();
  }

  void ServerProcess::Start(std::vector<char*>& orbArgs)
  {
    PortableInterceptor::ServerRequestInterceptor_var serverInterceptor = new Krovane::KroServerInterceptor;
    PortableInterceptor::ORBInitializer_var serverInitializer =
      new Krovane::KroServer_ORBInitializer(serverInterceptor.in());
    PortableInterceptor::register_orb_initializer(serverInitializer.in());
    if (m_calls == kCallsOtherServers)
    {
      PortableInterceptor::ClientRequestInterceptor_var clientInterceptor = new Krovane::KroClientInterceptor;
      PortableInterceptor::ORBInitializer_var clientInitializer =
        new Krovane::KroClient_ORBInitializer(clientInterceptor.in());
      PortableInterceptor::register_orb_initializer(clientInitializer.in());
    }

    int orbArgc = static_cast<int>(orbArgs.size()) - 1;
    // Before the ORB takes its options out of the arguments.
    const std::string endpoints = EndpointsOf(orbArgs);
    Krovane::KroSystem* system = Krovane::KroSystem::Instance(1);
    // A journalled server's clients hold references from its last start:
    // until its objects can be brought back, a request for one would get
    // OBJECT_NOT_EXIST (no such POA yet), which says gone for good.
    if (m_journal)
      KroOrb::RequestRefusal::RefuseFromNow();
    try
    {
      system->InitOrb(orbArgc, orbArgs.data());
    }
    catch (const CORBA::SystemException& ex)
    {
      // The TLS context has logged why it refused its settings.
      if (ex.minor() == KroOrb::kTlsSettingsRefused)
        throw std::runtime_error("cannot start the ORB: its TLS settings were refused");
      // Otherwise most often a port that another process holds.
      throw std::runtime_error("cannot start the ORB listening on " + endpoints +
                               " (is the port taken?): " + KroOrb::DescribeException(ex));
    }
    m_orb = system->GetOrb();
    m_root = system->GetRootPOA();
  }

  bool ServerProcess::Stop()
  {
    m_status.reset();  // reads the ORB: goes first
    const bool started = !CORBA::is_nil(m_orb.in());
    m_serverObjects = PortableServer::POA::_nil();
    m_root = PortableServer::POA::_nil();
    m_orb = CORBA::ORB::_nil();
    if (!started)
      return true;
    // Relays with non-waiting delivery may still be sending, and their
    // delivery threads may hold a relay's last reference: both need the ORB.
    if (!Krovane::RelayDelivery::Instance().WaitUntilIdle(kRelayDrainTime))
      ACE_ERROR((LM_WARNING, ACE_TEXT("(%P|%t) %C: relay deliveries still busy after %d s; destroying the ORB\n"),
                 m_program.c_str(), static_cast<int>(kRelayDrainTime.count() / 1000)));
    // The table outlives the ORB; the server objects' POA must not: omniORB
    // ends the thread of a POA's servant activator only when the POA goes,
    // and the ORB's destruction waits seconds for that thread.
    if (Krovane::ServerObjectTable* table = Krovane::ServerObjectTable::Existing())
      table->LetGo();
    try
    {
      Krovane::KroSystem::Instance(1)->Destroy();
      return true;
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, (m_program + " at exit").c_str(), stderr);
      return false;
    }
  }
}
