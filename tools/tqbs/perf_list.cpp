// tqbs perf list: every counter with its type, scale, detail level, help text
// and the names the tool gives it.
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "kvbasics.h"
#include "perf_counters.h"
#include "perf_host.h"
#include "perf_json.h"

namespace tqbs {

namespace {

constexpr const char* kTool = "tqbs perf list";

void PrintText(const perf::Catalogue& catalogue) {
    std::printf(
        "Tessaloquin counters (names and help texts %s)\n\n",
        catalogue.installed() ? "as installed" : "of the library: the counters are not installed");
    std::printf("%-4s %-26s %-9s %5s  %-7s %-8s %s\n", "ID", "NAME", "TYPE", "SCALE", "DETAIL",
                "COLUMN", "METRIC");
    for (const perf::CounterInfo& info : catalogue.counters()) {
        std::printf("%-4u %-26s %-9s %5d  %-7s %-8s %s\n", info.id, info.name.c_str(),
                    perf::TypeText(info.type), info.scale, perf::DetailText(info.detail).c_str(),
                    info.column.c_str(), info.metric.c_str());
        std::printf("     %s\n", info.help.c_str());
    }
}

void PrintJson(const perf::Catalogue& catalogue) {
    using perf::JsonString;
    std::string out = "{\"installed\":";
    out += catalogue.installed() ? "true" : "false";
    out += ",\"counters\":[";
    for (size_t i = 0; i < catalogue.counters().size(); ++i) {
        const perf::CounterInfo& info = catalogue.counters()[i];
        out += i == 0 ? "\n" : ",\n";
        out += "{\"id\":";
        out += std::to_string(info.id);
        out += ",\"name\":";
        out += JsonString(info.name);
        out += ",\"help\":";
        out += JsonString(info.help);
        out += ",\"type\":";
        out += JsonString(perf::TypeText(info.type));
        out += ",\"counter_type\":";
        out += std::to_string(info.type);
        out += ",\"scale\":";
        out += std::to_string(info.scale);
        out += ",\"detail\":";
        out += JsonString(perf::DetailText(info.detail));
        out += ",\"name_index\":";
        out += info.nameIndex != 0 ? std::to_string(info.nameIndex) : "null";
        out += ",\"metric\":";
        out += JsonString(info.metric);
        out += ",\"field\":";
        out += JsonString(info.field);
        out += ",\"column\":";
        out += JsonString(info.column);
        out += '}';
    }
    out += "\n]}";
    std::printf("%s\n", out.c_str());
}

}  // namespace

int RunPerfList(int argc, char** argv) {
    bool json = false;
    if (!perf::ParseJsonOption(kTool, argc, argv, &json)) return kUsage;
    KvPerfExtension extension;
    const bool installed = KvQueryPerfExtension(perf::kApplication, &extension) == 0 &&
                           !perf::HalfInstalled(extension);
    const perf::Catalogue catalogue(installed ? &extension : nullptr);
    if (json) {
        PrintJson(catalogue);
    } else {
        PrintText(catalogue);
    }
    return kSuccess;
}

}  // namespace tqbs
