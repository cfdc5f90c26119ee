// FailureCopy: a failure kept on the client's side, served as an
// IAsyncExceptionHolder whose raise() throws a copy of it as often as it is
// asked. The server's holders answer one raise() and are then gone (and
// with a lost server, none), so the library raises each one once, when its
// Error arrives, and hands the application this copy instead; the failures
// the library finds itself (a lost server) are kept the same way.
//
// Ownership: reference counted as CallbackServant is (1 at construction);
// ActiveFailure holds it while active. Threads: raise() from any thread; the
// failure is fixed at construction.
#ifndef KROCLIENT_FAILURECOPY_H
#define KROCLIENT_FAILURECOPY_H

#include "Krovane.hh"

#include <atomic>
#include <memory>

namespace KroClient
{
  class FailureCopy : public virtual POA_Krovane::IAsyncExceptionHolder,
                      public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit FailureCopy(const CORBA::Exception& failure);

    void raise() override;  // throws the copy

    void _add_ref() override { m_references.fetch_add(1, std::memory_order_relaxed); }
    void _remove_ref() override
    {
      if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
    }
    CORBA::ULong _refcount_value() override { return m_references.load(); }

  private:
    const std::unique_ptr<CORBA::Exception> m_failure;  // set at construction
    std::atomic<CORBA::ULong> m_references{1};          // the creator's reference
  };
}

#endif
