#include "OperationTrack.h"

#include "Console.h"

#include "KroClient/ProgressBar.h"

#include <cstdio>

namespace KroExample
{
  OperationTrack::OperationTrack(int id, const std::string& what, int steps)
    : m_id(id), m_label("op " + std::to_string(id) + " (" + what + " x" + std::to_string(steps) + ")")
  {
  }

  int OperationTrack::Id() const { return m_id; }

  const std::string& OperationTrack::Label() const { return m_label; }

  void OperationTrack::Show(const std::string& text, const std::string& via, bool withBar)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    char label[24];
    std::snprintf(label, sizeof label, "%-18s", m_label.c_str());
    SayLine("  " + std::string(label) + (withBar ? KroClient::ProgressBar::Text(m_done) + "  " : std::string()) +
            text + (via.empty() ? "" : "  <- " + via));
  }

  KroClient::Callbacks OperationTrack::Lines(const std::string& via)
  {
    KroClient::Callbacks lines;
    lines.queued = [this, via](CORBA::Long place) {
      Show("waiting, place " + std::to_string(place) + " in line", via, false);
    };
    lines.progress = [this](double done) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_done = done;  // shown with the step's Status, which follows
    };
    lines.status = [this, via](const std::string& text) {
      const bool running = text.rfind("Queued ", 0) != 0;
      Show(running ? text : "\"" + text + "\"", via, running);
    };
    lines.results = [this, via](const CORBA::Any& data) {
      CORBA::Double value = 0;
      char text[64];
      if (data >>= value)
        std::snprintf(text, sizeof text, "result: %.10g", value);
      else
        std::snprintf(text, sizeof text, "result of an unexpected type");
      Show(text, via, false);
    };
    lines.error = [this, via](Krovane::IAsyncExceptionHolder_ptr) {
      Show("error reported (an exception holder; raised below)", via, false);
    };
    lines.ended = [this, via](KroClient::Outcome outcome) {
      Show(std::string("ended: ") + KroClient::OutcomeName(outcome), via, false);
    };
    return lines;
  }
}
