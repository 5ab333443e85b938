// tqbs perf status: what is installed, whether a server provides the counters,
// the block a monitor reads and what one collection returns; as text or JSON.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "kvbasics.h"
#include "perf_host.h"
#include "perf_json.h"

namespace tqbs {

namespace {

constexpr const char* kTool = "tqbs perf status";

// What one collection gave.
struct Collection {
    enum Kind { kImpossible, kFailed, kNoData, kData } kind = kImpossible;
    std::string error;  // kImpossible, kFailed
    size_t objects = 0, counters = 0;
    uint32_t bytes = 0;
};

Collection Collect(const KvPerfExtension& extension) {
    Collection collection;
    perf::Host host;
    if (!host.Load(extension, &collection.error)) return collection;
    host.Open();
    std::vector<perf::ObjectSample> objects;
    if (!host.Collect(&objects, &collection.error)) {
        collection.kind = Collection::kFailed;
    } else {
        collection.kind = objects.empty() ? Collection::kNoData : Collection::kData;
        collection.objects = objects.size();
        for (const auto& object : objects)
            collection.counters += object.counters.size();
        collection.bytes = host.LastBytes();
    }
    host.Close();
    return collection;
}

// The block a monitor reads: "live", "stale", "another account's", or "" when
// the provider cannot be told.
const char* BlockState(const perf::ProviderState& provider) {
    const KvPerfObjects& objects = provider.objects;
    if (objects.block == 0) return "";
    if (objects.blockOwn == 0) return "another account's";
    if (provider.kind == perf::ProviderState::kRunning) return "live";
    if (provider.kind == perf::ProviderState::kNone) return "stale";
    return "";
}

// Calls line for each line of a list of lines.
template <typename F>
void EachLine(const char* text, F line) {
    while (*text != '\0') {
        const char* end = std::strchr(text, '\n');
        const size_t length = end != nullptr ? static_cast<size_t>(end - text) : std::strlen(text);
        line(std::string(text, length));
        text += length + (end != nullptr ? 1 : 0);
    }
}

void PrintText(const KvPerfExtension& extension, const perf::ProviderState& provider,
               const Collection& collection) {
    const uint32_t names = perf::Items(extension.firstCounter, extension.lastCounter);
    const uint32_t helps = perf::Items(extension.firstHelp, extension.lastHelp);
    std::printf("Tessaloquin counters: installed\n");
    std::printf("  key:          %s\n", perf::kKeyText);
    std::printf("  library:      %s\n", extension.library);
    std::printf("  entry points: %s, %s, %s\n", extension.open, extension.collect, extension.close);
    std::printf("  names:        %u..%u (%u items)\n", extension.firstCounter,
                extension.lastCounter, names);
    std::printf("  help texts:   %u..%u (%u items)%s\n", extension.firstHelp, extension.lastHelp,
                helps, names == helps ? "" : "  INCONSISTENT with the names");
    std::printf("  disabled:     %s\n", extension.disabled != 0 ? "yes" : "no");
    std::printf("  provider:     %s\n", perf::Describe(provider).c_str());

    const KvPerfObjects& objects = provider.objects;
    const std::string state = BlockState(provider);
    std::string note;
    if (state == "stale") {
        note = " (stale: no server provides it; 'tqbs perf cleanup' removes it)";
    } else if (!state.empty()) {
        note = " (";
        note += state;
        note += ')';
    }
    std::printf("  block:        %s%s\n", objects.block == 0 ? "none" : objects.blockText,
                note.c_str());
    EachLine(objects.refused, [](const std::string& line) {
        std::printf("  refused:      %s (others may write it, or it is not this account's)\n",
                    line.c_str());
    });

    switch (collection.kind) {
        case Collection::kImpossible:
            std::printf("  collection:   impossible: %s\n", collection.error.c_str());
            break;
        case Collection::kFailed:
            std::printf("  collection:   failed: %s\n", collection.error.c_str());
            break;
        case Collection::kNoData:
            std::printf("  collection:   no data (%s)\n",
                        extension.disabled != 0 ? "the counters are disabled"
                                                : "no server has provided the counters yet");
            break;
        case Collection::kData:
            std::printf("  collection:   %zu object(s), %zu counters, %u bytes%s\n",
                        collection.objects, collection.counters, collection.bytes,
                        provider.kind == perf::ProviderState::kNone
                            ? " (the values a server left when it ended)"
                            : "");
            break;
    }
}

std::string Range(uint32_t first, uint32_t last) {
    std::string out = "{\"first\":";
    out += std::to_string(first);
    out += ",\"last\":";
    out += std::to_string(last);
    out += ",\"items\":";
    out += std::to_string(perf::Items(first, last));
    return out += '}';
}

void PrintJson(const KvPerfExtension& extension, const perf::ProviderState& provider,
               const Collection& collection) {
    using perf::JsonString;
    const KvPerfObjects& objects = provider.objects;
    std::string out = "{\"installed\":true,\"key\":";
    out += JsonString(perf::kKeyText);
    out += ",\"library\":";
    out += JsonString(extension.library);
    out += ",\"entry_points\":{\"open\":";
    out += JsonString(extension.open);
    out += ",\"collect\":";
    out += JsonString(extension.collect);
    out += ",\"close\":";
    out += JsonString(extension.close);
    out += "},\"names\":";
    out += Range(extension.firstCounter, extension.lastCounter);
    out += ",\"help_texts\":";
    out += Range(extension.firstHelp, extension.lastHelp);
    out += ",\"disabled\":";
    out += extension.disabled != 0 ? "true" : "false";
    out += ",\"provider\":{\"state\":";
    out += JsonString(provider.kind == perf::ProviderState::kRunning ? "running"
                      : provider.kind == perf::ProviderState::kNone  ? "none"
                                                                     : "unknown");
    if (provider.pid > 0) {
        out += ",\"pid\":";
        out += std::to_string(provider.pid);
    }
    out += ",\"text\":";
    out += JsonString(perf::Describe(provider));
    out += "},\"block\":";
    if (objects.block == 0) {
        out += "null";
    } else {
        out += "{\"scope\":";
        out += JsonString(objects.block == 1 ? "machine" : "account");
        out += ",\"state\":";
        const std::string state = BlockState(provider);
        out += state.empty() ? "null" : JsonString(state);
        out += ",\"text\":";
        out += JsonString(objects.blockText);
        out += '}';
    }
    out += ",\"refused\":[";
    bool first = true;
    EachLine(objects.refused, [&out, &first](const std::string& line) {
        if (!first) out += ',';
        first = false;
        out += JsonString(line);
    });
    out += "],\"collection\":{\"state\":";
    static const char* const kKinds[] = {"impossible", "failed", "no data", "ok"};
    out += JsonString(kKinds[collection.kind]);
    if (collection.kind == Collection::kData) {
        out += ",\"objects\":";
        out += std::to_string(collection.objects);
        out += ",\"counters\":";
        out += std::to_string(collection.counters);
        out += ",\"bytes\":";
        out += std::to_string(collection.bytes);
    } else if (!collection.error.empty()) {
        out += ",\"error\":";
        out += JsonString(collection.error);
    }
    out += "}}";
    std::printf("%s\n", out.c_str());
}

}  // namespace

int RunPerfStatus(int argc, char** argv) {
    bool json = false;
    if (!perf::ParseJsonOption(kTool, argc, argv, &json)) return kUsage;
    KvPerfExtension extension;
    if (KvQueryPerfExtension(perf::kApplication, &extension) != 0) {
        std::printf(json ? "{\"installed\":false}\n"
                         : "Tessaloquin counters: not installed (run 'tqbs perf install')\n");
        return kFailure;
    }
    if (perf::HalfInstalled(extension)) {
        std::printf(json ? "{\"installed\":false,\"half_installed\":true}\n"
                         : "Tessaloquin counters: installed half-way, not usable\n");
        perf::ExplainHalfInstalled(kTool);
        return kFailure;
    }
    const perf::ProviderState provider = perf::QueryProvider();
    const Collection collection = Collect(extension);
    if (json) {
        PrintJson(extension, provider, collection);
    } else {
        PrintText(extension, provider, collection);
    }
    return kSuccess;
}

}  // namespace tqbs
