// Bad input at the edges of the interface: null pointers, zero, negative and
// overflowing lengths, indexes past the end and hostile names. Guard bytes catch
// stray writes, exact-size blocks let the sanitizers catch stray reads.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "perf_registry.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "platform_services.h"
#include "prfdata_items.h"
#include "support/test_env.h"
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

TEST(HostileInput, CompressionOfNullAndNonPositiveLengths) {
    Bytes some = {1, 2, 3, 4}, run(40, 9), shortLiteral = {0, 255, 1, 2, 3}, longRun = {200, 7};
    Guarded out(8);
    unsigned char *o = out.data(), *s = some.data();
    const auto C = DScomp, D = DSdecomp;
    // (call, source, length, target, room) -> (result, room after). DScomp
    // refuses output not shorter than the room; DSdecomp refuses tokens that
    // promise more than the stream or the room holds.
    const std::tuple<decltype(C), unsigned char*, int, unsigned char*, int, int, int> cases[] = {
        {C, nullptr, 4, o, 8, -1, 8},
        {C, s, 4, nullptr, 8, -1, 8},
        {C, s, INT_MIN, o, 8, -1, 8},
        {C, s, 0, o, 8, -1, 8},
        {C, run.data(), 40, o, INT_MIN, -1, INT_MIN},
        {C, run.data(), 40, o, 2, -1, 2},
        {D, nullptr, 0, nullptr, 8, 0, 0},
        {D, s, INT_MIN, o, 8, 0, 0},
        {D, nullptr, 2, o, 8, 2, 0},
        {D, s, 4, nullptr, 8, 2, 0},
        {D, s, 4, o, INT_MIN, 2, 0},
        {D, shortLiteral.data(), 5, o, 8, 2, 0},
        {D, longRun.data(), 2, o, 8, 2, 0}};
    for (const auto& [f, src, n, dst, room, rc, after] : cases) {
        int left = room;
        EXPECT_EQ(std::make_pair(f(src, n, dst, &left), left), std::make_pair(rc, after))
            << (f == DScomp ? "DScomp " : "DSdecomp ") << n << " into " << room;
    }
    EXPECT_EQ(DScomp(s, 4, o, nullptr), -1);
    EXPECT_EQ(DSdecomp(s, 4, o, nullptr), 2);
    EXPECT_EQ(out.Contents(), Bytes(8, 0));
    EXPECT_TRUE(out.Intact());
    EXPECT_EQ(DSlen(nullptr, INT_MIN), 0);
    EXPECT_EQ(DSlen(nullptr, 1), -1);
}

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

TEST(HostileInput, MemFileSeekFollowsItsModelForEveryOffsetAndOrigin) {
    MemFile file;
    Fill(file, Pattern(kFileSize));
    for (int offset : {INT_MIN, -101, -100, -1, 0, 1, 99, 100, 101, INT_MAX}) {
        for (unsigned short origin : {0, 1, 2, 3, 0xFFFF}) {
            for (int64_t want : {int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{60}, int64_t{100},
                                 int64_t{0xFFFFFFFF}}) {  // -1: no length pointer
                SCOPED_TRACE(std::to_string(offset) + "/" + std::to_string(origin) + "/" +
                             std::to_string(want));
                ASSERT_NE(file.Seek(40, 0, nullptr), nullptr);
                const int64_t p = origin == 1   ? 40 + int64_t{offset}
                                  : origin == 2 ? kFileSize - int64_t{offset}
                                                : offset;
                const int64_t w = std::max<int64_t>(want, 0);
                unsigned int length = static_cast<unsigned int>(w);
                unsigned char* at = file.Seek(offset, origin, want < 0 ? nullptr : &length);
                const bool refused = p < 0 || (p >= kFileSize && p + w > kFileSize);
                EXPECT_EQ(at, refused ? nullptr : file.GetBuffer() + p);
                EXPECT_EQ(file.GetPosition(), refused ? 40 : p);
                if (want >= 0) {
                    EXPECT_EQ(length, refused ? 0 : std::min<int64_t>(w, kFileSize - p));
                }
            }
        }
    }
}

