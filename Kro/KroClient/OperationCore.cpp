#include "KroClient/OperationCore.h"

#include "KroClient/FailureCopy.h"
#include "KroClient/ServerWatch.h"
#include "OrbLayer/PrintException.h"
#include "OrbLayer/ServerIncarnation.h"

#include <ace/Log_Msg.h>

namespace KroClient
{
  namespace
  {
    // How long Close waits for a callback running in another thread.
    const std::chrono::seconds kCloseBound(30);

    CallbackEvent EndedEvent(Outcome outcome)
    {
      CallbackEvent event{CallbackEvent::Kind::Ended};
      event.outcome = outcome;
      return event;
    }

    // What the client concludes when the server cannot be asked.
    Outcome Unconfirmed(OperationRecord::Check check)
    {
      // A withdrawn operation never runs, and no Finished follows.
      return check == OperationRecord::Check::Withdrawal ? Outcome::Cancelled : Outcome::Finished;
    }
  }

  OperationCore::OperationCore(Krovane::IAsyncServer_ptr server, Callbacks callbacks,
                               std::shared_ptr<BackgroundCalls> calls, std::shared_ptr<ServerWatch> watch)
    : m_server(Krovane::IAsyncServer::_duplicate(server)),
      m_calls(std::move(calls)),
      m_watch(std::move(watch)),
      m_record(std::move(callbacks), [this](OperationRecord::Check check) { CheckWithServer(check); }),
      m_sequencer([this](const CallbackEvent& event) { Deliver(event); }, true)
  {
  }

  OperationCore::~OperationCore() = default;

  void OperationCore::Activate(PortableServer::POA_ptr poa)
  {
    m_poa = PortableServer::POA::_duplicate(poa);
    m_handler = std::make_unique<ActiveHandler>(poa, new HandlerServant(weak_from_this()));
    m_handlerReference = Krovane::IAsyncHandler::_duplicate(m_handler->Reference());
  }

  Krovane::IAsyncHandler_ptr OperationCore::Handler() const { return m_handlerReference.in(); }

  void OperationCore::Start(CORBA::Long id, std::uint64_t incarnation)
  {
    m_id.store(id);
    m_incarnation.store(incarnation);
    m_heard.store(Clock::now().time_since_epoch().count());
    m_started.store(true);
    m_sequencer.Release();
    if (m_watch)
      m_watch->Add(shared_from_this());
  }

