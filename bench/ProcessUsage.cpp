#include "ProcessUsage.h"

#include <fstream>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace KroBench
{
  double OwnCpuSeconds()
  {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }

  double ProcessCpuSeconds(pid_t pid)
  {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (pid <= 0 || !std::getline(stat, line))
      return -1;
    // The command name may hold blanks: fields are counted after its ')'.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index)  // the state is field 3
      if (index == 14)
        utime = std::stoull(field);
      else if (index == 15)
      {
        stime = std::stoull(field);
        break;
      }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  long ProcessResidentBytes(pid_t pid)
  {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (pid > 0 && std::getline(status, line))
      if (line.compare(0, 6, "VmRSS:") == 0)
        return std::stol(line.substr(6)) * 1024;  // in kB
    return -1;
  }
}
