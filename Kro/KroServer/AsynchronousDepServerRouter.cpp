#include "KroServer/AsynchronousDepServerRouter.h"

#include "KroServer/AsynchronousDepServerOperation.h"
#include "KroServer/SysExceptionHolderImpl.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "KroServer/UserTokenOctets.h"
#include "OrbLayer/PrintException.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Thread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>

namespace Krovane
{
  DependentServerList* AsynchronousDepServerRouter::s_pDSList = nullptr;

  namespace
  {
    std::atomic<bool> s_poolOpened(false);  // by the first submission of a router of this class
  }

  ACE_Thread_Mutex* AsynchronousDepServerRouter::GetAccessLock()
  {
    static ACE_Thread_Mutex* lock = new ACE_Thread_Mutex;  // made once, even by concurrent first calls
    return lock;
  }

  AsynchronousDepServerRouter::AsynchronousDepServerRouter(PortableServer::POA_ptr poa, IAsyncServer_ptr server,
                                                           int maxThreads, int stackSize,
                                                           DependentServerList* list,
                                                           DependentServerEntry* entry)
    : AsynchronousRouter(poa, server, maxThreads, stackSize), m_pDepServerEntry(entry)
  {
    // Routers are made on several request threads at once: the registry is
    // only ever looked at under the access lock.
    ACE_GUARD(ACE_Thread_Mutex, guard, *GetAccessLock());
    if (!s_pDSList)
      s_pDSList = list;
  }

  AsynchronousDepServerRouter::~AsynchronousDepServerRouter() {}

  const Halvern_Utilities::UserPacket& AsynchronousDepServerRouter::GetUserPacket() const
  {
    return SyncServerImpl::GetUserPacket();
  }

