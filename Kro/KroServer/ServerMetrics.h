// ServerMetrics: the process's counters for its operators (read by the status
// endpoint): callbacks sent to clients and how they failed, clients
// detached, and how long operations waited in the queue and ran.
//
// Recording costs one relaxed atomic increment or two, so the pipeline keeps
// them on all the time; readers take a Snapshot, whose values may be a few
// increments apart from one another. Thread-safe; lives to the process's end.
#ifndef KROSERVER_SERVERMETRICS_H
#define KROSERVER_SERVERMETRICS_H

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace Krovane
{
  // Counts of durations in fixed buckets, in the manner of a Prometheus
  // histogram: bucket i counts durations of at most kBoundsSeconds[i].
  class DurationHistogram
  {
  public:
    static constexpr std::size_t kBuckets = 12;
    static const std::array<double, kBuckets> kBoundsSeconds;  // ascending; the last is +Inf

    struct Snapshot
    {
      std::array<std::uint64_t, kBuckets> cumulative{};  // durations <= each bound
      std::uint64_t count = 0;
      double sumSeconds = 0;
    };

    void Record(std::chrono::nanoseconds duration);
    Snapshot Read() const;

  private:
    std::array<std::atomic<std::uint64_t>, kBuckets> m_counts{};  // per bucket, not cumulative
    std::atomic<std::uint64_t> m_sumNanoseconds{0};
  };

  class ServerMetrics
  {
  public:
    // How one callback to a client ended.
    enum class CallbackOutcome { kSent, kFailed, kTimedOut };

    static ServerMetrics& Instance();

    void CountCallback(CallbackOutcome outcome);
    // A relay stopped calling its client after a failure (the client is
    // taken for gone).
    void CountClientDetached();
    // From submission to the start of the run on a pool thread.
    void RecordQueueWait(std::chrono::nanoseconds waited);
    // From the start of the run to its end.
    void RecordRunTime(std::chrono::nanoseconds ran);
    // The server has begun to shut down (its idle task decided so, or it
    // was told to): health checks fail from here on.
    void NoteShuttingDown();
    bool ShuttingDown() const;

    struct Snapshot
    {
      std::uint64_t callbacksSent = 0;
      std::uint64_t callbacksFailed = 0;
      std::uint64_t callbacksTimedOut = 0;
      std::uint64_t clientsDetached = 0;
      DurationHistogram::Snapshot queueWait;
      DurationHistogram::Snapshot runTime;
    };
    Snapshot Read() const;

  private:
    ServerMetrics() = default;

    std::atomic<std::uint64_t> m_callbacksSent{0};
    std::atomic<std::uint64_t> m_callbacksFailed{0};
    std::atomic<std::uint64_t> m_callbacksTimedOut{0};
    std::atomic<std::uint64_t> m_clientsDetached{0};
    std::atomic<bool> m_shuttingDown{false};
    DurationHistogram m_queueWait;
    DurationHistogram m_runTime;
  };
}

#endif
