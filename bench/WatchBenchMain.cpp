// KroBenchWatch: what the client library's watch costs. Two AsyncClients in
// one process, one with the watch (the default bound) and one without,
// drive jobs on the library job server in turns (on, off, on, ...), each
// keeping a window of jobs in flight for a slice of time; the ops/s of each
// are compared, and so is the client process's CPU time per job, which the
// server's share of the machine does not move as much. While callbacks flow
// the watch sends nothing: its request count is printed too.
//
//   KroBenchWatch IOR-OR-FILE [--steps N] [--window N] [--seconds S] [--rounds R] [-ORB options]
//
// Prints "RESULT watch steps=.. window=.. on_ops_per_s=.. off_ops_per_s=..
// on_off=.. on_cpu_us=.. off_cpu_us=.. cpu_on_off=.. watch_requests=.."
// (medians of the rounds); status 1 when a job
// did not finish.
#include "KroClient/KroClient.h"

#include "KroBenchJobs.hh"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;

  struct Settings
  {
    int steps = 10;       // Progress callbacks per job
    int window = 8;       // jobs in flight
    double seconds = 1;   // per slice
    int rounds = 5;       // slices per client
  };

  struct SliceResult
  {
    double opsPerSecond = -1;  // -1: a job did not finish
    double cpuMicrosPerOp = 0; // this process's CPU time, all threads
  };

  double ProcessCpuSeconds()
  {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
  }

  // Jobs through client for one slice.
  SliceResult Slice(KroClient::AsyncClient& client, KroBench::IJobs_ptr jobs, const Settings& settings)
  {
    std::deque<KroClient::Operation> flying;
    long done = 0;
    const double cpuStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(settings.seconds));
    for (;;)
    {
      const bool more = Clock::now() < end;
      if (more && static_cast<int>(flying.size()) < settings.window)
      {
        flying.push_back(client.Submit(jobs, [&](Krovane::IAsyncHandler_ptr handler)
                                       { return jobs->Submit(settings.steps, handler); }));
        continue;
      }
      if (flying.empty())
        break;
      if (flying.front().WaitForEnd(Clock::now() + std::chrono::seconds(30)) != KroClient::Outcome::Finished)
        return SliceResult{};
      flying.pop_front();
      ++done;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return SliceResult{done / seconds, done ? (ProcessCpuSeconds() - cpuStart) * 1e6 / done : 0};
  }

  double Median(std::vector<double> values)
  {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }
}

int main(int argc, char** argv)
{
  return KroClient::RunClient(argc, argv, [](KroClient::ClientOrb& orb, int argc, char** argv) {
    Settings settings;
    const char* where = nullptr;
    for (int i = 1; i < argc; ++i)
    {
      const bool valued = i + 1 < argc;
      if (valued && std::strcmp(argv[i], "--steps") == 0)
        settings.steps = std::atoi(argv[++i]);
      else if (valued && std::strcmp(argv[i], "--window") == 0)
        settings.window = std::max(1, std::atoi(argv[++i]));
      else if (valued && std::strcmp(argv[i], "--seconds") == 0)
        settings.seconds = std::max(0.1, std::atof(argv[++i]));
      else if (valued && std::strcmp(argv[i], "--rounds") == 0)
        settings.rounds = std::max(1, std::atoi(argv[++i]));
      else if (!where && argv[i][0] != '-')
        where = argv[i];
      else
        return std::fprintf(stderr, "usage: %s IOR-OR-FILE [--steps N] [--window N] [--seconds S] [--rounds R]\n",
                            argv[0]), 2;
    }
    if (!where)
      return std::fprintf(stderr, "usage: %s IOR-OR-FILE [--steps N] [--window N] [--seconds S] [--rounds R]\n",
                          argv[0]), 2;
    Krovane::IServerFactory_var factory = orb.Resolve<Krovane::IServerFactory>(where);
    Krovane::ISyncServer_var object = factory->CreateObject(Krovane::UserToken());
    KroBench::IJobs_var jobs = KroBench::IJobs::_narrow(object.in());
    KroClient::AsyncClient watched(orb.Poa());
    KroClient::AsyncClient unwatched(orb.Poa(), std::chrono::milliseconds(0));

    Slice(watched, jobs.in(), Settings{settings.steps, settings.window, 0.3, 1});  // warm-up, both ways
    Slice(unwatched, jobs.in(), Settings{settings.steps, settings.window, 0.3, 1});
    const std::uint64_t requestsBefore = watched.WatchRequests();
    std::vector<double> on, off, onCpu, offCpu;
    for (int round = 0; round < settings.rounds; ++round)
    {
      // The order alternates too, so that neither always follows the other.
      for (int turn = 0; turn < 2; ++turn)
      {
        const bool watching = (round + turn) % 2 == 0;
        const SliceResult slice = Slice(watching ? watched : unwatched, jobs.in(), settings);
        if (slice.opsPerSecond < 0)
          return std::fprintf(stderr, "KroBenchWatch: a job did not finish\n"), 1;
        (watching ? on : off).push_back(slice.opsPerSecond);
        (watching ? onCpu : offCpu).push_back(slice.cpuMicrosPerOp);
      }
    }
    const double onRate = Median(on), offRate = Median(off);
    const double onCpuPerOp = Median(onCpu), offCpuPerOp = Median(offCpu);
    std::printf("RESULT watch steps=%d window=%d on_ops_per_s=%.0f off_ops_per_s=%.0f on_off=%.3f "
                "on_cpu_us=%.1f off_cpu_us=%.1f cpu_on_off=%.3f watch_requests=%llu\n",
                settings.steps, settings.window, onRate, offRate, onRate / offRate, onCpuPerOp, offCpuPerOp,
                offCpuPerOp > 0 ? onCpuPerOp / offCpuPerOp : 0.0,
                static_cast<unsigned long long>(watched.WatchRequests() - requestsBefore));
    object->Remove();
    return 0;
  });
}
