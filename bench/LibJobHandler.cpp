#include "LibJobHandler.h"

namespace KroBench
{
  LibJobHandler::LibJobHandler(JobCompletion& completion) : m_completion(completion) {}

  void LibJobHandler::Queued(CORBA::Long) {}
  void LibJobHandler::Status(const char*) {}
  void LibJobHandler::Progress(CORBA::Double) { m_completion.OnProgress(); }
  void LibJobHandler::Results(const CORBA::Any&) {}
  void LibJobHandler::Finished(const CORBA::Any&) { m_completion.OnFinished(); }
  // A job of the benchmark never fails; Finished follows and WaitDone counts it.
  void LibJobHandler::Error(Krovane::IAsyncExceptionHolder_ptr) {}
}
