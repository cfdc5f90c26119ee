// StatusReadings: what the status endpoint shows, read at one moment from
// the library: the pool, the object table, the operation registry, the
// server's counters and its health. Each part is read on its own, so parts
// may be a few events apart from one another.
#ifndef KROSTATUS_STATUSREADINGS_H
#define KROSTATUS_STATUSREADINGS_H

#include "KroServer/OperationRegistry.h"
#include "KroServer/ServerMetrics.h"

#include <omniORB4/CORBA.h>

#include <cstdint>

namespace KroStatus
{
  struct PoolReadings
  {
    bool present = false;  // the process has its pool
    int threads = 0;       // started and not yet ended
    int idle = 0;          // looking or waiting for work
    int min = 0;
    int max = 0;
    int waiting = 0;       // operations in the queue
  };

  struct StatusReadings
  {
    std::int64_t timeMs = 0;     // when read, milliseconds since the epoch
    bool orbRuns = false;        // the ORB is not shut down
    bool shuttingDown = false;   // the server has begun to shut down
    PoolReadings pool;
    int serverObjects = 0;       // in the process's object table
    Krovane::OperationRegistry::Views operations;
    Krovane::ServerMetrics::Snapshot counters;

    // 200 for /healthz: the ORB runs, no shutdown has begun, and the pool
    // can take work.
    bool Healthy() const { return orbRuns && !shuttingDown && pool.present && pool.max > 0; }
  };

  // Reads everything; orb: the process's ORB (not released).
  StatusReadings ReadStatus(CORBA::ORB_ptr orb);
  // Only what /healthz needs (no operations, no object table).
  StatusReadings ReadHealth(CORBA::ORB_ptr orb);

  // The name of a state as the endpoint shows it ("queued", ...).
  const char* StateName(Krovane::OperationState state);
  // The state an operator reads for an operation: "failed" for a finished
  // one that told its client Error, StateName otherwise.
  const char* ShownState(const Krovane::OperationView& operation);
}

#endif
