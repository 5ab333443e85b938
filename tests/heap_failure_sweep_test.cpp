// Every operation that takes heap, with each of its heap requests refused in
// turn: the documented code comes back, the memory handler ran once, the
// object holds what a model says (unchanged, or its documented state), it
// still works, and destroying it leaks nothing (AddressSanitizer and valgrind
// check the last point; the sanitizer build also checks after each family).
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "support/heap_sweep.h"

#if defined(__SANITIZE_ADDRESS__)
#define TQ_SWEEP_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TQ_SWEEP_LSAN 1
#endif
#endif
#ifdef TQ_SWEEP_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using tq::test::HeapRequests;
using Ints = std::vector<int32_t>;

int32_t Int(const void* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A fixed shuffle of 0 .. n - 1.
Ints Keys(int n) {
    Ints keys(n);
    for (int i = 0; i < n; ++i)
        keys[i] = i;
    std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    return keys;
}

class HeapFailureSweep : public ::testing::Test {
protected:
    void TearDown() override {
#ifdef TQ_SWEEP_LSAN
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaked blocks";
#endif
        if (!HasFailure()) tally_.Report();
    }
    template <typename... Args>
    void Sweep(Args&&... args) {
        tq::test::SweepHeapFailures(tally_, std::forward<Args>(args)...);
    }
    tq::test::CountingMemoryHandler handler_;
    tq::test::SweepTally tally_{""};
};

// ---------------------------------------------------------------------------
// Arrays and lists

int CompareInts(KvVArray const*, void* a, void* b) {
    return (Int(a) > Int(b)) - (Int(a) < Int(b));
}

Ints Contents(KvVArray const& a) {
    Ints out(a.GetCount());
    for (uint32_t i = 0; i < a.GetCount(); ++i)
        EXPECT_EQ(a.Get(i, &out[i]), 0);
    return out;
}

// The array holds model and still takes an element at each end.
void ExpectArrayWorks(KvVArray& a, Ints model) {
    EXPECT_EQ(Contents(a), model);
    EXPECT_GE(a.GetCurMaxCount(), a.GetCount());
    const int32_t first = -1, last = 4711;
    ASSERT_EQ(a.Insert(0, &first), 0);
    ASSERT_EQ(a.Insert(a.GetCount(), &last), 0);
    model.insert(model.begin(), first);
    model.push_back(last);
    EXPECT_EQ(Contents(a), model);
}

template <typename Array>
struct Arrays {
    Array array{4}, source{4};
    std::optional<Array> copy;
    std::unique_ptr<KvLList> made;
    Ints model;

    // The array holds n shuffled keys, the source m others.
    static auto Make(int n, int m = 0) {
        return [=] {
            auto s = std::make_unique<Arrays>();
            s->array.SetCompareFunction(CompareInts);
            s->model = Keys(n);
            for (int32_t k : s->model)
                EXPECT_EQ(s->array.Insert(s->array.GetCount(), &k), 0);
            for (int32_t k = 1000; k < 1000 + m; ++k)
                EXPECT_EQ(s->source.Insert(s->source.GetCount(), &k), 0);
            return s;
        };
    }
    static void Works(Arrays& s, bool) { ExpectArrayWorks(s.array, s.model); }
};

// The operations both kinds of array share.
template <typename Array, typename SweepFn>
void SweepArrays(SweepFn sweep) {
    using S = Arrays<Array>;
    const int noMemory = KV_ARRAY_NO_MEMORY;
    auto insert = [](S& s) {
        for (int32_t k : Keys(40)) {
            const auto at = s.model.begin() + static_cast<ptrdiff_t>(s.model.size() / 2);
            if (int r = s.array.Insert(static_cast<uint32_t>(at - s.model.begin()), &k)) return r;
            s.model.insert(at, k);
        }
        return 0;
    };
    sweep("Insert", S::Make(0), insert, noMemory, S::Works);
    auto sortedInsert = [](S& s) {
        for (int32_t k : Keys(40)) {
            if (int r = s.array.SortedInsert(&k, nullptr, 0, 1)) return r;
            s.model.insert(std::lower_bound(s.model.begin(), s.model.end(), k), k);
        }
        return 0;
    };
    sweep("SortedInsert", S::Make(0), sortedInsert, noMemory, S::Works);
    auto copy = [](S& s) {
        const int r = s.array.Copy(&s.source);
        if (r == 0) s.model = Contents(s.source);
        return r;
    };
    sweep("Copy", S::Make(5, 30), copy, noMemory, S::Works);
    // A refused copy is an empty array that works.
    auto construct = [](S& s) {
        s.copy.emplace(s.source);
        return s.copy->GetCount() == s.source.GetCount() ? 0 : KV_ARRAY_NO_MEMORY;
    };
    sweep("copy construction", S::Make(0, 30), construct, noMemory, [](S& s, bool refused) {
        ExpectArrayWorks(*s.copy, refused ? Ints{} : Contents(s.source));
    });
    // The swap buffer is refused without the memory handler.
    auto sort = [](S& s) {
        const int r = s.array.Sort(0);
        if (r == 0) std::sort(s.model.begin(), s.model.end());
        return r;
    };
    sweep("Sort", S::Make(30), sort, -2030, S::Works, 0);
    // A refused smaller block is kept: the deletes succeed.
    auto shrink = [](S& s) {
        while (s.array.GetCount() > 1) {
            if (int r = s.array.Delete(1, 1)) return r;
            s.model.erase(s.model.begin() + 1);
        }
        return 0;
    };
    sweep("Delete with shrinking", S::Make(40), shrink, 0, S::Works);
}

TEST_F(HeapFailureSweep, Arrays) {
    tally_.family = "arrays";
    using S = Arrays<KvCList>;
    SweepArrays<KvCList>([this](auto&&... args) { Sweep(args...); });
    // Init empties the list, also when its block is refused.
    auto init = [](S& s) {
        s.model.clear();
        return s.array.Init(sizeof(int32_t), 100);
    };
    Sweep("Init", S::Make(5), init, KV_ARRAY_NO_MEMORY, [](S& s, bool refused) {
        EXPECT_EQ(s.array.GetCurMaxCount(), refused ? 0u : 100u);
        EXPECT_EQ(s.array.GetMaxCount(), 32767u);
        ExpectArrayWorks(s.array, {});
    });
    auto sizeSet = [](S& s) { return s.array.SizeSet(1000); };
    Sweep("SizeSet", S::Make(5), sizeSet, KV_ARRAY_NO_MEMORY, [](S& s, bool refused) {
        EXPECT_EQ(s.array.GetCurMaxCount(), refused ? 8u : 1000u);
        S::Works(s, refused);
    });
    KvCList list(sizeof(int32_t)), other(sizeof(int32_t));
    EXPECT_EQ(HeapRequests([&] { EXPECT_EQ(list.Merge(&other, 0), KV_ARRAY_NOT_SUPPORTED); }), 0u);
}

TEST_F(HeapFailureSweep, Lists) {
    tally_.family = "lists";
    using S = Arrays<KvLList>;
    SweepArrays<KvLList>([this](auto&&... args) { Sweep(args...); });
    // A list made with room: the object, its memory file and the block.
    auto make = [](S& s) {
        int r = 1;
        try {
            s.made.reset(new KvLList(4, 100, &r));
        } catch (const std::bad_alloc&) {
            return KV_ARRAY_NO_MEMORY;
        }
        return r;
    };
    Sweep("new with room", S::Make(0), make, KV_ARRAY_NO_MEMORY, [](S& s, bool refused) {
        if (s.made == nullptr) return;
        EXPECT_EQ(s.made->GetCurMaxCount(), refused ? 0u : 100u);
        ExpectArrayWorks(*s.made, {});
    });
    auto init = [](S& s) {
        s.model.clear();
        return s.array.Init(sizeof(int32_t), 300);
    };
    Sweep("Init with room", S::Make(5), init, KV_ARRAY_NO_MEMORY, [](S& s, bool refused) {
        EXPECT_EQ(s.array.GetCurMaxCount(), refused ? 0u : 300u);
        ExpectArrayWorks(s.array, {});
    });
    auto sizeSet = [](S& s) { return s.array.SizeSet(1000); };
    Sweep("SizeSet", S::Make(5), sizeSet, KV_MEMFILE_NO_MEMORY, [](S& s, bool refused) {
        EXPECT_EQ(s.array.GetCurMaxCount(), refused ? 5u : 1000u);
        S::Works(s, refused);
    });
    // Import reads 20 keys from the source's position and leaves it there.
    struct Import : S {
        MemFile file{0, 8};
    };
    auto withFile = [] {
        auto s = std::make_unique<Import>();
        for (int32_t k = 0; k < 40; ++k)
            s->file.Put(reinterpret_cast<const unsigned char*>(&k), 4 * k, 4);
        s->file.Seek(8, 0, nullptr);
        s->model = {-7};
        s->array.Insert(0, &s->model[0]);
        return s;
    };
    auto import = [](Import& s) {
        const int r = s.array.Import(20, &s.file);
        for (int32_t k = 2; r == 0 && k < 22; ++k)
            s.model.push_back(k);
        return r;
    };
    Sweep("Import", withFile, import, KV_ARRAY_NO_MEMORY, [](Import& s, bool refused) {
        EXPECT_EQ(s.file.GetPosition(), 8);
        S::Works(s, refused);
    });
    // The contents move to a new list of the same class; a refused list
    // object leaves everything where it was.
    using Sorted = Arrays<SortList>;
    auto move = [](Sorted& s) {
        s.made.reset(s.array.CreateCopyAndClear());
        return s.made != nullptr ? 0 : KV_ARRAY_NO_MEMORY;
    };
    Sweep("CreateCopyAndClear", Sorted::Make(10), move, KV_ARRAY_NO_MEMORY,
          [](Sorted& s, bool refused) {
              if (refused) return Sorted::Works(s, refused);
              ASSERT_NE(dynamic_cast<SortList*>(s.made.get()), nullptr);
              ASSERT_EQ(s.made->Sort(0), 0);
              std::sort(s.model.begin(), s.model.end());
              ExpectArrayWorks(*s.made, s.model);
              ExpectArrayWorks(s.array, {});
          });
}

// ---------------------------------------------------------------------------
// Memory files and queues

std::string Bytes(const MemFile& f) {
    if (f.GetBuffer() == nullptr) return "";
    return std::string(reinterpret_cast<const char*>(f.GetBuffer()),
                       static_cast<size_t>(f.GetLogicalSize()));
}

std::string Pattern(size_t n, char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i * 7 + i / 251);
    return s;
}

