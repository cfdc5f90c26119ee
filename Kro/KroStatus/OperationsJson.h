// OperationsJson: the readings as the JSON of /api/operations:
//   {"time": ms, "healthy": bool, "serverObjects": n,
//    "pool": {"threads", "idle", "min", "max", "waiting"},
//    "operations": [{"object", "user", "id", "name", "state", "place",
//                    "progress", "status", "submitted", "started", "ended"}, ...]}
// Live operations first in the order of submission, then the recently ended
// ones, oldest first. Times in milliseconds since the epoch, 0 when not yet.
#ifndef KROSTATUS_OPERATIONSJSON_H
#define KROSTATUS_OPERATIONSJSON_H

#include "KroStatus/StatusReadings.h"

#include <string>

namespace KroStatus
{
  std::string FormatOperations(const StatusReadings& readings);
}

#endif
