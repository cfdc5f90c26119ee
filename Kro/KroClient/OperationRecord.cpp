#include "KroClient/OperationRecord.h"

namespace KroClient
{
  namespace
  {
    // How the server's Status begins when it takes a waiting operation out of its queue.
    const std::string kWithdrawnText = "Queued AsynchronousOperation Cancelled.";
  }

  OperationRecord::OperationRecord(Callbacks callbacks, CheckWithServer checkWithServer)
    : m_callbacks(std::move(callbacks)), m_checkWithServer(std::move(checkWithServer))
  {
  }

  bool OperationRecord::Ended() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_outcome != Outcome::Pending;
  }

  void OperationRecord::Apply(const CallbackEvent& event)
  {
    using Kind = CallbackEvent::Kind;
    if (Ended())
      return;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      switch (event.kind)
      {
        case Kind::Queued: m_place = event.place; break;
        case Kind::Status: m_status = event.text; break;
        case Kind::Progress: m_progress = event.progress; break;
        case Kind::Results: m_results = event.data; break;
        case Kind::Error: m_failure = event.holder; break;
        case Kind::Finished: case Kind::Ended: break;
      }
    }
    m_changed.notify_all();

    switch (event.kind)
    {
      case Kind::Queued:
        if (m_callbacks.queued)
          m_callbacks.queued(event.place);
        break;
      case Kind::Status:
        if (m_callbacks.status)
          m_callbacks.status(event.text);
        if (event.text.compare(0, kWithdrawnText.size(), kWithdrawnText) == 0)
          m_checkWithServer(Check::Withdrawal);
        break;
      case Kind::Progress:
        if (m_callbacks.progress)
          m_callbacks.progress(event.progress);
        break;
      case Kind::Results:
        if (m_callbacks.results)
          m_callbacks.results(event.data);
        break;
      case Kind::Error:
        if (m_callbacks.error)
          m_callbacks.error(event.holder.in());
        break;
      case Kind::Finished:
      {
        Krovane::IAsyncExceptionHolder_var failure = Failure();
        if (CORBA::is_nil(failure.in()))
          m_checkWithServer(Check::Finish);
        else
          End(Outcome::Failed);
        break;
      }
      case Kind::Ended:
        End(event.outcome);
        break;
    }
  }

  void OperationRecord::End(Outcome outcome)
  {
    if (outcome == Outcome::Pending)
      return;
    if (m_callbacks.ended)
      m_callbacks.ended(outcome);
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_outcome = outcome;
    }
    m_changed.notify_all();
  }

  Outcome OperationRecord::WaitForEnd(Deadline deadline) const
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_until(guard, deadline, [this] { return m_outcome != Outcome::Pending; });
    return m_outcome;
  }

  bool OperationRecord::WaitForProgress(double done, Deadline deadline) const
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_until(guard, deadline, [&] { return m_progress >= done || m_outcome != Outcome::Pending; });
    return m_progress >= done;
  }

  Outcome OperationRecord::Now() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_outcome;
  }

  CORBA::Long OperationRecord::Place() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_place;
  }

  std::string OperationRecord::Status() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_status;
  }

  double OperationRecord::Progress() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_progress;
  }

  CORBA::Any OperationRecord::Results() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_results;
  }

  Krovane::IAsyncExceptionHolder_ptr OperationRecord::Failure() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return Krovane::IAsyncExceptionHolder::_duplicate(m_failure.in());
  }
}
