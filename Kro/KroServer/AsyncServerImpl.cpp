#include "KroServer/AsyncServerImpl.h"

#include "KroServer/AsyncExceptionHolderImpl.h"
#include "KroServer/AsyncOperationExceptionHolderImpl.h"
#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/AsynchronousRouter.h"
#include "KroServer/OperationJournal.h"
#include "KroServer/ServerStop.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "KroServer/UnguessableObjectIds.h"
#include "OrbLayer/PrintException.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <algorithm>
#include <string>
#include <unordered_set>

namespace Krovane
{
  namespace
  {
    // Seconds a handler may take per callback of an end sent from the journal.
    const int kKeptEndSeconds = 10;

    AsynchronousOperation* FindById(AsynchronousOperationList* list, int operationId)
    {
      for (AsynchronousOperation* operation : *list)
        if (operation->GetId() == operationId)
          return operation;
      return nullptr;
    }

    // The relay servant behind handler in poa (held by servant), or null when
    // handler denotes an object of another POA or another kind.
    AsynchronousHandler* RelayBehind(PortableServer::POA_ptr poa, IAsyncHandler_ptr handler,
                                     PortableServer::ServantBase_var& servant)
    {
      try
      {
        servant = poa->reference_to_servant(handler);
      }
      catch (const PortableServer::POA::WrongAdapter&)
      {
        return nullptr;
      }
      return dynamic_cast<AsynchronousHandler*>(servant.in());
    }

    // Deletes the lists and every operation in them, each once, even one
    // that stands in both.
    void DeleteAll(AsynchronousOperationList*& active, FinishedOperations*& finished)
    {
      std::unordered_set<AsynchronousOperation*> owned(active->begin(), active->end());
      finished->Release([&owned](AsynchronousOperation* operation) { owned.insert(operation); });
      for (AsynchronousOperation* operation : owned)
        delete operation;
      delete active;
      delete finished;
      active = nullptr;
      finished = nullptr;
    }

    // Takes cancelled operations out of the pool before they are told they
    // were cancelled, so that no place in line reaches them afterwards, and
    // lets those withdrawn go of their routers when the scope ends. Declared
    // before the object's lock guard: a router let go of may delete itself.
    class PoolWithdrawals
    {
    public:
      PoolWithdrawals() = default;
      PoolWithdrawals(const PoolWithdrawals&) = delete;
      PoolWithdrawals& operator=(const PoolWithdrawals&) = delete;
      ~PoolWithdrawals()
      {
        for (AsynchronousOperation* operation : m_withdrawn)
          operation->ReleaseRouter();
      }

      // Takes operation out of the pool's queue if it waits there.
      void Withdraw(AsynchronousOperation* operation)
      {
        if (AsynchronousRouter::s_pThreadPoolThreadingPolicy->Withdraw(operation))
          m_withdrawn.push_back(operation);
      }

    private:
      std::vector<AsynchronousOperation*> m_withdrawn;  // out of the queue, router still held
    };
  }

  std::atomic<std::size_t> AsyncServerImpl::s_holdersKept{100};

  AsyncServerImpl::AsyncServerImpl(PortableServer::POA_ptr poa, int trackOperations)
    : SyncServerImpl(poa, trackOperations),
      m_activeOperations(new AsynchronousOperationList),
      m_finishedOperations(new FinishedOperations)
  {
  }

  AsyncServerImpl::~AsyncServerImpl()
  {
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    DeleteAll(m_activeOperations, m_finishedOperations);
  }

  AsynchronousOperation* AsyncServerImpl::FindActive(int operationId)
  {
    return FindById(m_activeOperations, operationId);
  }

  AsynchronousOperation* AsyncServerImpl::FindFinished(int operationId)
  {
    return m_finishedOperations->Find(operationId);
  }

  AsynchronousOperation* AsyncServerImpl::FindOperation(int operationId)
  {
    AsynchronousOperation* operation = FindActive(operationId);
    return operation ? operation : FindFinished(operationId);
  }

  InvalidOperationId AsyncServerImpl::UnknownOperation(int operationId)
  {
    return InvalidOperationId(("no operation " + std::to_string(operationId) +
                               " on this object: never submitted, or ended and no longer kept (the latest " +
                               std::to_string(FinishedOperations::KeptPerObject()) + " ended ones are)")
                                .c_str());
  }

