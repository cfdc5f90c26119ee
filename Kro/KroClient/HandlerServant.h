// HandlerServant: the client's callback object for one operation. It
// implements the twelve IAsyncHandler operations once (each Sync form does
// what its plain form does) and posts each callback to its sink, at once:
// it never waits for the application.
//
// Callbacks carry no operation id, so each operation has a handler of its
// own. Ownership: reference counted; ActiveHandler holds it while it is
// active. It holds its sink weakly: once the operation is gone, callbacks do
// nothing. Threads: ORB threads call it, possibly several at once.
#ifndef KROCLIENT_HANDLERSERVANT_H
#define KROCLIENT_HANDLERSERVANT_H

#include "KroClient/CallbackEvent.h"

#include <atomic>
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

  class HandlerServant : public virtual POA_Krovane::IAsyncHandler,
                         public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit HandlerServant(std::weak_ptr<CallbackSink> sink);

    // The servant's reference count (1 at construction; deleted at 0), kept
    // here rather than in the ORB, whose own count a thread checker cannot
    // see: the POA's last release, after an upcall on another thread, must
    // be seen to come before the deletion.
    void _add_ref() override;
    void _remove_ref() override;
    CORBA::ULong _refcount_value() override;

    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;
    void SyncQueued(CORBA::Long position) override;
    void SyncStatus(const char* text) override;
    void SyncProgress(CORBA::Double progress) override;
    void SyncResults(const CORBA::Any& data) override;
    void SyncFinished(const CORBA::Any& data) override;
    void SyncError(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    void Post(CallbackEvent event);

    const std::weak_ptr<CallbackSink> m_sink;     // the operation; set at construction
    std::atomic<CORBA::ULong> m_references{1};    // see _add_ref
  };
}

#endif