  void OperationCore::Close()
  {
    m_closed.store(true);
    if (!m_sequencer.Close(kCloseBound))
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) KroClient: operation %d closed while a callback still runs\n"),
                 static_cast<int>(Id())));
    m_handler.reset();
  }

  void OperationCore::Post(CallbackEvent event)
  {
    m_heard.store(Clock::now().time_since_epoch().count());
    m_sequencer.Post(std::move(event));
  }

  CORBA::Long OperationCore::Id() const { return m_id.load(); }

  Krovane::IAsyncServer_ptr OperationCore::Server() const { return m_server.in(); }

  const OperationRecord& OperationCore::Record() const { return m_record; }

  const CallbackSequencer& OperationCore::Sequencer() const { return m_sequencer; }

  bool OperationCore::Pending() const
  {
    return m_started.load() && !m_closed.load() && !m_failing.load() && m_record.Now() == Outcome::Pending;
  }

  OperationCore::Clock::time_point OperationCore::LastHeard() const
  {
    return Clock::time_point(Clock::duration(m_heard.load()));
  }

  std::uint64_t OperationCore::Incarnation() const { return m_incarnation.load(); }

  void OperationCore::NoteIncarnation(std::uint64_t incarnation) { m_incarnation.store(incarnation); }

  void OperationCore::CheckWithServer(OperationRecord::Check check)
  {
    std::weak_ptr<OperationCore> weak = weak_from_this();
    const bool queued = !CORBA::is_nil(m_server.in()) && m_calls->Run([weak, check] {
      if (std::shared_ptr<OperationCore> core = weak.lock())
        core->EndAsServerSays(check);
    });
    if (!queued)
      m_sequencer.Post(EndedEvent(Unconfirmed(check)));
  }

  void OperationCore::EndAsServerSays(OperationRecord::Check check)
  {
    Outcome outcome = Unconfirmed(check);
    try
    {
      const Krovane::OperationState state = m_server->GetOperationState(Id());
      if (state == Krovane::Cancelled)
        outcome = Outcome::Cancelled;
      else if (check == OperationRecord::Check::Finish)
        outcome = Outcome::Finished;
      else
        outcome = Outcome::Pending;  // a Status that only read like a withdrawal: callbacks follow
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "KroClient: asking how an operation ended");
    }
    m_sequencer.Post(EndedEvent(outcome));
  }

  void OperationCore::EndAsStateSays(Krovane::OperationState state)
  {
    m_sequencer.Post(EndedEvent(state == Krovane::Cancelled ? Outcome::Cancelled : Outcome::Finished));
  }

  void OperationCore::EndFailed(const CORBA::Exception& failure)
  {
    m_failing.store(true);
    CallbackEvent error{CallbackEvent::Kind::Error};
    error.holder = Keep(failure);
    error.kept = true;
    m_sequencer.Post(std::move(error));
    m_sequencer.Post(EndedEvent(Outcome::Failed));
  }

  int OperationCore::AttachAgain(Krovane::IAsyncServer_ptr server)
  {
    KroOrb::ServerIncarnation::ClearLastReply();
    server->RegisterNewHandler(Id(), m_handlerReference.in());
    m_incarnation.store(KroOrb::ServerIncarnation::OfLastReply());
    // As Reattach: an operation that ended meanwhile has nothing more to send.
    const Krovane::OperationState state = server->GetOperationState(Id());
    if (state == Krovane::Finished || state == Krovane::Cancelled)
    {
      // It may have ended as the handler was attached, its results passing
      // it by: a server that keeps ends sends the whole end again before it
      // answers (callbacks after the end are ignored here).
      server->RegisterNewHandler(Id(), m_handlerReference.in());
      m_sequencer.Post(EndedEvent(state == Krovane::Cancelled ? Outcome::Cancelled : Outcome::Finished));
      return 3;
    }
    return 2;
  }

  void OperationCore::Deliver(const CallbackEvent& event)
  {
    if (event.kind != CallbackEvent::Kind::Error || event.kept)
    {
      m_record.Apply(event);
      return;
    }
    CallbackEvent kept{CallbackEvent::Kind::Error};
    kept.kept = true;
    bool stopping = false;
    try
    {
      if (CORBA::is_nil(event.holder.in()))
        throw CORBA::BAD_PARAM();
      event.holder->raise();
      throw CORBA::UNKNOWN();  // raise() is to throw; it did not
    }
    catch (const Krovane::Unavailable& failure)
    {
      kept.holder = Keep(failure);
      stopping = true;  // no end of its own may follow: its server is going
    }
    catch (const CORBA::Exception& failure)
    {
      kept.holder = Keep(failure);
    }
    if (CORBA::is_nil(kept.holder.in()))
      kept.holder = Krovane::IAsyncExceptionHolder::_duplicate(event.holder.in());
    m_record.Apply(kept);
    if (stopping)
      m_record.Apply(EndedEvent(Outcome::Failed));
  }

  Krovane::IAsyncExceptionHolder_ptr OperationCore::Keep(const CORBA::Exception& failure)
  {
    try
    {
      auto active = std::make_unique<ActiveFailure>(m_poa.in(), new FailureCopy(failure));
      Krovane::IAsyncExceptionHolder_ptr reference = Krovane::IAsyncExceptionHolder::_duplicate(active->Reference());
      std::lock_guard<std::mutex> guard(m_failuresLock);
      m_failures.push_back(std::move(active));
      return reference;
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "KroClient: keeping an operation's failure");
      return Krovane::IAsyncExceptionHolder::_nil();
    }
  }
}
