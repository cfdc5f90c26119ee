#include "ProbeServants.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/OpnType.h"
#include "KroServer/ServerObjectTable.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/UnguessableObjectIds.h"

#include "Dazadared/JobGuard.h"
#include "Dazadared/threadLocalUserPacket.h"

#include <ace/Log_Msg.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace KroProbe
{
  namespace
  {
    // What ends a Work normally: ReleaseWork adds 1.
    std::mutex s_workLock;
    std::condition_variable s_workReleased;
    unsigned long s_releases = 0;  // guarded by s_workLock

    std::mutex s_starterLock;
    std::function<void()> s_idleShutdownStarter;  // guarded by s_starterLock

    // The name of the thread's current operation, or "none".
    std::string CurrentOperationName()
    {
      Krovane::SynchronousOperation* current = Krovane::threadLocalOperation->m_operation;
      return current ? current->GetName() : std::string("none");
    }

    std::string ThreadToken()
    {
      return Halvern_Utilities::threadLocalUserPacket->GetToken();
    }
  }

  void SetIdleShutdownStarter(std::function<void()> starter)
  {
    std::lock_guard<std::mutex> guard(s_starterLock);
    s_idleShutdownStarter = std::move(starter);
  }

  // --- ProbeFactory ----------------------------------------------------------

  ProbeFactory::ProbeFactory(PortableServer::POA_ptr serverObjectPOA)
    : Krovane::ServerFactoryImpl(serverObjectPOA)
  {
  }

  Krovane::ISyncServer_ptr ProbeFactory::CreateObject(const Krovane::UserToken& token)
  {
    // The factory is no server object: its requests run as nobody.
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeFactory CreateObject: thread token \"%C\", current operation %C\n"),
               Hex(ThreadToken()).c_str(), CurrentOperationName().c_str()));

    ProbeObject* object = new ProbeObject(m_serverObjectPOA.in());
    PortableServer::ServantBase_var ownership = object;
    object->SetUserToken(token);
    PortableServer::ObjectId_var id = Krovane::UnguessableObjectIds::Activate(m_serverObjectPOA.in(), object);
    CORBA::Object_var reference = m_serverObjectPOA->id_to_reference(id.in());
    Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(reference.in());
    AddObjectToTable(server.in());
    return server._retn();
  }

  // --- ProbeObject -----------------------------------------------------------

  ProbeObject::ProbeObject(PortableServer::POA_ptr poa)
    : Krovane::SyncServerImpl(poa, 1), m_deactivateOnRemove(false), m_refuseUserPacket(0)
  {
  }

  ProbeObject::~ProbeObject()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject destroyed\n")));
  }

  const Halvern_Utilities::UserPacket& ProbeObject::GetUserPacket() const
  {
    switch (m_refuseUserPacket.load())
    {
      case 1: throw std::runtime_error("the user packet is refused");
      case 2: throw CORBA::NO_PERMISSION(0, CORBA::COMPLETED_NO);
      default: break;
    }
    return Krovane::SyncServerImpl::GetUserPacket();
  }

  void ProbeObject::Remove()
  {
    Krovane::SyncServerImpl::Remove();
    if (m_deactivateOnRemove.load())
    {
      PortableServer::ObjectId_var id = OwnId();
      m_poa->deactivate_object(id.in());
    }
  }

  void ProbeObject::ping()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject ping: operations %d, current operation %C, token \"%C\"\n"),
               NumOperations(), CurrentOperationName().c_str(), Hex(ThreadToken()).c_str()));
  }

  char* ProbeObject::UserTokenSeen()
  {
    return CORBA::string_dup(Hex(ThreadToken()).c_str());
  }

  CORBA::Long ProbeObject::NumOperationsSeen()
  {
    return NumOperations();
  }

  namespace
  {
    // The job a Work registers for its thread: says when a canceller reaches it.
    class WorkJob : public Halvern_Utilities::Job
    {
    protected:
      void OnCancel() override { ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject Work's job cancelled\n"))); }
    };
  }

  void ProbeObject::Work(CORBA::Long maxMilliseconds)
  {
    WorkJob job;
    Halvern_Utilities::JobGuard registered(job);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMilliseconds);
    std::unique_lock<std::mutex> lock(s_workLock);
    // Read before the start is told: a release that follows the news counts.
    const unsigned long releases = s_releases;
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject Work started as %C\n"), CurrentOperationName().c_str()));
    // Bounded by the deadline; each pass looks for a cancellation, at least every 5 ms.
    while (s_releases == releases && std::chrono::steady_clock::now() < deadline)
    {
      lock.unlock();
      try
      {
        ServiceCancellation();
      }
      catch (const Krovane::OperationCancelled&)
      {
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject Work cancelled\n")));
        throw;
      }
      lock.lock();
      s_workReleased.wait_for(lock, std::chrono::milliseconds(5));
    }
    const bool released = s_releases != releases;
    lock.unlock();
    if (released)
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject Work released\n")));
    else
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject Work ran out of time\n")));
  }

  void ProbeObject::ReleaseWork()
  {
    {
      std::lock_guard<std::mutex> guard(s_workLock);
      ++s_releases;
    }
    s_workReleased.notify_all();
  }

  void ProbeObject::Fail(const char* reason)
  {
    throw Krovane::SysException(reason);
  }

  Krovane::IAsyncExceptionHolder_ptr ProbeObject::CreateExceptionHolder(const char* reason)
  {
    PortableServer::POA_var root = Krovane::KroSystem::Instance(1)->GetRootPOA();
    PortableServer::ServantBase_var holder = new ProbeExceptionHolder(reason);
    PortableServer::ObjectId_var id = root->activate_object(holder.in());
    CORBA::Object_var reference = root->id_to_reference(id.in());
    return Krovane::IAsyncExceptionHolder::_narrow(reference.in());
  }

  char* ProbeObject::CallOther(KroProbe::IProbe_ptr other)
  {
    Krovane::SynchronousOperation* const operationBefore = Krovane::threadLocalOperation->m_operation;
    const std::string tokenBefore = ThreadToken();

    std::string inner;
    try
    {
      CORBA::String_var seen = other->UserTokenSeen();
      inner = seen.in();
    }
    catch (const CORBA::Exception& ex)
    {
      inner = ex._name();
    }

    const bool tokenKept = ThreadToken() == tokenBefore;
    const char* operation = !operationBefore ? "none"
      : (Krovane::threadLocalOperation->m_operation == operationBefore ? "kept" : "lost");
    const std::string report = "inner " + inner + ", token " + (tokenKept ? "kept" : "lost") +
                               ", operation " + operation;
    return CORBA::string_dup(report.c_str());
  }

  void ProbeObject::DeactivateOnRemove()
  {
    m_deactivateOnRemove.store(true);
  }

  void ProbeObject::Deactivate()
  {
    PortableServer::ObjectId_var id = OwnId();
    CORBA::Object_var reference = m_poa->id_to_reference(id.in());
    Krovane::ISyncServer_var server = Krovane::ISyncServer::_narrow(reference.in());
    Krovane::ServerObjectTable::Instance(PortableServer::POA::_nil())->RemoveObject(server.in());
    m_poa->deactivate_object(id.in());
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeObject deactivated\n")));
  }

  void ProbeObject::RefuseUserPacket(const char* how)
  {
    const std::string mode = how;
    m_refuseUserPacket.store(mode == "std" ? 1 : mode == "corba" ? 2 : 0);
  }

  void ProbeObject::StartIdleShutdown()
  {
    std::function<void()> starter;
    {
      std::lock_guard<std::mutex> guard(s_starterLock);
      starter = s_idleShutdownStarter;
    }
    if (!starter)
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
    starter();
  }

  PortableServer::ObjectId* ProbeObject::OwnId()
  {
    return m_poa->servant_to_id(this);
  }

  // --- ProbeExceptionHolder --------------------------------------------------

  ProbeExceptionHolder::ProbeExceptionHolder(const std::string& reason) : m_reason(reason) {}

  ProbeExceptionHolder::~ProbeExceptionHolder()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeExceptionHolder destroyed\n")));
  }

  void ProbeExceptionHolder::raise()
  {
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ProbeExceptionHolder raise: thread token \"%C\", current operation %C\n"),
               Hex(ThreadToken()).c_str(), CurrentOperationName().c_str()));
    throw Krovane::SysException(m_reason.c_str());
  }
}
