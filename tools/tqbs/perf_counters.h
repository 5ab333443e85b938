// The counters the tool knows: the library's own item table joined with the
// installed texts, and the names the tool gives them (Prometheus metrics,
// column labels) keyed by the counter's identifier, never by its installed
// text, which an installation may change.
#ifndef TQBS_PERF_COUNTERS_H
#define TQBS_PERF_COUNTERS_H

#include <cstdint>
#include <string>
#include <vector>

#include "kvbasics.h"

namespace tqbs::perf {

struct CounterInfo {
    uint32_t id = 0;         // the identifier in the item table (101...)
    uint32_t nameIndex = 0;  // the installed name index, 0 when not installed
    std::string name;        // installed name (else the library's), trailing blanks cut
    std::string help;        // installed help text (else the library's), likewise
    uint32_t type = 0;       // PERF_COUNTER_RAWCOUNT, PERF_COUNTER_COUNTER
    int32_t scale = 0;       // default display scale, a power of ten
    uint32_t detail = 0;     // detail level, PERF_DETAIL_...
    std::string base;        // "commits", "clients"
    std::string metric;      // "tessaloquin_commits_total", "tessaloquin_clients"
    std::string metricHelp;  // what the exported value is
    std::string column;      // a short label for fixed-width tables
    std::string field;       // the name of a monitor's value: "commits_per_second"
};

// The prefix of every metric.
inline constexpr const char* kMetricPrefix = "tessaloquin_";

class Catalogue {
public:
    // The counters of the library's item table, with the installed texts of
    // extension (null: not installed, the library's own texts).
    explicit Catalogue(const KvPerfExtension* extension);
    // Builds the catalogue again when the installed index range changed.
    void Refresh(const KvPerfExtension* extension);

    const std::vector<CounterInfo>& counters() const { return counters_; }
    // The counter whose collected definition has this name index, or null.
    const CounterInfo* ByNameIndex(uint32_t nameIndex) const;
    // The counter a user names: its base name, metric name with or without
    // the prefix, or installed name, ignoring case; null when none.
    const CounterInfo* ByUserName(const std::string& name) const;
    // Whether the names come from an installation.
    bool installed() const { return firstCounter_ != 0; }

private:
    uint32_t firstCounter_ = 0;
    uint32_t firstHelp_ = 0;
    std::vector<CounterInfo> counters_;
    std::vector<uint32_t> itemIds_;  // identifier of each table item, objects included
};

// "rate" (a running total, shown per second), "raw count" or "other".
const char* TypeText(uint32_t type);
// "novice", "advanced", "expert", "wizard", else the number.
std::string DetailText(uint32_t detail);

}  // namespace tqbs::perf

#endif  // TQBS_PERF_COUNTERS_H
