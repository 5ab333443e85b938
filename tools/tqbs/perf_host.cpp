// The performance host of the perf commands.
#include "perf_host.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace tqbs::perf {

namespace {

uint32_t Load32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

}  // namespace

void ExplainHalfInstalled(const char* tool) {
    std::fprintf(stderr,
                 "%s: the key %s is there without counter texts: an earlier installation "
                 "stopped half-way.\n"
                 "%s: remove that key from the registry store ($TQ_REGISTRY_ROOT, by default "
                 "~/.config/tessaloquin/registry) and install again.\n",
                 tool, kKeyText, tool);
}

bool ParseJsonOption(const char* tool, int argc, char** argv, bool* json) {
    *json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") != 0) {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", tool, argv[i]);
            return false;
        }
        *json = true;
    }
    return true;
}

ProviderState QueryProvider() {
    ProviderState state;
    if (KvQueryPerfObjects(kApplication, &state.objects) != 0) return state;
    const KvPerfObjects& objects = state.objects;
    if (objects.provider == 1) {
        state.kind = ProviderState::kRunning;
        state.pid = objects.providerPid;
    } else if (objects.provider == 0 && (objects.block == 0 || objects.blockOwn == 1)) {
        state.kind = ProviderState::kNone;
    }
    return state;
}

std::string Describe(const ProviderState& state) {
    switch (state.kind) {
        case ProviderState::kRunning:
            return state.pid > 0 ? "running (pid " + std::to_string(state.pid) + ")" : "running";
        case ProviderState::kNone:
            return "none";
        case ProviderState::kUnknown:
            break;
    }
    if (state.objects.block != 0 && state.objects.blockOwn == 0)
        return "another account's (its provider is not visible from this account)";
    return "unknown (/proc/locks cannot be read)";
}

bool ParseObjects(const unsigned char* data, size_t bytes, uint32_t numObjects,
                  std::vector<ObjectSample>* objects) {
    size_t at = 0;
    for (uint32_t n = 0; n < numObjects; ++n) {
        if (bytes - at < KV_PERF_OBJECT_TYPE_SIZE) return false;
        const unsigned char* object = data + at;
        const uint32_t total = Load32(object);
        const uint32_t definitionLength = Load32(object + 4);
        const uint32_t headerLength = Load32(object + 8);
        const uint32_t numCounters = Load32(object + 32);
        const int32_t numInstances = static_cast<int32_t>(Load32(object + 40));
        if (total < KV_PERF_OBJECT_TYPE_SIZE || total > bytes - at ||
            headerLength < KV_PERF_OBJECT_TYPE_SIZE || definitionLength > total ||
            headerLength > definitionLength) {
            return false;
        }
        ObjectSample sample;
        sample.nameIndex = Load32(object + 12);
        // The counter block of an object without instances follows the definitions.
        const unsigned char* block = nullptr;
        uint32_t blockLength = 0;
        if (numInstances == static_cast<int32_t>(PERF_NO_INSTANCES) &&
            total - definitionLength >= 8) {
            block = object + definitionLength;
            blockLength = Load32(block);
            if (blockLength < 8 || blockLength > total - definitionLength) return false;
        }
        uint32_t offset = headerLength;
        for (uint32_t c = 0; c < numCounters; ++c) {
            if (definitionLength - offset < KV_PERF_COUNTER_DEFINITION_SIZE) return false;
            const unsigned char* definition = object + offset;
            const uint32_t length = Load32(definition);
            if (length < KV_PERF_COUNTER_DEFINITION_SIZE || length > definitionLength - offset) {
                return false;
            }
            CounterSample counter;
            counter.nameIndex = Load32(definition + 4);
            counter.helpIndex = Load32(definition + 12);
            counter.scale = static_cast<int32_t>(Load32(definition + 20));
            counter.detail = Load32(definition + 24);
            counter.type = Load32(definition + 28);
            const uint32_t counterOffset = Load32(definition + 36);
            const uint32_t sizeField = counter.type & PERF_MASK_SIZE_FLD;
            const uint32_t size = sizeField == PERF_SIZE_DWORD   ? 4
                                  : sizeField == PERF_SIZE_LARGE ? 8
                                                                 : 0;
            if (block != nullptr && size != 0 && counterOffset <= blockLength &&
                size <= blockLength - counterOffset) {
                if (size == 4) {
                    counter.value = static_cast<int32_t>(Load32(block + counterOffset));
                } else {
                    std::memcpy(&counter.value, block + counterOffset, 8);
                }
                counter.valid = true;
            }
            sample.counters.push_back(counter);
            offset += length;
        }
        objects->push_back(std::move(sample));
        at += total;
    }
    return true;
}

