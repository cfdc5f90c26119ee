// CallbackServant: the base of a client's callback object (an IAsyncHandler
// servant) that treats the Sync forms of the callbacks like the plain ones:
// SyncQueued calls Queued, SyncStatus calls Status, and so on. A subclass
// implements the six plain callbacks only.
//
// Ownership: reference counted (1 at construction; deleted at 0); whoever
// activates the servant holds a reference until it is deactivated. The count
// is the servant's own atomic, not omniORB's, whose count a thread checker
// cannot see: the last release (by the owner, or by the POA once the last
// upcall on another thread has completed) must be seen to come before the
// deletion. Threads: the ORB's threads call it, possibly several at once;
// guarding its state is the subclass's job. Header-only: servers that
// serve a callback object of their own (the examples' front ends) need not
// load the client library for it.
#ifndef KROCLIENT_CALLBACKSERVANT_H
#define KROCLIENT_CALLBACKSERVANT_H

#include "Krovane.hh"

#include <atomic>

namespace KroClient
{
  class CallbackServant : public virtual POA_Krovane::IAsyncHandler,
                          public virtual PortableServer::RefCountServantBase
  {
  public:
    // The servant's reference count (see above).
    void _add_ref() override { m_references.fetch_add(1, std::memory_order_relaxed); }
    void _remove_ref() override
    {
      if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
    }
    CORBA::ULong _refcount_value() override { return m_references.load(); }

    // The Sync forms, each handed to its plain form.
    void SyncQueued(CORBA::Long position) override { Queued(position); }
    void SyncStatus(const char* text) override { Status(text); }
    void SyncProgress(CORBA::Double progress) override { Progress(progress); }
    void SyncResults(const CORBA::Any& data) override { Results(data); }
    void SyncFinished(const CORBA::Any& data) override { Finished(data); }
    void SyncError(Krovane::IAsyncExceptionHolder_ptr holder) override { Error(holder); }

  private:
    std::atomic<CORBA::ULong> m_references{1};  // the creator's reference
  };
}

#endif