void PutAt(MemFile& f, const std::string& bytes, int offset) {
    EXPECT_EQ(f.Put(reinterpret_cast<const unsigned char*>(bytes.data()), offset,
                    static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
}

// Equal byte strings; else where they first differ.
testing::AssertionResult Same(const std::string& actual, const std::string& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    const auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return testing::AssertionFailure()
           << actual.size() << " bytes where " << expected.size()
           << " are expected, first difference at byte " << (at.first - actual.begin());
}

// The file holds model and grows by another kilobyte.
void ExpectFileWorks(MemFile& f, std::string model) {
    EXPECT_TRUE(Same(Bytes(f), model));
    EXPECT_LE(f.GetLogicalSize(), f.GetAllocatedSize());
    const std::string more = Pattern(1000, 'm');
    PutAt(f, more, f.GetLogicalSize());
    EXPECT_TRUE(Same(Bytes(f), model + more));
}

// The block, its size and geometry: what a refused request must not change.
auto Geometry(const MemFile& f) {
    return std::make_tuple(f.GetBuffer(), f.GetAllocatedSize(), f.GetSegmentCount(),
                           f.GetSegmentShift());
}

struct Files {
    MemFile file{0, 8}, other{0, 1};
    std::optional<MemFile> copy;
    std::string model;
    std::optional<decltype(Geometry(file))> before;  // taken before a step that may be refused

    // The file holds n bytes, the other file m.
    static auto Make(size_t n, size_t m = 0) {
        return [=] {
            auto s = std::make_unique<Files>();
            s->model = Pattern(n, 'a');
            PutAt(s->file, s->model, 0);
            PutAt(s->other, Pattern(m, 'o'), 0);
            return s;
        };
    }
    static void Works(Files& s, bool refused) {
        if (refused && s.before) {
            EXPECT_EQ(Geometry(s.file), *s.before);
        }
        ExpectFileWorks(s.file, s.model);
    }
};

TEST_F(HeapFailureSweep, MemFiles) {
    tally_.family = "memfiles";
    using S = Files;
    const int noMemory = KV_MEMFILE_NO_MEMORY;
    // After an exchange the file grows by the other's geometry.
    auto grow = [](S& s) {
        s.file.Exchange(&s.other);
        s.model.clear();
        for (int size : {1, 10, 100, 1000, 10000, 100000, 1000000}) {
            s.before = Geometry(s.file);
            const int old = s.file.GetLogicalSize();
            if (int r = s.file.SizeSet(size, 0)) return r;
            s.file.InitializeWith('g', old);
            s.model.resize(static_cast<size_t>(size), 'g');
        }
        return 0;
    };
    Sweep("Exchange and SizeSet growing", S::Make(10), grow, noMemory, S::Works);
    // A refused smaller block is kept, with the smaller logical size.
    auto shrink = [](S& s) {
        for (int size : {50000, 1000, 600, 10, 1}) {
            s.before = Geometry(s.file);
            s.model.resize(static_cast<size_t>(size));
            if (int r = s.file.SizeSet(size, 0)) return r;
        }
        return 0;
    };
    Sweep("SizeSet shrinking", S::Make(100000), shrink, noMemory, S::Works);
    auto put = [](S& s) {
        for (int i = 0; i < 30; ++i) {
            s.before = Geometry(s.file);
            const std::string chunk = Pattern(700, static_cast<char>(i));
            const int r = s.file.Put(reinterpret_cast<const unsigned char*>(chunk.data()),
                                     s.file.GetLogicalSize(), 700);
            if (r != 700) return r;
            s.model += chunk;
        }
        return 0;
    };
    Sweep("Put", S::Make(0), put, 0, S::Works);
    // Both cross-file copies answer a byte count and keep the positions.
    auto putFile = [](S& s) {
        s.before = Geometry(s.file);
        s.file.Seek(50, 0, nullptr);
        s.other.Seek(7, 0, nullptr);
        const unsigned int r = s.file.Put(&s.other, 0, 100);
        if (r != 0) s.model = s.model.substr(0, 50) + Bytes(s.other).substr(100);
        EXPECT_EQ(s.other.GetPosition(), 7);
        EXPECT_EQ(s.file.GetPosition(), 50);
        return r == 19900 ? 0 : static_cast<int>(r);
    };
    Sweep("Put from another file", S::Make(100, 20000), putFile, 0, S::Works);
    auto getFile = [](S& s) {
        s.before = Geometry(s.file);
        s.other.Seek(1000, 0, nullptr);
        const unsigned int r = s.other.Get(&s.file, 5000, 60);
        if (r != 0) s.model = s.model.substr(0, 60) + Bytes(s.other).substr(1000, 5000);
        EXPECT_EQ(s.other.GetPosition(), 1000);
        return r == 5000 ? 0 : static_cast<int>(r);
    };
    Sweep("Get into another file", S::Make(100, 20000), getFile, 0, S::Works);
    auto copy = [](S& s) {
        s.before = Geometry(s.file);
        const int r = s.file.Copy(1000, 0, 1000);
        if (r != 0) s.model += s.model;
        return r == 1000 ? 0 : r;
    };
    Sweep("Copy growing", S::Make(1000), copy, 0, S::Works);
    // Write answers 4 in any case; the status tells.
    auto write = [](S& s) {
        for (uint32_t v = 0; v < 3000; ++v) {
            s.before = Geometry(s.file);
            int status = 1;
            EXPECT_EQ(s.file.Write(v, status), 4u);
            if (status != 0) return status;
            s.model.append(reinterpret_cast<const char*>(&v), 4);
        }
        return 0;
    };
    Sweep("Write", S::Make(0), write, noMemory, S::Works);
    // A refused copy is an empty file.
    auto construct = [](S& s) {
        s.copy.emplace(s.other);
        return s.copy->GetLogicalSize() == 3000 ? 0 : noMemory;
    };
    Sweep("copy construction", S::Make(0, 3000), construct, noMemory,
          [](S& s, bool refused) { ExpectFileWorks(*s.copy, refused ? "" : Bytes(s.other)); });
    // Assignment that must grow keeps the old bytes when refused; one that
    // shrinks completes in the larger block it keeps.
    auto assign = [](S& s) {
        s.before = Geometry(s.file);
        s.file = s.other;
        if (s.file.GetLogicalSize() != s.other.GetLogicalSize()) return noMemory;
        s.model = Bytes(s.other);
        return s.file.GetPosition();
    };
    Sweep("assignment growing", S::Make(100, 20000), assign, noMemory, S::Works);
    Sweep("assignment shrinking", S::Make(20000, 100), assign, 0, S::Works);
    auto erase = [](S& s) {
        s.before = Geometry(s.file);
        s.model.erase(100, 19000);
        return s.file.Delete(100, 19000);
    };
    Sweep("Delete", S::Make(20000), erase, 0, S::Works);
    MemFile file(100, 8);
    EXPECT_EQ(HeapRequests([&] {
                  file.InitializeWith('z', 0);
                  file.SetLogicalSize(50);
                  file.SetSizeZeroAndShrink(1000);
              }),
              0u);
}

// The bytes between the head and the end.
std::string Queued(const MemQueue& q) {
    const std::string bytes = Bytes(q);
    if (q.GetHead() > bytes.size())
        return "(head " + std::to_string(q.GetHead()) + " past the end)";
    return bytes.substr(q.GetHead());
}

// The queue holds model, takes more and gives everything back in order.
void ExpectQueueWorks(MemQueue& q, std::string model) {
    EXPECT_TRUE(Same(Queued(q), model));
    std::string more = Pattern(300, 'q');
    ASSERT_EQ(q.Put(more.data(), 300), 0);
    model += more;
    std::string out(model.size(), '\0');
    ASSERT_EQ(q.Get(out.data(), static_cast<unsigned int>(out.size())), 0);
    EXPECT_TRUE(Same(out, model));
    EXPECT_EQ(q.Get(out.data(), 1), KV_MEMQUEUE_EMPTY);
}

struct Queues {
    explicit Queues(unsigned short compact) : queue(compact), other(compact) {}
    MemQueue queue, other;
    std::optional<MemQueue> copy;
    std::string model;

    // A queue that received n bytes and gave the first taken of them back;
    // the other queue holds m bytes.
    static auto Make(unsigned short compact, size_t n, size_t taken, size_t m = 0) {
        return [=] {
            auto s = std::make_unique<Queues>(compact);
            s->model = Pattern(n, 'Q');
            EXPECT_EQ(s->queue.Put(s->model.data(), static_cast<unsigned int>(n)), 0);
            std::string out(taken, '\0');
            EXPECT_EQ(s->queue.Get(out.data(), static_cast<unsigned int>(taken)), 0);
            s->model.erase(0, taken);
            std::string other = Pattern(m, 'O');
            EXPECT_EQ(s->other.Put(other.data(), static_cast<unsigned int>(m)), 0);
            return s;
        };
    }
    static void Works(Queues& s, bool) { ExpectQueueWorks(s.queue, s.model); }
};

TEST_F(HeapFailureSweep, Queues) {
    tally_.family = "queues";
    using S = Queues;
    auto put = [](S& s) {
        for (int i = 0; i < 40; ++i) {
            std::string chunk = Pattern(97, static_cast<char>(i));
            if (int r = s.queue.Put(chunk.data(), 97)) return r;
            s.model += chunk;
        }
        return 0;
    };
    Sweep("Put", S::Make(0, 10, 4), put, KV_MEMQUEUE_GROW_FAILED, S::Works);
    // A compacting queue delivers the bytes even when its smaller block is
    // refused, and says so.
    auto get = [](S& s) {
        std::string out(300, '\0');
        while (s.model.size() >= 300) {
            const int r = s.queue.Get(out.data(), 300);
            if (r < 0) return r;
            EXPECT_TRUE(Same(out, s.model.substr(0, 300)));
            s.model.erase(0, 300);
            if (r != 0) return r;
        }
        return 0;
    };
    Sweep("Get compacting", S::Make(1, 5000, 0), get, KV_MEMQUEUE_SHRINK_REFUSED, S::Works);
    auto drop = [](S& s) { return s.queue.Delete(0); };
    Sweep("Delete", S::Make(0, 5000, 3000), drop, 0, [](S& s, bool refused) {
        EXPECT_EQ(s.queue.GetHead(), 0u);
        S::Works(s, refused);
    });
    // A refused copy is an empty queue; a refused assignment changes nothing.
    auto construct = [](S& s) {
        s.copy.emplace(s.queue);
        return Queued(*s.copy) == s.model ? 0 : KV_MEMFILE_NO_MEMORY;
    };
    Sweep("copy construction", S::Make(0, 3000, 1000), construct, KV_MEMFILE_NO_MEMORY,
          [](S& s, bool refused) {
              ExpectQueueWorks(*s.copy, refused ? "" : s.model);
              S::Works(s, refused);
          });
    auto assign = [](S& s) {
        s.queue = s.other;
        if (Queued(s.queue) != Queued(s.other)) return KV_MEMFILE_NO_MEMORY;
        s.model = Queued(s.other);
        return 0;
    };
    Sweep("assignment", S::Make(0, 100, 10, 5000), assign, KV_MEMFILE_NO_MEMORY, S::Works);
}

// ---------------------------------------------------------------------------
// Raw buffers

struct Raw {
    char text[64] = "the caller's own bytes, which a buffer must never free";
    std::optional<KvRawBuffer> buffer, copy;

    // A buffer over the first 40 bytes of text, copied, borrowed or adopted.
    static auto Make(KvRawBufferBehavior behaviour) {
        return [behaviour] {
            auto s = std::make_unique<Raw>();
            void* block = s->text;
            if (behaviour == KvRawBufferAdopt) block = std::memcpy(std::malloc(40), s->text, 40);
            s->buffer.emplace(block, 40, behaviour);
            return s;
        };
    }
    // The copy is empty after a refusal, else a block of its own with the
    // bytes; the source is untouched.
    static void Copied(Raw& s, bool refused) {
        if (s.buffer) {
            EXPECT_EQ(std::memcmp(s.buffer->GetBuf(), s.text, 40), 0);
        }
        if (refused) {
            EXPECT_EQ(s.copy->GetBuf(), nullptr);
            EXPECT_EQ(s.copy->GetBufLen(), 0u);
            return;
        }
        ASSERT_EQ(s.copy->GetBufLen(), 40u);
        EXPECT_NE(s.copy->GetBuf(), s.text);
        EXPECT_EQ(std::memcmp(s.copy->GetBuf(), s.text, 40), 0);
    }
    int CopyStatus() const { return copy->GetBuf() != nullptr ? 0 : -2030; }
};

TEST_F(HeapFailureSweep, RawBuffers) {
    tally_.family = "raw-buffers";
    using S = Raw;
    auto construct = [](S& s) {
        s.copy.emplace(s.text, 40, KvRawBufferCopy);
        return s.CopyStatus();
    };
    Sweep("construction copying", S::Make(KvRawBufferBorrow), construct, -2030, S::Copied);
    auto copy = [](S& s) {
        s.copy.emplace(*s.buffer);
        return s.CopyStatus();
    };
    Sweep("copy construction (own copy)", S::Make(KvRawBufferCopy), copy, -2030, S::Copied);
    Sweep("copy construction (adopted block)", S::Make(KvRawBufferAdopt), copy, -2030, S::Copied);
    auto assign = [](S& s) {
        s.copy.emplace(s.text + 50, 4, KvRawBufferBorrow);
        *s.copy = *s.buffer;
        return s.CopyStatus();
    };
    Sweep("assignment", S::Make(KvRawBufferCopy), assign, -2030, S::Copied);
    // Growth gives room, not content; the caller's memory is never freed.
    auto ensure = [](S& s) { return s.buffer->EnsureCapacity(200); };
    Sweep("EnsureCapacity", S::Make(KvRawBufferBorrow), ensure, -2030, [](S& s, bool refused) {
        EXPECT_EQ(s.buffer->GetBufLen(), refused ? 0u : 200u);
        EXPECT_EQ(s.buffer->GetBuf() == nullptr, refused);
        ASSERT_EQ(s.buffer->EnsureCapacity(200), 0);
        ASSERT_NE(s.buffer->GetBuf(), nullptr);
        std::memset(s.buffer->GetBuf(), 0, 200);
    });
}

// ---------------------------------------------------------------------------
// Entry cache and trees

// Elements of IntTrees built and not yet destroyed.
int g_liveElements = 0;

struct IntTree : KvRBTree {
    IntTree() : KvRBTree(sizeof(int32_t), 0, 3) {
        SetCompareFunction([](KvCompareArgs* a) {
            const int32_t k = Int(a->key), e = Int(a->element);
            *a->keyResult = *a->orderResult = (k > e) - (k < e);
            return 0;
        });
        SetCopyFunction([](KvVContainer*, void* element, const KvVIterator*, const void* key,
                           const void*, KvVParameter*) {
            ++g_liveElements;
            std::memcpy(element, key, sizeof(int32_t));
            return 0;
        });
        SetDestroyFunction([](KvVContainer*, void*) { --g_liveElements; });
    }
    Ints Contents() {
        Ints keys;
        KvRBTreeIterator it(this, nullptr);
        for (int s = it.First(); s == 0; s = it.Next())
            keys.push_back(Int(it.GetElement(s, nullptr)));
        return keys;
    }
    int Add(int32_t key) {
        KvOneEntryContainer one(&key);
        KvOneEntryIterator source(&one, nullptr);
        return InsertElement(&source, nullptr, 0, nullptr);
    }
};

struct CompactTree : KvRBTree1 {
    CompactTree() : KvRBTree1(sizeof(int32_t), 3) {}
    void InitElement(const void* key, void* element) override { std::memcpy(element, key, 4); }
    int CompareKey(const void* key, const void* element) const override {
        return (Int(key) > Int(element)) - (Int(key) < Int(element));
    }
    int Add(int32_t key) {
        KvRBTree1NodeStack stack;
        int result = 0;
        if (SearchNode(&key, stack, result) != nullptr) return 1;
        return AddNode(&key, stack, result) != nullptr ? 0 : KvCONT_NO_MEMORY;
    }
    Ints Contents() const {
        Ints keys;
        for (const KvRBTree1Node* n = First(); n != nullptr; n = n->next)
            keys.push_back(Int(n->Element()));
        return keys;
    }
};

// The tree holds model (in order, counted, every element built once) and
// takes two more keys.
template <typename Tree>
void ExpectTreeWorks(Tree& t, std::set<int32_t> model) {
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(t.Contents(), Ints(model.begin(), model.end()));
        if constexpr (std::is_same_v<Tree, IntTree>) {
            EXPECT_EQ(t.count, model.size());
            EXPECT_EQ(g_liveElements, static_cast<int>(model.size()));
            EXPECT_EQ(t.CheckTree(nullptr), 0);
        } else {
            EXPECT_EQ(t.Count(), model.size());
        }
        for (int32_t k : {-5 - round, 9999 + round}) {
            ASSERT_EQ(t.Add(k), 0);
            model.insert(k);
        }
    }
}

struct Trees {
    IntTree tree;
    CompactTree compact;
    KvEntryCache cache{24, 4, 8};
    std::vector<void*> entries;
    std::set<int32_t> model;
};

TEST_F(HeapFailureSweep, TreesAndCaches) {
    tally_.family = "trees-caches";
    using S = Trees;
    auto make = [] { return std::make_unique<S>(); };
    // Entries handed out stay valid and distinct; the cache goes on after a
    // refused block and reuses its blocks.
    auto getEntries = [](S& s) {
        for (int i = 0; i < 30; ++i) {
            void* entry = s.cache.GetEntry();
            if (entry == nullptr) return KvCONT_NO_MEMORY;
            std::memset(entry, i, 24);
            s.entries.push_back(entry);
        }
        return 0;
    };
    Sweep("KvEntryCache::GetEntry", make, getEntries, KvCONT_NO_MEMORY, [](S& s, bool) {
        for (size_t i = 0; i < s.entries.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char*>(s.entries[i])[23], i);
        void* more = s.cache.GetEntry();
        ASSERT_NE(more, nullptr);
        EXPECT_EQ(std::count(s.entries.begin(), s.entries.end(), more), 0);
        s.cache.UngetAllEntries();
        EXPECT_EQ(HeapRequests([&] {
                      for (size_t i = 0; i <= s.entries.size(); ++i)
                          EXPECT_NE(s.cache.GetEntry(), nullptr);
                  }),
                  0u);
    });
    // A refused node builds no element and leaves the tree as it was.
    auto insert = [](S& s) {
        for (int32_t k : Keys(40)) {
            if (int r = s.tree.Add(k)) return r;
            s.model.insert(k);
        }
        return 0;
    };
    auto treeWorks = [](S& s, bool) { ExpectTreeWorks(s.tree, s.model); };
    Sweep("KvRBTree::InsertElement", make, insert, KvCONT_NO_MEMORY, treeWorks);
    auto createEntry = [](S& s) {
        for (int32_t k : Keys(40)) {
            int status = 1;
            void* node = s.tree.CreateEntry(status);
            if (node == nullptr) return status;
            std::memcpy(const_cast<void*>(s.tree.GetElementOfEntry(node)), &k, sizeof k);
            ++g_liveElements;
            if (int r = s.tree.InsertEntry(node, 0, nullptr)) return r;
            s.model.insert(k);
        }
        return 0;
    };
    Sweep("KvRBTree::CreateEntry", make, createEntry, KvCONT_NO_MEMORY, treeWorks);
    EXPECT_EQ(g_liveElements, 0) << "elements never destroyed";
    auto addNode = [](S& s) {
        for (int32_t k : Keys(40)) {
            if (int r = s.compact.Add(k)) return r;
            s.model.insert(k);
        }
        return 0;
    };
    Sweep("KvRBTree1::AddNode", make, addNode, KvCONT_NO_MEMORY,
          [](S& s, bool) { ExpectTreeWorks(s.compact, s.model); });
    // The entry stack works in its caller's buffer.
    char ring[4 * 8];
    EXPECT_EQ(HeapRequests([&] {
                  KvEntryStack stack(nullptr, ring, 8, 4, nullptr, nullptr);
                  EXPECT_NE(stack.GetNextEntry(), nullptr);
              }),
              0u);
}

// ---------------------------------------------------------------------------
// Node pool

struct Pool {
    KvMemPool pool{1000};  // four nodes to a buffer
    std::vector<char*> nodes;
    uint32_t taken = 0, added = 0, givenBack = 0;

    int Take(int n) {
        for (int i = 0; i < n; ++i) {
            char* node = static_cast<char*>(pool.GetNode());
            if (node == nullptr) return KvCONT_NO_MEMORY;
            node[999] = static_cast<char>(nodes.size());
            nodes.push_back(node);
            taken = pool.NodesTaken();
            added = pool.BuffersAdded();
        }
        return 0;
    }
    // Counters unchanged by refusals; nodes handed out keep their bytes; the
    // pool goes on, with nodes given back first.
    static void Works(Pool& s, bool) {
        for (size_t i = 0; i < s.nodes.size(); ++i)
            EXPECT_EQ(s.nodes[i][999], static_cast<char>(i));
        EXPECT_EQ(s.pool.NodesTaken(), s.taken);
        EXPECT_EQ(s.pool.BuffersAdded(), s.added);
        EXPECT_EQ(s.pool.NodesGivenBack(), s.givenBack);
        const size_t held = s.nodes.size();
        ASSERT_EQ(s.Take(9), 0);
        EXPECT_EQ(std::set<char*>(s.nodes.begin(), s.nodes.end()).size(), held + 9);
    }
};

TEST_F(HeapFailureSweep, Pools) {
    tally_.family = "pools";
    using S = Pool;
    auto make = [] { return std::make_unique<S>(); };
    Sweep(
        "GetNode", make, [](S& s) { return s.Take(20); }, KvCONT_NO_MEMORY, S::Works);
    // A node whose free record is refused stays out of the free list.
    auto holding = [] {
        auto s = std::make_unique<S>();
        s->Take(10);
        return s;
    };
    auto putNodes = [](S& s) {
        while (!s.nodes.empty()) {
            s.pool.PutNode(s.nodes.back());
            if (s.pool.NodesGivenBack() == s.givenBack) return KvCONT_NO_MEMORY;
            s.nodes.pop_back();
            ++s.givenBack;
        }
        return 0;
    };
    Sweep("PutNode", holding, putNodes, KvCONT_NO_MEMORY, S::Works);
    KvMemPool pool(16);
    void* node = pool.GetNode();
    pool.PutNode(node);
    EXPECT_EQ(HeapRequests([&] { EXPECT_EQ(pool.GetNode(), node); }), 0u);
}

// ---------------------------------------------------------------------------
// Module loader

bool Resident(const char* path) {
    void* module = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (module != nullptr) dlclose(module);
    return module != nullptr;
}

struct Loader {
    KvModuleHandle* handle = nullptr;
    bool resident = Resident(TQ_TEST_DESCRIBED_MODULE);
    ~Loader() {
        if (handle != nullptr) {
            EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), 0);
        }
    }
    // A refused handle object leaves the module unloaded; the next load works.
    static void Works(Loader& s, bool refused) {
        if (refused) {
            EXPECT_EQ(s.handle, nullptr);
            EXPECT_EQ(Resident(TQ_TEST_DESCRIBED_MODULE), s.resident);
        }
        KvModuleHandle* again = nullptr;
        ASSERT_EQ(KvDynamicLoader::LoadModule("tq_test_described", 0, again), 0);
        void* entry = nullptr;
        EXPECT_EQ(KvDynamicLoader::GetEntryPoint("KvDescribeDll", again, entry), 0);
        EXPECT_EQ(KvDynamicLoader::UnloadModule(again), 0);
    }
};

TEST_F(HeapFailureSweep, Loader) {
    tally_.family = "loader";
    using S = Loader;
    auto make = [] { return std::make_unique<S>(); };
    auto load = [](S& s) {
        s.handle = reinterpret_cast<KvModuleHandle*>(1);  // must come back null when refused
        return KvDynamicLoader::LoadModule("tq_test_described", 0, s.handle);
    };
    Sweep("LoadModule", make, load, ERR_KV_COULD_NOT_LOAD_MODULE, S::Works);
    auto describe = [](S&) {
        unsigned n[5] = {};
        int version = 0;
        char module[256] = "";
        const int r =
            KvGetDescription("tq_test_described", nullptr, n[0], n[1], n[2], n[3], n[4], nullptr,
                             module, nullptr, nullptr, nullptr, nullptr, version);
        EXPECT_EQ(module[0] != '\0', r == 0);
        return r;
    };
    Sweep("KvGetDescription", make, describe, ERR_KV_COULD_NOT_LOAD_MODULE, S::Works);
}

}  // namespace
