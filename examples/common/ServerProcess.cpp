#include "ServerProcess.h"

#include "IorFile.h"
#include "ServingThreads.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroClientInterceptor.h"
#include "KroServer/KroClient_ORBInitializer.h"
#include "KroServer/KroServerInterceptor.h"
#include "KroServer/KroServer_ORBInitializer.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <cstdio>
#include <exception>

namespace KroExample
{
  ServerProcess::ServerProcess(const std::string& program, Calls calls)
    : m_program(program), m_calls(calls)
  {
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
    if (!Stop())
      status = 1;
    return status;
  }

  CORBA::ORB_ptr ServerProcess::Orb() const { return m_orb.in(); }

  PortableServer::POA_ptr ServerProcess::RootPOA() const { return m_root.in(); }

  CORBA::Object_ptr ServerProcess::ActivateFactory(PortableServer::ServantBase* factory)
  {
    PortableServer::ObjectId_var id = m_root->activate_object(factory);
    return m_root->id_to_reference(id.in());
  }

  void ServerProcess::Publish(CORBA::Object_ptr factory, const ServerOptions& options)
  {
    CORBA::String_var ior = m_orb->object_to_string(factory);
    if (!options.iorFile.empty())
      WriteIorFile(options.iorFile, ior.in());
    if (options.printIor)
    {
      std::printf("%s\n", ior.in());
      std::fflush(stdout);
    }
  }

  void ServerProcess::Serve(const ServerOptions& options)
  {
    ServingThreads threads(m_orb.in(), options.threads, options.idleSeconds, options.exitMode);
    threads.Start();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) %C ready\n"), m_program.c_str()));
    const int signal = threads.Wait();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) %C shutting down (signal %d)\n"), m_program.c_str(), signal));
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
    Krovane::KroSystem* system = Krovane::KroSystem::Instance(1);
    system->InitOrb(orbArgc, orbArgs.data());
    m_orb = system->GetOrb();
    m_root = system->GetRootPOA();
  }

  bool ServerProcess::Stop()
  {
    m_root = PortableServer::POA::_nil();
    m_orb = CORBA::ORB::_nil();
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
