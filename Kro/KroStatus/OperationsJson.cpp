#include "KroStatus/OperationsJson.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdint>

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

    // Which server this is, for the page's title: program, host, process.
    nlohmann::json ServerJson()
    {
      char host[256] = {};
      if (gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
      return {{"name", program_invocation_short_name}, {"host", host}, {"pid", static_cast<int>(getpid())}};
    }

    // The running totals the page's charts are drawn from (differences
    // between two readings): operations ended, and the queue's waits.
    nlohmann::json CountersJson(const StatusReadings& readings)
    {
      std::uint64_t ended = 0;
      for (std::uint64_t count : readings.operations.endedTotal)
        ended += count;
      return {{"ended", ended},
              {"queueWait",
               {{"count", readings.counters.queueWait.count}, {"sumSeconds", readings.counters.queueWait.sumSeconds}}}};
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
      {"server", ServerJson()},
      {"counters", CountersJson(readings)},
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
