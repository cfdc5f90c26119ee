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

  void SoakHandler::Arm(Calculator::ICalculator_ptr calculator, CORBA::Long id, CancelPoint point)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calculator = Calculator::ICalculator::_duplicate(calculator);
    m_id = id;
    m_cancelPoint = point;
    m_seen.armed = point;
  }

  void SoakHandler::CancelAt(CancelPoint point)
  {
    Calculator::ICalculator_var calculator;
    CORBA::Long id = 0;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_cancelPoint != point || point == CancelPoint::None)
        return;
      m_cancelPoint = CancelPoint::None;
      m_seen.cancelled = true;
      m_seen.cancelledAll = point == CancelPoint::LastProgressAll;
      m_seen.cancelStarted = std::chrono::steady_clock::now();
      calculator = m_calculator;
      id = m_id;
    }
    // The server's pool thread waits for this callback meanwhile: the
    // cancel meets the work exactly here.
    std::optional<Krovane::OperationState> state;
    std::string failure;
    try
    {
      try
      {
        if (point == CancelPoint::LastProgressAll)
          calculator->CancelAllOperations();
        else
          calculator->CancelOperation(id);
      }
      catch (const Krovane::InvalidOperationId&)
      {
      }
      {
        std::lock_guard<std::mutex> guard(m_lock);
        m_seen.cancelReturned = std::chrono::steady_clock::now();
      }
      state = calculator->GetOperationState(id);
    }
    catch (const CORBA::SystemException& ex)
    {
      failure = std::string(ex._name()) + " (minor " + std::to_string(ex.minor()) + ")";
    }
    catch (const CORBA::UserException& ex)
    {
      failure = ex._name();
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_seen.cancelReturned)  // the cancel itself failed
      m_seen.cancelReturned = std::chrono::steady_clock::now();
    m_seen.stateAfterCancel = state;
    m_seen.cancelFailure = failure;
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

  void SoakHandler::Progress(CORBA::Double progress)
  {
    Record("Progress");
    CancelAt(CancelPoint::FirstProgress);
    if (progress >= 1.0)
    {
      CancelAt(CancelPoint::LastProgress);
      CancelAt(CancelPoint::LastProgressAll);
    }
  }

  void SoakHandler::Results(const CORBA::Any&)
  {
    Record("Results");
    CancelAt(CancelPoint::Results);
  }

  void SoakHandler::Finished(const CORBA::Any&) { Record("Finished"); }
  void SoakHandler::Error(Krovane::IAsyncExceptionHolder_ptr) { Record("Error"); }
}
