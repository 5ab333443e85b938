// Every operation that takes heap, with each of its heap requests refused in
// turn: the documented code comes back, the memory handler ran once, the
// object holds what a model says, it still works, and destroying it leaks
// nothing (the sanitizer build checks after each family). Each run updates
// the model only when its step succeeded.
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

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

using Ints = std::vector<int32_t>;

int32_t Int(const void* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int Order(const void* a, const void* b) {
    return (Int(a) > Int(b)) - (Int(a) < Int(b));
}

// 0 .. n - 1, in a fixed shuffle unless in order.
Ints Keys(int n, bool inOrder = false) {
    Ints keys(n);
    std::iota(keys.begin(), keys.end(), 0);
    if (!inOrder) std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    return keys;
}

// step(key) for each key until one fails; its result.
template <typename Step>
int Steps(const Ints& keys, Step step) {
    for (int32_t k : keys)
        if (int r = step(k)) return r;
    return 0;
}

// r, after update() when r is 0.
template <typename Update>
int Then(int r, Update update) {
    if (r == 0) update();
    return r;
}

// The heap requests that fn makes.
template <typename Fn>
uint64_t HeapRequests(Fn fn) {
    tq::platform::HeapFailAfter(0);
    fn();
    return tq::platform::HeapFailAfter(0);
}

// A make() for Sweep: each call builds a fresh S from args.
template <typename S, typename... Args>
auto Fresh(Args... args) {
    return [=] { return std::make_unique<S>(args...); };
}

// The memory handler counts its calls and gives up. Each family appends its
// tally to the file TQ_RELIABILITY_REPORT names, if any.
class HeapFailureSweep : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = mmKvSetHandler([](unsigned long long) { return ++calls_, 0; });
    }
    void TearDown() override {
        tq::platform::HeapFailAfter(0);
        mmKvSetHandler(previous_);
#ifdef TQ_SWEEP_LSAN
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaked blocks";
#endif
        const char* path = std::getenv("TQ_RELIABILITY_REPORT");
        if (HasFailure() || path == nullptr || *path == '\0') return;
        std::FILE* file = std::fopen(path, "a");
        ASSERT_NE(file, nullptr) << path;
        std::fprintf(file, "heap-failure %s %d operations %d injected failures\n", family_,
                     operations_, failures_);
        std::fclose(file);
    }

    // For n = 1, 2, ... until a run makes fewer than n requests: make() builds
    // a fresh state, run(state) performs the operation with its nth heap
    // request refused and answers 0, or refusedResult after handlerCalls calls
    // of the memory handler when a request was refused; then
    // state.Works(refused) checks the state.
    template <typename Make, typename Run>
    void Sweep(const char* operation, Make make, int refusedResult, Run run, int handlerCalls = 1) {
        SCOPED_TRACE(operation);
        uint64_t n = 1;
        for (; n <= 10000; ++n) {
            SCOPED_TRACE(testing::Message() << "request " << n << " refused");
            auto state = make();
            calls_ = 0;
            tq::platform::HeapFailAfter(n);
            const int result = run(*state);
            const bool refused = tq::platform::HeapFailAfter(0) >= n;
            failures_ += refused ? 1 : 0;
            EXPECT_EQ(result, refused ? refusedResult : 0);
            EXPECT_EQ(calls_, refused ? handlerCalls : 0);
            state->Works(refused);
            if (!refused || HasFatalFailure()) break;
        }
        EXPECT_TRUE(HasFatalFailure() || n > 1) << "the operation makes no heap request";
        EXPECT_LE(n, 10000u);
        ++operations_;
    }
    template <typename Array>
    void SweepArrays(uint32_t room, int sizeSetCode, uint32_t refusedRoom);

    static inline int calls_ = 0;
    KvMemoryHandler previous_ = nullptr;
    const char* family_ = "";
    int operations_ = 0, failures_ = 0;
};

