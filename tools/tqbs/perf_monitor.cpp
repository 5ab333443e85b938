// tqbs perf monitor: the performance host that shows the counters live.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "kvbasics.h"
#include "perf_collector.h"
#include "perf_counters.h"
#include "perf_view.h"
#include "prometheus.h"
#include "replace_file.h"

namespace tqbs {

namespace {

constexpr const char* kTool = "tqbs perf monitor";

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_resized = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

void OnResize(int) {
    g_resized = 1;
}

void Catch(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;  // no SA_RESTART: a signal ends the sleep
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

struct Options {
    double interval = 1;
    long count = 0;
    const char* prometheus = nullptr;
    bool formatGiven = false;
    perf::Format format = perf::Format::kLines;
    std::vector<std::string> counters;  // as given; all when empty
};

class Monitor {
public:
    Monitor(const Options& options, const KvPerfExtension* extension)
        : options_(options), names_(extension), catalogue_(extension) {}

    // The catalogue of the start, in which --counters are chosen.
    const perf::Catalogue& names() const { return names_; }

    int Run(std::vector<const perf::CounterInfo*> selected, std::unique_ptr<perf::View> view) {
        selected_ = std::move(selected);
        view_ = std::move(view);
        std::string error;
        perf::Sample previous;
        if (!collector_.Take(&previous, &error)) return Fail(error);
        double deadline = perf::Now();
        for (long n = 1; g_stop == 0 && (options_.count == 0 || n <= options_.count); ++n) {
            deadline += options_.interval;
            if (deadline < perf::Now()) deadline = perf::Now() + options_.interval;  // keep pace
            SleepUntil(deadline);
            if (g_stop != 0) break;
            perf::Sample current;
            if (!collector_.Take(&current, &error)) return Fail(error);
            catalogue_.Refresh(collector_.extension());
            view_->Show(n, current, Rows(previous, current));
            if (options_.prometheus != nullptr &&
                !ReplaceFile(options_.prometheus, prometheus::Exposition(current, catalogue_),
                             &error)) {
                return Fail(error);
            }
            previous = std::move(current);
        }
        view_.reset();
        return kSuccess;
    }

private:
    int Fail(const std::string& error) {
        view_.reset();  // a live screen gives the terminal back first
        std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
        return kFailure;
    }

    // Sleeps until the monotonic deadline or a stop signal; a resized window
    // is drawn again meanwhile.
    void SleepUntil(double deadline) {
        timespec at{};
        at.tv_sec = static_cast<time_t>(deadline);
        at.tv_nsec = static_cast<long>((deadline - static_cast<double>(at.tv_sec)) * 1e9);
        if (at.tv_nsec >= 1000000000L) at.tv_nsec = 999999999L;
        while (g_stop == 0) {
            if (g_resized != 0) {
                g_resized = 0;
                view_->Resize();
            }
            if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != EINTR) break;
        }
    }

    static std::map<uint32_t, const perf::CounterSample*> ByNameIndex(const perf::Sample& sample) {
        std::map<uint32_t, const perf::CounterSample*> counters;
        for (const perf::ObjectSample& object : sample.objects) {
            for (const perf::CounterSample& counter : object.counters)
                counters[counter.nameIndex] = &counter;
        }
        return counters;
    }

    // The selected counters of current: raw counts as they stand, running
    // totals as their rate since previous.
    std::vector<perf::Row> Rows(const perf::Sample& previous, const perf::Sample& current) {
        std::vector<perf::Row> rows;
        if (current.status != perf::Status::kData) return rows;
        const bool sameProvider =
            previous.status == perf::Status::kData && previous.provider.pid == current.provider.pid;
        const double seconds = current.time - previous.time;
        const auto now = ByNameIndex(current);
        const auto before =
            sameProvider ? ByNameIndex(previous) : std::map<uint32_t, const perf::CounterSample*>{};
        for (const perf::CounterInfo* info : selected_) {
            // The selection was made in the catalogue of the start; the counter
            // is found again by its identifier among the installed names.
            const perf::CounterInfo* known = Find(info->id);
            perf::Row row;
            row.info = known != nullptr ? known : info;
            const auto found = known != nullptr ? now.find(known->nameIndex) : now.end();
            if (found != now.end() && found->second->valid && found->second->type == info->type) {
                const perf::CounterSample& counter = *found->second;
                if (!perf::IsRate(counter.type)) {
                    row.known = true;
                    row.shown = static_cast<double>(counter.value);
                } else if (const auto old = before.find(counter.nameIndex);
                           old != before.end() && old->second->valid && seconds > 0) {
                    const uint64_t total = perf::Total(counter);
                    const uint64_t was = perf::Total(*old->second);
                    const bool dword = (counter.type & PERF_MASK_SIZE_FLD) == PERF_SIZE_DWORD;
                    uint64_t delta = dword ? static_cast<uint32_t>(total - was) : total - was;
                    // A counter that went back was cleared (a new server): count from 0.
                    if ((dword && delta > 0x7FFFFFFFu) || (!dword && total < was)) delta = total;
                    row.known = true;
                    row.shown = static_cast<double>(delta) / seconds;
                }
            }
            rows.push_back(row);
        }
        return rows;
    }

    const perf::CounterInfo* Find(uint32_t id) const {
        for (const perf::CounterInfo& info : catalogue_.counters()) {
            if (info.id == id) return &info;
        }
        return nullptr;
    }

    Options options_;
    const perf::Catalogue names_;
    perf::Catalogue catalogue_;  // follows the installation
    perf::Collector collector_;
    std::vector<const perf::CounterInfo*> selected_;  // in names_
    std::unique_ptr<perf::View> view_;
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

bool ParseFormat(const char* text, perf::Format* format) {
    const struct {
        const char* name;
        perf::Format format;
    } formats[] = {{"lines", perf::Format::kLines},
                   {"table", perf::Format::kTable},
                   {"csv", perf::Format::kCsv},
                   {"json", perf::Format::kJson}};
    for (const auto& known : formats) {
        if (std::strcmp(text, known.name) != 0) continue;
        *format = known.format;
        return true;
    }
    return false;
}

// Splits "a,b,c"; false when a name is empty.
bool SplitNames(const char* text, std::vector<std::string>* names) {
    std::string name;
    for (const char* at = text;; ++at) {
        if (*at == ',' || *at == '\0') {
            if (name.empty()) return false;
            names->push_back(name);
            name.clear();
            if (*at == '\0') return true;
        } else {
            name += *at;
        }
    }
}

// 1 parsed, 0 not this option, -1 usage error (reported).
int ParseOption(int argc, char** argv, int* i, Options* options) {
    const char* value = nullptr;
    int found = OptionValue(kTool, argc, argv, i, "--interval", &value);
    if (found == 1 && !ParseInterval(value, &options->interval)) {
        std::fprintf(stderr, "%s: --interval takes seconds from 0.1 to 86400, not '%s'\n", kTool,
                     value);
        return -1;
    }
    if (found != 0) return found;
    found = OptionValue(kTool, argc, argv, i, "--count", &value);
    if (found == 1 && !ParseCount(value, &options->count)) {
        std::fprintf(stderr, "%s: --count takes a positive number, not '%s'\n", kTool, value);
        return -1;
    }
    if (found != 0) return found;
    found = OptionValue(kTool, argc, argv, i, "--prometheus", &value);
    if (found == 1 && *value == '\0') {
        std::fprintf(stderr, "%s: --prometheus needs a file name\n", kTool);
        return -1;
    }
    if (found == 1) options->prometheus = value;
    if (found != 0) return found;
    found = OptionValue(kTool, argc, argv, i, "--format", &value);
    if (found == 1 && !ParseFormat(value, &options->format)) {
        std::fprintf(stderr, "%s: --format takes lines, table, csv or json, not '%s'\n", kTool,
                     value);
        return -1;
    }
    if (found == 1) options->formatGiven = true;
    if (found != 0) return found;
    found = OptionValue(kTool, argc, argv, i, "--counters", &value);
    if (found == 1 && !SplitNames(value, &options->counters)) {
        std::fprintf(stderr, "%s: --counters takes names separated by commas, not '%s'\n", kTool,
                     value);
        return -1;
    }
    return found;
}

// The counters named by --counters (all when none), in the order given.
bool Select(const perf::Catalogue& catalogue, const std::vector<std::string>& names,
            std::vector<const perf::CounterInfo*>* selected) {
    if (names.empty()) {
        for (const perf::CounterInfo& info : catalogue.counters())
            selected->push_back(&info);
        return true;
    }
    for (const std::string& name : names) {
        const perf::CounterInfo* info = catalogue.ByUserName(name);
        if (info == nullptr) {
            std::fprintf(stderr,
                         "%s: no counter '%s'; the valid names (or the installed name "
                         "beside each, ignoring case):\n",
                         kTool, name.c_str());
            for (const perf::CounterInfo& known : catalogue.counters())
                std::fprintf(stderr, "  %-44s %s\n", known.base.c_str(), known.name.c_str());
            return false;
        }
        selected->push_back(info);
    }
    return true;
}

}  // namespace

int RunPerfMonitor(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc;) {
        const int found = ParseOption(argc, argv, &i, &options);
        if (found < 0) return kUsage;
        if (found == 0) {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", kTool, argv[i]);
            return kUsage;
        }
    }

