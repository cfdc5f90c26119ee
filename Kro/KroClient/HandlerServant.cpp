#include "KroClient/HandlerServant.h"

namespace KroClient
{
  using Kind = CallbackEvent::Kind;

  HandlerServant::HandlerServant(std::weak_ptr<CallbackSink> sink) : m_sink(std::move(sink)) {}

  void HandlerServant::_add_ref() { m_references.fetch_add(1, std::memory_order_relaxed); }

  void HandlerServant::_remove_ref()
  {
    if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }

  CORBA::ULong HandlerServant::_refcount_value() { return m_references.load(); }

  void HandlerServant::Post(CallbackEvent event)
  {
    if (std::shared_ptr<CallbackSink> sink = m_sink.lock())
      sink->Post(std::move(event));
  }

  void HandlerServant::Queued(CORBA::Long position)
  {
    CallbackEvent event{Kind::Queued};
    event.place = position;
    Post(std::move(event));
  }

  void HandlerServant::Status(const char* text)
  {
    CallbackEvent event{Kind::Status};
    event.text = text ? text : "";
    Post(std::move(event));
  }

  void HandlerServant::Progress(CORBA::Double progress)
  {
    CallbackEvent event{Kind::Progress};
    event.progress = progress;
    Post(std::move(event));
  }

  void HandlerServant::Results(const CORBA::Any& data)
  {
    CallbackEvent event{Kind::Results};
    event.data = data;
    Post(std::move(event));
  }

  void HandlerServant::Finished(const CORBA::Any& data)
  {
    CallbackEvent event{Kind::Finished};
    event.data = data;
    Post(std::move(event));
  }

  void HandlerServant::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    CallbackEvent event{Kind::Error};
    event.holder = Krovane::IAsyncExceptionHolder::_duplicate(holder);
    Post(std::move(event));
  }

  void HandlerServant::SyncQueued(CORBA::Long position) { Queued(position); }
  void HandlerServant::SyncStatus(const char* text) { Status(text); }
  void HandlerServant::SyncProgress(CORBA::Double progress) { Progress(progress); }
  void HandlerServant::SyncResults(const CORBA::Any& data) { Results(data); }
  void HandlerServant::SyncFinished(const CORBA::Any& data) { Finished(data); }
  void HandlerServant::SyncError(Krovane::IAsyncExceptionHolder_ptr holder) { Error(holder); }
}