Ints Contents(KvVArray const& a) {
    Ints out(a.GetCount());
    for (uint32_t i = 0; i < a.GetCount(); ++i)
        EXPECT_EQ(a.Get(i, &out[i]), 0);
    return out;
}

template <typename Array>
struct Arrays {
    Array array{4}, source{4};
    std::optional<Array> copy;
    std::unique_ptr<KvLList> made;
    MemFile file{0, 8};
    Ints model, copied;            // what array and copy (or made) hold
    std::optional<uint32_t> room;  // of made, or else of array

    // The array holds n shuffled keys, the source m others, the file 40
    // keys and stands at the third.
    explicit Arrays(int n = 0, int m = 0) : model(Keys(n)) {
        array.SetCompareFunction([](KvVArray const*, void* a, void* b) { return Order(a, b); });
        for (int32_t k : model)
            EXPECT_EQ(array.Insert(array.GetCount(), &k), 0);
        for (int32_t k = 1000; k < 1000 + m; ++k)
            EXPECT_EQ(source.Insert(source.GetCount(), &k), 0);
        for (int32_t k = 0; k < 40; ++k)
            file.Put(reinterpret_cast<const unsigned char*>(&k), 4 * k, 4);
        file.Seek(8, 0, nullptr);
    }
    // Each array holds its model and still takes an element at each end; a
    // list made by CreateCopyAndClear is of the source's class and sorts.
    void Works(bool refused) {
        if constexpr (std::is_same_v<Array, SortList>) {
            if (made && !refused) {
                ASSERT_NE(dynamic_cast<SortList*>(made.get()), nullptr);
                ASSERT_EQ(made->Sort(0), 0);
                std::sort(copied.begin(), copied.end());
            }
        }
        const uint32_t cur = (made ? *made : static_cast<KvVArray&>(array)).GetCurMaxCount();
        EXPECT_EQ(cur, room.value_or(cur));
        EXPECT_EQ(file.GetPosition(), 8);
        auto works = [](KvVArray& a, Ints m) {
            EXPECT_EQ(Contents(a), m);
            const int32_t first = -1, last = 4711;
            ASSERT_EQ(a.Insert(0, &first), 0);
            ASSERT_EQ(a.Insert(a.GetCount(), &last), 0);
            m.insert(m.begin(), first);
            m.push_back(last);
            EXPECT_EQ(Contents(a), m);
        };
        works(array, model);
        if (made) works(*made, copied);
        if (copy) works(*copy, copied);
    }
};

// The operations both kinds of array share. Init makes room for room
// elements; a refused SizeSet answers sizeSetCode and leaves refusedRoom.
template <typename Array>
void HeapFailureSweep::SweepArrays(uint32_t room, int sizeSetCode, uint32_t refusedRoom) {
    using S = Arrays<Array>;
    const int noMemory = KV_ARRAY_NO_MEMORY;
    Sweep("Insert", Fresh<S>(), noMemory, [](S& s) {
        return Steps(Keys(40), [&](int32_t k) {
            const auto at = s.model.begin() + static_cast<ptrdiff_t>(s.model.size() / 2);
            const auto i = static_cast<uint32_t>(at - s.model.begin());
            return Then(s.array.Insert(i, &k), [&] { s.model.insert(at, k); });
        });
    });
    Sweep("SortedInsert", Fresh<S>(), noMemory, [](S& s) {
        return Steps(Keys(40), [&](int32_t k) {
            return Then(s.array.SortedInsert(&k, nullptr, 0, 1), [&] {
                s.model.insert(std::lower_bound(s.model.begin(), s.model.end(), k), k);
            });
        });
    });
    Sweep("Copy", Fresh<S>(5, 30), noMemory, [](S& s) {
        return Then(s.array.Copy(&s.source), [&] { s.model = Contents(s.source); });
    });
    // A refused copy is an empty array that works.
    Sweep("copy construction", Fresh<S>(0, 30), noMemory, [](S& s) {
        s.copy.emplace(s.source);
        if (s.copy->GetCount() != s.source.GetCount()) return noMemory;
        s.copied = Contents(s.source);
        return 0;
    });
    // The swap buffer is refused without the memory handler.
    Sweep(
        "Sort", Fresh<S>(30), -2030,
        [](S& s) {
            return Then(s.array.Sort(0), [&] { std::sort(s.model.begin(), s.model.end()); });
        },
        0);
    // A refused smaller block is kept: the deletes succeed.
    Sweep("Delete with shrinking", Fresh<S>(40), 0, [](S& s) {
        return Steps(Keys(39, true), [&](int32_t) {
            return Then(s.array.Delete(1, 1), [&] { s.model.erase(s.model.begin() + 1); });
        });
    });
    // Init empties the array, also when its block is refused.
    Sweep("Init", Fresh<S>(5), noMemory, [room](S& s) {
        s.model.clear();
        const int r = s.array.Init(sizeof(int32_t), room);
        s.room = r == 0 ? room : 0;
        return r;
    });
    Sweep("SizeSet", Fresh<S>(5), sizeSetCode, [=](S& s) {
        const int r = s.array.SizeSet(1000);
        s.room = r == 0 ? 1000 : refusedRoom;
        return r;
    });
}