  DependentServerList* AsynchronousDepServerRouter::GetDepServerList()
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, *GetAccessLock(), nullptr);
    return s_pDSList;
  }

  DependentServerEntry* AsynchronousDepServerRouter::GetDepServerEntry()
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_dependentLock, nullptr);
    return m_pDepServerEntry;
  }

  IAsyncServer_ptr AsynchronousDepServerRouter::GetServer()
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_dependentLock, Krovane::IAsyncServer::_nil());
    return Krovane::IAsyncServer::_duplicate(m_server.in());
  }

  void AsynchronousDepServerRouter::SetServer(IAsyncServer_ptr server)
  {
    IAsyncServer_var old;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_dependentLock);
    old = m_server._retn();
    m_server = Krovane::IAsyncServer::_duplicate(server);
  }

  int AsynchronousDepServerRouter::SubmitAsynchronousOperation(const std::string& name, IAsyncServer_ptr server,
                                                               IAsyncHandler_ptr handler,
                                                               std::vector<Halvern_Utilities::Variant>* params)
  {
    return SubmitAsynchronousOperation(name, server, handler, params, Restartable::No);
  }

  int AsynchronousDepServerRouter::SubmitAsynchronousOperation(const std::string& name, IAsyncServer_ptr,
                                                               IAsyncHandler_ptr handler,
                                                               std::vector<Halvern_Utilities::Variant>* params,
                                                               Restartable restartable)
  {
    RefuseBeyondQueueLimit();
    AsynchronousDepServerOperation* operation = nullptr;
    int id = -1;
    {
      ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, -1);
      if (!s_poolOpened.exchange(true))
        s_pThreadPoolThreadingPolicy->open(0);
      if ((m_activeOperations && !m_activeOperations->empty()) || DispatchStillRuns())
        throw Unavailable();
      id = MakeNewOperationID();
      operation = new (std::nothrow)
        AsynchronousDepServerOperation(SelfReference(), name.c_str(), id, handler, this, params);
      if (!operation)
        return -1;
      // Listed in the same critical section as the test above, so that two
      // submissions at once cannot both pass it.
      operation->SetRestartable(restartable);
      operation->SetState(Queued);
      m_activeOperations->push_back(operation);
      m_lastOperation = operation;
    }
    operation->SetOwner(UserName());
    operation->HoldRouter();
    s_pThreadPoolThreadingPolicy->Submit(operation);
    return id;
  }

  bool AsynchronousDepServerRouter::DispatchStillRuns() const
  {
    return m_lastOperation && !m_lastOperation->IsWorkOver();
  }

  DependentServerEntry* AsynchronousDepServerRouter::ClaimEntry(IAsyncHandler_ptr handler, int operationId,
                                                                unsigned long threadId,
                                                                const std::vector<DependentServerEntry*>& failed)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, *GetAccessLock(), nullptr);
    if (!s_pDSList)
      return nullptr;
    for (DependentServerEntry* entry : *s_pDSList)
    {
      if (entry && entry->isAvailable() && std::find(failed.begin(), failed.end(), entry) == failed.end())
      {
        entry->SetAvailable(false);
        entry->SetHandler(handler);
        entry->SetOpId(operationId);
        entry->SetThreadId(threadId);
        return entry;
      }
    }
    return nullptr;
  }

  ISyncServer_ptr AsynchronousDepServerRouter::CreateDependentObject(IServerFactory_ptr factory,
                                                                     const UserToken& token)
  {
    try
    {
      return factory->CreateObject(token);
    }
    catch (const CORBA::COMM_FAILURE&)
    {
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) AsynchronousDepServerRouter::DispatchOperation(COMM_FAILURE - retrying)\n")));
      return factory->CreateObject(token);
    }
  }

  void AsynchronousDepServerRouter::SetRetries(int retries)
  {
    m_retries.store(retries < 0 ? 0 : retries);
  }

  int AsynchronousDepServerRouter::RetriesOfCurrentOperation() const
  {
    const AsynchronousOperation* current = AsynchronousOperation::Current();
    return current && current->IsRestartable() ? m_retries.load() : 0;
  }

  DependentServerEntry* AsynchronousDepServerRouter::FailOver(IAsyncHandler_ptr handler, int operationId,
                                                              std::vector<DependentServerEntry*>& failed)
  {
    failed.push_back(GetDepServerEntry());
    DependentServerEntry* next =
      ClaimEntry(handler, operationId, static_cast<unsigned long>(ACE_Thread::self()), failed);
    if (!next)
      return nullptr;
    try
    {
      Cleanup();
    }
    catch (const CORBA::SystemException&)
    {
      // Printed by Cleanup: the failed server's object could not be removed.
    }
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_dependentLock, next);
      m_pDepServerEntry = next;
    }
    const std::string text = "retrying on " + next->GetServerName();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) AsynchronousDepServerRouter: operation %d %C\n"), operationId,
               text.c_str()));
    if (!CORBA::is_nil(handler))
    {
      try
      {
        handler->Status(text.c_str());
      }
      catch (const CORBA::Exception& ex)
      {
        KroOrb::PrintException(ex, "AsynchronousDepServerRouter::DispatchOperation telling the client of a retry");
      }
    }
    return next;
  }

  void AsynchronousDepServerRouter::DispatchOperation(const std::string& name, int operationId,
                                                      IAsyncHandler_ptr handler,
                                                      std::vector<Halvern_Utilities::Variant>* params)
  {
    bool cleanedUp = false;
    auto cleanUpOnce = [&] {
      if (!cleanedUp)
      {
        cleanedUp = true;
        Cleanup();
      }
    };
    try
    {
      DependentServerEntry* entry =
        ClaimEntry(handler, operationId, static_cast<unsigned long>(ACE_Thread::self()));
      {
        ACE_GUARD(ACE_Thread_Mutex, guard, m_dependentLock);
        m_pDepServerEntry = entry;
      }
      if (!entry)
      {
        cleanUpOnce();
        return;
      }

      // Forwarded exactly as the client sent it: a signed token must arrive unchanged.
      const UserToken token = UserTokenOctets::Octets(Halvern_Utilities::threadLocalUserPacket->GetToken());
      std::vector<DependentServerEntry*> failed;  // by this operation: not claimed again for it
      for (int retriesLeft = RetriesOfCurrentOperation();; --retriesLeft)
      {
        IServerFactory_var factory = entry->GetFactory();
        ServiceCancellation();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));

        ISyncServer_var object;
        try
        {
          object = CreateDependentObject(factory.in(), token);
        }
        catch (const CORBA::SystemException& ex)
        {
          if (retriesLeft > 0)
          {
            KroOrb::PrintException(ex, "AsynchronousDepServerRouter::DispatchOperation");
            if (DependentServerEntry* next = FailOver(handler, operationId, failed))
            {
              entry = next;
              continue;
            }
          }
          ReportUnreachable(handler, entry->GetServerName(), ex);
          throw;
        }
        IAsyncServer_var dependent = Krovane::IAsyncServer::_narrow(object.in());
        SetServer(dependent.in());

        try
        {
          ExecuteOperation(name, params);
        }
        catch (const DependentServerLost& lost)
        {
          if (retriesLeft > 0)
          {
            if (DependentServerEntry* next = FailOver(handler, operationId, failed))
            {
              entry = next;
              continue;
            }
          }
          ReportLost(handler, lost.what);
        }
        break;
      }
      cleanUpOnce();
    }
    catch (const OperationCancelled&)
    {
      cleanUpOnce();
      throw;
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousDepServerRouter::DispatchOperation");
      cleanUpOnce();
      throw;
    }
    catch (...)
    {
      cleanUpOnce();
      throw;
    }
  }

  void AsynchronousDepServerRouter::ReportLost(IAsyncHandler_ptr handler, const std::string& what)
  {
    if (CORBA::is_nil(handler))
      return;
    try
    {
      IAsyncExceptionHolder_var holder = CreateKroExceptionHolder(new SysExceptionHolderImpl(what));
      handler->Error(holder.in());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousDepServerRouter::DispatchOperation reporting a lost server");
    }
  }

  void AsynchronousDepServerRouter::ReportUnreachable(IAsyncHandler_ptr handler, const std::string& serverName,
                                                      const CORBA::SystemException& failure)
  {
    if (CORBA::is_nil(handler))
      return;
    try
    {
      IAsyncExceptionHolder_var holder = CreateKroExceptionHolder(new SysExceptionHolderImpl(
        "dependent server \"" + serverName + "\" cannot be reached (" + failure._name() + ")"));
      handler->Error(holder.in());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousDepServerRouter::DispatchOperation reporting an unreachable server");
    }
  }

  void AsynchronousDepServerRouter::Cleanup()
  {
    DependentServerEntry* entry = nullptr;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_dependentLock);
      entry = m_pDepServerEntry;
      m_pDepServerEntry = nullptr;
    }
    if (entry)
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, *GetAccessLock());
      entry->SetAvailable(true);
      entry->SetHandler(IAsyncHandler::_nil());
      entry->SetOpId(0);
      entry->SetThreadId(0);
    }

    IAsyncServer_var server = GetServer();
    if (CORBA::is_nil(server.in()))
      return;
    try
    {
      server->Remove();
    }
    catch (const CORBA::SystemException& ex)
    {
      // The dependent server is gone or unreachable: keeping its reference
      // would only make every later pass-on fail (the router's own Remove
      // among them).
      KroOrb::PrintException(ex, "AsynchronousDepServerRouter::Cleanup()");
      SetServer(Krovane::IAsyncServer::_nil());
      throw;
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousDepServerRouter::Cleanup()");
      throw;
    }
    SetServer(Krovane::IAsyncServer::_nil());
  }

  void AsynchronousDepServerRouter::CancelOperation(CORBA::Long operationId)
  {
    KeepAlive keep(this);
    IAsyncServer_var server = GetServer();
    if (!CORBA::is_nil(server.in()))
    {
      try
      {
        server->CancelOperation(operationId);
      }
      catch (const CORBA::Exception& ex)
      {
        KroOrb::PrintException(ex, "AsynchronousDepServerRouter::CancelAllOperations()");
      }
    }

    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    AsynchronousOperation* operation = FindActive(operationId);
    if (!operation)
      throw InvalidOperationId();
    Withdrawal withdrawal(operation, m_poa.in(), false);
    // A running one leaves the active list when its dispatch ends, and the
    // router stays busy until then.
    if (operation->CancelWaitingOrRunning())
      cleanupAsynchronousOperationLists(operation);
  }

  void AsynchronousDepServerRouter::CancelAllOperations()
  {
    KeepAlive keep(this);
    IAsyncServer_var server = GetServer();
    if (!CORBA::is_nil(server.in()))
    {
      try
      {
        server->CancelAllOperations();
      }
      catch (const CORBA::Exception& ex)
      {
        KroOrb::PrintException(ex, "AsynchronousDepServerRouter::CancelAllOperations()");
      }
    }

    SyncServerImpl::CancelAllOperations();
    // The application retires this router's relays; a running operation
    // keeps the router busy until its work is over (DispatchStillRuns).
    CancelEachActive(false);
  }

  void AsynchronousDepServerRouter::Remove()
  {
    RefuseWhileBusy();
    LeaveTable();

    IAsyncServer_var server = GetServer();
    if (!CORBA::is_nil(server.in()))
      server->Remove();

    RetireExceptionHolders();
  }
}
