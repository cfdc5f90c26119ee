#include "KroClient/CallbackServant.h"

namespace KroClient
{
  void CallbackServant::_add_ref() { m_references.fetch_add(1, std::memory_order_relaxed); }

  void CallbackServant::_remove_ref()
  {
    if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }

  CORBA::ULong CallbackServant::_refcount_value() { return m_references.load(); }

  void CallbackServant::SyncQueued(CORBA::Long position) { Queued(position); }
  void CallbackServant::SyncStatus(const char* text) { Status(text); }
  void CallbackServant::SyncProgress(CORBA::Double progress) { Progress(progress); }
  void CallbackServant::SyncResults(const CORBA::Any& data) { Results(data); }
  void CallbackServant::SyncFinished(const CORBA::Any& data) { Finished(data); }
  void CallbackServant::SyncError(Krovane::IAsyncExceptionHolder_ptr holder) { Error(holder); }
}
