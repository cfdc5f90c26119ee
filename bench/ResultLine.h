// The benchmark clients' one line of output for a measured window, read by
// run-bench.sh: RESULT followed by key=value pairs.
//
// Free function; the client's main thread calls it.
#ifndef KRO_BENCH_RESULTLINE_H
#define KRO_BENCH_RESULTLINE_H

#include "LoadRun.h"

#include <string>

namespace KroBench
{
  // Prints result's line to stdout; CPU per operation is the client's and the
  // server's together.
  void PrintResultLine(const std::string& target, int steps, int clients, bool ping, const LoadResult& result);
}

#endif
