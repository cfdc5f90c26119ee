// ProgressBar: an operation's progress on a terminal, as
//   "count 1  [####------]  40%"
// redrawn in place on a terminal (on a line of its own when another bar
// drew last), a line per tenth elsewhere (a file, a pipe).
//
// ShownOnBar makes an operation's callbacks draw one.
//
// Threads: any thread may call it; bars share one lock for the output, so
// their lines never mix.
#ifndef KROCLIENT_PROGRESSBAR_H
#define KROCLIENT_PROGRESSBAR_H

#include "KroClient/Callbacks.h"

#include <cstdio>
#include <string>

namespace KroClient
{
  class ProgressBar
  {
  public:
    // "[####------]  40%": width cells, then the percentage.
    static std::string Text(double done, int width = 10);

    explicit ProgressBar(std::string label, std::FILE* out = stdout);

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Shows done (0 to 1).
    void Show(double done);
    // Ends the bar's line with text, e.g. "Finished".
    void End(const std::string& text);

  private:
    const std::string m_label;  // set at construction
    std::FILE* const m_out;     // set at construction
    const bool m_terminal;      // m_out is a terminal
    int m_shownTenths = -1;     // guarded by the bars' shared lock; what was drawn last
  };

  // Callbacks that show an operation on a bar of its own, labelled label,
  // and end its line with how the operation ended.
  Callbacks ShownOnBar(const std::string& label, std::FILE* out = stdout);
}

#endif