  void AsyncServerImpl::AddFinished(AsynchronousOperation* operation)
  {
    // A mark on the operation: it may be added on several paths.
    if (!operation->MarkKeptAsFinished())
      return;
    // Before the client hears of the end (Dispatch sends Finished after this).
    if (m_journal)
      m_journal->Ended(m_journalKey, operation->GetId(), operation->GetState());
    m_finishedOperations->Add(operation);
  }

  void AsyncServerImpl::AttachJournal(OperationJournal* journal, const std::string& key)
  {
    m_journal = journal;
    m_journalKey = key;
  }

  bool AsyncServerImpl::SendKeptEnd(CORBA::Long operationId, IAsyncHandler_ptr handler)
  {
    OperationJournal::End end;
    if (!m_journal || !m_journal->EndOf(m_journalKey, operationId, end))
      return false;
    if (CORBA::is_nil(handler))
      return true;
    // Through a relay of its own: each callback bounded, a client that has
    // gone does not hold this request. Delivered before this request
    // returns, whatever the relays' default: a client that asks the state
    // next and finds the end must already have the results.
    AsynchronousHandler* to = new AsynchronousHandler(handler);
    const PortableServer::ServantBase_var ownership = to;
    to->setDelivery(AsynchronousHandler::Delivery::kWaiting);
    to->setTimeout(kKeptEndSeconds);
    try
    {
      if (end.hasResults)
        to->Results(end.data);
      if (!end.failure.empty())
      {
        IAsyncExceptionHolder_var holder =
          CreateKroExceptionHolder(new AsyncOperationExceptionHolderImpl(end.failure));
        to->Error(holder.in());
      }
      to->Finished(CORBA::Any());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsyncServerImpl::RegisterNewHandler sending a kept end");
    }
    return true;
  }

