#include "KroClient/OperationCore.h"

#include "OrbLayer/PrintException.h"

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
                               std::shared_ptr<BackgroundCalls> calls)
    : m_server(Krovane::IAsyncServer::_duplicate(server)),
      m_calls(std::move(calls)),
      m_record(std::move(callbacks), [this](OperationRecord::Check check) { CheckWithServer(check); }),
      m_sequencer([this](const CallbackEvent& event) { m_record.Apply(event); }, true)
  {
  }

  OperationCore::~OperationCore() = default;

  void OperationCore::Activate(PortableServer::POA_ptr poa)
  {
    m_handler = std::make_unique<ActiveHandler>(poa, new HandlerServant(weak_from_this()));
  }

  Krovane::IAsyncHandler_ptr OperationCore::Handler() const { return m_handler->Reference(); }

  void OperationCore::Start(CORBA::Long id)
  {
    m_id.store(id);
    m_sequencer.Release();
  }

  void OperationCore::Close()
  {
    if (!m_sequencer.Close(kCloseBound))
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) KroClient: operation %d closed while a callback still runs\n"),
                 static_cast<int>(Id())));
    m_handler.reset();
  }

  void OperationCore::Post(CallbackEvent event) { m_sequencer.Post(std::move(event)); }

  CORBA::Long OperationCore::Id() const { return m_id.load(); }

  Krovane::IAsyncServer_ptr OperationCore::Server() const { return m_server.in(); }

  const OperationRecord& OperationCore::Record() const { return m_record; }

  const CallbackSequencer& OperationCore::Sequencer() const { return m_sequencer; }

  void OperationCore::CheckWithServer(OperationRecord::Check check)
  {
    std::weak_ptr<OperationCore> weak = weak_from_this();
    const bool queued = !CORBA::is_nil(m_server.in()) && m_calls->Run([weak, check] {
      if (std::shared_ptr<OperationCore> core = weak.lock())
        core->EndAsServerSays(check);
    });
    if (!queued)
      Post(EndedEvent(Unconfirmed(check)));
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
    Post(EndedEvent(outcome));
  }
}
