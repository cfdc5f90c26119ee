// MetricsText: the readings in the Prometheus text exposition format
// (version 0.0.4), every metric named kro_*.
#ifndef KROSTATUS_METRICSTEXT_H
#define KROSTATUS_METRICSTEXT_H

#include "KroStatus/StatusReadings.h"

#include <string>

namespace KroStatus
{
  std::string FormatMetrics(const StatusReadings& readings);
}

#endif
