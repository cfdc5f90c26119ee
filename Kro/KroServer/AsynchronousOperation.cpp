#include "KroServer/AsynchronousOperation.h"

#include "KroServer/AsynchronousRouter.h"
#include "KroServer/OperationJournal.h"
#include "KroServer/OpnType.h"
#include "KroServer/ServerStop.h"
#include "OrbLayer/PrintException.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Thread.h>

#include <cstdint>
#include <string>
#include <utility>

namespace Krovane
{
  namespace
  {
    // The handler locks operations share: a relay link is only copied or
    // swapped under one, so a few are enough for any number of threads.
    const std::size_t kHandlerLocks = 64;
    std::mutex s_handlerLocks[kHandlerLocks];
  }

  AsynchronousOperation::DispatchEnd::DispatchEnd(AsynchronousOperation* operation)
    : m_operation(operation)
  {
    ServerStop::Instance().NoteDispatchBegan();
  }

  AsynchronousOperation::DispatchEnd::~DispatchEnd()
  {
    OpnType* current = threadLocalOperation.ts_object();
    if (current && current->m_operation == m_operation)
      current->m_operation = nullptr;
    m_operation->ReleaseRouter();
    ServerStop::Instance().NoteDispatchEnded();  // after the last callback: a stop waits for it
  }

  AsynchronousOperation::AsynchronousOperation(IAsyncServer_ptr server, const char* name, int id,
                                               IAsyncHandler_ptr handler, AsynchronousRouter* router,
                                               std::vector<Halvern_Utilities::Variant>* parameters)
    : SynchronousOperation(server, name),
      m_id(id),
      m_router(router),
      m_parameters(parameters),
      m_holdsRouter(false),
      m_workOver(false),
      m_ownsParameters(false)
  {
    if (Watched())  // for operators, when the status endpoint is on
      TrackFor(router, router ? router->UserName() : std::string(), id);
    m_relay = LinkTo(handler);
  }

  AsynchronousOperation::~AsynchronousOperation() { ReleaseOwnedParameters(); }

  void AsynchronousOperation::OwnParameters(std::vector<Halvern_Utilities::Variant> parameters)
  {
    ReleaseOwnedParameters();
    m_parameters = new std::vector<Halvern_Utilities::Variant>(std::move(parameters));
    m_ownsParameters = true;
  }

  void AsynchronousOperation::ReleaseOwnedParameters()
  {
    if (!m_ownsParameters)
      return;
    delete m_parameters;
    m_parameters = nullptr;
    m_ownsParameters = false;
  }

  int AsynchronousOperation::GetId() const { return m_id; }

  std::mutex& AsynchronousOperation::HandlerLock() const
  {
    // Operations are allocated at least 16 bytes apart.
    return s_handlerLocks[(reinterpret_cast<std::uintptr_t>(this) >> 4) % kHandlerLocks];
  }

  IAsyncHandler_ptr AsynchronousOperation::GetHandler() const
  {
    std::lock_guard<std::mutex> guard(HandlerLock());
    return IAsyncHandler::_duplicate(m_relay.Reference());
  }

  void AsynchronousOperation::SetHandler(IAsyncHandler_ptr handler)
  {
    IAsyncHandler_var adopted = handler;
    ReplaceRelay(LinkTo(handler));
  }

  void AsynchronousOperation::LinkRelay(AsynchronousHandler& relay) { ReplaceRelay(RelayLink(relay)); }

  void AsynchronousOperation::ReplaceRelay(RelayLink link)
  {
    // The old link goes after the lock is left (declared before the guard):
    // releasing a relay's servant may delete it.
    RelayLink old;
    std::lock_guard<std::mutex> guard(HandlerLock());
    old = std::move(m_relay);
    m_relay = std::move(link);
  }

  RelayLink AsynchronousOperation::Relay() const
  {
    std::lock_guard<std::mutex> guard(HandlerLock());
    return m_relay;
  }

