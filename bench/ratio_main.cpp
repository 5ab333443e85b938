// Runs the benchmarks, then prints for every benchmark named ".../ours" the
// ratio of its time to each sibling named ".../<peer>", the ratio of every
// counter that both report ("<peer>[<counter>]"), and the counters that
// ".../ours" reports. Times are CPU time per iteration (on a shared machine
// the wall clock also counts the time others ran), medians when repetitions
// are asked for. A ratio below 1 means ours is faster.
//
// With TQ_BENCH_RESULTS set to a file name, the same lines are appended there
// for scripts/bench, tab-separated: "ratio PATH PEER VALUE" (PEER may be
// "<peer>[<counter>]") and "counter PATH NAME VALUE"; the size sweeps (rows
// named "sweep/...", registered for scripts/bench --plot) add their rates,
// "sweep NAME items_per_second|bytes_per_second VALUE".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            Result& result = results_[name];
            result.function = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
                result.median = run.GetAdjustedCPUTime();
                result.hasMedian = true;
                result.counters = run.counters;
            } else {
                result.times.push_back(run.GetAdjustedCPUTime());
                if (!result.hasMedian) result.counters = run.counters;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        FILE* file = nullptr;
        if (const char* path = std::getenv("TQ_BENCH_RESULTS"); path != nullptr && *path != 0)
            file = std::fopen(path, "a");
        std::printf("\n%-40s %-12s %10s\n", "path", "peer", "time ratio");
        for (const auto& [name, result] : results_) {
            const size_t slash = name.rfind('/');
            if (slash == std::string::npos || name.substr(slash + 1) != "ours") continue;
            const std::string stem = name.substr(0, slash + 1);
            const std::string path = stem.substr(0, stem.size() - 1);
            for (const auto& [peer, peerResult] : results_) {
                if (peer == name || peer.rfind(stem, 0) != 0) continue;
                if (peer.find('/', stem.size()) != std::string::npos) continue;
                const double ratio = result.Time() / peerResult.Time();
                const std::string peerName = peer.substr(stem.size());
                std::printf("%-40s %-12s %10.3f\n", path.c_str(), peerName.c_str(), ratio);
                if (file != nullptr)
                    std::fprintf(file, "ratio\t%s\t%s\t%.4f\n", path.c_str(), peerName.c_str(),
                                 ratio);
                // A counter that both report (bytes per entry, say) is compared too.
                for (const auto& [counter, value] : result.counters) {
                    const auto other = peerResult.counters.find(counter);
                    if (counter.find("_per_second") != std::string::npos ||
                        other == peerResult.counters.end() || other->second.value == 0) {
                        continue;
                    }
                    const std::string label = peerName + "[" + counter + "]";
                    const double counterRatio = value.value / other->second.value;
                    std::printf("%-40s %-12s %10.3f\n", path.c_str(), label.c_str(), counterRatio);
                    if (file != nullptr)
                        std::fprintf(file, "ratio\t%s\t%s\t%.4f\n", path.c_str(), label.c_str(),
                                     counterRatio);
                }
            }
            for (const auto& [counter, value] : result.counters) {
                if (counter.find("_per_second") != std::string::npos) continue;
                std::printf("%-40s %-12s %10.6g\n", path.c_str(), counter.c_str(),
                            static_cast<double>(value));
                if (file != nullptr)
                    std::fprintf(file, "counter\t%s\t%s\t%.6g\n", path.c_str(), counter.c_str(),
                                 static_cast<double>(value));
            }
        }
        for (const auto& [name, result] : results_) {
            if (file == nullptr || name.rfind("sweep/", 0) != 0) continue;
            for (const auto& [counter, value] : result.counters) {
                if (counter != "items_per_second" && counter != "bytes_per_second") continue;
                // The name as registered, without the row's own repetitions or time.
                std::fprintf(file, "sweep\t%s\t%s\t%.6g\n", result.function.c_str(),
                             counter.c_str(), static_cast<double>(value));
            }
        }
        if (file != nullptr) std::fclose(file);
    }

private:
    struct Result {
        std::vector<double> times;
        double median = 0;
        bool hasMedian = false;
        benchmark::UserCounters counters;
        std::string function;
        double Time() const { return hasMedian ? median : Median(times); }
    };
    std::map<std::string, Result> results_;
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