    KvPerfExtension extension;
    const bool installed = KvQueryPerfExtension(perf::kApplication, &extension) == 0;
    // Names are chosen among the installed texts, else the library's own.
    Monitor monitor(options, installed ? &extension : nullptr);
    std::vector<const perf::CounterInfo*> selected;
    if (!Select(monitor.names(), options.counters, &selected)) return kUsage;
    // An exporter keeps running and reports tessaloquin_up 0 until the
    // counters can be collected; a person is told at once.
    if (options.prometheus == nullptr) {
        if (!installed) {
            std::fprintf(stderr,
                         "%s: the Tessaloquin counters are not installed (run 'tqbs perf "
                         "install')\n",
                         kTool);
            return kFailure;
        }
        if (extension.disabled != 0) {
            std::fprintf(stderr,
                         "%s: the Tessaloquin counters are disabled (\"Disable Performance "
                         "Counters\" is set in the installation)\n",
                         kTool);
            return kFailure;
        }
    }

    g_stop = 0;
    g_resized = 0;
    Catch(SIGINT, OnStopSignal);
    Catch(SIGTERM, OnStopSignal);
    const bool live = !options.formatGiven && isatty(STDOUT_FILENO) == 1;
    if (live) Catch(SIGWINCH, OnResize);
    std::unique_ptr<perf::View> view = live ? perf::ScreenView(options.interval, options.count)
                                            : perf::FormatView(options.format, selected);
    return monitor.Run(std::move(selected), std::move(view));
}

}  // namespace tqbs