  int AsyncServerImpl::NumOperations()
  {
    const int synchronous = SyncServerImpl::NumOperations();
    ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, synchronous);
    return synchronous + static_cast<int>(m_activeOperations->size());
  }

  int AsyncServerImpl::NumAsynchronousOperations()
  {
    ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, 0);
    return static_cast<int>(m_activeOperations->size());
  }

  void AsyncServerImpl::cleanupAsynchronousOperationLists(AsynchronousOperation* operation)
  {
    {
      ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
      m_activeOperations->remove(operation);
      AddFinished(operation);
    }
    ServerStop::Instance().NoteOperationEnded();  // a stop may be waiting for it
  }

  void AsyncServerImpl::CancelOperation(CORBA::Long operationId)
  {
    PoolWithdrawals withdrawals;
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    AsynchronousOperation* operation = FindActive(operationId);
    if (!operation)
      throw InvalidOperationId();
    FinishedOnExit finished(*this, operation);
    withdrawals.Withdraw(operation);
    operation->Cancel();
  }

  OperationState AsyncServerImpl::GetOperationState(CORBA::Long operationId)
  {
    {
      ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, Finished);
      if (AsynchronousOperation* operation = FindOperation(operationId))
        return operation->GetState();
    }
    throw UnknownOperation(operationId);
  }

  void AsyncServerImpl::RegisterNewHandler(CORBA::Long operationId, IAsyncHandler_ptr handler)
  {
    if (m_journal)
    {
      {
        ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
        if (!FindOperation(operationId))
          throw UnknownOperation(operationId);
      }
      // An ended operation whose end the journal kept (one from before a
      // restart, too) tells the new handler how it ended; sent without the lock.
      if (SendKeptEnd(operationId, handler))
        return;
    }
    // The relay is told outside the object's lock: it may be waiting on a
    // client's callback, and no other request on this object may wait with it.
    RelayLink link;
    IAsyncHandler_var current;
    {
      ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
      AsynchronousOperation* operation = FindOperation(operationId);
      if (!operation)
        throw UnknownOperation(operationId);
      link = operation->Relay();
      if (!link.DirectRelay())
        current = operation->GetHandler();
    }

    // The relay the operation calls directly is the one of this object's
    // POA: it takes the handler without a look-up by reference (for which a
    // relay that activates on demand would be activated).
    if (AsynchronousHandler* relay = link.DirectRelay())
    {
      relay->setProxyHandler(handler);
      return;
    }
    if (CORBA::is_nil(current.in()))
      return;
    PortableServer::ServantBase_var servant;
    try
    {
      if (AsynchronousHandler* relay = RelayBehind(m_poa.in(), current.in(), servant))
      {
        relay->setProxyHandler(handler);
        return;
      }
    }
    catch (const PortableServer::POA::ObjectNotActive&)
    {
      // The operation has just ended and retired its relay: no callback is
      // left for a new handler.
      return;
    }
    // The operation talks to the client's object directly, not through a
    // relay of this object: the new object takes its place.
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    if (AsynchronousOperation* operation = FindOperation(operationId))
      operation->SetHandler(IAsyncHandler::_duplicate(handler));
  }

  void AsyncServerImpl::CancelAllOperations()
  {
    SyncServerImpl::CancelAllOperations();
    PoolWithdrawals withdrawals;
    ACE_GUARD(ACE_Recursive_Thread_Mutex, guard, m_asyncLock);
    for (AsynchronousOperation* operation : *m_activeOperations)
    {
      withdrawals.Withdraw(operation);
      CancelQuietly(operation);
      AddFinished(operation);
    }
    m_activeOperations->clear();
  }

  void AsyncServerImpl::UpdateUserToken(const Krovane::UserToken& token)
  {
    SyncServerImpl::UpdateUserToken(token);
    if (m_journal)
      m_journal->UserChanged(m_journalKey, SyncServerImpl::GetUserPacket().GetToken());
  }

  void AsyncServerImpl::Remove()
  {
    SyncServerImpl::Remove();
    RetireExceptionHolders();
  }

  bool AsyncServerImpl::CancelQuietly(AsynchronousOperation* operation)
  {
    try
    {
      return operation->CancelWaitingOrRunning();
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsyncServerImpl::CancelAllOperations");
    }
    catch (...)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********AsyncServerImpl::CancelAllOperations Unknown exception.\n")));
    }
    return false;
  }

  void AsyncServerImpl::RetireExceptionHolders()
  {
    std::deque<PortableServer::ObjectId> holders;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_holderLock);
      holders.swap(m_holders);
    }
    PortableServer::POA_var poa = _default_POA();
    for (const PortableServer::ObjectId& id : holders)
      RetireHolder(poa.in(), id);
  }

  void AsyncServerImpl::RetireHolder(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id)
  {
    try
    {
      poa->deactivate_object(id);
    }
    catch (const PortableServer::POA::ObjectNotActive&)
    {
      // raised by its client, and gone since
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsyncServerImpl::RetireExceptionHolders");
    }
  }

  bool AsyncServerImpl::RegisterWrappedAsynchronousHandlerTimeout(IAsyncHandler_ptr handler, int timeout)
  {
    if (timeout <= 0 || CORBA::is_nil(handler))
      return false;
    PortableServer::ServantBase_var servant;
    AsynchronousHandler* relay = RelayBehind(m_poa.in(), handler, servant);
    if (!relay)
      return false;
    relay->setTimeout(timeout);
    return true;
  }

  void AsyncServerImpl::SetExceptionHoldersKept(std::size_t n)
  {
    if (n > 0)
      s_holdersKept.store(n);
  }

  IAsyncExceptionHolder_ptr AsyncServerImpl::CreateKroExceptionHolder(AsyncExceptionHolderImpl* holder)
  {
    PortableServer::POA_var poa = _default_POA();
    PortableServer::ServantBase_var ownership = holder;
    PortableServer::ObjectId_var id = UnguessableObjectIds::Activate(poa.in(), holder);
    PortableServer::ObjectId_var retired;
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_holderLock, IAsyncExceptionHolder::_nil());
      // Ids of holders raised since stay until their turn: no look at the
      // others, whose number a failing client decides.
      m_holders.push_back(id.in());
      if (m_holders.size() > s_holdersKept.load())
      {
        retired = new PortableServer::ObjectId(m_holders.front());
        m_holders.pop_front();
      }
    }
    if (retired.operator->())
      RetireHolder(poa.in(), retired.in());
    CORBA::Object_var reference = poa->servant_to_reference(holder);
    IAsyncExceptionHolder_var result = IAsyncExceptionHolder::_narrow(reference.in());
    if (CORBA::is_nil(result.in()))
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) exceptionHolder is null\n")));
    return result._retn();
  }
}
