// The collection shared by the monitor and the endpoint.
#include "perf_collector.h"

#include <ctime>

namespace tqbs::perf {

std::string Absence(const Sample& sample) {
    switch (sample.status) {
        case Status::kNotInstalled:
            return "not installed: waiting for 'tqbs perf install'";
        case Status::kDisabled:
            return "disabled: \"Disable Performance Counters\" is set in the installation";
        case Status::kNoProvider:
            return "no provider: waiting for a Tessaloquin server to enable its counters";
        case Status::kNoData: {
            std::string text = "no data: the provider (";
            text += Describe(sample.provider);
            return text += ") has not published its block";
        }
        case Status::kData:
            break;
    }
    return "";
}

const char* StatusWord(Status status) {
    switch (status) {
        case Status::kNotInstalled:
            return "not installed";
        case Status::kDisabled:
            return "disabled";
        case Status::kNoProvider:
            return "no provider";
        case Status::kNoData:
            return "no data";
        case Status::kData:
            break;
    }
    return "ok";
}

double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool Collector::Take(Sample* sample, std::string* error) {
    sample->objects.clear();
    sample->time = Now();
    installed_ = KvQueryPerfExtension(kApplication, &extension_) == 0 && !HalfInstalled(extension_);
    if (!installed_) {
        sample->status = Status::kNotInstalled;
        return true;
    }
    if (extension_.disabled != 0) {
        sample->status = Status::kDisabled;
        return true;
    }
    if (host_ == nullptr) {
        auto host = std::make_unique<Host>();
        if (!host->Load(extension_, error)) return false;  // tried again next time
        host->Open();
        host_ = std::move(host);
    }
    sample->provider = QueryProvider();
    if (sample->provider.kind == ProviderState::kNone) {
        sample->status = Status::kNoProvider;
        return true;
    }
    if (sample->provider.pid != lastProvider_) {
        // A new server may publish in a new block (the old one cleaned up):
        // the extension follows it when opened again.
        lastProvider_ = sample->provider.pid;
        host_->Close();
        host_->Open();
    }
    if (!host_->Collect(&sample->objects, error)) return false;
    if (sample->objects.empty()) {
        // The block may have appeared since the extension was opened (a
        // monitor started before the server): open it again.
        host_->Close();
        host_->Open();
        if (!host_->Collect(&sample->objects, error)) return false;
    }
    sample->status = sample->objects.empty() ? Status::kNoData : Status::kData;
    return true;
}

}  // namespace tqbs::perf
