#include "KroStatus/StatusReadings.h"

#include "KroServer/AsynchronousRouter.h"
#include "KroServer/ServerObjectTable.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "OrbLayer/OrbShutdown.h"

#include <chrono>

namespace KroStatus
{
  namespace
  {
    PoolReadings ReadPool()
    {
      PoolReadings readings;
      const Krovane::ThreadPoolThreadingPolicy* pool = Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy;
      if (!pool)
        return readings;
      const Krovane::PoolSnapshot snapshot = pool->Snapshot();
      readings.present = true;
      readings.threads = snapshot.threads;
      readings.idle = snapshot.idle;
      readings.min = snapshot.min;
      readings.max = snapshot.max;
      readings.waiting = snapshot.waiting;
      return readings;
    }
  }

  const char* StateName(Krovane::OperationState state)
  {
    switch (state)
    {
    case Krovane::Queued: return "queued";
    case Krovane::Running: return "running";
    case Krovane::Finished: return "finished";
    case Krovane::Cancelled: return "cancelled";
    }
    return "unknown";
  }

  const char* ShownState(const Krovane::OperationView& operation)
  {
    return operation.state == Krovane::Finished && operation.failed ? "failed" : StateName(operation.state);
  }

  StatusReadings ReadHealth(CORBA::ORB_ptr orb)
  {
    StatusReadings readings;
    readings.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    readings.shuttingDown = Krovane::ServerMetrics::Instance().ShuttingDown();
    readings.orbRuns = !KroOrb::OrbIsShutDown(orb);
    readings.pool = ReadPool();
    return readings;
  }

  StatusReadings ReadStatus(CORBA::ORB_ptr orb)
  {
    StatusReadings readings = ReadHealth(orb);
    // Never created here: a table made without its POA would serve no factory.
    if (Krovane::ServerObjectTable* table = Krovane::ServerObjectTable::Existing())
    {
      int operations = 0;
      table->NumObjectsAndActiveOperations(readings.serverObjects, operations);
    }
    readings.operations = Krovane::OperationRegistry::Instance().Read();
    readings.counters = Krovane::ServerMetrics::Instance().Read();
    return readings;
  }
}
