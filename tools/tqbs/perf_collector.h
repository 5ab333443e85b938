// One collection as the monitor and the endpoint take it: the state of the
// installation and of the provider, and the counters when there are any.
#ifndef TQBS_PERF_COLLECTOR_H
#define TQBS_PERF_COLLECTOR_H

#include <memory>
#include <string>
#include <vector>

#include "kvbasics.h"
#include "perf_host.h"

namespace tqbs::perf {

enum class Status { kNotInstalled, kDisabled, kNoProvider, kNoData, kData };

struct Sample {
    Status status = Status::kNotInstalled;
    ProviderState provider;
    std::vector<ObjectSample> objects;  // when kData
    double time = 0;                    // monotonic seconds
};

// Why a sample has no counters, for people; "" for kData.
std::string Absence(const Sample& sample);
// "ok", "not installed", "disabled", "no provider", "no data".
const char* StatusWord(Status status);

// Monotonic seconds.
double Now();

// Looks at the installation on every sample, so that it may come, go or be
// disabled while a monitor or an endpoint runs; loads the installed library
// once it is there.
class Collector {
public:
    // false with *error when the installed library or its entry points cannot
    // be loaded or the collection fails.
    bool Take(Sample* sample, std::string* error);
    // The installation the last sample saw; null when there was none.
    const KvPerfExtension* extension() const { return installed_ ? &extension_ : nullptr; }

private:
    std::unique_ptr<Host> host_;
    pid_t lastProvider_ = 0;  // the provider of the last sample
    bool installed_ = false;
    KvPerfExtension extension_{};
};

}  // namespace tqbs::perf

#endif  // TQBS_PERF_COLLECTOR_H
