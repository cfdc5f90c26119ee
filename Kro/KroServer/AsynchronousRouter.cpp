#include "KroServer/AsynchronousRouter.h"

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/BoundedText.h"
#include "KroServer/OperationJournal.h"
#include "KroServer/ServerObjectTable.h"
#include "KroServer/ServerStop.h"
#include "KroServer/StopNoticeHolder.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "KroServer/UserLimits.h"
#include "OrbLayer/PrintException.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <atomic>
#include <new>
#include <utility>
#include <vector>

namespace Krovane
{
  ThreadPoolThreadingPolicy* AsynchronousRouter::s_pThreadPoolThreadingPolicy =
    new ThreadPoolThreadingPolicy(1, 5);

  namespace
  {
    std::atomic<bool> s_poolConfigured(false);  // by the first router's constructor
    std::atomic<bool> s_poolOpened(false);      // by the first submission
  }

  AsynchronousRouter::KeepAlive::KeepAlive(PortableServer::ServantBase* servant) : m_servant(servant)
  {
    m_servant->_add_ref();
  }

  AsynchronousRouter::KeepAlive::~KeepAlive()
  {
    m_servant->_remove_ref();
  }

  AsynchronousRouter::Withdrawal::Withdrawal(AsynchronousOperation* operation, PortableServer::POA_ptr poa,
                                             bool retireHandler)
    : m_operation(operation),
      m_poa(poa),
      m_retireHandler(retireHandler),
      m_withdrawn(s_pThreadPoolThreadingPolicy->Withdraw(operation) != 0)
  {
  }

  AsynchronousRouter::Withdrawal::~Withdrawal()
  {
    if (!m_withdrawn)
      return;
    if (m_retireHandler)
      m_operation->RetireHandler(m_poa);
    m_operation->ReleaseRouter();
  }

  bool AsynchronousRouter::ConfigurePool(int minThreads, int maxThreads, int stackSize, int startPauseMs)
  {
    s_poolConfigured = true;
    ThreadPoolThreadingPolicy* pool = s_pThreadPoolThreadingPolicy;
    // The maximum first: the minimum may not exceed it.
    return pool->setMax(maxThreads) && (minThreads <= 0 || pool->setMin(minThreads)) &&
           (stackSize <= 0 || pool->setStackSize(stackSize)) &&
           (startPauseMs < 0 || pool->setStartPause(startPauseMs));
  }

  AsynchronousRouter::AsynchronousRouter(PortableServer::POA_ptr poa, IAsyncServer_ptr server,
                                         int maxThreads, int stackSize)
    : AsyncServerImpl(poa, 1), m_server(Krovane::IAsyncServer::_duplicate(server))
  {
    if (!s_poolConfigured.exchange(true))
    {
      s_pThreadPoolThreadingPolicy->setMax(maxThreads);
      if (stackSize > 0)
        s_pThreadPoolThreadingPolicy->setStackSize(stackSize);
    }
  }

  AsynchronousRouter::~AsynchronousRouter() {}

  IAsyncServer_ptr AsynchronousRouter::SelfReference()
  {
    if (CORBA::is_nil(m_self.in()))
      m_self = OwnReference<Krovane::IAsyncServer>();
    return m_self.in();
  }

  void AsynchronousRouter::LookUpServed() const
  {
    if (m_servedServant.in() || CORBA::is_nil(m_server.in()))
      return;
    PortableServer::ServantBase_var servant = m_poa->reference_to_servant(m_server.in());
    if (servant.in() == this)
      return;  // a router that serves itself has no other user
    m_servedServer = dynamic_cast<SyncServerImpl*>(servant.in());
    m_servedServant = servant._retn();
  }