std::string CounterText(uint32_t index, bool help) {
    char text[1024];
    if (KvQueryPerfCounterText(index, help ? 1 : 0, text, sizeof text) != 0) {
        std::string unknown = "#";  // (not "#" + ...: gcc 12 warns falsely on that)
        return unknown += std::to_string(index);
    }
    std::string out = text;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

Host::~Host() {
    Close();
    if (library_ != nullptr) dlclose(library_);
}

bool Host::Load(const KvPerfExtension& extension, std::string* error) {
    if (extension.library[0] == '\0' || extension.open[0] == '\0' || extension.collect[0] == '\0' ||
        extension.close[0] == '\0') {
        *error = "the installation names no library or no entry points";
        return false;
    }
    library_ = dlopen(extension.library, RTLD_NOW);
    if (library_ == nullptr) {
        const char* reason = dlerror();
        *error = std::string("cannot load ") + extension.library + ": " +
                 (reason != nullptr ? reason : "unknown error");
        return false;
    }
    struct Entry {
        const char* name;
        void** address;
    } entries[] = {{extension.open, reinterpret_cast<void**>(&open_)},
                   {extension.collect, reinterpret_cast<void**>(&collect_)},
                   {extension.close, reinterpret_cast<void**>(&close_)}};
    for (const Entry& entry : entries) {
        dlerror();
        *entry.address = dlsym(library_, entry.name);
        if (*entry.address == nullptr) {
            *error = std::string("the library has no entry point ") + entry.name;
            return false;
        }
    }
    return true;
}

void Host::Open() {
    if (open_ == nullptr) return;
    char16_t deviceNames[] = u"";
    open_(deviceNames);
    opened_ = true;
}

void Host::Close() {
    if (opened_ && close_ != nullptr) close_();
    opened_ = false;
}

bool Host::Collect(std::vector<ObjectSample>* objects, std::string* error) {
    objects->clear();
    lastBytes_ = 0;
    if (collect_ == nullptr) return true;
    constexpr size_t kMostBytes = size_t{16} << 20;
    char16_t valueName[] = u"Global";
    for (;;) {
        void* data = buffer_.data();
        uint32_t bytes = static_cast<uint32_t>(buffer_.size());
        uint32_t numObjects = 0;
        const uint32_t result = collect_(valueName, &data, &bytes, &numObjects);
        if (result == KV_PERF_MORE_DATA) {
            if (buffer_.size() >= kMostBytes) {
                *error = "the collection needs more than 16 MiB";
                return false;
            }
            buffer_.resize(buffer_.size() * 2);
            continue;
        }
        if (result != 0) {
            *error = "the collection failed with " + std::to_string(result);
            return false;
        }
        if (bytes > buffer_.size() || static_cast<unsigned char*>(data) != buffer_.data() + bytes) {
            *error = "the collection returned an inconsistent byte count";
            return false;
        }
        lastBytes_ = bytes;
        if (!ParseObjects(buffer_.data(), bytes, numObjects, objects)) {
            *error = "the collected records are malformed";
            return false;
        }
        return true;
    }
}

}  // namespace tqbs::perf
