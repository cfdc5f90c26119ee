#include "ResultLine.h"

#include <cstdio>

namespace KroBench
{
  void PrintResultLine(const std::string& target, int steps, int clients, bool ping, const LoadResult& result)
  {
    const double cpu = result.clientCpu + (result.serverCpu > 0 ? result.serverCpu : 0);
    std::printf("RESULT target=%s steps=%d clients=%d ping=%d ops=%ld errors=%ld seconds=%.3f ops_per_s=%.0f"
                " p50_us=%.0f p99_us=%.0f cpu_us_per_op=%.1f client_cpu_s=%.3f server_cpu_s=%.3f\n",
                target.c_str(), steps, clients, ping ? 1 : 0, result.operations, result.errors, result.seconds,
                result.operations / result.seconds, result.p50Us, result.p99Us,
                result.operations > 0 ? cpu * 1e6 / result.operations : 0.0, result.clientCpu, result.serverCpu);
    std::fflush(stdout);
  }
}
