// CPU time and resident memory of processes, as the benchmark reads them:
// its own through getrusage, the server's through /proc/PID.
//
// Free functions, callable from any thread.
#ifndef KRO_BENCH_PROCESSUSAGE_H
#define KRO_BENCH_PROCESSUSAGE_H

#include <sys/types.h>

namespace KroBench
{
  // CPU seconds (user + system) used so far by the calling process.
  double OwnCpuSeconds();
  // CPU seconds used so far by process pid (clock-tick resolution); -1 when unknown.
  double ProcessCpuSeconds(pid_t pid);
  // Resident set of process pid in bytes (VmRSS); -1 when unknown.
  long ProcessResidentBytes(pid_t pid);
}

#endif
