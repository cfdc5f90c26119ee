#include "KroClient/HandlerServant.h"

#include "OrbLayer/CallbackNumbers.h"

namespace KroClient
{
  using Kind = CallbackEvent::Kind;

  HandlerServant::HandlerServant(std::weak_ptr<CallbackSink> sink) : m_sink(std::move(sink)) {}

  void HandlerServant::Post(CallbackEvent event)
  {
    event.number = KroOrb::CallbackNumbers::OfThisRequest();
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
}
