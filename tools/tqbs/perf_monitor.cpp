// tqbs perf monitor: the performance host that shows the counters live.
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "command.h"
#include "kvbasics.h"
#include "perf_host.h"
#include "replace_file.h"

namespace tqbs {

namespace {

constexpr const char* kTool = "tqbs perf monitor";
constexpr uint32_t kBulkCount = 0x10410500u;  // the 64-bit rate counter

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Sleeps until the monotonic time deadline, or until a stop signal.
void SleepUntil(double deadline) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(deadline);
    at.tv_nsec = static_cast<long>((deadline - static_cast<double>(at.tv_sec)) * 1e9);
    if (at.tv_nsec >= 1000000000L) at.tv_nsec = 999999999L;
    while (g_stop == 0 && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

std::string WallClock() {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool IsRate(uint32_t type) {
    return type == PERF_COUNTER_COUNTER || type == kBulkCount;
}

// "C/S Requests/sec" -> "c_s_requests", "ObjDesc_CSUsedCount" -> "obj_desc_cs_used_count".
std::string SnakeCase(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::isalnum(c)) {
            if (!out.empty() && out.back() != '_') out += '_';
            continue;
        }
        if (std::isupper(c) && i > 0 && !out.empty() && out.back() != '_') {
            const unsigned char before = static_cast<unsigned char>(name[i - 1]);
            const bool nextLower =
                i + 1 < name.size() && std::islower(static_cast<unsigned char>(name[i + 1]));
            if (std::islower(before) || std::isdigit(before) ||
                (std::isupper(before) && nextLower)) {
                out += '_';
            }
        }
        out += static_cast<char>(std::tolower(c));
    }
    while (!out.empty() && out.back() == '_')
        out.pop_back();
    return out;
}

std::string MetricName(std::string name, bool rate) {
    const std::string perSecond = "/sec";
    if (rate && name.size() > perSecond.size() &&
        name.compare(name.size() - perSecond.size(), perSecond.size(), perSecond) == 0) {
        name.erase(name.size() - perSecond.size());
    }
    std::string metric = "tessaloquin_" + SnakeCase(name);
    if (rate) metric += "_total";
    return metric;
}

std::string EscapeHelp(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// One counter as shown.
struct Row {
    std::string name;
    std::string help;
    std::string metric;
    bool rate = false;
    bool valid = false;  // the counter's value was read
    bool known = false;  // a value (or a rate) can be shown
    double shown = 0;    // the raw value, or the rate per second
    uint64_t total = 0;  // what Prometheus gets
};

enum class Status { kData, kNoProvider, kNoData };

struct Sample {
    Status status = Status::kNoProvider;
    perf::ProviderState provider;
    std::vector<perf::ObjectSample> objects;
    double time = 0;
};

class Monitor {
public:
    Monitor(double interval, long count, const char* prometheus)
        : interval_(interval),
          count_(count),
          prometheus_(prometheus),
          terminal_(isatty(STDOUT_FILENO) == 1) {}

    int Run(const KvPerfExtension& extension) {
        std::string error;
        if (!host_.Load(extension, &error)) {
            std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
            return kFailure;
        }
        host_.Open();
        int result = kSuccess;
        Sample previous;
        if (!Take(&previous, &error)) result = kFailure;
        double deadline = Now();
        for (long n = 1; result == kSuccess && g_stop == 0 && (count_ == 0 || n <= count_); ++n) {
            deadline += interval_;
            if (deadline < Now()) deadline = Now() + interval_;  // fell behind: keep the pace
            SleepUntil(deadline);
            if (g_stop != 0) break;
            Sample current;
            if (!Take(&current, &error)) {
                result = kFailure;
                break;
            }
            const std::vector<Row> rows = Rows(previous, current);
            Show(n, current, rows);
            if (prometheus_ != nullptr && !WritePrometheus(current, rows, &error)) {
                result = kFailure;
                break;
            }
            previous = std::move(current);
        }
        host_.Close();
        if (result != kSuccess) std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
        return result;
    }

private:
    bool Take(Sample* sample, std::string* error) {
        sample->provider = perf::QueryProvider();
        sample->time = Now();
        if (sample->provider.kind == perf::ProviderState::kNone) {
            sample->status = Status::kNoProvider;
            return true;
        }
        if (sample->provider.pid != lastProvider_) {
            // A new server may publish in a new block (the old one cleaned
            // up): the extension follows it when opened again.
            lastProvider_ = sample->provider.pid;
            host_.Close();
            host_.Open();
        }
        if (!host_.Collect(&sample->objects, error)) return false;
        if (sample->objects.empty()) {
            // The block may have appeared since the extension was opened
            // (a monitor started before the server): open it again.
            host_.Close();
            host_.Open();
            if (!host_.Collect(&sample->objects, error)) return false;
        }
        sample->status = sample->objects.empty() ? Status::kNoData : Status::kData;
        return true;
    }

    const std::string& Name(uint32_t index) {
        auto found = names_.find(index);
        if (found == names_.end())
            found = names_.emplace(index, perf::CounterText(index, false)).first;
        return found->second;
    }

    std::vector<Row> Rows(const Sample& previous, const Sample& current) {
        std::vector<Row> rows;
        if (current.status != Status::kData) return rows;
        const bool sameProvider = previous.status == Status::kData &&
                                  previous.provider.pid == current.provider.pid &&
                                  previous.objects.size() == current.objects.size();
        const double seconds = current.time - previous.time;
        std::set<std::string> metrics;
        for (size_t o = 0; o < current.objects.size(); ++o) {
            const perf::ObjectSample& object = current.objects[o];
            const perf::ObjectSample* before =
                sameProvider && previous.objects[o].counters.size() == object.counters.size()
                    ? &previous.objects[o]
                    : nullptr;
            for (size_t c = 0; c < object.counters.size(); ++c) {
                const perf::CounterSample& counter = object.counters[c];
                Row row;
                row.name = Name(counter.nameIndex);
                row.rate = IsRate(counter.type);
                row.metric = MetricName(row.name, row.rate);
                if (!metrics.insert(row.metric).second) {
                    row.metric += '_';
                    row.metric += std::to_string(counter.nameIndex);
                    metrics.insert(row.metric);
                }
                row.help = perf::CounterText(counter.helpIndex, true);
                const bool dword = (counter.type & PERF_MASK_SIZE_FLD) == PERF_SIZE_DWORD;
                row.total = dword ? static_cast<uint32_t>(counter.value)
                                  : static_cast<uint64_t>(counter.value);
                row.valid = counter.valid;
                if (!counter.valid) {
                    rows.push_back(row);
                    continue;
                }
                if (!row.rate) {
                    row.known = true;
                    row.shown = static_cast<double>(counter.value);
                } else if (before != nullptr && before->counters[c].valid &&
                           before->counters[c].nameIndex == counter.nameIndex && seconds > 0) {
                    const uint64_t old = dword ? static_cast<uint32_t>(before->counters[c].value)
                                               : static_cast<uint64_t>(before->counters[c].value);
                    uint64_t delta =
                        dword ? static_cast<uint32_t>(row.total - old) : row.total - old;
                    // A counter that went back was cleared (a new server): count from 0.
                    if ((dword && delta > 0x7FFFFFFFu) || (!dword && row.total < old)) {
                        delta = row.total;
                    }
                    row.known = true;
                    row.shown = static_cast<double>(delta) / seconds;
                }
                rows.push_back(row);
            }
        }
        return rows;
    }

    static std::string Value(const Row& row) {
        if (!row.known) return "-";
        char text[48];
        if (row.rate) {
            std::snprintf(text, sizeof text, "%.1f", row.shown);
        } else {
            std::snprintf(text, sizeof text, "%.0f", row.shown);
        }
        return text;
    }

    std::string Absence(const Sample& sample) const {
        return sample.status == Status::kNoProvider
                   ? "no provider: waiting for a Tessaloquin server to enable its counters"
                   : "no data: the provider (" + perf::Describe(sample.provider) +
                         ") has not published its block";
    }

    void Show(long n, const Sample& sample, const std::vector<Row>& rows) {
        if (!terminal_) {
            std::string line = WallClock();
            if (sample.status != Status::kData) {
                line += "  " + Absence(sample);
            } else {
                for (const Row& row : rows)
                    line += "  " + row.name + "=" + Value(row);
            }
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            return;
        }
        std::vector<std::string> lines;
        char text[256];
        if (count_ > 0) {
            std::snprintf(text, sizeof text,
                          "Tessaloquin performance counters  sample %ld of %ld, every %g s", n,
                          count_, interval_);
        } else {
            std::snprintf(text, sizeof text,
                          "Tessaloquin performance counters  sample %ld, every %g s", n, interval_);
        }
        lines.push_back(text);
        lines.push_back("provider: " + perf::Describe(sample.provider) + "    " + WallClock());
        lines.push_back("");
        if (sample.status != Status::kData) {
            lines.push_back("  " + Absence(sample));
        } else {
            for (const Row& row : rows) {
                std::snprintf(text, sizeof text, "  %-28.28s %14s%s", row.name.c_str(),
                              Value(row).c_str(), row.rate ? " /s" : "");
                lines.push_back(text);
            }
        }
        std::string out;
        if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "A\r";  // back to the top
        for (const std::string& line : lines)
            out += line + "\x1b[K\n";
        out += "\x1b[J";  // whatever the last table had below
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
        drawn_ = static_cast<int>(lines.size());
    }

    bool WritePrometheus(const Sample& sample, const std::vector<Row>& rows, std::string* error) {
        std::string text;
        char line[256];
        std::snprintf(line, sizeof line,
                      "# HELP tessaloquin_up Whether a Tessaloquin server provides the counters.\n"
                      "# TYPE tessaloquin_up gauge\n"
                      "tessaloquin_up %d\n",
                      sample.status == Status::kData ? 1 : 0);
        text += line;
        for (const Row& row : rows) {
            if (!row.valid) continue;
            text += "# HELP " + row.metric + " " + EscapeHelp(row.help) + "\n# TYPE " + row.metric +
                    (row.rate ? " counter\n" : " gauge\n");
            if (row.rate) {
                std::snprintf(line, sizeof line, "%s %llu\n", row.metric.c_str(),
                              static_cast<unsigned long long>(row.total));
            } else {
                std::snprintf(line, sizeof line, "%s %.0f\n", row.metric.c_str(),
                              row.shown);  // a raw count
            }
            text += line;
        }
        return ReplaceFile(prometheus_, text, error);
    }

    double interval_;
    long count_;
    const char* prometheus_;
    pid_t lastProvider_ = 0;  // the provider of the last sample
    bool terminal_;
    int drawn_ = 0;
    perf::Host host_;
    std::map<uint32_t, std::string> names_;
};

bool ParseInterval(const char* text, double* seconds) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0.1 ||
        value > 86400) {
        return false;
    }
    *seconds = value;
    return true;
}

bool ParseCount(const char* text, long* count) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 1) return false;
    *count = value;
    return true;
}

}  // namespace