TEST_F(HeapFailureSweep, Arrays) {
    family_ = "arrays";
    SweepArrays<KvCList>(100, KV_ARRAY_NO_MEMORY, 8);
    KvCList list(sizeof(int32_t)), other(sizeof(int32_t));
    EXPECT_EQ(HeapRequests([&] { EXPECT_EQ(list.Merge(&other, 0), KV_ARRAY_NOT_SUPPORTED); }), 0u);
}

TEST_F(HeapFailureSweep, Lists) {
    family_ = "lists";
    using S = Arrays<KvLList>;
    SweepArrays<KvLList>(300, KV_MEMFILE_NO_MEMORY, 5);
    // A list made with room: the object, its memory file and the block.
    Sweep("new with room", Fresh<S>(), KV_ARRAY_NO_MEMORY, [](S& s) {
        int r = 1;
        try {
            s.made.reset(new KvLList(4, 100, &r));
        } catch (const std::bad_alloc&) {
            return KV_ARRAY_NO_MEMORY;
        }
        s.room = r == 0 ? 100 : 0;
        return r;
    });
    // Import reads 20 keys from the file's position and leaves it there.
    Sweep("Import", Fresh<S>(1), KV_ARRAY_NO_MEMORY, [](S& s) {
        return Then(s.array.Import(20, &s.file), [&] {
            for (int32_t k = 2; k < 22; ++k)
                s.model.push_back(k);
        });
    });
    // The contents move to a new list of the same class; a refused list
    // object leaves everything where it was.
    using Sorted = Arrays<SortList>;
    Sweep("CreateCopyAndClear", Fresh<Sorted>(10), KV_ARRAY_NO_MEMORY, [](Sorted& s) {
        s.made.reset(s.array.CreateCopyAndClear());
        if (s.made == nullptr) return KV_ARRAY_NO_MEMORY;
        s.copied = std::exchange(s.model, {});
        return 0;
    });
}

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

int PutAt(MemFile& f, const std::string& bytes, int offset) {
    return f.Put(reinterpret_cast<const unsigned char*>(bytes.data()), offset,
                 static_cast<int>(bytes.size()));
}

struct Files {
    MemFile file{0, 8}, other{0, 1};
    std::optional<MemFile> copy;
    std::string model, copied;

    // The file holds n bytes, the other file m.
    explicit Files(size_t n, size_t m = 0) : model(Pattern(n, 'a')) {
        EXPECT_EQ(PutAt(file, model, 0), static_cast<int>(n));
        EXPECT_EQ(PutAt(other, Pattern(m, 'o'), 0), static_cast<int>(m));
    }
    // Each file holds its model and grows by another kilobyte.
    void Works(bool) {
        auto works = [](MemFile& f, const std::string& m) {
            EXPECT_EQ(Bytes(f), m);
            const std::string more = Pattern(1000, 'm');
            EXPECT_EQ(PutAt(f, more, f.GetLogicalSize()), 1000);
            EXPECT_EQ(Bytes(f), m + more);
        };
        works(file, model);
        if (copy) works(*copy, copied);
    }
};

