// Runs the benchmarks, then prints for every benchmark named ".../ours" the
// ratio of its time to each sibling named ".../<peer>" (time per iteration,
// medians when repetitions are asked for). A ratio below 1 means ours is faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") continue;
            if (!aggregate && sawAggregate_) continue;
            sawAggregate_ = sawAggregate_ || aggregate;
            std::string name = run.run_name.str();
            times_[name] = run.GetAdjustedRealTime();
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-40s %-12s %10s\n", "path", "peer", "time ratio");
        for (const auto& [name, time] : times_) {
            const size_t slash = name.rfind('/');
            if (slash == std::string::npos || name.substr(slash + 1) != "ours") continue;
            const std::string stem = name.substr(0, slash + 1);
            for (const auto& [peer, peerTime] : times_) {
                if (peer == name || peer.rfind(stem, 0) != 0) continue;
                if (peer.find('/', stem.size()) != std::string::npos) continue;
                std::printf("%-40s %-12s %10.3f\n", stem.substr(0, stem.size() - 1).c_str(),
                            peer.substr(stem.size()).c_str(), time / peerTime);
            }
        }
    }

private:
    std::map<std::string, double> times_;
    bool sawAggregate_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