int RunPerfMonitor(int argc, char** argv) {
    double interval = 1;
    long count = 0;
    const char* prometheus = nullptr;
    for (int i = 1; i < argc;) {
        const char* value = nullptr;
        int found = OptionValue(kTool, argc, argv, &i, "--interval", &value);
        if (found == 1 && !ParseInterval(value, &interval)) {
            std::fprintf(stderr, "%s: --interval takes seconds from 0.1 to 86400, not '%s'\n",
                         kTool, value);
            return kUsage;
        }
        if (found == 0) {
            found = OptionValue(kTool, argc, argv, &i, "--count", &value);
            if (found == 1 && !ParseCount(value, &count)) {
                std::fprintf(stderr, "%s: --count takes a positive number, not '%s'\n", kTool,
                             value);
                return kUsage;
            }
        }
        if (found == 0) {
            found = OptionValue(kTool, argc, argv, &i, "--prometheus", &value);
            if (found == 1 && *value == '\0') {
                std::fprintf(stderr, "%s: --prometheus needs a file name\n", kTool);
                return kUsage;
            }
            if (found == 1) prometheus = value;
        }
        if (found < 0) return kUsage;
        if (found == 0) {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", kTool, argv[i]);
            return kUsage;
        }
    }

    KvPerfExtension extension;
    if (KvQueryPerfExtension(perf::kApplication, &extension) != 0) {
        std::fprintf(stderr,
                     "%s: the Tessaloquin counters are not installed (run 'tqbs perf install')\n",
                     kTool);
        return kFailure;
    }
    if (extension.disabled != 0) {
        std::fprintf(stderr,
                     "%s: the Tessaloquin counters are disabled (\"Disable Performance Counters\" "
                     "is set in the installation)\n",
                     kTool);
        return kFailure;
    }
    g_stop = 0;
    CatchStopSignals();
    Monitor monitor(interval, count, prometheus);
    return monitor.Run(extension);
}

}  // namespace tqbs