TEST_F(HeapFailureSweep, MemFiles) {
    family_ = "memfiles";
    using S = Files;
    const int noMemory = KV_MEMFILE_NO_MEMORY;
    // After an exchange the file grows by the other's geometry.
    Sweep("Exchange and SizeSet growing", Fresh<S>(10), noMemory, [](S& s) {
        s.file.Exchange(&s.other);
        s.model.clear();
        return Steps(Ints{1, 10, 100, 1000, 10000, 100000, 1000000}, [&](int32_t size) {
            const int old = s.file.GetLogicalSize();
            return Then(s.file.SizeSet(size, 0), [&] {
                s.file.InitializeWith('g', old);
                s.model.resize(static_cast<size_t>(size), 'g');
            });
        });
    });
    // A refused smaller block is kept, with the smaller logical size.
    Sweep("SizeSet shrinking", Fresh<S>(100000), noMemory, [](S& s) {
        return Steps(Ints{50000, 1000, 600, 10, 1}, [&](int32_t size) {
            s.model.resize(static_cast<size_t>(size));
            return s.file.SizeSet(size, 0);
        });
    });
    Sweep("Put", Fresh<S>(0), 0, [](S& s) {
        for (int i = 0; i < 30; ++i) {
            const std::string chunk = Pattern(700, static_cast<char>(i));
            const int r = PutAt(s.file, chunk, s.file.GetLogicalSize());
            if (r != 700) return r;
            s.model += chunk;
        }
        return 0;
    });
    // Both cross-file copies answer a byte count.
    Sweep("Put from another file", Fresh<S>(100, 20000), 0, [](S& s) {
        s.file.Seek(50, 0, nullptr);
        s.other.Seek(7, 0, nullptr);
        const auto r = static_cast<int>(s.file.Put(&s.other, 0, 100));
        if (r != 0) s.model = s.model.substr(0, 50) + Bytes(s.other).substr(100);
        return r == 19900 ? 0 : r;
    });
    Sweep("Get into another file", Fresh<S>(100, 20000), 0, [](S& s) {
        s.other.Seek(1000, 0, nullptr);
        const auto r = static_cast<int>(s.other.Get(&s.file, 5000, 60));
        if (r != 0) s.model = s.model.substr(0, 60) + Bytes(s.other).substr(1000, 5000);
        return r == 5000 ? 0 : r;
    });
    Sweep("Copy growing", Fresh<S>(1000), 0, [](S& s) {
        const int r = s.file.Copy(1000, 0, 1000);
        if (r != 0) s.model += s.model;
        return r == 1000 ? 0 : r;
    });
    // Write answers 4 in any case; the status tells.
    Sweep("Write", Fresh<S>(0), noMemory, [](S& s) {
        return Steps(Keys(3000, true), [&](int32_t i) {
            int status = 1;
            const auto v = static_cast<uint32_t>(i);
            EXPECT_EQ(s.file.Write(v, status), 4u);
            if (status == 0) s.model.append(reinterpret_cast<const char*>(&v), 4);
            return status;
        });
    });
    // A refused copy is an empty file.
    Sweep("copy construction", Fresh<S>(0, 3000), noMemory, [](S& s) {
        s.copy.emplace(s.other);
        return Then(s.copy->GetLogicalSize() == 3000 ? 0 : noMemory,
                    [&] { s.copied = Bytes(s.other); });
    });
    // Assignment that must grow keeps the old bytes when refused; one that
    // shrinks completes in the larger block it keeps.
    auto assign = [](S& s) {
        s.file = s.other;
        if (s.file.GetLogicalSize() != s.other.GetLogicalSize()) return noMemory;
        s.model = Bytes(s.other);
        return s.file.GetPosition();
    };
    Sweep("assignment growing", Fresh<S>(100, 20000), noMemory, assign);
    Sweep("assignment shrinking", Fresh<S>(20000, 100), 0, assign);
    Sweep("Delete", Fresh<S>(20000), 0, [](S& s) {
        s.model.erase(100, 19000);
        return s.file.Delete(100, 19000);
    });
}

