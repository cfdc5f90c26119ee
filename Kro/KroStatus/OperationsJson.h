// OperationsJson: the readings as the JSON of /api/operations:
//   {"time": ms, "server": {"name", "host", "pid"},
//    "counters": {"ended": n, "queueWait": {"count": n, "sumSeconds": s}},
//    "healthy": bool, "serverObjects": n,
//    "pool": {"threads", "idle", "min", "max", "waiting"},
//    "operations": [{"object", "user", "id", "name", "state", "place",
//                    "progress", "status", "submitted", "started", "ended"}, ...]}
// Live operations first in the order of submission, then the recently ended
// ones, oldest first. Times in milliseconds since the epoch, 0 when not yet.
// The counters run from the start of the process: a reader draws rates
// from the differences between two readings.
#ifndef KROSTATUS_OPERATIONSJSON_H
#define KROSTATUS_OPERATIONSJSON_H

#include "KroStatus/StatusReadings.h"

#include <string>

namespace KroStatus
{
  std::string FormatOperations(const StatusReadings& readings);
}

#endif
