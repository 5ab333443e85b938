// Bad input at the edges of the interface: null pointers, negative and
// overflowing lengths, indexes past the end and hostile names. Guard bytes catch
// stray writes, exact-size blocks let the sanitizers catch stray reads.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "statistics/perf_registry.h"
#include "statistics/prfdata_items.h"
#include "support/test_env.h"
#include "system/platform_services.h"
#include "util/utf.h"

namespace {

using Bytes = std::vector<unsigned char>;

// n bytes for a callee to write into, between guard bytes.
class Guarded {
public:
    explicit Guarded(size_t n, unsigned char fill = 0) : bytes_(n + 32, 0xA5) {
        std::memset(bytes_.data() + 16, fill, n);
    }
    unsigned char* data() { return bytes_.data() + 16; }
    char* chars() { return reinterpret_cast<char*>(data()); }
    Bytes Contents() const { return Bytes(bytes_.begin() + 16, bytes_.end() - 16); }
    bool Intact() const {
        auto guard = [](unsigned char b) { return b == 0xA5; };
        return std::all_of(bytes_.begin(), bytes_.begin() + 16, guard) &&
               std::all_of(bytes_.end() - 16, bytes_.end(), guard);
    }

private:
    Bytes bytes_;
};

Bytes Pattern(size_t n, unsigned seed = 1) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + seed) * 13 >> 2);
    return bytes;
}

// None of the refusals here may come from the heap.
int g_handlerCalls = 0;
struct HandlerScope {
    KvMemoryHandler previous =
        mmKvSetHandler([](unsigned long long) { return ++g_handlerCalls, 0; });
    HandlerScope() { g_handlerCalls = 0; }
    ~HandlerScope() {
        mmKvSetHandler(previous);
        EXPECT_EQ(g_handlerCalls, 0);
    }
};

constexpr int kFileSize = 100;

