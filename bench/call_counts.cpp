// The work per call of the paths whose speed goals are out of reach, against
// their peers: each case below runs one path a known number of times. Run
// under callgrind (scripts/bench --counts), which counts the instructions,
// loads and stores of each case function, so that the figures do not depend
// on the machine's load. Without callgrind the program just runs the cases.
#include <lz4.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "kvarray.h"
#include "memfile.h"
#include "pages.h"

namespace {

using tq::bench::Bytes;
using tq::bench::kPage;

constexpr uint32_t kAppends = 32767;    // a list filled to the most a KvCList holds
constexpr uint32_t kWrites = 1u << 20;  // 4 MiB of 4-byte values
constexpr int kPageCalls = 16;          // codec calls on one page

// Each case: the row and side it measures, the number of operations it
// runs, and the function (its name for matching callgrind's counts).
struct Case {
    const char* path;
    const char* side;
    uint64_t operations;
    void (*run)();
    const char* function;
    bool inlined = false;  ///< the path is inline code in the case function
};

std::vector<uint64_t>& Source() {
    static std::vector<uint64_t> values = [] {
        std::vector<uint64_t> v(kAppends);
        for (uint32_t i = 0; i < kAppends; ++i)
            v[i] = i + 1;
        return v;
    }();
    return values;
}

volatile uint64_t sink;

[[gnu::noinline]] void CountKvCListAppend() {
    const uint64_t* source = Source().data();
    KvCList list(8, 0);
    for (uint32_t i = 0; i < kAppends; ++i)
        list.Insert(list.GetCount(), source + i);
    sink = *static_cast<uint64_t*>(list.Element(kAppends - 1));
}

[[gnu::noinline]] void CountKvLListAppend() {
    const uint64_t* source = Source().data();
    KvLList list(8, 0);
    for (uint32_t i = 0; i < kAppends; ++i)
        list.Insert(list.GetCount(), source + i);
    sink = *static_cast<uint64_t*>(list.Element(kAppends - 1));
}

[[gnu::noinline]] void CountVectorAppend() {
    const uint64_t* source = Source().data();
    std::vector<uint64_t> list;
    for (uint32_t i = 0; i < kAppends; ++i)
        list.push_back(source[i]);
    sink = list.back();
}

MemFile& ReusedFile() {
    static MemFile file;
    return file;
}

std::vector<uint32_t>& ReusedVector() {
    static std::vector<uint32_t> values;
    return values;
}

// Inline into the case and into the warm-up, so that the case counts the
// calls as its own code.
[[gnu::always_inline]] inline void FillMemFile() {
    MemFile& file = ReusedFile();
    int status = 0;
    file.SetSizeZeroAndShrink(UINT32_MAX);  // keeps the block
    for (uint32_t v = 0; v < kWrites; ++v)
        file.Write(v, status);
    sink = static_cast<uint64_t>(status);
}

[[gnu::always_inline]] inline void FillVector() {
    std::vector<uint32_t>& values = ReusedVector();
    values.clear();  // keeps the block
    for (uint32_t v = 0; v < kWrites; ++v)
        values.push_back(v);
    sink = values.back();
}

[[gnu::noinline]] void CountMemFileWrite() {
    FillMemFile();
}

[[gnu::noinline]] void CountVectorWrite() {
    FillVector();
}

[[gnu::noinline]] void WarmUp() {
    FillMemFile();
    FillVector();
}

struct Streams {
    Bytes page = tq::bench::DatabasePage();
    Bytes ours;
    Bytes lz4;
    Bytes out = Bytes(kPage);
    Streams() {
        ours.resize(kPage + 256);
        int length = static_cast<int>(ours.size());
        if (DScomp(page.data(), static_cast<int>(page.size()), ours.data(), &length) != 0)
            std::abort();
        ours.resize(static_cast<size_t>(length));
        lz4.resize(static_cast<size_t>(LZ4_compressBound(static_cast<int>(kPage))));
        const int size = LZ4_compress_default(
            reinterpret_cast<const char*>(page.data()), reinterpret_cast<char*>(lz4.data()),
            static_cast<int>(kPage), static_cast<int>(lz4.size()));
        if (size <= 0) std::abort();
        lz4.resize(static_cast<size_t>(size));
    }
};

Streams& Page() {
    static Streams streams;
    return streams;
}

[[gnu::noinline]] void CountDScomp() {
    Streams& s = Page();
    Bytes stream(kPage + 256);
    for (int i = 0; i < kPageCalls; ++i) {
        int length = static_cast<int>(stream.size());
        sink = static_cast<uint64_t>(
            DScomp(s.page.data(), static_cast<int>(kPage), stream.data(), &length));
    }
}

[[gnu::noinline]] void CountLz4Compress() {
    Streams& s = Page();
    Bytes stream(s.lz4.size() + kPage);
    for (int i = 0; i < kPageCalls; ++i)
        sink = static_cast<uint64_t>(LZ4_compress_default(
            reinterpret_cast<const char*>(s.page.data()), reinterpret_cast<char*>(stream.data()),
            static_cast<int>(kPage), static_cast<int>(stream.size())));
}

[[gnu::noinline]] void CountDSdecomp() {
    Streams& s = Page();
    for (int i = 0; i < kPageCalls; ++i) {
        int length = static_cast<int>(kPage);
        sink = static_cast<uint64_t>(
            DSdecomp(s.ours.data(), static_cast<int>(s.ours.size()), s.out.data(), &length));
    }
}

[[gnu::noinline]] void CountLz4Decompress() {
    Streams& s = Page();
    for (int i = 0; i < kPageCalls; ++i)
        sink = static_cast<uint64_t>(LZ4_decompress_safe(
            reinterpret_cast<const char*>(s.lz4.data()), reinterpret_cast<char*>(s.out.data()),
            static_cast<int>(s.lz4.size()), static_cast<int>(kPage)));
}

[[gnu::noinline]] void CountMemcpyPage() {
    Streams& s = Page();
    for (int i = 0; i < kPageCalls; ++i) {
        std::memcpy(s.out.data(), s.page.data(), kPage);
        sink = s.out[i];
    }
}

// Tokens of our stream for the page, and LZ4's sequences (a literal run and
// a match each) for the same page, for the note under the table.
uint64_t TokensOfPage() {
    const Bytes& stream = Page().ours;
    uint64_t tokens = 0;
    for (size_t i = 0; i + 1 < stream.size(); i += stream[i] != 0 ? 2 : 2 + size_t{stream[i + 1]})
        ++tokens;
    return tokens;
}

// A length of LZ4's block format: the token's nibble, then bytes while 255.
size_t Lz4Length(const Bytes& s, size_t& i, size_t nibble) {
    if (nibble == 15) {
        unsigned char b;
        do {
            b = s[i++];
            nibble += b;
        } while (b == 255 && i < s.size());
    }
    return nibble;
}

uint64_t SequencesOfPage() {
    const Bytes& s = Page().lz4;
    uint64_t sequences = 0;
    for (size_t i = 0; i < s.size();) {
        ++sequences;
        const unsigned char token = s[i++];
        i += Lz4Length(s, i, token >> 4);  // the literals
        if (i >= s.size()) break;          // the last sequence has no match
        i += 2;                            // the match offset
        Lz4Length(s, i, token & 15u);
    }
    return sequences;
}

const Case kCases[] = {
    {"kvclist/append", "ours", kAppends, CountKvCListAppend, "CountKvCListAppend", true},
    {"kvclist/append", "vector", kAppends, CountVectorAppend, "CountVectorAppend", true},
    {"kvllist/append", "ours", kAppends, CountKvLListAppend, "CountKvLListAppend", true},
    {"kvllist/append", "vector", kAppends, CountVectorAppend, "CountVectorAppend", true},
    {"memfile/write/reused", "ours", kWrites, CountMemFileWrite, "CountMemFileWrite", true},
    {"memfile/write/reused", "vector", kWrites, CountVectorWrite, "CountVectorWrite", true},
    {"dscomp/page", "ours", kPageCalls, CountDScomp, "CountDScomp"},
    {"dscomp/page", "lz4", kPageCalls, CountLz4Compress, "CountLz4Compress"},
    {"dsdecomp/page", "ours", kPageCalls, CountDSdecomp, "CountDSdecomp"},
    {"dsdecomp/page", "lz4", kPageCalls, CountLz4Decompress, "CountLz4Decompress"},
    {"dsdecomp/page", "memcpy", kPageCalls, CountMemcpyPage, "CountMemcpyPage"},
};

}  // namespace

// Prints "case PATH SIDE FUNCTION OPERATIONS" for each case, then runs them
// all; the caller matches callgrind's per-function counts to these lines.
int main() {
    // Build the inputs and warm the reused blocks, so that the cases count
    // the steady state.
    Source();
    WarmUp();
    Page();
    std::printf("tokens dsdecomp/page %llu %llu\n", static_cast<unsigned long long>(TokensOfPage()),
                static_cast<unsigned long long>(SequencesOfPage()));
    for (const Case& c : kCases)
        std::printf("case %s %s %s %llu %d\n", c.path, c.side, c.function,
                    static_cast<unsigned long long>(c.operations), c.inlined ? 1 : 0);
    // A peer shared by two rows runs once.
    for (size_t i = 0; i < std::size(kCases); ++i) {
        bool ran = false;
        for (size_t j = 0; j < i; ++j)
            ran = ran || kCases[j].run == kCases[i].run;
        if (!ran) kCases[i].run();
    }
    return 0;
}
