// What the perf commands share: the performance host that loads an installed
// extension and collects from it, the parsing of the collected records, and
// the check whether a server provides the counters.
#ifndef TQBS_PERF_HOST_H
#define TQBS_PERF_HOST_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kvbasics.h"

namespace tqbs::perf {

// The application whose counters the tool shows.
inline constexpr const char* kApplication = "Tessaloquin";
// The key of its installation in the registry store.
inline constexpr const char* kKeyText =
    "SYSTEM\\CurrentControlSet\\Services\\Tessaloquin\\Performance";

// The items of an installed index range from first to last (names or help
// texts, two apart).
inline uint32_t Items(uint32_t first, uint32_t last) {
    return last >= first ? (last - first) / 2 + 1 : 0;
}
// An installation that stopped half-way: the key without a library or texts.
inline bool HalfInstalled(const KvPerfExtension& extension) {
    return extension.library[0] == '\0' || extension.firstCounter == 0;
}
// Tells how to mend a half-way installation, on stderr.
void ExplainHalfInstalled(const char* tool);

// Reads the arguments of a command whose only option is --json: false, with a
// message on standard error, when another argument is given.
bool ParseJsonOption(const char* tool, int argc, char** argv, bool* json);

// Whether a server provides the counters: a provider of this account holds
// the guard (kRunning), none does and the block, if any, is this account's
// (kNone: a block left behind is stale), or the block is another account's,
// whose provider this account cannot see (kUnknown).
struct ProviderState {
    enum Kind { kNone, kRunning, kUnknown } kind = kUnknown;
    pid_t pid = 0;            // when running and visible, else 0
    KvPerfObjects objects{};  // what the library sees of the shared objects
};
// Looks at the guard without taking it (taking it, even for a moment, would
// turn a starting server away).
ProviderState QueryProvider();
// "running (pid N)", "none", "unknown".
std::string Describe(const ProviderState& state);

// One counter as collected.
struct CounterSample {
    uint32_t nameIndex = 0;
    uint32_t helpIndex = 0;
    uint32_t type = 0;
    int32_t scale = 0;    // the default display scale, a power of ten
    uint32_t detail = 0;  // the detail level (PERF_DETAIL_...)
    int64_t value = 0;    // 32-bit counters sign-extended
    bool valid = false;   // a value of a size we read
};

// One object (without instances) as collected.
struct ObjectSample {
    uint32_t nameIndex = 0;
    std::vector<CounterSample> counters;
};

// Parses numObjects object records of bytes bytes at data. false when a
// record does not fit or is malformed; the objects parsed before it stay.
bool ParseObjects(const unsigned char* data, size_t bytes, uint32_t numObjects,
                  std::vector<ObjectSample>* objects);

// Whether a counter type is shown as a rate per second (a counter of a running
// total) rather than as it stands.
inline bool IsRate(uint32_t type) {
    return type == PERF_COUNTER_COUNTER || type == (PERF_COUNTER_COUNTER | PERF_SIZE_LARGE);
}
// The value of a running total as it counts: 32-bit counters wrap as unsigned.
inline uint64_t Total(const CounterSample& counter) {
    return (counter.type & PERF_MASK_SIZE_FLD) == PERF_SIZE_DWORD
               ? static_cast<uint32_t>(counter.value)
               : static_cast<uint64_t>(counter.value);
}

// The installed name (or help text) of an index without its trailing blanks;
// "#INDEX" when there is none.
std::string CounterText(uint32_t index, bool help);

// The platform's performance host for one extension.
class Host {
public:
    Host() = default;
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host();

    // Loads the extension's library and resolves its three entry points.
    // false with *error set when that fails.
    bool Load(const KvPerfExtension& extension, std::string* error);
    void Open();
    void Close();
    // Collects "Global" into *objects (empty when the extension gave no data).
    // false with *error when the data cannot be parsed or no buffer is large
    // enough.
    bool Collect(std::vector<ObjectSample>* objects, std::string* error);
    // The bytes the last collection returned.
    uint32_t LastBytes() const { return lastBytes_; }

private:
    using OpenFunction = uint32_t (*)(char16_t*);
    using CollectFunction = uint32_t (*)(char16_t*, void**, uint32_t*, uint32_t*);
    using CloseFunction = uint32_t (*)();

    void* library_ = nullptr;
    OpenFunction open_ = nullptr;
    CollectFunction collect_ = nullptr;
    CloseFunction close_ = nullptr;
    bool opened_ = false;
    uint32_t lastBytes_ = 0;
    std::vector<unsigned char> buffer_ = std::vector<unsigned char>(512);
};

}  // namespace tqbs::perf

#endif  // TQBS_PERF_HOST_H
