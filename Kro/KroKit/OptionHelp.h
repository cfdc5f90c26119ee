// OptionHelp: the table --help prints, one row per option: its name, the
// name of its value, its default and what it does.
//
// Ownership and threads: ServerOptions owns one and fills it while options
// are added; one thread at a time.
#ifndef KROKIT_OPTIONHELP_H
#define KROKIT_OPTIONHELP_H

#include <functional>
#include <string>
#include <vector>

namespace KroKit
{
  class OptionHelp
  {
  public:
    struct Row
    {
      std::string name;         // "--threads"
      std::string valueName;    // "N"; empty for a flag
      std::string text;         // what it does
      std::string defaultText;  // the default as the user reads it; empty: ask defaultOf
      std::function<std::string()> defaultOf;  // the default from the option's variable (may be null)
    };

    void Add(Row row) { m_rows.push_back(std::move(row)); }
    // Each default the variables hold now, so that a program's own
    // defaults (set after the options were added) are the ones shown and
    // values given on the command line are not.
    void TakeDefaults();
    // One line per row: "  --threads N   event-loop threads serving requests (default 4)".
    std::string Format() const;

  private:
    std::vector<Row> m_rows;  // in the order the options were added
  };
}

#endif
