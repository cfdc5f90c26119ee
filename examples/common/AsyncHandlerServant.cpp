#include "AsyncHandlerServant.h"

namespace KroExample
{
  void AsyncHandlerServant::SyncQueued(CORBA::Long position) { Queued(position); }
  void AsyncHandlerServant::SyncStatus(const char* text) { Status(text); }
  void AsyncHandlerServant::SyncProgress(CORBA::Double progress) { Progress(progress); }
  void AsyncHandlerServant::SyncResults(const CORBA::Any& data) { Results(data); }
  void AsyncHandlerServant::SyncFinished(const CORBA::Any& data) { Finished(data); }
  void AsyncHandlerServant::SyncError(Krovane::IAsyncExceptionHolder_ptr holder) { Error(holder); }
}
