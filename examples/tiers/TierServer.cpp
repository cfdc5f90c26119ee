#include "TierServer.h"

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

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <stdexcept>

namespace KroTiers
{
  namespace
  {
    // Creates a child POA of root with the given lifespan and id
    // assignment; RETAIN, UNIQUE_ID and no implicit activation, as the
    // library needs (it maps servants to references and back).
    PortableServer::POA_ptr CreatePOA(PortableServer::POA_ptr root, const char* name,
                                      PortableServer::LifespanPolicyValue lifespan,
                                      PortableServer::IdAssignmentPolicyValue ids)
    {
      PortableServer::POAManager_var manager = root->the_POAManager();
      CORBA::PolicyList policies;
      policies.length(5);
      policies[0] = root->create_servant_retention_policy(PortableServer::RETAIN);
      policies[1] = root->create_id_uniqueness_policy(PortableServer::UNIQUE_ID);
      policies[2] = root->create_implicit_activation_policy(PortableServer::NO_IMPLICIT_ACTIVATION);
      policies[3] = root->create_id_assignment_policy(ids);
      policies[4] = root->create_lifespan_policy(lifespan);
      PortableServer::POA_var poa = root->create_POA(name, manager.in(), policies);
      for (CORBA::ULong i = 0; i < policies.length(); ++i)
        policies[i]->destroy();
      return poa._retn();
    }
  }

  TierServer::TierServer(const std::string& program, TierServerOptions& options, bool callsOtherServers)
    : m_program(program), m_options(options)
  {
    // Before any thread exists, so that only the watcher sees the signals.
    KroExample::ShutdownOnSignal::BlockTerminationSignals();
    // The idle-shutdown task may still be asleep when the server ends by a
    // signal: the process does not wait for it at exit.
    ACE_Thread_Manager::instance()->wait_on_exit(0);

    // Every request is recorded on its server object and runs as its user;
    // calls to other servers carry the thread's user and operation.
    PortableInterceptor::ServerRequestInterceptor_var serverInterceptor = new Krovane::KroServerInterceptor;
    PortableInterceptor::ORBInitializer_var serverInitializer =
      new Krovane::KroServer_ORBInitializer(serverInterceptor.in());
    PortableInterceptor::register_orb_initializer(serverInitializer.in());
    if (callsOtherServers)
    {
      PortableInterceptor::ClientRequestInterceptor_var clientInterceptor = new Krovane::KroClientInterceptor;
      PortableInterceptor::ORBInitializer_var clientInitializer =
        new Krovane::KroClient_ORBInitializer(clientInterceptor.in());
      PortableInterceptor::register_orb_initializer(clientInitializer.in());
    }

    int orbArgc = static_cast<int>(options.orbArgs.size()) - 1;
    Krovane::KroSystem* system = Krovane::KroSystem::Instance(1);
    system->InitOrb(orbArgc, options.orbArgs.data());
    m_orb = system->GetOrb();
    PortableServer::POA_var root = system->GetRootPOA();
    m_serverObjects = CreatePOA(root.in(), "ServerObjects", PortableServer::TRANSIENT, PortableServer::SYSTEM_ID);
    m_factories = CreatePOA(root.in(), "Factories", PortableServer::PERSISTENT, PortableServer::USER_ID);
  }

  TierServer::~TierServer()
  {
    m_directory.reset();
    m_factories = PortableServer::POA::_nil();
    m_serverObjects = PortableServer::POA::_nil();
    m_orb = CORBA::ORB::_nil();
    try
    {
      Krovane::KroSystem::Instance(1)->Destroy();
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, (m_program + " at exit").c_str(), stderr);
    }
  }

  PortableServer::POA_ptr TierServer::ServerObjectPOA() const { return m_serverObjects.in(); }

  TierDirectory& TierServer::Directory()
  {
    if (!m_directory)
      m_directory.reset(new TierDirectory(m_orb.in()));
    return *m_directory;
  }

  CORBA::Object_ptr TierServer::ActivateFactory(PortableServer::ServantBase* factory)
  {
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId("factory");
    m_factories->activate_object_with_id(id.in(), factory);
    return m_factories->id_to_reference(id.in());
  }

  void TierServer::Serve(CORBA::Object_ptr factory)
  {
    KroExample::ShutdownOnSignal shutdownOnSignal(m_orb.in());
    Krovane::KroServerEventHandler eventThreads(m_orb.in(), m_options.threads, 0);
    Krovane::KroServerShutdownTask idleShutdown(m_orb.in(), ACE_Time_Value(m_options.idleSeconds));
    if (eventThreads.open() != 0 || idleShutdown.open(nullptr) != 0)
      throw std::runtime_error("cannot start the server's threads");
    if (!m_options.iorFile.empty())
    {
      CORBA::String_var ior = m_orb->object_to_string(factory);
      KroExample::WriteIorFile(m_options.iorFile, ior.in());
    }
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) %C ready\n"), m_program.c_str()));
    eventThreads.wait();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) %C shutting down (signal %d)\n"), m_program.c_str(),
               shutdownOnSignal.ReceivedSignal()));
  }
}
