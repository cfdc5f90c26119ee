// LoadRun: N client threads, each with a session of its own, repeating
// their operation as fast as it completes: a warm-up, then a measured window
// in which completed operations, their latencies and the CPU time of the
// client and the server are taken.
//
// Ownership and threads: the client's main thread owns one and calls its
// functions; the client threads live inside them.
#ifndef KRO_BENCH_LOADRUN_H
#define KRO_BENCH_LOADRUN_H

#include "ClientSession.h"

#include <functional>
#include <memory>

#include <sys/types.h>

namespace KroBench
{
  // What a measured window gave.
  struct LoadResult
  {
    long operations = 0;       // completed within the window
    long errors = 0;           // failed operations or sessions, at any time
    double seconds = 0;        // the window's length
    double p50Us = 0;          // latency percentiles of the window's operations
    double p99Us = 0;
    double clientCpu = 0;      // CPU seconds in the window, the client's
    double serverCpu = 0;      // and the server's (-1: unknown)
  };

  class LoadRun
  {
  public:
    using SessionMaker = std::function<std::unique_ptr<ClientSession>()>;

    // clients: threads; makeSession makes each one's session; serverPid:
    // whose CPU to read (0: none).
    LoadRun(int clients, SessionMaker makeSession, pid_t serverPid);

    // Warms up for warmupSeconds (and, when poolThreads > 0, until the
    // server's pool has that many threads, at most 20 s more), then measures
    // for seconds.
    LoadResult Measure(double warmupSeconds, int poolThreads, double seconds);

    // A fresh start: milliseconds until every client has had its first
    // operation completed (its server object created first); -1 on failure.
    double FirstOperations();

  private:
    const int m_clients;           // client threads
    const SessionMaker m_makeSession;
    const pid_t m_serverPid;       // 0: none
  };
}

#endif
