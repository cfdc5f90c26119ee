#include "KroStatus/OperationsJson.h"

#include <nlohmann/json.hpp>

namespace KroStatus
{
  namespace
  {
    nlohmann::json OperationJson(const Krovane::OperationView& operation)
    {
      return {{"object", operation.object},      {"user", operation.user},
              {"id", operation.id},              {"name", operation.name},
              {"state", StateName(operation.state)}, {"place", operation.place},
              {"progress", operation.progress},  {"status", operation.status},
              {"submitted", operation.submittedMs}, {"started", operation.startedMs},
              {"ended", operation.endedMs}};
    }
  }

  std::string FormatOperations(const StatusReadings& readings)
  {
    nlohmann::json operations = nlohmann::json::array();
    for (const auto* list : {&readings.operations.live, &readings.operations.finished})
      for (const Krovane::OperationView& operation : *list)
        operations.push_back(OperationJson(operation));
    const nlohmann::json document = {
      {"time", readings.timeMs},
      {"healthy", readings.Healthy()},
      {"serverObjects", readings.serverObjects},
      {"pool",
       {{"threads", readings.pool.threads},
        {"idle", readings.pool.idle},
        {"min", readings.pool.min},
        {"max", readings.pool.max},
        {"waiting", readings.pool.waiting}}},
      {"operations", operations}};
    // Bytes that are not UTF-8 (a status text may hold any) are replaced, never thrown on.
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}
