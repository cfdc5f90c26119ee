#include "KroKit/OptionHelp.h"

#include <algorithm>

namespace KroKit
{
  void OptionHelp::TakeDefaults()
  {
    for (Row& row : m_rows)
      if (row.defaultOf)
      {
        row.defaultText = row.defaultOf();
        row.defaultOf = nullptr;  // taken once: before the first value is stored
      }
  }

  std::string OptionHelp::Format() const
  {
    auto left = [](const Row& row) { return row.name + (row.valueName.empty() ? "" : " " + row.valueName); };
    std::size_t width = 0;
    for (const Row& row : m_rows)
      width = std::max(width, left(row).size());
    width = std::min<std::size_t>(width, 40);  // a longer one gets the text on a line of its own
    std::string table;
    for (const Row& row : m_rows)
    {
      const std::string name = left(row);
      const std::string shown = row.defaultOf ? row.defaultOf() : row.defaultText;
      std::string text = row.text;
      if (!shown.empty())
        text += " (default: " + shown + ")";
      table += "  " + name;
      if (name.size() > width)
        table += "\n  " + std::string(width, ' ');
      else
        table += std::string(width - name.size(), ' ');
      table += "  " + text + "\n";
    }
    return table;
  }
}
