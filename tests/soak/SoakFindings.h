// SoakFindings: what a soak process found, by check: each violation is
// printed as it is found ("VIOLATION [check] where: detail", the first few
// of each check), every one is counted, and the counts end the output
// ("COUNT [check] n") for the coordinator to add up.
//
// Threads: one owner thread (a client's or the coordinator's).
#ifndef KRO_TESTS_SOAK_SOAKFINDINGS_H
#define KRO_TESTS_SOAK_SOAKFINDINGS_H

#include <map>
#include <string>

namespace KroSoak
{
  class SoakFindings
  {
  public:
    // One violation of check at where (a client, calculator and operation).
    void Violation(const std::string& check, const std::string& where, const std::string& detail);
    // Adds count violations of check reported elsewhere (a client's COUNT line).
    void Add(const std::string& check, int count);
    // Adds every "COUNT [check] n" line of output.
    void AddCounts(const std::string& output);
    // A violation for each sanitizer report in log (a process's stderr) of who.
    void SanitizerReports(const std::string& log, const std::string& who);

    int Total() const;
    // One "COUNT [check] n" line per check.
    void PrintCounts() const;

  private:
    std::map<std::string, int> m_counts;  // violations per check
  };
}

#endif