TEST(HostileInput, MemFileOffsetsAndSizesOutsideTheFile) {
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
    // Copies and deletions whose ranges end past 2^31 or the file.
    Fill(file, original);
    const int copies[][3] = {{-1, 0, 1},       {0, -1, 1},          {0, 0, -1},
                             {INT_MIN, 0, 1},  {0, 0, INT_MAX},     {INT_MAX, 0, 1},
                             {0, INT_MAX, 10}, {0, INT_MAX - 5, 10}};
    for (const auto& c : copies)
        EXPECT_EQ(file.Copy(c[0], c[1], c[2]), 0) << c[0] << "<-" << c[1] << "+" << c[2];
    EXPECT_EQ(file.Delete(100, 1) + file.Delete(0xFFFFFFFFu, 0xFFFFFFFFu), 0);
    EXPECT_EQ(ContentsOf(file), original);
    EXPECT_EQ(file.Delete(98, 0xFFFFFFFFu), 0);  // clipped at the end
    EXPECT_EQ(ContentsOf(file), Bytes(original.begin(), original.begin() + 98));

    // Sizes outside any file are refused; a negative logical size is taken as 0.
    Fill(file, original);
    for (int size : {INT_MIN, -1}) {
        EXPECT_EQ(file.SizeSet(size, 0), KV_MEMFILE_NO_MEMORY);
        EXPECT_EQ(file.SizeSetDontShrink(size, 0), 0);
        EXPECT_EQ(file.GetLogicalSize(), 0);
        ASSERT_EQ(file.SetLogicalSize(kFileSize), 0);
    }
    EXPECT_EQ(file.SizeSet(INT_MAX, 0), KV_MEMFILE_NO_MEMORY);
    EXPECT_EQ(file.SetLogicalSize(INT_MAX), KV_MEMFILE_BEYOND_ALLOCATED);
    for (int from : {INT_MIN, -1, kFileSize, INT_MAX})
        file.InitializeWith(0xEE, from);
    EXPECT_EQ(ContentsOf(file), original);

    MemFile other;  // cross-file copies: ends past 2^31 and ranges past the source
    EXPECT_EQ(file.Get(&other, 1, static_cast<unsigned>(INT_MAX) - 1), 0u);
    EXPECT_EQ(other.Put(&file, 0xFFFFFFFFu, 0xFFFFFFFFu) + other.Put(&file, 0, kFileSize), 0u);

    // Write stores at the position: four bytes past the block are refused.
    Fill(file, Pattern(112));
    ASSERT_EQ(file.GetAllocatedSize(), 112);
    ASSERT_NE(file.Seek(110, 0, nullptr), nullptr);
    ASSERT_EQ(file.SetLogicalSize(8), 0);
    int status = 1;
    EXPECT_EQ(file.Write(0xDEADBEEFu, status), 4u);
    EXPECT_EQ(std::make_pair(status, file.GetPosition()),
              std::make_pair(int{KV_MEMFILE_BEYOND_ALLOCATED}, 110));
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
    Guarded out(3);
    EXPECT_EQ(queue.Get(out.data(), 0xFFFFFFFFu), KV_MEMQUEUE_TOO_FEW_BYTES);
    EXPECT_EQ(queue.Get(nullptr, 2), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(queue.GetHead(), 0u);
    EXPECT_EQ(queue.Get(out.data(), 3), 0);
    EXPECT_EQ(out.Contents(), (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(out.Intact());
    EXPECT_EQ(queue.Delete(0xFFFFFFFFu), 0);  // beyond the head: nothing to drop
    EXPECT_EQ(queue.GetLogicalSize(), 3);
    ASSERT_EQ(queue.SizeSet(1, 0), 0);  // shrunk behind the queue's back
    EXPECT_EQ(queue.Get(out.data(), 1), KV_MEMQUEUE_GET_FAILED);
    MemQueue compacting(1);
    ASSERT_EQ(compacting.Put(abc, 3), 0);
    EXPECT_EQ(compacting.Get(nullptr, 1), KV_MEMQUEUE_GET_FAILED);
    EXPECT_EQ(compacting.GetLogicalSize(), 3);

    // Behaviours other than copy and adopt borrow: a stack array is never freed.
    // A length of 0 holds nothing, but an adopted block is still given back.
    for (int behaviour :
         {int{KvRawBufferCopy}, int{KvRawBufferBorrow}, int{KvRawBufferAdopt}, -1, 3, INT32_MAX}) {
        SCOPED_TRACE(behaviour);
        const auto how = static_cast<KvRawBufferBehavior>(behaviour);
        const bool adopt = how == KvRawBufferAdopt;
        KvRawBuffer none(nullptr, 10, how), empty(adopt ? std::malloc(4) : abc, 0, how);
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

    EXPECT_EQ(contiguous.SizeSet(0xFFFFFFFFu), KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(memoryFile.SizeSet(0xFFFFFFFFu), KV_MEMFILE_NO_MEMORY);
    EXPECT_EQ(memoryFile.GetCount(), 10u);
    EXPECT_EQ(memoryFile.Init(sizeof(int), 0xFFFFFFFFu), KV_ARRAY_NO_MEMORY);
    EXPECT_EQ(memoryFile.GetCurMaxCount(), 0u);
}

TEST(HostileInput, BitStringCacheAndContainerRefusePositionsOutside) {
    for (unsigned length : {0u, 1u, 9u, 64u}) {
        SCOPED_TRACE(length);
        _KvBitString bits(length);
        if (length > 0) bits.Set(length - 1);
        const Bytes before(bits.Bits(), bits.Bits() + length / 8 + 1);
        for (unsigned i : {length, 0x80000000u, 0xFFFFFFFFu}) {
            int value = 77;
            unsigned position = 77;
            EXPECT_EQ(bits.Set(i) + bits.Reset(i) + bits.Get(i, value) + bits.Flip(i, value),
                      4 * -2005);
            EXPECT_EQ(bits.Find(i, 1, position), -2005);
            EXPECT_EQ(std::make_pair(value, position), std::make_pair(77, length));
        }
        EXPECT_EQ(Bytes(bits.Bits(), bits.Bits() + length / 8 + 1), before);
    }
    KvEntryCache unusable(0xFFFFFFFFu, 0, 8);  // no block holds an entry
    EXPECT_EQ(unusable.GetEntry(), nullptr);

    // A memory-file container walks only the whole records inside the file.
    MemFile file;
    ASSERT_EQ(file.Put(Pattern(10).data(), 0, 10), 10);
    const std::tuple<MemFile*, unsigned, unsigned, unsigned> walks[] = {{nullptr, 4, 10, 0},
                                                                        {&file, 4, 0xFFFFFFFFu, 2},
                                                                        {&file, 0xFFFFFFFFu, 1, 0},
                                                                        {&file, 11, 1, 0},
                                                                        {&file, 10, 5, 1}};
    for (const auto& [from, recordSize, recordCount, expected] : walks) {
        ASSERT_NE(file.Seek(0, 0, nullptr), nullptr);  // records start at the position
        KvMemFileContainer container(from, recordSize, recordCount);
        KvMemFileIterator iterator(&container);
        unsigned records = 0;
        for (int status = iterator.First(); status == 0; status = iterator.Next())
            ++records;
        EXPECT_EQ(records, expected) << recordSize << " x " << recordCount;
    }
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
    // (name, result as a key, result as a value); an empty key name is the key above.
    const std::tuple<std::string, int, int> names[] = {
        {"", 0, -1},
        {".", -1, -1},
        {"..", -1, -1},
        {"a/b", -1, -1},
        {"\x01", -1, -1},
        {"a\nb", -1, -1},
        {"\xff\xfe", 0, 0},
        {"%s%n", 0, 0},
        {"a\\..\\..", -1, 0},  // as a key: segments "a", "..", ".."
        {std::string(255, 'n'), KV_ERR_INVALID_PARAMETER, 0},
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

TEST_F(HostileRegistry, BuffersSizesEventSourcesAndHostName) {
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

    KvSysLogWin32 log;
    const std::string longSource(4096, 'e');
    for (const char* source : {"a\\..\\..\\x", "\x01", longSource.c_str()})
        EXPECT_EQ(log.Install(source), -1) << std::string(source, 0, 8);

    Guarded host(8, '#');
    EXPECT_EQ(KvGetHostname(host.chars(), INT_MIN) + KvGetHostname(host.chars(), 0), 0);
    EXPECT_EQ(host.Contents(), Bytes(8, '#'));
    EXPECT_TRUE(host.Intact());
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
        Guarded physical(1024, '#'), text(64, '#');
        unsigned n[5] = {};
        int compiler = 0;
        char* t = text.chars();
        EXPECT_EQ(KvGetDescription(name.c_str(), physical.chars(), n[0], n[1], n[2], n[3], n[4], t,
                                   t, t, t, t, t, compiler),
                  ERR_KV_COULD_NOT_LOAD_MODULE);
        EXPECT_EQ(physical.Contents(), Bytes(1024, '#'));
        EXPECT_EQ(text.Contents(), Bytes(64, '#'));
    }
    KvModuleHandle* handle = nullptr;
    EXPECT_EQ(KvDynamicLoader::LoadModule(nullptr, 0, handle), ERR_KV_COULD_NOT_LOAD_MODULE);
    DefaultConfig(previous);

    // The generic name needs strlen(name) + 8 + strlen(second_char) characters, no more.
    const std::string name(300, 'g');
    Guarded out(name.size() + 8 + std::strlen(DllNameClass::second_char), '#');
    EXPECT_EQ(DllNameClass::GetGenericDllName(name.c_str(), out.chars()), out.chars());
    EXPECT_EQ(std::string(out.chars()),
              "TQ" + name + KV_COMPILER_VARIANT + DllNameClass::second_char);
    EXPECT_TRUE(out.Intact());
}

int64_t g_seconds = 0;

TEST(HostileInput, DatesTimesAndTimersOfReadingsNoRecordCanHold) {
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

    WindowsTimer ticks;
    Win32HiResTimer counter;
    for (KvTimer* timer : {static_cast<KvTimer*>(&ticks), static_cast<KvTimer*>(&counter)}) {
        timer->Start();
        EXPECT_EQ(timer->IsTimeOver(UINT_MAX, 1), 0);  // 136 years: no wrapped limit
        EXPECT_EQ(timer->EstimatedTimeLeft(101) + timer->EstimatedTimeLeft(UINT_MAX), 0u);
    }
}

class HostilePerf : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RegisterStatistics(), 0); }
    tq::test::PerfSandbox sandbox_{"tqhostile"};
    std::vector<PRFITM> items_{std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems)};
};

TEST_F(HostilePerf, CollectWithHostileValueNamesAndBuffers) {
    PrfData provider(u"Tessaloquin", items_.data());
    ASSERT_EQ(provider.Activate(1), 0);
    const uint32_t whole = provider.BlockSize();
    const std::string index = std::to_string(provider.m_dwFirstCounter);
    for (const std::u16string& name :
         {std::u16string(u" Global"), std::u16string(1, char16_t{0xD800}),
          std::u16string(4096, u'9'), std::u16string(u"-1 4294967295 99999999999999999999"),
          tq::Utf16FromUtf8(index + "\t"), tq::Utf16FromUtf8(index + " " + index)}) {
        Guarded buffer(2000);
        void* data = buffer.data();
        uint32_t bytes = 2000, objects = 99;
        EXPECT_EQ(provider.Collect(name.c_str(), &data, &bytes, &objects), 0u);
        EXPECT_TRUE(buffer.Intact());
        EXPECT_TRUE(bytes == 0 || bytes == whole) << bytes;  // the object once at most
        EXPECT_EQ(objects, bytes != 0 ? 1u : 0u);
        EXPECT_EQ(static_cast<unsigned char*>(data), buffer.data() + bytes);
    }
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
    for (const char* app :
         {"", "../Tessaloquin", "Tessaloquin\\..\\Tessaloquin", "\x01", longName.c_str()}) {
        EXPECT_EQ(KvQueryPerfExtension(app, &extension), -1) << app;
        EXPECT_EQ(KvUnloadPerfCounterTextStrings(("x " + std::string(app)).c_str(), 1), ENOENT);
    }
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

}  // namespace
