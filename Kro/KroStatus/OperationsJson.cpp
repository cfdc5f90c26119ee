#include "KroStatus/OperationsJson.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace KroStatus
{
  namespace
  {
    // text, at most most bytes, never ending inside a UTF-8 character.
    std::string Cut(const std::string& text, std::size_t most)
    {
      if (text.size() <= most)
        return text;
      std::size_t end = most;
      while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
      return text.substr(0, end) + "...";
    }

    nlohmann::json OperationJson(const Krovane::OperationView& operation, std::size_t text)
    {
      return {{"object", operation.object},      {"user", Cut(operation.user, text)},
              {"id", operation.id},              {"name", Cut(operation.name, text)},
              {"state", ShownState(operation)}, {"place", operation.place},
              {"progress", operation.progress},  {"status", Cut(operation.status, text)},
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

  std::string FormatOperations(const StatusReadings& readings, const OperationsShown& shown)
  {
    nlohmann::json operations = nlohmann::json::array();
    std::size_t total = 0;
    for (const auto* list : {&readings.operations.live, &readings.operations.finished})
      for (const Krovane::OperationView& operation : *list)
        if (total++ < shown.most)
          operations.push_back(OperationJson(operation, shown.text));
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
      {"total", total},
      {"shown", operations.size()},
      {"operations", operations}};
    // Bytes that are not UTF-8 (a status text may hold any) are replaced, never thrown on.
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}
