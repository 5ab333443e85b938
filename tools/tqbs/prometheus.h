// The Prometheus text exposition format (version 0.0.4) of one collection,
// shared by the textfile the monitor writes and the endpoint of perf serve.
#ifndef TQBS_PROMETHEUS_H
#define TQBS_PROMETHEUS_H

#include <string>

#include "perf_collector.h"
#include "perf_counters.h"

namespace tqbs::prometheus {

// The Content-Type of the format.
inline constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

// tessaloquin_up (1 when the sample has counters), then every counter of the
// sample that the catalogue knows: running totals as counters, raw counts as
// gauges, each with its HELP and TYPE line.
std::string Exposition(const perf::Sample& sample, const perf::Catalogue& catalogue);

}  // namespace tqbs::prometheus

#endif  // TQBS_PROMETHEUS_H
