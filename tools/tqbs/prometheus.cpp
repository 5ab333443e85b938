// The Prometheus text exposition of a collection.
#include "prometheus.h"

namespace tqbs::prometheus {

namespace {

// A HELP text escapes backslashes and line feeds.
void AppendHelp(std::string* out, const std::string& text) {
    for (char c : text) {
        if (c == '\\') {
            *out += "\\\\";
        } else if (c == '\n') {
            *out += "\\n";
        } else {
            *out += c;
        }
    }
}

void AppendFamily(std::string* out, const std::string& metric, const std::string& help,
                  const char* type, const std::string& value) {
    *out += "# HELP ";
    *out += metric;
    *out += ' ';
    AppendHelp(out, help);
    *out += "\n# TYPE ";
    *out += metric;
    *out += ' ';
    *out += type;
    *out += '\n';
    *out += metric;
    *out += ' ';
    *out += value;
    *out += '\n';
}

}  // namespace

std::string Exposition(const perf::Sample& sample, const perf::Catalogue& catalogue) {
    std::string out;
    const bool up = sample.status == perf::Status::kData;
    AppendFamily(&out, "tessaloquin_up",
                 "1 when a Tessaloquin server provides the counters and they were collected, "
                 "else 0.",
                 "gauge", up ? "1" : "0");
    if (!up) return out;
    for (const perf::ObjectSample& object : sample.objects) {
        for (const perf::CounterSample& counter : object.counters) {
            const perf::CounterInfo* info = catalogue.ByNameIndex(counter.nameIndex);
            // A counter that the tool's library does not describe so (a server
            // of another version) is left out: its meaning is unknown here.
            if (info == nullptr || info->type != counter.type || !counter.valid) continue;
            if (perf::IsRate(counter.type)) {
                AppendFamily(&out, info->metric, info->metricHelp, "counter",
                             std::to_string(perf::Total(counter)));
            } else {
                AppendFamily(&out, info->metric, info->metricHelp, "gauge",
                             std::to_string(counter.value));
            }
        }
    }
    return out;
}

}  // namespace tqbs::prometheus