void Fill(MemFile& file, const Bytes& bytes) {
    file.SizeSet(0, 0);
    ASSERT_EQ(file.Put(bytes.data(), 0, static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
}

Bytes ContentsOf(MemFile& file) {
    Bytes bytes(static_cast<size_t>(file.GetLogicalSize()));
    if (!bytes.empty()) file.Get(bytes.data(), 0, static_cast<int>(bytes.size()));
    return bytes;
}

TEST(HostileInput, MemFilePutAndGetOutsideTheFileOrWithoutABuffer) {
    HandlerScope handler;
    const Bytes original = Pattern(kFileSize), source = Pattern(100, 5);
    const unsigned char* s = source.data();
    MemFile file;
    // (source, offset, length) -> (result, logical size); no source copies nothing.
    const std::tuple<const unsigned char*, int, int, int, int> puts[] = {
        {s, -1, 1, 0, 100},      {s, INT_MIN, 1, 0, 100},     {s, 0, INT_MIN, 0, 100},
        {s, INT_MAX, 1, 0, 100}, {s, INT_MAX - 4, 5, 0, 100}, {s, 1, INT_MAX, 0, 100},
        {s, 100, 0, 0, 100},     {s, 99, 1, 1, 100},          {s, 1000, 5, 5, 1005},
        {nullptr, 0, 5, 0, 100}, {nullptr, 200, 5, 0, 100}};
    for (const auto& [src, offset, length, result, size] : puts) {
        Fill(file, original);
        EXPECT_EQ(file.Put(src, offset, length), result) << offset << "+" << length;
        ASSERT_EQ(file.GetLogicalSize(), size);
        const Bytes contents = ContentsOf(file);  // growth leaves the gap unset
        EXPECT_TRUE(std::equal(
            original.begin(), original.begin() + (result ? std::min(offset, kFileSize) : kFileSize),
            contents.begin()));
        EXPECT_TRUE(std::equal(s, s + result, contents.begin() + (result ? offset : 0)));
    }
    // (target, offset, length) -> bytes read, into a block of just that size.
    const std::tuple<bool, int, int, int> gets[] = {
        {true, -1, 1, 0},        {true, INT_MIN, 5, 0},   {true, 0, INT_MIN, 0},
        {true, 0, INT_MAX, 100}, {true, 98, 4, 2},        {true, 101, 4, 0},
        {true, INT_MAX, 1, 0},   {true, 50, INT_MAX, 50}, {false, 0, 10, 0}};
    for (const auto& [target, offset, length, result] : gets) {
        Guarded dst(static_cast<size_t>(result));
        EXPECT_EQ(file.Get(target ? dst.data() : nullptr, offset, length), result)
            << offset << "+" << length;
        EXPECT_TRUE(dst.Intact());
        EXPECT_TRUE(std::equal(dst.data(), dst.data() + result, original.begin() + offset));
    }
}

TEST(HostileInput, MemQueueAndRawBufferRefuseWhatTheyCannotHold) {
    HandlerScope handler;
    unsigned char abc[3] = {'a', 'b', 'c'};
    MemQueue queue;
    EXPECT_EQ(queue.Put(nullptr, 0), 0);
    EXPECT_EQ(queue.Put(nullptr, 5), KV_MEMQUEUE_PUT_FAILED);
    EXPECT_EQ(queue.GetLogicalSize(), 0);  // refused before the queue grows
    EXPECT_EQ(queue.Put(abc, 0xFFFFFFFFu), KV_MEMQUEUE_GROW_FAILED);
    ASSERT_EQ(queue.Put(abc, 3), 0);
    EXPECT_EQ(queue.Put(abc, 0xFFFFFFFFu), KV_MEMQUEUE_GROW_FAILED);  // 3 + n wraps in 32 bits
    EXPECT_EQ(queue.GetLogicalSize(), 3);
    Guarded out(3);
    EXPECT_EQ(queue.Get(out.data(), 0xFFFFFFFFu), KV_MEMQUEUE_TOO_FEW_BYTES);
    EXPECT_EQ(queue.Get(nullptr, 2), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(queue.GetHead(), 0u);
    EXPECT_EQ(queue.Get(out.data(), 3), 0);
    EXPECT_EQ(out.Contents(), (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(out.Intact());
    MemQueue compacting(1);
    ASSERT_EQ(compacting.Put(abc, 3), 0);
    EXPECT_EQ(compacting.Get(nullptr, 1), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(compacting.GetLogicalSize(), 3);

    // Behaviours other than copy and adopt borrow: a stack array is never freed.
    // A length of 0 holds nothing and takes nothing over, not even to adopt it.
    for (int behaviour :
         {int{KvRawBufferCopy}, int{KvRawBufferBorrow}, int{KvRawBufferAdopt}, -1, 3, INT32_MAX}) {
        SCOPED_TRACE(behaviour);
        const auto how = static_cast<KvRawBufferBehavior>(behaviour);
        const bool adopt = how == KvRawBufferAdopt;
        KvRawBuffer none(nullptr, 10, how), empty(abc, 0, how);
        for (const KvRawBuffer* b : {&none, &empty})
            EXPECT_EQ(std::make_pair(b->GetBuf(), b->GetBufLen()),
                      (std::pair<void*, unsigned>(nullptr, 0u)));
        KvRawBuffer held(adopt ? std::memcpy(std::malloc(3), abc, 3) : abc, 3, how);
        KvRawBuffer copy(held);
        copy = held;
        EXPECT_EQ(copy.GetBuf() == held.GetBuf(), how != KvRawBufferCopy && !adopt);
        EXPECT_EQ(std::memcmp(copy.GetBuf(), abc, 3), 0);
    }
}

int CompareInts(KvVArray const*, void* a, void* b) {
    int x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (x > y) - (x < y);
}

// An index at or past the end answers -502 and changes nothing; a copy from no
// array is refused.
void SweepIndexes(KvVArray& list) {
    list.SetCompareFunction(CompareInts);
    for (int v = 0; v < 10; ++v)
        ASSERT_EQ(list.Insert(list.GetCount(), &v), 0);
    const uint32_t n = list.GetCount();
    for (uint32_t index : {n, n + 1, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(index);
        Guarded out(sizeof(int));
        int value = 99;
        EXPECT_EQ(list.Get(index, out.data()), KV_ARRAY_INDEX);
        EXPECT_EQ(list.Element(index), nullptr);
        EXPECT_EQ(list.Update(index, &value), KV_ARRAY_INDEX);
        EXPECT_EQ(list.Delete(index, 1), KV_ARRAY_INDEX);
        EXPECT_EQ(list.SearchAt(index, &value, out.data()), KV_ARRAY_INDEX);
        if (index != n) {
            EXPECT_EQ(list.Insert(index, &value), KV_ARRAY_INDEX);
            EXPECT_EQ(list.PrepareInsert(index), nullptr);
        }
        EXPECT_EQ(out.Contents(), Bytes(sizeof(int), 0));
        EXPECT_TRUE(out.Intact());
    }
    const int key = 4;
    EXPECT_EQ(list.Get(0, nullptr) + list.Search(&key, nullptr, nullptr), 0);
    EXPECT_EQ(list.SizeSet(n - 1), KV_ARRAY_INDEX);
    EXPECT_EQ(list.Copy(nullptr), KV_ARRAY_WRONG_KIND);
    ASSERT_EQ(list.GetCount(), n);
    for (uint32_t i = 0; i < n; ++i)
        EXPECT_EQ(*static_cast<int*>(list.Element(i)), static_cast<int>(i));
}

TEST(HostileInput, ArraysRefuseIndexesPastTheEndAndCountsBeyondTheirBound) {
    HandlerScope handler;
    KvCList contiguous(sizeof(int));
    SweepIndexes(contiguous);
    KvLList memoryFile(sizeof(int));
    SweepIndexes(memoryFile);
    SortList sorted(sizeof(int), CompareInts);
    SweepIndexes(sorted);
}

class HostileRegistry : public ::testing::Test {
protected:
    void TearDown() override {  // nothing may appear beside the root
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            EXPECT_EQ(entry.path().filename(), "registry");
    }
    static int Set(std::vector<const char*> path, const std::string& value) {
        path.push_back(nullptr);
        int size = 1;
        return KvSetRegistryEntry(path.data(), const_cast<char*>(value.c_str()), size);
    }
    // "result:size:bytes" of a read into room bytes between guards.
    static std::string Get(std::vector<const char*> path, int room) {
        path.push_back(nullptr);
        Guarded buffer(static_cast<size_t>(std::max(room, 0)), '#');
        int size = room;
        const int rc = KvGetRegistryEntry(path.data(), buffer.chars(), size);
        EXPECT_TRUE(buffer.Intact());
        const bool filled = rc == 0 || (rc == -1 && size > 0 && room > 1);
        return std::to_string(rc) + ":" + std::to_string(size) + ":" +
               (filled ? buffer.chars() : "");
    }

    tq::test::TempDir dir_;
    tq::test::ScopedEnv env_{"TQ_REGISTRY_ROOT", dir_.File("registry").c_str()};
};

TEST_F(HostileRegistry, NamesThatCouldLeaveTheRootOrOverflowTheKeyPath) {
    // (name, result as a key, result as a value); an empty key name is the key
    // above, an empty value name the key's default value.
    const std::tuple<std::string, int, int> names[] = {
        {"", 0, 0},
        {"..", -1, -1},
        {"a/b", -1, -1},
        {"a\nb", -1, -1},
        {"%s%n", 0, 0},
        {"a\\..\\..", -1, 0},  // as a key: segments "a", "..", ".."
        {std::string(256, 'n'), KV_ERR_INVALID_PARAMETER, -1}};  // longer than a file name
    for (const auto& [text, asKey, asValue] : names) {
        SCOPED_TRACE(text.substr(0, 16));
        const char* name = text.c_str();
        for (const auto& [path, expected] :
             {std::make_pair(std::vector<const char*>{name, "v"}, asKey),
              std::make_pair(std::vector<const char*>{"k", name}, asValue)}) {
            EXPECT_EQ(Set(path, "value"), expected);
            EXPECT_EQ(Get(path, 64), expected == 0    ? "0:5:value"
                                     : expected == -1 ? "-1:0:"
                                                      : std::to_string(expected) + ":64:");
            const char* terminated[] = {path[0], path[1], nullptr};
            EXPECT_EQ(KvDeleteRegistryEntry(terminated), expected);
        }
    }
}

TEST_F(HostileRegistry, BufferSizes) {
    ASSERT_EQ(Set({"k", "v"}, "hello"), 0);
    EXPECT_EQ(Get({"k", "v"}, INT_MIN), "-2530:" + std::to_string(INT_MIN) + ":");
    EXPECT_EQ(Get({"k", "v"}, 1), "-1:5:");  // too small: the value's size
    EXPECT_EQ(Get({"k", "v"}, 5), "-1:5:hell");
    const char* path[] = {"k", "v", nullptr};
    char value[] = "x";
    int size = 8;
    EXPECT_EQ(Register().Get(path, nullptr, size), KV_ERR_INVALID_PARAMETER);
    size = INT_MIN;  // the size is not used otherwise
    EXPECT_EQ(KvSetRegistryEntry(path, value, size), 0);
}

TEST(HostileInput, LoaderAndModuleNamesWithHostileNames) {
    // Reports on: the failure text is formatted with every hostile name.
    KvConfig* previous = DefaultConfig(KV_QUERY_CONFIG);
    KvKeyFileConfig config;
    ASSERT_EQ(config.LoadText("[debug]\nloadModule = 1\n"), 0);
    DefaultConfig(&config);
    for (const std::string& name :
         {std::string(), std::string("../../../../../../etc/passwd"), std::string("\x01\xff"),
          std::string("%s%n%s%n"), std::string(260, 'm'), std::string(4096, 'm')}) {
        SCOPED_TRACE(name.substr(0, 16));
        KvModuleHandle* handle = reinterpret_cast<KvModuleHandle*>(1);
        EXPECT_EQ(KvDynamicLoader::LoadModule(name.c_str(), 0, handle),
                  ERR_KV_COULD_NOT_LOAD_MODULE);
        EXPECT_EQ(handle, nullptr);
        EXPECT_LT(std::strlen(KvDynamicLoader::GetErrText()), 512u);
    }
    KvModuleHandle* handle = nullptr;
    EXPECT_EQ(KvDynamicLoader::LoadModule(nullptr, 0, handle), ERR_KV_COULD_NOT_LOAD_MODULE);
    DefaultConfig(previous);
}

int64_t g_seconds = 0;

TEST(HostileInput, DatesOfReadingsNoRecordCanHold) {
    tq::platform::ClockSource source = tq::platform::SystemClockSource();
    source.realTime = [](tq::platform::RealTime* now) {
        *now = {g_seconds, 123'456'789};
        return true;
    };
    const tq::platform::ClockSource* previous = tq::platform::SetClockSource(&source);
    tq::test::ScopedEnv zone("TZ", "UTC");
    // (seconds, year); -1: no bdate holds it (years 0 to 65535) and the records
    // stay as they were. In turn: the end of the year -1, the start of 0, the
    // end of 65535, the start of 65536, the last second whose year an int holds.
    const std::pair<int64_t, int> readings[] = {{INT64_MIN, -1},         {-62167219201, -1},
                                                {-62167219200, 0},       {2005949145599, 65535},
                                                {2005949145600, -1},     {67768036191676799, -1},
                                                {67768036191676800, -1}, {INT64_MAX, -1}};
    for (const auto& [seconds, year] : readings) {
        SCOPED_TRACE(seconds);
        g_seconds = seconds;
        tq::ResetTimeZoneCache();
        bdate date{1234, 5, 6}, hiresDate = date, utcDate = date;
        btime time{7, 8, 9, 10}, hiresTime = time, utcTime = time;
        int nanoseconds = -1, utcNanoseconds = -1;
        bksgetdate(&date);
        bksgettime(&time);
        bksgetsystemtime(&utcTime, &utcDate);
        bksGetHiresTime(hiresDate, hiresTime, nanoseconds);
        bksGetHiresTimeUTC(utcDate, utcTime, utcNanoseconds);
        if (year >= 0) {
            for (const bdate* d : {&date, &hiresDate, &utcDate})
                EXPECT_EQ(d->year, year);
            continue;
        }
        for (const bdate* d : {&date, &hiresDate, &utcDate})
            EXPECT_EQ(std::make_tuple(d->year, d->month, d->day), std::make_tuple(1234, 5, 6));
        for (const btime* t : {&time, &hiresTime, &utcTime})
            EXPECT_EQ(std::make_tuple(t->hour, t->minute, t->second), std::make_tuple(7, 8, 9));
        EXPECT_EQ(std::make_pair(nanoseconds, utcNanoseconds), std::make_pair(0, 0));
    }
    bksgetdate(nullptr);
    bksgettime(nullptr);
    bksgetsystemtime(nullptr, nullptr);
    tq::platform::SetClockSource(previous);
    tq::ResetTimeZoneCache();
}

class HostilePerf : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RegisterStatistics(), 0); }
    tq::test::PerfSandbox sandbox_{"tqhostile"};
    std::vector<PRFITM> items_{std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems)};
};

TEST_F(HostilePerf, CollectWithHostileBuffers) {
    PrfData provider(u"Tessaloquin", items_.data());
    ASSERT_EQ(provider.Activate(1), 0);
    const uint32_t whole = provider.BlockSize();
    // A room larger than needed is not believed; no buffer, whatever room is
    // claimed, gives no data.
    for (uint32_t room : {0u, whole - 1, whole, 0xFFFFFFFFu}) {
        Guarded buffer(whole);
        for (void* start : {static_cast<void*>(buffer.data()), static_cast<void*>(nullptr)}) {
            void* data = start;
            uint32_t bytes = room, objects = 99;
            EXPECT_EQ(provider.Collect(u"Global", &data, &bytes, &objects),
                      room < whole ? KV_PERF_MORE_DATA : 0u);
            EXPECT_EQ(bytes, room < whole || start == nullptr ? 0u : whole) << room;
            EXPECT_TRUE(start != nullptr || data == nullptr);
        }
        EXPECT_TRUE(buffer.Intact());
    }
    uint32_t bytes = 7, objects = 7;
    void* data = &bytes;
    char16_t global[] = u"Global";
    EXPECT_EQ(PrfData_Collect(global, nullptr, &bytes, &objects) +
                  PrfData_Collect(global, &data, nullptr, &objects) +
                  PrfData_Collect(global, &data, &bytes, nullptr),
              0u);
    EXPECT_EQ(std::make_pair(bytes, objects), std::make_pair(7u, 7u));
    void* none = nullptr;
    bytes = 0xFFFFFFFFu;
    EXPECT_EQ(PrfData_Collect(global, &none, &bytes, &objects), 0u);
    EXPECT_EQ(std::make_tuple(none, bytes, objects),
              (std::tuple<void*, uint32_t, uint32_t>(nullptr, 0u, 0u)));
    EXPECT_EQ(PrfData_Close(), 0u);
}

TEST_F(HostilePerf, CounterTextsWithHostileNamesAndStoredRanges) {
    KvPerfExtension extension;
    ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &extension), 0);
    Guarded text(1, '#');
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstCounter, 0, nullptr, 10), -1);
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstCounter, 0, text.chars(), 0), -1);
    EXPECT_EQ(text.Contents(), Bytes(1, '#'));
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstHelp, INT_MIN, text.chars(), 1), 0);
    EXPECT_EQ(text.Contents(), Bytes(1, 0));  // cut to nothing
    EXPECT_TRUE(text.Intact());

    const std::string longName(4096, 'a');
    KvPerfObjects objects;
    for (const char* app : {"", "../Tessaloquin", longName.c_str()}) {
        EXPECT_EQ(KvQueryPerfExtension(app, &extension), -1) << app;
        EXPECT_EQ(KvUnloadPerfCounterTextStrings(("x " + std::string(app)).c_str(), 1), ENOENT);
        // Names that could leave /dev/shm or overflow a path find and remove nothing.
        EXPECT_EQ(KvQueryPerfObjects(app, &objects), 0);
        EXPECT_EQ(objects.block, 0);
        EXPECT_LE(KvRemoveStalePerfObjects(app, text.chars(), 1), 0);
        EXPECT_TRUE(text.Intact());
    }
    EXPECT_EQ(KvQueryPerfObjects(nullptr, &objects) + KvQueryPerfObjects("Tessaloquin", nullptr) +
                  KvRemoveStalePerfObjects(nullptr, nullptr, 0),
              -3);
    for (const char* line : {static_cast<const char*>(nullptr), "", "x \"open"}) {
        EXPECT_EQ(KvLoadPerfCounterTextStrings(line, 1), ENOENT) << (line ? line : "null");
        EXPECT_EQ(KvUnloadPerfCounterTextStrings(line, 1), ENOENT);
    }
    // Stored ranges that end at the top of the index space (a 32-bit index
    // wrapped and looped), or run backwards, remove what they name and end.
    for (const auto& [first, last] :
         {std::pair{0xFFFFFFFEu, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0xFFFFFFFFu}, {10u, 4u}}) {
        tq::platform::RegistryKey key;
        ASSERT_EQ(tq::platform::RegistryStore::CreateKey(
                      "SYSTEM\\CurrentControlSet\\Services\\Odd\\Performance", &key),
                  tq::platform::RegistryStatus::kOk);
        for (const char* name : {"First Counter", "First Help"})
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, first));
        for (const char* name : {"Last Counter", "Last Help"})
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, last));
        EXPECT_EQ(KvUnloadPerfCounterTextStrings("x Odd", 1), 0);
    }
    EXPECT_EQ(KvQueryPerfExtension("Tessaloquin", &extension), 0);  // untouched

    ASSERT_EQ(DeregisterStatistics(), 0);  // open with nothing to map: no data, no fault
    char16_t hostile[] = u"\xD800..";
    EXPECT_EQ(PrfData_Open(hostile), 0u);
}