  PortableServer::Servant AsynchronousRouter::ServedServant() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_servedLock, nullptr);
    LookUpServed();
    return m_servedServant.in();
  }

  SyncServerImpl* AsynchronousRouter::ServedServer() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_servedLock, nullptr);
    LookUpServed();
    return m_servedServer;
  }

  const Halvern_Utilities::UserPacket& AsynchronousRouter::GetUserPacket() const
  {
    if (SyncServerImpl* served = ServedServer())
      return served->GetUserPacket();
    return SyncServerImpl::GetUserPacket();
  }

  void AsynchronousRouter::UpdateUserToken(const Krovane::UserToken& token)
  {
    SyncServerImpl::UpdateUserToken(token);  // refused here when the verifier says no
    SyncServerImpl* served = ServedServer();
    if (served && served != this)
      served->SetUserToken(token);
  }

  int AsynchronousRouter::SubmitAsynchronousOperation(const std::string& name, IAsyncServer_ptr,
                                                      IAsyncHandler_ptr handler,
                                                      std::vector<Halvern_Utilities::Variant>* parameters)
  {
    return Submit(name, handler, nullptr, parameters, nullptr, Restartable::No);
  }

  int AsynchronousRouter::SubmitAsynchronousOperation(const std::string& name, IAsyncHandler_ptr handler,
                                                      std::vector<Halvern_Utilities::Variant> parameters,
                                                      Restartable restartable)
  {
    return Submit(name, handler, nullptr, nullptr, &parameters, restartable);
  }

  int AsynchronousRouter::SubmitAsynchronousOperation(const std::string& name, AsynchronousHandler& relay,
                                                      std::vector<Halvern_Utilities::Variant> parameters,
                                                      Restartable restartable)
  {
    return Submit(name, IAsyncHandler::_nil(), &relay, nullptr, &parameters, restartable);
  }

  int AsynchronousRouter::Submit(const std::string& name, IAsyncHandler_ptr handler, AsynchronousHandler* relay,
                                 std::vector<Halvern_Utilities::Variant>* parameters,
                                 std::vector<Halvern_Utilities::Variant>* owned, Restartable restartable)
  {
    ServerStop::Instance().RefuseIfStopping();
    RefuseBeyondQueueLimit();
    AsynchronousOperation* operation = nullptr;
    int id = -1;
    {
      ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, -1);
      id = MakeNewOperationID();
      operation = new (std::nothrow)
        AsynchronousOperation(SelfReference(), BoundedText::Of(name).c_str(), id, handler, this, parameters);
    }
    if (!operation)
      return -1;
    if (owned)
      operation->OwnParameters(std::move(*owned));
    if (m_journal)
    {
      // In the journal before the client has the id; refused (Unavailable) when it cannot be.
      static const std::vector<Halvern_Utilities::Variant> none;
      const std::vector<Halvern_Utilities::Variant>* kept = operation->GetParameters();
      try
      {
        m_journal->Submitted(m_journalKey, id, name, kept ? *kept : none, restartable == Restartable::Yes);
      }
      catch (...)
      {
        delete operation;
        throw;
      }
    }
    if (relay)
      operation->LinkRelay(*relay);
    operation->SetRestartable(restartable);
    Enqueue(operation);
    return id;
  }

  void AsynchronousRouter::Enqueue(AsynchronousOperation* operation)
  {
    // The pool bounds the threads one user's work holds while others wait.
    operation->SetOwner(UserName());
    operation->SetState(Queued);
    {
      ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
      // Tested again under the lock a stop's sweep takes: an operation is
      // either refused here or found there, never neither.
      if (ServerStop::Instance().IsStopping())
      {
        delete operation;
        ServerStop::Instance().RefuseIfStopping();
      }
      if (!s_poolOpened.exchange(true))
        s_pThreadPoolThreadingPolicy->open(0);
      m_activeOperations->push_back(operation);
    }
    operation->HoldRouter();
    s_pThreadPoolThreadingPolicy->Submit(operation);
  }

  void AsynchronousRouter::ContinueIdsAfter(int highest)
  {
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    if (m_nextOperationId <= highest)
      m_nextOperationId = highest + 1;
  }

  void AsynchronousRouter::RestoreEnded(IAsyncServer_ptr self, int id, const std::string& name,
                                        OperationState state)
  {
    AsynchronousOperation* operation =
      new AsynchronousOperation(self, name.c_str(), id, IAsyncHandler::_nil(), this, nullptr);
    operation->SetState(state);
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    // Straight to the list: its end is in the journal already.
    operation->MarkKeptAsFinished();
    m_finishedOperations->Add(operation);
  }

  AsynchronousHandler* AsynchronousRouter::MakeRestoredRelay() { return new AsynchronousHandler(); }

  void AsynchronousRouter::Requeue(IAsyncServer_ptr self, int id, const std::string& name,
                                   std::vector<Halvern_Utilities::Variant> parameters)
  {
    AsynchronousHandler* relay = MakeRestoredRelay();
    const PortableServer::ServantBase_var ownership = relay;  // ours until the operation holds it
    relay->ActivateOnDemandIn(m_poa.in());
    AsynchronousOperation* operation =
      new AsynchronousOperation(self, name.c_str(), id, IAsyncHandler::_nil(), this, nullptr);
    operation->OwnParameters(std::move(parameters));
    operation->LinkRelay(*relay);
    operation->SetRestartable(Restartable::Yes);
    Enqueue(operation);
  }

  int AsynchronousRouter::NumQueuedOperations()
  {
    int queued = 0;
    ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, 0);
    for (AsynchronousOperation* operation : *m_activeOperations)
      if (operation->GetState() == Queued)
        ++queued;
    return queued;
  }

  void AsynchronousRouter::RefuseBeyondQueueLimit()
  {
    const int maxQueued = UserLimits::MaxQueuedOperationsPerUser();
    if (maxQueued <= 0)
      return;
    const std::string user = UserName();
    // Counted through the table: the user's other objects queue work too.
    if (ServerObjectTable::Instance(PortableServer::POA::_nil())->QueuedOperationsOf(user) < maxQueued)
      return;
    ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) AsynchronousRouter: user \"%C\" has %d operations waiting, the limit; "
                                  "another refused\n"), user.c_str(), maxQueued));
    throw CORBA::IMP_LIMIT(0, CORBA::COMPLETED_NO);
  }

  void AsynchronousRouter::CancelOperation(CORBA::Long operationId)
  {
    KeepAlive keep(this);
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    AsynchronousOperation* operation = FindActive(operationId);
    if (!operation)
      throw InvalidOperationId();
    FinishedOnExit finished(*this, operation);
    Withdrawal withdrawal(operation, m_poa.in(), true);
    operation->Cancel();
  }

  void AsynchronousRouter::CancelAllOperations()
  {
    KeepAlive keep(this);
    if (AsyncServerImpl* served = dynamic_cast<AsyncServerImpl*>(ServedServant()))
      served->CancelAllOperations();

    SyncServerImpl::CancelAllOperations();
    CancelEachActive(true);
  }

  void AsynchronousRouter::CancelEachActive(bool retireHandlers)
  {
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    for (AsynchronousOperation* operation : *m_activeOperations)
    {
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) AsyncOperation Cancel called(%d)\n"), operation->GetId()));
      Withdrawal withdrawal(operation, m_poa.in(), retireHandlers);
      CancelQuietly(operation);
      // One whose work has already ended keeps the state it ended with.
      operation->CancelUnlessEnded();
      // Kept, never deleted here: a pool thread may hold a waiting one it
      // has not started, and a running one is found there while its
      // dispatch ends.
      AddFinished(operation);
    }
    m_activeOperations->clear();
  }

  int AsynchronousRouter::CancelForStop()
  {
    // The operations are owned by this router's lists, which it keeps while
    // it lives: they may be told outside the lock, without holding up this
    // object's other requests while clients are called.
    KeepAlive keep(this);
    std::vector<AsynchronousOperation*> waiting;
    std::vector<AsynchronousOperation*> running;
    {
      ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, 0);
      for (AsynchronousOperation* operation : *m_activeOperations)
      {
        // Its work is over: its dispatch is about to send Finished itself.
        if (operation->IsWorkOver())
          continue;
        Withdrawal withdrawal(operation, m_poa.in(), false);
        if (withdrawal.Withdrawn())
        {
          operation->CancelIfQueued();
          waiting.push_back(operation);
        }
        else
          running.push_back(operation);
      }
      for (AsynchronousOperation* operation : waiting)
        cleanupAsynchronousOperationLists(operation);
    }
    // A waiting one will never run: its whole end is told here.
    for (AsynchronousOperation* operation : waiting)
    {
      TellStopping(operation, true);
      operation->RetireHandler(m_poa.in());
    }
    // A running one ends through its dispatch, which sends Finished.
    for (AsynchronousOperation* operation : running)
    {
      TellStopping(operation, false);
      CancelQuietly(operation);
    }
    const int cancelled = static_cast<int>(waiting.size() + running.size());
    if (cancelled > 0)
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) AsynchronousRouter: the server stops; %d operations of user \"%C\" "
                                   "cancelled\n"), cancelled, UserName().c_str()));
    return cancelled;
  }

  void AsynchronousRouter::TellStopping(AsynchronousOperation* operation, bool withFinished)
  {
    const RelayLink relay = operation->Relay();
    if (relay.IsEmpty())
      return;
    try
    {
      relay.Status(ServerStop::kStatus);
      IAsyncExceptionHolder_var holder = CreateKroExceptionHolder(new StopNoticeHolder);
      relay.Error(holder.in());
      if (withFinished)
        relay.Finished(CORBA::Any());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousRouter::TellStopping");
    }
  }

  void AsynchronousRouter::RefuseWhileBusy()
  {
    RefuseWhileRequestsRun();
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    if (!m_activeOperations->empty())
      throw OperationsStillActive();
  }

  void AsynchronousRouter::Remove()
  {
    RefuseWhileBusy();
    // Forgotten first: a removal the journal missed would bring the object back.
    if (m_journal)
      m_journal->Removed(m_journalKey);
    // Looked up before anything changes: a served object this POA cannot
    // name fails the request whole rather than half-way.
    const bool servesAnObject = !CORBA::is_nil(m_server.in());
    PortableServer::ObjectId_var servedId;
    if (servesAnObject)
      servedId = m_poa->reference_to_id(m_server.in());
    LeaveTable();
    if (servesAnObject)
    {
      try
      {
        m_poa->deactivate_object(servedId.in());
      }
      catch (const PortableServer::POA::ObjectNotActive&)
      {
        // removed by its own client already
      }
    }
    RetireExceptionHolders();
  }
}
