#include "LoadRun.h"

#include "BenchClock.h"
#include "ProcessUsage.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace KroBench
{
  namespace
  {
    using Ticks = BenchClock::rep;
    Ticks Now() { return BenchClock::now().time_since_epoch().count(); }
    double Micros(Ticks ticks) { return std::chrono::duration<double, std::micro>(BenchClock::duration(ticks)).count(); }

    // The shared state of one measured run.
    struct Window
    {
      std::atomic<Ticks> start{std::numeric_limits<Ticks>::max()};  // operations completing from here on count
      std::atomic<Ticks> end{std::numeric_limits<Ticks>::max()};    // until here
      std::atomic<bool> stop{false};                                 // threads end after their operation
      std::atomic<long> errors{0};
      std::mutex lock;              // guards latencies
      std::vector<double> latencies;  // microseconds, of every counted operation
    };

    void RunClient(const LoadRun::SessionMaker& makeSession, Window& window)
    {
      std::vector<double> latencies;
      try
      {
        std::unique_ptr<ClientSession> session = makeSession();
        while (!window.stop.load())
        {
          const Ticks begin = Now();
          const bool ok = session->Operation();
          const Ticks end = Now();
          if (!ok)
          {
            ++window.errors;
            break;
          }
          if (end >= window.start.load() && end <= window.end.load())
            latencies.push_back(Micros(end - begin));
        }
      }
      catch (...)  // whatever a session's middleware throws: a failed client
      {
        ++window.errors;
      }
      std::lock_guard<std::mutex> guard(window.lock);
      window.latencies.insert(window.latencies.end(), latencies.begin(), latencies.end());
    }

    double Percentile(const std::vector<double>& sorted, double fraction)
    {
      if (sorted.empty())
        return 0;
      const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()));
      return sorted[index];
    }
  }

  LoadRun::LoadRun(int clients, SessionMaker makeSession, pid_t serverPid)
    : m_clients(clients), m_makeSession(std::move(makeSession)), m_serverPid(serverPid)
  {
  }

  LoadResult LoadRun::Measure(double warmupSeconds, int poolThreads, double seconds)
  {
    Window window;
    std::vector<std::thread> threads;
    for (int i = 0; i < m_clients; ++i)
      threads.emplace_back([this, &window]() { RunClient(m_makeSession, window); });

    // A warm-up under load; the library's pool grows one thread at a time.
    std::this_thread::sleep_for(std::chrono::duration<double>(warmupSeconds));
    if (poolThreads > 0)
    {
      std::unique_ptr<ClientSession> probe = m_makeSession();
      const auto deadline = BenchClock::now() + std::chrono::seconds(20);
      while (probe->PoolThreads() < poolThreads && BenchClock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    LoadResult result;
    const double clientCpu = OwnCpuSeconds();
    const double serverCpu = m_serverPid > 0 ? ProcessCpuSeconds(m_serverPid) : -1;
    const Ticks start = Now();
    window.start = start;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const Ticks end = Now();
    window.end = end;
    result.clientCpu = OwnCpuSeconds() - clientCpu;
    result.serverCpu = m_serverPid > 0 ? ProcessCpuSeconds(m_serverPid) - serverCpu : -1;
    window.stop = true;
    for (std::thread& thread : threads)
      thread.join();

    std::sort(window.latencies.begin(), window.latencies.end());
    result.operations = static_cast<long>(window.latencies.size());
    result.errors = window.errors.load();
    result.seconds = Micros(end - start) / 1e6;
    result.p50Us = Percentile(window.latencies, 0.50);
    result.p99Us = Percentile(window.latencies, 0.99);
    return result;
  }

  double LoadRun::FirstOperations()
  {
    Window window;
    window.start = 0;  // every operation counts
    window.stop = true;  // each client stops after its first operation
    const Ticks start = Now();
    std::atomic<Ticks> last{start};
    std::vector<std::thread> threads;
    for (int i = 0; i < m_clients; ++i)
      threads.emplace_back([this, &window, &last]()
      {
        try
        {
          std::unique_ptr<ClientSession> session = m_makeSession();
          if (!session->Operation())
            ++window.errors;
          const Ticks done = Now();
          Ticks seen = last.load();
          while (done > seen && !last.compare_exchange_weak(seen, done))
          {
          }
        }
        catch (...)
        {
          ++window.errors;
        }
      });
    for (std::thread& thread : threads)
      thread.join();
    return window.errors.load() == 0 ? Micros(last.load() - start) / 1e3 : -1;
  }
}