// The bytes between the head and the end.
std::string Queued(const MemQueue& q) {
    const std::string bytes = Bytes(q);
    if (q.GetHead() > bytes.size()) return "(head past the end)";
    return bytes.substr(q.GetHead());
}

struct Queues {
    MemQueue queue, other;
    std::optional<MemQueue> copy;
    std::string model, copied;

    // A queue that received n bytes and gave the first taken of them back;
    // the other queue holds m bytes.
    Queues(unsigned short compact, size_t n, size_t taken, size_t m = 0)
        : queue(compact), other(compact), model(Pattern(n, 'Q')) {
        std::string out(std::max(taken, m), '\0');
        EXPECT_EQ(queue.Put(model.data(), static_cast<unsigned int>(n)), 0);
        EXPECT_EQ(queue.Get(out.data(), static_cast<unsigned int>(taken)), 0);
        model.erase(0, taken);
        out = Pattern(m, 'O');
        EXPECT_EQ(other.Put(out.data(), static_cast<unsigned int>(m)), 0);
    }
    // Each queue holds its model, takes more and gives everything back in order.
    void Works(bool) {
        auto works = [](MemQueue& q, std::string m) {
            EXPECT_EQ(Queued(q), m);
            std::string more = Pattern(300, 'q');
            ASSERT_EQ(q.Put(more.data(), 300), 0);
            m += more;
            std::string out(m.size(), '\0');
            ASSERT_EQ(q.Get(out.data(), static_cast<unsigned int>(out.size())), 0);
            EXPECT_EQ(out, m);
            EXPECT_EQ(q.Get(out.data(), 1), KV_MEMQUEUE_EMPTY);
        };
        if (copy) works(*copy, copied);
        works(queue, model);
    }
};

TEST_F(HeapFailureSweep, Queues) {
    family_ = "queues";
    using S = Queues;
    const int noMemory = KV_MEMFILE_NO_MEMORY;
    Sweep("Put", Fresh<S>(0, 10, 4), KV_MEMQUEUE_GROW_FAILED, [](S& s) {
        return Steps(Keys(40, true), [&](int32_t i) {
            std::string chunk = Pattern(97, static_cast<char>(i));
            return Then(s.queue.Put(chunk.data(), 97), [&] { s.model += chunk; });
        });
    });
    // A compacting queue delivers the bytes even when its smaller block is
    // refused, and says so.
    Sweep("Get compacting", Fresh<S>(1, 5000, 0), KV_MEMQUEUE_SHRINK_REFUSED, [](S& s) {
        std::string out(300, '\0');
        while (s.model.size() >= 300) {
            const int r = s.queue.Get(out.data(), 300);
            if (r < 0) return r;
            EXPECT_EQ(out, s.model.substr(0, 300));
            s.model.erase(0, 300);
            if (r != 0) return r;
        }
        return 0;
    });
    Sweep("Delete", Fresh<S>(0, 5000, 3000), 0, [](S& s) {
        const int r = s.queue.Delete(0);
        EXPECT_EQ(s.queue.GetHead(), 0u);
        return r;
    });
    // A refused copy is an empty queue; a refused assignment changes nothing.
    Sweep("copy construction", Fresh<S>(0, 3000, 1000), noMemory, [](S& s) {
        s.copy.emplace(s.queue);
        return Then(Queued(*s.copy) == s.model ? 0 : noMemory, [&] { s.copied = s.model; });
    });
    Sweep("assignment", Fresh<S>(0, 100, 10, 5000), noMemory, [](S& s) {
        s.queue = s.other;
        if (Queued(s.queue) != Queued(s.other)) return noMemory;
        s.model = Queued(s.other);
        return 0;
    });
}