TEST(HostileInput, StatisticsValueOfAnyIdentifier) {  // no signed overflow on the way
    KvStatistics statistics;
    statistics.AddLocks(5);
    for (int id : {INT_MIN, INT_MIN + 1, -1, 100, 123, INT_MAX})
        EXPECT_EQ(statistics.Value(id), 0) << id;
    EXPECT_EQ(statistics.Value(111), 5);
}

std::string Narrow(std::u8string_view text) {
    return {text.begin(), text.end()};
}

// Names cross between the wide texts of the performance records and UTF-8
// strings: the compiler's own encoding of each literal is the peer, and what
// is not valid on one side (a lone surrogate, a cut or stray UTF-8 byte)
// becomes U+FFFD on the other.
TEST(HostileInput, NamesBetweenUtf16AndUtf8) {
    const std::pair<std::u16string_view, std::u8string_view> valid[] = {
        {u"Plain", u8"Plain"},
        {u"caf\u00e9 \u00df", u8"caf\u00e9 \u00df"},
        {u"\u20ac \u4e2d\uffff", u8"\u20ac \u4e2d\uffff"},
        {u"\U0001F600\U0010FFFF", u8"\U0001F600\U0010FFFF"},
        {u"", u8""},
    };
    for (const auto& [wide, narrow] : valid) {
        EXPECT_EQ(tq::Utf8FromUtf16(std::u16string(wide).c_str()), Narrow(narrow));
        EXPECT_EQ(tq::Utf16FromUtf8(Narrow(narrow)), wide);
    }
    EXPECT_EQ(tq::Utf8FromUtf16(nullptr), "");
    const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0xD800, 0xE000, 0xD800, 0};
    const char16_t loneLow[] = {0xDC00, 0xDFFF, u'c', 0};
    EXPECT_EQ(tq::Utf8FromUtf16(loneHigh), Narrow(u8"a\ufffdb\ufffd\ue000\ufffd"));
    EXPECT_EQ(tq::Utf8FromUtf16(loneLow), Narrow(u8"\ufffd\ufffdc"));
    EXPECT_EQ(tq::Utf16FromUtf8("\x80x\xC3"), u"\ufffdx\ufffd");
    EXPECT_EQ(tq::Utf16FromUtf8("\xE2\x82"), u"\ufffd\ufffd");
    EXPECT_EQ(tq::Utf16FromUtf8("\xF0\x9F\x98"), u"\ufffd\ufffd\ufffd");
}

}  // namespace