  RelayLink AsynchronousOperation::LinkTo(IAsyncHandler_ptr handler) const
  {
    if (CORBA::is_nil(handler))
      return RelayLink();
    PortableServer::POA_var poa = m_router ? m_router->_default_POA() : PortableServer::POA::_nil();
    return RelayLink(handler, poa.in());
  }

  AsynchronousOperation* AsynchronousOperation::Current()
  {
    OpnType* current = threadLocalOperation.ts_object();
    return current ? dynamic_cast<AsynchronousOperation*>(current->m_operation) : nullptr;
  }

  RelayLink AsynchronousOperation::CurrentRelay()
  {
    AsynchronousOperation* operation = Current();
    return operation ? operation->Relay() : RelayLink();
  }

  AsynchronousRouter* AsynchronousOperation::GetRouter() const { return m_router; }

  std::vector<Halvern_Utilities::Variant>* AsynchronousOperation::GetParameters() const
  {
    return m_parameters;
  }

  int AsynchronousOperation::operator==(const AsynchronousOperation& other) const
  {
    return m_id == other.m_id ? 1 : 0;
  }

  void AsynchronousOperation::HoldRouter()
  {
    if (m_router && !m_holdsRouter.exchange(true))
      m_router->_add_ref();
  }

  void AsynchronousOperation::ReleaseRouter()
  {
    AsynchronousRouter* router = m_router;
    if (router && m_holdsRouter.exchange(false))
      router->_remove_ref();  // may delete this operation: nothing after it
  }