struct Raw {
    char text[64] = "the caller's own bytes, which a buffer must never free";
    std::optional<KvRawBuffer> buffer, copy;

    // A buffer over the first 40 bytes of text, copied, borrowed or adopted.
    explicit Raw(KvRawBufferBehavior behaviour) {
        void* block = text;
        if (behaviour == KvRawBufferAdopt) block = std::memcpy(std::malloc(40), text, 40);
        buffer.emplace(block, 40, behaviour);
    }
    // Without a copy the buffer was grown: room, not content, and the caller's
    // memory is never freed. Else the source is untouched and the copy is
    // empty after a refusal, or a block of its own with the bytes.
    void Works(bool refused) {
        if (!copy) {
            EXPECT_EQ(buffer->GetBufLen(), refused ? 0u : 200u);
            EXPECT_EQ(buffer->GetBuf() == nullptr, refused);
            ASSERT_EQ(buffer->EnsureCapacity(200), 0);
            ASSERT_NE(buffer->GetBuf(), nullptr);
            std::memset(buffer->GetBuf(), 0, 200);
            return;
        }
        EXPECT_EQ(std::memcmp(buffer->GetBuf(), text, 40), 0);
        ASSERT_EQ(copy->GetBufLen(), refused ? 0u : 40u);
        EXPECT_EQ(copy->GetBuf() == nullptr, refused);
        if (refused) return;
        EXPECT_NE(copy->GetBuf(), text);
        EXPECT_EQ(std::memcmp(copy->GetBuf(), text, 40), 0);
    }
    int CopyStatus() const { return copy->GetBuf() != nullptr ? 0 : -2030; }
};

TEST_F(HeapFailureSweep, RawBuffers) {
    family_ = "raw-buffers";
    using S = Raw;
    // -2030 alone reports a refused block: the raw buffer never calls the
    // memory handler.
    auto sweep = [this](const char* operation, auto make, auto run) {
        Sweep(operation, make, -2030, run, 0);
    };
    sweep("construction copying", Fresh<S>(KvRawBufferBorrow), [](S& s) {
        s.copy.emplace(s.text, 40, KvRawBufferCopy);
        return s.CopyStatus();
    });
    auto copy = [](S& s) {
        s.copy.emplace(*s.buffer);
        return s.CopyStatus();
    };
    sweep("copy construction (own copy)", Fresh<S>(KvRawBufferCopy), copy);
    sweep("copy construction (adopted block)", Fresh<S>(KvRawBufferAdopt), copy);
    sweep("assignment", Fresh<S>(KvRawBufferCopy), [](S& s) {
        s.copy.emplace(s.text + 50, 4, KvRawBufferBorrow);
        *s.copy = *s.buffer;
        return s.CopyStatus();
    });
    sweep("EnsureCapacity", Fresh<S>(KvRawBufferBorrow),
          [](S& s) { return s.buffer->EnsureCapacity(200); });
}

struct IntTree : KvRBTree {
    IntTree() : KvRBTree(sizeof(int32_t), 0, 3) {
        SetCompareFunction([](KvCompareArgs* a) {
            *a->keyResult = *a->orderResult = Order(a->key, a->element);
            return 0;
        });
        SetCopyFunction([](KvVContainer*, void* element, const KvVIterator*, const void* key,
                           const void*, KvVParameter*) {
            std::memcpy(element, key, sizeof(int32_t));
            return 0;
        });
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
        return Order(key, element);
    }
    int Add(int32_t key) {
        KvRBTree1NodeStack stack;
        int result = 0;
        if (SearchNode(&key, stack, result) != nullptr) return 1;
        return AddNode(&key, stack, result) != nullptr ? 0 : KvCONT_NO_MEMORY;
    }
};

