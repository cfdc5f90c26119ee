#include "AsyncHandlerServant.h"

namespace KroExample
{
  void AsyncHandlerServant::_add_ref() { m_references.fetch_add(1, std::memory_order_relaxed); }

  void AsyncHandlerServant::_remove_ref()
  {
    if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }

  CORBA::ULong AsyncHandlerServant::_refcount_value() { return m_references.load(); }

  void AsyncHandlerServant::SyncQueued(CORBA::Long position) { Queued(position); }
  void AsyncHandlerServant::SyncStatus(const char* text) { Status(text); }
  void AsyncHandlerServant::SyncProgress(CORBA::Double progress) { Progress(progress); }
  void AsyncHandlerServant::SyncResults(const CORBA::Any& data) { Results(data); }
  void AsyncHandlerServant::SyncFinished(const CORBA::Any& data) { Finished(data); }
  void AsyncHandlerServant::SyncError(Krovane::IAsyncExceptionHolder_ptr holder) { Error(holder); }
}
