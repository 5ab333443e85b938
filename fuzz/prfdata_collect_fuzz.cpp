// PrfData_Collect and PrfData::Collect with arbitrary UTF-16 value names and
// buffer sizes. The counters are installed under a private registry root and
// shared-memory namespace; a provider lays out the block and the entry point
// collects through the process-wide consumer. The output goes into a block of
// exactly the room given; what lands there is checked against the block.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "kvstatistics.h"
#include "prfdata.h"
#include "statistics/prfdata_items.h"

namespace {

using tq::fuzz::ExactBuffer;

struct Setup {
    std::vector<PRFITM> items;
    PrfData* provider = nullptr;
    std::u16string index;  // the object's name index in decimal
    uint32_t size = 0;     // the bytes one collection of the object takes
};

std::string g_namespace;

Setup& Installed() {
    static Setup setup = [] {
        Setup s;
        const std::string dir = tq::fuzz::MakeRunDirectory("prfdata");
        g_namespace = "tqfuzz" + std::to_string(getpid()) + ".";
        setenv("TQ_REGISTRY_ROOT", (dir + "/registry").c_str(), 1);
        setenv("TQ_EVENT_LOG", (dir + "/events").c_str(), 1);
        setenv("TQ_SHM_NAMESPACE", g_namespace.c_str(), 1);
        // The shared blocks and the guard file outlive the process otherwise.
        std::atexit([] {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
                if (entry.path().filename().string().rfind(g_namespace, 0) == 0) {
                    std::filesystem::remove(entry.path(), ec);
                }
            }
        });
        FUZZ_CHECK(RegisterStatistics() == 0);
        s.items.assign(std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems));
        s.provider = new PrfData(tq::kApplicationName, s.items.data());  // lives to the end
        FUZZ_CHECK(s.provider->Activate(1) == 0);
        FUZZ_CHECK(PrfData_Open(nullptr) == 0);
        FUZZ_CHECK(PrfData::Instance()->IsActive());
        const std::string index = std::to_string(s.provider->m_dwFirstCounter);
        s.index.assign(index.begin(), index.end());
        s.size = s.provider->BlockSize();
        return s;
    }();
    return setup;
}

// Names built from pieces the filter cares about, or raw UTF-16 units.
std::u16string ValueName(FuzzedDataProvider& in, const Setup& s) {
    std::u16string name;
    if (in.ConsumeBool()) {
        const int units = in.ConsumeIntegralInRange(0, 40);
        for (int i = 0; i < units; ++i)
            name += in.ConsumeIntegral<char16_t>();
    } else {
        static const char16_t* const kPieces[] = {u" ",      u"Global", u"gLoBaL", u"Costly",
                                                  u"\t",     u"0",      u"1",      u"\xD800",
                                                  u"\xDC00", u"\xFFFD", u"\u00e9", u"\U0001F600"};
        const int pieces = in.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < pieces; ++i) {
            const size_t pick = in.ConsumeIntegralInRange<size_t>(0, std::size(kPieces));
            name += pick == std::size(kPieces) ? s.index : kPieces[pick];
        }
    }
    return name.substr(0, name.find(u'\0'));
}

bool IsGlobal(const std::u16string& name) {
    if (name.size() != 6) return false;
    for (size_t i = 0; i < 6; ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != u"global"[i]) return false;
    }
    return true;
}

// "Global", or a blank-separated list that holds the object's index.
bool Wanted(const std::u16string& name, const std::u16string& index) {
    if (IsGlobal(name)) return true;
    for (size_t at = 0; at <= name.size();) {
        const size_t blank = std::min(name.find(u' ', at), name.size());
        if (name.compare(at, blank - at, index) == 0) return true;
        at = blank + 1;
    }
    return false;
}

uint32_t Load32(const unsigned char* at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = Installed();
    FuzzedDataProvider in(data, size);
    // Counter values the copy must carry.
    const int32_t value = in.ConsumeIntegral<int32_t>();
    const CTRID counter = tq::kFirstCounterId + in.ConsumeIntegralInRange<CTRID>(0, 21);
    int32_t* slot = s.provider->CounterSlot32(counter, 0);
    if (slot != nullptr) *slot = value;

    const std::u16string name = ValueName(in, s);
    const uint32_t room = in.ConsumeBool() ? in.ConsumeIntegralInRange(s.size - 2, s.size + 2)
                                           : in.ConsumeIntegralInRange(0u, 2 * s.size);
    const bool entryPoint = in.ConsumeBool();
    const bool nullName = in.ConsumeIntegralInRange(0, 15) == 0;

    ExactBuffer buffer(room);
    std::u16string mutableName = name;
    void* at = buffer.data();
    uint32_t bytes = room, objects = 77;
    const uint32_t rc =
        entryPoint ? PrfData_Collect(nullName ? nullptr : mutableName.data(), &at, &bytes, &objects)
                   : s.provider->Collect(nullName ? nullptr : name.c_str(), &at, &bytes, &objects);
    FUZZ_CHECK(mutableName == name);
    const unsigned char* block = s.provider->Block();

    if (nullName || !Wanted(name, s.index)) {
        FUZZ_CHECK(rc == 0 && bytes == 0 && objects == 0 && at == buffer.data());
    } else if (room < s.size) {
        FUZZ_CHECK(rc == KV_PERF_MORE_DATA && bytes == 0 && at == buffer.data());
    } else {
        FUZZ_CHECK(rc == 0 && bytes == s.size && objects == 1);
        FUZZ_CHECK(at == buffer.data() + s.size);
        // The block as it is, with the total length and no instances filled in.
        FUZZ_CHECK(Load32(buffer.data()) == s.size);
        FUZZ_CHECK(Load32(buffer.data() + 40) == 0xFFFFFFFFu);
        FUZZ_CHECK(std::memcmp(buffer.data() + 4, block + 4, 36) == 0);
        FUZZ_CHECK(std::memcmp(buffer.data() + 44, block + 44, s.size - 44) == 0);
        if (slot != nullptr) {
            const auto* copied =
                reinterpret_cast<const unsigned char*>(slot) - block + buffer.data();
            FUZZ_CHECK(static_cast<int32_t>(Load32(copied)) == value);
        }
    }
    // The entry point answers a missing pointer with nothing at all.
    if (in.ConsumeBool()) {
        FUZZ_CHECK(PrfData_Collect(mutableName.data(), nullptr, &bytes, &objects) == 0);
        FUZZ_CHECK(PrfData_Collect(mutableName.data(), &at, nullptr, &objects) == 0);
        FUZZ_CHECK(PrfData_Collect(mutableName.data(), &at, &bytes, nullptr) == 0);
    }
    return 0;
}