struct Trees {
    IntTree tree;
    CompactTree compact;
    KvEntryCache cache{24, 4, 8};
    std::vector<void*> entries;
    std::set<int32_t> model, compactModel;

    // Adds 40 shuffled keys with add, noting them in model.
    template <typename Add>
    static int AddAll(std::set<int32_t>& model, Add add) {
        return Steps(Keys(40), [&](int32_t k) { return Then(add(k), [&] { model.insert(k); }); });
    }
    // The trees hold their models (in order, counted, sound) and take two
    // more keys. Entries handed out stay valid and distinct; the cache goes
    // on after a refused block.
    void Works(bool) {
        Ints keys;
        KvRBTreeIterator it(&tree, nullptr);
        for (int s = it.First(); s == 0; s = it.Next())
            keys.push_back(Int(it.GetElement(s, nullptr)));
        EXPECT_EQ(keys, Ints(model.begin(), model.end()));
        EXPECT_EQ(tree.count, model.size());
        EXPECT_EQ(tree.CheckTree(nullptr), 0);
        keys.clear();
        for (const KvRBTree1Node* n = compact.First(); n != nullptr; n = n->next)
            keys.push_back(Int(n->Element()));
        EXPECT_EQ(keys, Ints(compactModel.begin(), compactModel.end()));
        EXPECT_EQ(compact.Count(), compactModel.size());
        for (int32_t k : {-5, 9999}) {
            EXPECT_EQ(tree.Add(k), 0);
            EXPECT_EQ(compact.Add(k), 0);
        }
        EXPECT_EQ(tree.CheckTree(nullptr), 0);
        for (size_t i = 0; i < entries.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char*>(entries[i])[23], i);
        void* more = cache.GetEntry();
        ASSERT_NE(more, nullptr);
        EXPECT_EQ(std::count(entries.begin(), entries.end(), more), 0);
    }
};

TEST_F(HeapFailureSweep, TreesAndCaches) {
    family_ = "trees-caches";
    using S = Trees;
    Sweep("KvEntryCache::GetEntry", Fresh<S>(), KvCONT_NO_MEMORY, [](S& s) {
        return Steps(Keys(30, true), [&](int32_t i) {
            void* entry = s.cache.GetEntry();
            if (entry == nullptr) return KvCONT_NO_MEMORY;
            s.entries.push_back(std::memset(entry, i, 24));
            return 0;
        });
    });
    // A refused node leaves the tree as it was.
    Sweep("KvRBTree::InsertElement", Fresh<S>(), KvCONT_NO_MEMORY,
          [](S& s) { return S::AddAll(s.model, [&](int32_t k) { return s.tree.Add(k); }); });
    Sweep("KvRBTree::CreateEntry", Fresh<S>(), KvCONT_NO_MEMORY, [](S& s) {
        return S::AddAll(s.model, [&](int32_t k) {
            int status = 1;
            void* node = s.tree.CreateEntry(status);
            if (node == nullptr) return status;
            std::memcpy(const_cast<void*>(s.tree.GetElementOfEntry(node)), &k, sizeof k);
            return s.tree.InsertEntry(node, 0, nullptr);
        });
    });
    Sweep("KvRBTree1::AddNode", Fresh<S>(), KvCONT_NO_MEMORY, [](S& s) {
        return S::AddAll(s.compactModel, [&](int32_t k) { return s.compact.Add(k); });
    });
    // The entry stack works in its caller's buffer.
    char ring[4 * 8];
    EXPECT_EQ(HeapRequests([&] {
                  KvEntryStack stack(nullptr, ring, 8, 4, nullptr, nullptr);
                  EXPECT_NE(stack.GetNextEntry(), nullptr);
              }),
              0u);
}

struct Pool {
    KvMemPool pool{1000};  // four nodes to a buffer
    std::vector<char*> nodes;
    uint32_t taken = 0, added = 0, givenBack = 0;

