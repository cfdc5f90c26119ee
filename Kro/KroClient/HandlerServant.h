// HandlerServant: the client's callback object for one operation. It
// implements the six plain IAsyncHandler callbacks (CallbackServant hands it
// the Sync forms) and posts each callback to its sink, at once: it never
// waits for the application.
//
// Callbacks carry no operation id, so each operation has a handler of its
// own. Ownership: reference counted (see CallbackServant); ActiveHandler
// holds it while it is active. It holds its sink weakly: once the operation
// is gone, callbacks do nothing. Threads: ORB threads call it, possibly
// several at once.
#ifndef KROCLIENT_HANDLERSERVANT_H
#define KROCLIENT_HANDLERSERVANT_H

#include "KroClient/CallbackEvent.h"
#include "KroClient/CallbackServant.h"

#include <memory>

namespace KroClient
{
  // Where a handler's callbacks go.
  class CallbackSink
  {
  public:
    virtual ~CallbackSink() = default;
    // Takes event; returns without waiting for the application.
    virtual void Post(CallbackEvent event) = 0;
  };

  class HandlerServant : public CallbackServant
  {
  public:
    explicit HandlerServant(std::weak_ptr<CallbackSink> sink);

    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    void Post(CallbackEvent event);

    const std::weak_ptr<CallbackSink> m_sink;  // the operation; set at construction
  };
}

#endif
