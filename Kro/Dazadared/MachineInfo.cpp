#include "Dazadared/MachineInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <sstream>

namespace Halvern_Utilities
{
  std::string GetMachineInfo()
  {
    std::ostringstream info;

    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0)
      info << "Host: " << host << "\n";

    struct utsname system;
    if (uname(&system) == 0)
      info << "OS: " << system.sysname << " " << system.release << " " << system.machine << "\n";

    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (cores > 0)
      info << "Cores: " << cores << "\n";

    const long pageSize = sysconf(_SC_PAGESIZE);
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long freePages = sysconf(_SC_AVPHYS_PAGES);
    if (pageSize > 0 && pages > 0)
    {
      const long long mib = 1024LL * 1024LL;
      info << "Memory: " << (static_cast<long long>(pages) * pageSize) / mib << " MiB";
      if (freePages >= 0)
        info << " (" << (static_cast<long long>(freePages) * pageSize) / mib << " MiB available)";
      info << "\n";
    }
    return info.str();
  }
}
