#include "ServerMetrics.h"

#include <limits>

namespace Krovane
{
  const std::array<double, DurationHistogram::kBuckets> DurationHistogram::kBoundsSeconds = {
    0.0001, 0.0005, 0.001, 0.005, 0.01, 0.05, 0.1, 0.5, 1, 5, 30,
    std::numeric_limits<double>::infinity()};

  void DurationHistogram::Record(std::chrono::nanoseconds duration)
  {
    const double seconds = std::chrono::duration<double>(duration).count();
    std::size_t bucket = 0;
    while (bucket + 1 < kBuckets && seconds > kBoundsSeconds[bucket])
      ++bucket;
    m_counts[bucket].fetch_add(1, std::memory_order_relaxed);
    const auto nanoseconds = duration.count() > 0 ? static_cast<std::uint64_t>(duration.count()) : 0;
    m_sumNanoseconds.fetch_add(nanoseconds, std::memory_order_relaxed);
  }

  DurationHistogram::Snapshot DurationHistogram::Read() const
  {
    Snapshot snapshot;
    std::uint64_t running = 0;
    for (std::size_t i = 0; i < kBuckets; ++i)
    {
      running += m_counts[i].load(std::memory_order_relaxed);
      snapshot.cumulative[i] = running;
    }
    snapshot.count = running;
    snapshot.sumSeconds = m_sumNanoseconds.load(std::memory_order_relaxed) / 1e9;
    return snapshot;
  }

  ServerMetrics& ServerMetrics::Instance()
  {
    static ServerMetrics metrics;  // never destroyed before the threads that count
    return metrics;
  }

  void ServerMetrics::CountCallback(CallbackOutcome outcome)
  {
    switch (outcome)
    {
    case CallbackOutcome::kSent: m_callbacksSent.fetch_add(1, std::memory_order_relaxed); break;
    case CallbackOutcome::kFailed: m_callbacksFailed.fetch_add(1, std::memory_order_relaxed); break;
    case CallbackOutcome::kTimedOut: m_callbacksTimedOut.fetch_add(1, std::memory_order_relaxed); break;
    }
  }

  void ServerMetrics::CountClientDetached()
  {
    m_clientsDetached.fetch_add(1, std::memory_order_relaxed);
  }

  void ServerMetrics::RecordQueueWait(std::chrono::nanoseconds waited)
  {
    m_queueWait.Record(waited);
  }

  void ServerMetrics::RecordRunTime(std::chrono::nanoseconds ran)
  {
    m_runTime.Record(ran);
  }

  void ServerMetrics::NoteShuttingDown()
  {
    m_shuttingDown.store(true, std::memory_order_relaxed);
  }

  bool ServerMetrics::ShuttingDown() const
  {
    return m_shuttingDown.load(std::memory_order_relaxed);
  }

  ServerMetrics::Snapshot ServerMetrics::Read() const
  {
    Snapshot snapshot;
    snapshot.callbacksSent = m_callbacksSent.load(std::memory_order_relaxed);
    snapshot.callbacksFailed = m_callbacksFailed.load(std::memory_order_relaxed);
    snapshot.callbacksTimedOut = m_callbacksTimedOut.load(std::memory_order_relaxed);
    snapshot.clientsDetached = m_clientsDetached.load(std::memory_order_relaxed);
    snapshot.queueWait = m_queueWait.Read();
    snapshot.runTime = m_runTime.Read();
    return snapshot;
  }
}