    explicit Pool(int held = 0) { Take(held); }
    int Take(int n) {
        return Steps(Keys(n, true), [&](int32_t) {
            char* node = static_cast<char*>(pool.GetNode());
            if (node == nullptr) return KvCONT_NO_MEMORY;
            node[999] = static_cast<char>(nodes.size());
            nodes.push_back(node);
            taken = pool.NodesTaken();
            added = pool.BuffersAdded();
            return 0;
        });
    }
    // Counters unchanged by refusals; nodes handed out keep their bytes; the
    // pool goes on, with nodes given back first.
    void Works(bool) {
        for (size_t i = 0; i < nodes.size(); ++i)
            EXPECT_EQ(nodes[i][999], static_cast<char>(i));
        EXPECT_EQ(pool.NodesTaken(), taken);
        EXPECT_EQ(pool.BuffersAdded(), added);
        EXPECT_EQ(pool.NodesGivenBack(), givenBack);
        const size_t held = nodes.size();
        ASSERT_EQ(Take(9), 0);
        EXPECT_EQ(std::set<char*>(nodes.begin(), nodes.end()).size(), held + 9);
    }
};

TEST_F(HeapFailureSweep, Pools) {
    family_ = "pools";
    using S = Pool;
    Sweep("GetNode", Fresh<S>(), KvCONT_NO_MEMORY, [](S& s) { return s.Take(20); });
    // A node whose free record is refused stays out of the free list.
    Sweep("PutNode", Fresh<S>(10), KvCONT_NO_MEMORY, [](S& s) {
        while (!s.nodes.empty()) {
            s.pool.PutNode(s.nodes.back());
            if (s.pool.NodesGivenBack() == s.givenBack) return KvCONT_NO_MEMORY;
            s.nodes.pop_back();
            ++s.givenBack;
        }
        return 0;
    });
    KvMemPool pool(16);
    void* node = pool.GetNode();
    pool.PutNode(node);
    EXPECT_EQ(HeapRequests([&] { EXPECT_EQ(pool.GetNode(), node); }), 0u);
}

bool Resident(const char* path) {
    void* module = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (module != nullptr) dlclose(module);
    return module != nullptr;
}

struct Loader {
    KvModuleHandle* handle = nullptr;
    bool resident = Resident(TQ_TEST_DESCRIBED_MODULE);
    ~Loader() { EXPECT_EQ(handle != nullptr ? KvDynamicLoader::UnloadModule(handle) : 0, 0); }
    // A refused handle object leaves the module unloaded; the next load works.
    void Works(bool refused) {
        if (refused) {
            EXPECT_EQ(handle, nullptr);
            EXPECT_EQ(Resident(TQ_TEST_DESCRIBED_MODULE), resident);
        }
        KvModuleHandle* again = nullptr;
        ASSERT_EQ(KvDynamicLoader::LoadModule("tq_test_described", 0, again), 0);
        void* entry = nullptr;
        EXPECT_EQ(KvDynamicLoader::GetEntryPoint("KvDescribeDll", again, entry), 0);
        EXPECT_EQ(KvDynamicLoader::UnloadModule(again), 0);
    }
};

TEST_F(HeapFailureSweep, Loader) {
    family_ = "loader";
    using S = Loader;
    Sweep("LoadModule", Fresh<S>(), ERR_KV_COULD_NOT_LOAD_MODULE, [](S& s) {
        s.handle = reinterpret_cast<KvModuleHandle*>(1);  // must come back null when refused
        return KvDynamicLoader::LoadModule("tq_test_described", 0, s.handle);
    });
    Sweep("KvGetDescription", Fresh<S>(), ERR_KV_COULD_NOT_LOAD_MODULE, [](S&) {
        unsigned n[5] = {};
        int version = 0;
        char module[256] = "";
        const int r =
            KvGetDescription("tq_test_described", nullptr, n[0], n[1], n[2], n[3], n[4], nullptr,
                             module, nullptr, nullptr, nullptr, nullptr, version);
        EXPECT_EQ(module[0] != '\0', r == 0);
        return r;
    });
}

}  // namespace
