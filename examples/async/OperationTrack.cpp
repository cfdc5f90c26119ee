#include "OperationTrack.h"

#include "Console.h"

#include <cstdio>

namespace KroExample
{
  namespace
  {
    const int kBarWidth = 10;  // characters of a progress bar

    // "[####------]  40%"
    std::string Bar(double done)
    {
      const int filled = static_cast<int>(done * kBarWidth + 0.5);
      char percent[8];
      std::snprintf(percent, sizeof percent, "%4d%%", static_cast<int>(done * 100 + 0.5));
      return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]" + percent;
    }

    // What the server sends when it takes a waiting operation out of its queue.
    const std::string kWithdrawnText = "Queued AsynchronousOperation Cancelled.";
  }

  OperationTrack::OperationTrack(int id, const std::string& what, int steps)
    : m_id(id),
      m_label("op " + std::to_string(id) + " (" + what + " x" + std::to_string(steps) + ")"),
      m_done(0.0),
      m_finished(false),
      m_withdrawn(false)
  {
  }

  int OperationTrack::Id() const { return m_id; }

  std::string OperationTrack::Label() const { return m_label; }

  bool OperationTrack::Ended() const { return m_finished || m_withdrawn; }

  void OperationTrack::Show(const std::string& text, const std::string& via, bool withBar)
  {
    char label[24];
    std::snprintf(label, sizeof label, "%-18s", m_label.c_str());
    SayLine("  " + std::string(label) + (withBar ? Bar(m_done) + "  " : std::string()) + text +
            (via.empty() ? "" : "  <- " + via));
  }

  void OperationTrack::OnQueued(int place, const std::string& via)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Show("waiting, place " + std::to_string(place) + " in line", via, false);
    m_changed.notify_all();
  }

  void OperationTrack::OnProgress(double done)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_done = done;  // shown with the step's Status, which follows
    m_changed.notify_all();
  }

  void OperationTrack::OnStatus(const std::string& text, const std::string& via)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (text.compare(0, kWithdrawnText.size(), kWithdrawnText) == 0)
    {
      m_withdrawn = true;
      Show("\"" + text + "\"", via, false);
    }
    else
      Show(text, via, true);
    m_changed.notify_all();
  }

  void OperationTrack::OnResults(const CORBA::Any& data, const std::string& via)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    CORBA::Double value = 0;
    char text[64];
    if (data >>= value)
      std::snprintf(text, sizeof text, "result: %.10g", value);
    else
      std::snprintf(text, sizeof text, "result of an unexpected type");
    Show(text, via, false);
    m_changed.notify_all();
  }

  void OperationTrack::OnError(Krovane::IAsyncExceptionHolder_ptr holder, const std::string& via)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failure = Krovane::IAsyncExceptionHolder::_duplicate(holder);
    Show("error reported (an exception holder; raised below)", via, false);
    m_changed.notify_all();
  }

  void OperationTrack::OnFinished(const std::string& via)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    Show("finished", via, false);
    m_changed.notify_all();
  }

  bool OperationTrack::WaitForProgress(double done, Deadline deadline)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_until(guard, deadline, [&] { return m_done >= done || Ended(); }) &&
           m_done >= done;
  }

  bool OperationTrack::WaitForEnd(Deadline deadline)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_until(guard, deadline, [&] { return Ended(); });
  }

  Krovane::IAsyncExceptionHolder_ptr OperationTrack::Failure()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return Krovane::IAsyncExceptionHolder::_duplicate(m_failure.in());
  }
}
