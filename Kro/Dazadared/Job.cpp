#include "Dazadared/Job.h"
#include "Dazadared/JobController.h"

#include <ace/Thread.h>

namespace Halvern_Utilities
{
  Job::Job() : m_threadId(static_cast<unsigned long>(ACE_Thread::self())), m_cancelled(false) {}

  Job::Job(unsigned long threadId) : m_threadId(threadId), m_cancelled(false) {}

  Job::~Job()
  {
    JobController::Instance()->Unregister(this);
  }

  void Job::Cancel()
  {
    if (!m_cancelled.exchange(true))
      OnCancel();
    JobController::Instance()->WithdrawOne(this);
  }

  int Job::IsCancelled() const { return m_cancelled.load() ? 1 : 0; }

  unsigned long Job::GetThreadId() const { return m_threadId; }

  void Job::OnCancel() {}
}
