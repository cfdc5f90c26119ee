#include "KroStatus/MetricsText.h"

#include "KroStatus/Utf8Text.h"

#include <cmath>
#include <map>
#include <sstream>
#include <utility>

namespace KroStatus
{
  namespace
  {
    const char* const kShownStates[] = {"queued", "running", "finished", "failed", "cancelled"};

    // A label value: valid UTF-8 (a scraper refuses the whole scrape for
    // one bad byte), escaped as the format wants (backslash, quote, newline).
    std::string LabelValue(const std::string& text)
    {
      std::string escaped;
      escaped.reserve(text.size());
      for (char c : ValidUtf8(text))
      {
        if (c == '\\' || c == '"')
          escaped += '\\';
        if (c == '\n')
        {
          escaped += "\\n";
          continue;
        }
        escaped += c;
      }
      return escaped;
    }

    class MetricWriter
    {
    public:
      void Head(const char* name, const char* type, const char* help)
      {
        m_text << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
      }
      template <typename Value>
      void Sample(const std::string& name, Value value, const std::string& labels = std::string())
      {
        m_text << name;
        if (!labels.empty())
          m_text << '{' << labels << '}';
        m_text << ' ' << value << '\n';
      }
      void Gauge(const char* name, const char* help, double value)
      {
        Head(name, "gauge", help);
        Sample(name, value);
      }
      void Histogram(const char* name, const char* help, const Krovane::DurationHistogram::Snapshot& h)
      {
        Head(name, "histogram", help);
        const std::string bucket = std::string(name) + "_bucket";
        for (std::size_t i = 0; i < Krovane::DurationHistogram::kBuckets; ++i)
        {
          const double bound = Krovane::DurationHistogram::kBoundsSeconds[i];
          std::ostringstream le;
          if (std::isinf(bound))
            le << "+Inf";
          else
            le << bound;
          Sample(bucket, h.cumulative[i], "le=\"" + le.str() + "\"");
        }
        Sample(std::string(name) + "_sum", h.sumSeconds);
        Sample(std::string(name) + "_count", h.count);
      }
      std::string Text() const { return m_text.str(); }

    private:
      std::ostringstream m_text;  // what is written so far
    };

    std::string StateLabel(const std::string& state)
    {
      return "state=\"" + state + "\"";
    }
  }

  std::string FormatMetrics(const StatusReadings& readings)
  {
    MetricWriter out;
    out.Gauge("kro_up", "1 while the ORB runs, the pool can take work and no shutdown has begun.",
              readings.Healthy() ? 1 : 0);
    out.Gauge("kro_server_objects", "Server objects in the process's object table.", readings.serverObjects);

    // Every record held: the live operations and the recently ended ones kept.
    std::map<std::string, int> byState;
    std::map<std::pair<std::string, std::string>, int> byUser;
    for (const auto* list : {&readings.operations.live, &readings.operations.finished})
      for (const Krovane::OperationView& operation : *list)
      {
        ++byState[ShownState(operation)];
        ++byUser[{operation.user, ShownState(operation)}];
      }
    out.Head("kro_operations", "gauge",
             "Operations by state: the live ones and the recently ended ones the registry keeps.");
    for (const char* state : kShownStates)
      out.Sample("kro_operations", byState[state], StateLabel(state));
    out.Head("kro_operations_ended_total", "counter", "Operations ended since the registry was switched on, by state.");
    for (Krovane::OperationState state : {Krovane::Finished, Krovane::Cancelled})
      out.Sample("kro_operations_ended_total", readings.operations.endedTotal[state], StateLabel(StateName(state)));
    out.Sample("kro_operations_ended_total", readings.operations.failedTotal, StateLabel("failed"));
    out.Gauge("kro_operations_waiting", "Operations waiting in the pool's queue.", readings.pool.waiting);
    out.Head("kro_user_operations", "gauge", "Operations by user and state, as kro_operations counts them.");
    for (const auto& entry : byUser)
      out.Sample("kro_user_operations", entry.second,
                 "user=\"" + LabelValue(entry.first.first) + "\"," + StateLabel(entry.first.second));

    out.Gauge("kro_pool_threads", "Pool threads started and not yet ended.", readings.pool.threads);
    out.Gauge("kro_pool_idle_threads", "Pool threads looking or waiting for work.", readings.pool.idle);
    out.Gauge("kro_pool_min_threads", "Pool threads kept when idle.", readings.pool.min);
    out.Gauge("kro_pool_max_threads", "Most threads the pool may hold.", readings.pool.max);

    const Krovane::ServerMetrics::Snapshot& counters = readings.counters;
    out.Head("kro_callbacks_total", "counter", "Callbacks to clients, by how they ended.");
    out.Sample("kro_callbacks_total", counters.callbacksSent, "outcome=\"sent\"");
    out.Sample("kro_callbacks_total", counters.callbacksFailed, "outcome=\"failed\"");
    out.Sample("kro_callbacks_total", counters.callbacksTimedOut, "outcome=\"timed_out\"");
    out.Head("kro_clients_detached_total", "counter", "Clients a relay stopped calling after a failure.");
    out.Sample("kro_clients_detached_total", counters.clientsDetached);
    out.Histogram("kro_operation_queue_wait_seconds", "From submission to the start of the run.",
                  counters.queueWait);
    out.Histogram("kro_operation_run_seconds", "From the start of the run to its end.", counters.runTime);
    return out.Text();
  }
}
