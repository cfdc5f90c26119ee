#include "SoakHandler.h"

namespace KroSoak
{
  void Activity::Notify()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_callbacks;
    m_changed.notify_all();
  }

  void Activity::WaitFor(std::chrono::milliseconds timeout)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    const unsigned long seen = m_callbacks;
    m_changed.wait_for(guard, timeout, [&] { return m_callbacks != seen; });
  }

  SoakHandler::SoakHandler(Activity& activity, bool refuseStatus)
    : m_activity(activity), m_refuseStatus(refuseStatus)
  {
  }

  SoakHandler::Seen SoakHandler::Read() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_seen;
  }

  void SoakHandler::Record(const char* kind)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      ++m_seen.callbacks;
      if (m_seen.finished > 0 && m_seen.afterFinished.empty())
        m_seen.afterFinished = kind;
      if (std::string(kind) == "Finished")
        ++m_seen.finished;
    }
    m_activity.Notify();
  }

  void SoakHandler::Queued(CORBA::Long) { Record("Queued"); }

  void SoakHandler::Status(const char*)
  {
    Record("Status");
    if (m_refuseStatus)
      throw Krovane::AsyncOperationException("the soak's handler refuses Status");
  }

  void SoakHandler::Progress(CORBA::Double) { Record("Progress"); }
  void SoakHandler::Results(const CORBA::Any&) { Record("Results"); }
  void SoakHandler::Finished(const CORBA::Any&) { Record("Finished"); }
  void SoakHandler::Error(Krovane::IAsyncExceptionHolder_ptr) { Record("Error"); }
}
