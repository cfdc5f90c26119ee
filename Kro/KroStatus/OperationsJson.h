// OperationsJson: the readings as the JSON of /api/operations:
//   {"time": ms, "server": {"name", "host", "pid"},
//    "counters": {"ended": n, "queueWait": {"count": n, "sumSeconds": s}},
//    "healthy": bool, "serverObjects": n,
//    "pool": {"threads", "idle", "min", "max", "waiting"},
//    "total": n, "shown": n,
//    "operations": [{"object", "user", "id", "name", "state", "place",
//                    "progress", "status", "submitted", "started", "ended"}, ...]}
// Live operations first in the order of submission, then the recently ended
// ones, oldest first; at most OperationsShown::most of them ("total" counts
// them all), each name, user and status cut to OperationsShown::text bytes
// (on a character's boundary, "..." added). Times in milliseconds since the
// epoch, 0 when not yet.
// The counters run from the start of the process: a reader draws rates
// from the differences between two readings.
#ifndef KROSTATUS_OPERATIONSJSON_H
#define KROSTATUS_OPERATIONSJSON_H

#include "KroStatus/StatusReadings.h"

#include <cstddef>
#include <string>

namespace KroStatus
{
  struct OperationsShown
  {
    std::size_t most = 500;  // operations in one reply
    std::size_t text = 256;  // bytes of a name, user or status
  };

  std::string FormatOperations(const StatusReadings& readings, const OperationsShown& shown = OperationsShown());
}

#endif
