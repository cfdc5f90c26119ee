#include "SoakFindings.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace KroSoak
{
  namespace
  {
    const int kPrintedPerCheck = 10;  // later violations of a check are only counted
  }

  void SoakFindings::Violation(const std::string& check, const std::string& where, const std::string& detail)
  {
    if (++m_counts[check] <= kPrintedPerCheck)
    {
      std::printf("VIOLATION [%s] %s: %s\n", check.c_str(), where.c_str(), detail.c_str());
      std::fflush(stdout);
    }
  }

  void SoakFindings::Add(const std::string& check, int count)
  {
    m_counts[check] += count;
  }

  void SoakFindings::AddCounts(const std::string& output)
  {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
    {
      if (line.compare(0, 7, "COUNT [") != 0)
        continue;
      const std::size_t close = line.find("] ");
      if (close == std::string::npos)
        continue;
      Add(line.substr(7, close - 7), std::atoi(line.c_str() + close + 2));
    }
  }

  void SoakFindings::SanitizerReports(const std::string& log, const std::string& who)
  {
    for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                             "runtime error:"})
    {
      const std::size_t at = log.find(mark);
      if (at != std::string::npos)
        Violation(who + "-sanitizer-report", who, "\n" + log.substr(at, std::min<std::size_t>(6000, log.size() - at)));
    }
  }

  int SoakFindings::Total() const
  {
    int total = 0;
    for (const auto& entry : m_counts)
      total += entry.second;
    return total;
  }

  void SoakFindings::PrintCounts() const
  {
    for (const auto& entry : m_counts)
      std::printf("COUNT [%s] %d\n", entry.first.c_str(), entry.second);
    std::fflush(stdout);
  }
}
