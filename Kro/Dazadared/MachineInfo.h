// A description of the machine the process runs on.
#ifndef DAZADARED_MACHINEINFO_H
#define DAZADARED_MACHINEINFO_H

#include <string>

namespace Halvern_Utilities
{
  // One line per fact: "Host: ", "OS: ", "Cores: ", "Memory: " (total and
  // available, in MiB). Empty only if nothing could be learnt. Any thread.
  std::string GetMachineInfo();
}

#endif
