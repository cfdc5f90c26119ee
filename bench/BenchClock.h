// The clock and bounds of the benchmark client.
#ifndef KRO_BENCH_BENCHCLOCK_H
#define KRO_BENCH_BENCHCLOCK_H

#include <chrono>

namespace KroBench
{
  using BenchClock = std::chrono::steady_clock;
  // The longest a job may take before the client counts it as failed.
  const std::chrono::seconds kJobDeadline(30);
}

#endif