  void AsynchronousOperation::ReportQueuePosition(int position)
  {
    // Kept with or without a client to tell.
    if (OperationJournal* journal = m_router ? m_router->Journal() : nullptr)
      journal->Place(m_router->JournalKey(), m_id, position);
    const RelayLink relay = Relay();
    if (relay.IsEmpty())
      return;
    // Runs on a pool thread that holds the queue lock: a client's failure
    // must not leave here.
    try
    {
      relay.Queued(position);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousOperation::ReportQueuePosition");
    }
    catch (...)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********AsynchronousOperation::ReportQueuePosition Unknown exception.\n")));
    }
  }

  bool AsynchronousOperation::StartRunning()
  {
    OperationState expected = Queued;
    if (m_state.compare_exchange_strong(expected, Running))
      return true;
    if (expected == Cancelled)
      return false;
    m_state.store(Running);
    return true;
  }

  bool AsynchronousOperation::CancelIfQueued()
  {
    OperationState expected = Queued;
    if (!m_state.compare_exchange_strong(expected, Cancelled))
      return false;
    m_workOver.store(true);
    return true;
  }

  void AsynchronousOperation::Cancel()
  {
    CancelWaitingOrRunning();
  }

  bool AsynchronousOperation::CancelWaitingOrRunning()
  {
    if (!CancelIfQueued())
    {
      Operation::Cancel();
      return false;
    }
    ReportCancelledWhileQueued();
    return true;
  }

  void AsynchronousOperation::ReportCancelledWhileQueued()
  {
    const RelayLink relay = Relay();
    if (relay.IsEmpty())
      return;
    // The operation is cancelled whatever the client makes of the news: a
    // client that refuses it or has gone must not fail the cancellation.
    try
    {
      const std::string text = "Queued AsynchronousOperation Cancelled. OpId = " + std::to_string(m_id);
      relay.Status(text.c_str());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousOperation::Cancel");
    }
  }

  void AsynchronousOperation::RecordProgress(double fraction) const
  {
    if (OperationJournal* journal = m_router ? m_router->Journal() : nullptr)
      journal->Progress(m_router->JournalKey(), m_id, fraction);
  }

  void AsynchronousOperation::RecordStatus(const std::string& text) const
  {
    if (OperationJournal* journal = m_router ? m_router->Journal() : nullptr)
      journal->Status(m_router->JournalKey(), m_id, text);
  }

  void AsynchronousOperation::RecordResults(const CORBA::Any& data) const
  {
    if (OperationJournal* journal = m_router ? m_router->Journal() : nullptr)
      journal->Results(m_router->JournalKey(), m_id, data);
  }

  void AsynchronousOperation::RecordFailure(const std::string& reason) const
  {
    if (OperationJournal* journal = m_router ? m_router->Journal() : nullptr)
      journal->Failed(m_router->JournalKey(), m_id, reason);
  }

  bool AsynchronousOperation::MarkKeptAsFinished()
  {
    const bool newly = !m_keptAsFinished;
    m_keptAsFinished = true;
    return newly;
  }

  void AsynchronousOperation::RetireHandler(PortableServer::POA_ptr poa)
  {
    const RelayLink relay = Relay();
    SetHandler(IAsyncHandler::_nil());
    if (relay.IsEmpty() || CORBA::is_nil(poa))
      return;
    try
    {
      relay.DeactivateIn(poa);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousOperation::Cancel deactivating IAsyncHandler");
    }
  }

  void AsynchronousOperation::RunWork(AsynchronousRouter* router, const std::function<void()>& work,
                                      const char* printedText, const ACE_TCHAR* unknownText)
  {
    try
    {
      Halvern_Utilities::threadLocalUserPacket->SetToken(router->GetUserPacket().GetToken());
      SetThreadId(static_cast<unsigned long>(ACE_Thread::self()));
      router->ServiceCancellation();
      if (!StartRunning())
        throw OperationCancelled();
      if (OperationJournal* journal = router->Journal())
        journal->Started(router->JournalKey(), m_id);
      work();
      FinishUnlessCancelled();
      router->ServiceCancellation();
    }
    catch (const OperationCancelled&)
    {
      SetState(Cancelled);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, printedText);
      FinishUnlessCancelled();
    }
    catch (...)
    {
      ACE_DEBUG((LM_DEBUG, unknownText));
      FinishUnlessCancelled();
    }
    m_workOver.store(true);
  }

  void AsynchronousOperation::Dispatch()
  {
    DispatchEnd end(this);
    threadLocalOperation->m_operation = this;
    AsynchronousRouter* router = m_router;
    PortableServer::POA_var poa;
    try
    {
      IAsyncServer_var server = IAsyncServer::_narrow(m_target);
      if (CORBA::is_nil(server.in()))
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********Couldn't narrow to IAsyncServer.\n")));
        router->cleanupAsynchronousOperationLists(this);
        SetHandler(IAsyncHandler::_nil());
        return;
      }

      RunWork(router, [this, router] { router->ExecuteOperation(m_name, m_parameters); },
              "AsynchronousOperation::Dispatch after narrow",
              ACE_TEXT("(%P|%t) ********AsyncOperation::Dispatch Unknown exception.\n"));
      // The work is over: parameters it owned are no longer needed.
      ReleaseOwnedParameters();

      poa = router->_default_POA();
      router->cleanupAsynchronousOperationLists(this);
      const RelayLink relay = Relay();
      if (!relay.IsEmpty())
        relay.Finished(CORBA::Any());

      if (CORBA::is_nil(poa.in()))
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) AsynchronousOperation::Dispatch() defaultPOA is nil\n")));
      else if (relay.IsEmpty())
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) AsynchronousOperation::Dispatch() IAsyncHandler is nil\n")));
      else
      {
        try
        {
          relay.DeactivateIn(poa.in());
        }
        catch (const CORBA::Exception& ex)
        {
          KroOrb::PrintException(ex, "AsynchronousOperation::Dispatch deactivating IAsyncHandler");
        }
        catch (...)
        {
          ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) AsyncOperation::Dispatch Unknown exception when deactivating IAsyncHandler.\n")));
        }
      }
      SetHandler(IAsyncHandler::_nil());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousOperation::Dispatch");
      router->cleanupAsynchronousOperationLists(this);
      const RelayLink relay = Relay();
      SetHandler(IAsyncHandler::_nil());
      // Unguarded, as the rest of this path: a failure here ends the pool thread.
      if (!CORBA::is_nil(poa.in()) && !relay.IsEmpty())
        relay.DeactivateIn(poa.in());
    }
  }
}
