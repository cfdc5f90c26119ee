#include "KroClient/ProgressBar.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace KroClient
{
  namespace
  {
    std::mutex outputLock;                      // one line at a time, across bars
    const ProgressBar* lastDrawn = nullptr;     // guarded by outputLock; whose line the cursor is on
  }

  std::string ProgressBar::Text(double done, int width)
  {
    done = std::min(1.0, std::max(0.0, done));
    const int filled = static_cast<int>(done * width + 0.5);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%4d%%", static_cast<int>(done * 100 + 0.5));
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]" + percent;
  }

  ProgressBar::ProgressBar(std::string label, std::FILE* out)
    : m_label(std::move(label)), m_out(out), m_terminal(isatty(fileno(out)) == 1)
  {
  }

  void ProgressBar::Show(double done)
  {
    const std::string line = m_label + "  " + Text(done);
    std::lock_guard<std::mutex> guard(outputLock);
    if (m_terminal)
    {
      if (lastDrawn != this && lastDrawn != nullptr)
        std::fputc('\n', m_out);
      std::fprintf(m_out, "\r%s", line.c_str());
      lastDrawn = this;
    }
    else
    {
      const int tenths = static_cast<int>(std::min(1.0, std::max(0.0, done)) * 10);
      if (tenths == m_shownTenths)
        return;
      m_shownTenths = tenths;
      std::fprintf(m_out, "%s\n", line.c_str());
    }
    std::fflush(m_out);
  }

  void ProgressBar::End(const std::string& text)
  {
    std::lock_guard<std::mutex> guard(outputLock);
    if (m_terminal && lastDrawn == this)
      std::fprintf(m_out, "  %s\n", text.c_str());
    else
    {
      if (m_terminal && lastDrawn != nullptr)
        std::fputc('\n', m_out);
      std::fprintf(m_out, "%s  %s\n", m_label.c_str(), text.c_str());
    }
    if (m_terminal)
      lastDrawn = nullptr;
    std::fflush(m_out);
  }

  Callbacks ShownOnBar(const std::string& label, std::FILE* out)
  {
    auto bar = std::make_shared<ProgressBar>(label, out);
    Callbacks shown;
    shown.progress = [bar](double done) { bar->Show(done); };
    shown.ended = [bar](Outcome outcome) { bar->End(OutcomeName(outcome)); };
    return shown;
  }
}
