// KvCList, KvLList and SortList operation sequences against a model: a vector
// of elements, the room each kind reserves, and the binary search and
// quicksort steps written out plainly. Elements order by their first byte
// only, so the arrangement of equal elements that the sort leaves is seen.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "fuzz_common.h"
#include "kvarray.h"
#include "memfile.h"

namespace {

using tq::fuzz::ExactBuffer;
constexpr int kUnknown = -1;

// An element's bytes, kUnknown where the list may hold anything. Fixed room,
// so that the model copies large arrays cheaply.
class Element {
public:
    Element() = default;
    Element(size_t size, int fill) : size_(static_cast<uint8_t>(size)) {
        std::fill_n(bytes_.begin(), size, static_cast<int16_t>(fill));
    }
    size_t size() const { return size_; }
    int16_t& operator[](size_t i) { return bytes_[i]; }
    int operator[](size_t i) const { return bytes_[i]; }
    const int16_t* begin() const { return bytes_.data(); }
    const int16_t* end() const { return bytes_.data() + size_; }
    bool operator==(const Element&) const = default;

private:
    std::array<int16_t, 12> bytes_{};
    uint8_t size_ = 0;
};
enum Kind { kContiguous, kMemFileList, kSorted };

int CompareFirstByte(KvVArray const*, void* a, void* b) {
    return static_cast<int>(*static_cast<unsigned char*>(a)) -
           static_cast<int>(*static_cast<unsigned char*>(b));
}

struct Model {
    Kind kind;
    int elementSize = 0;
    uint32_t capacity = 0;
    bool compare = true;
    std::vector<Element> elements;

    uint32_t Count() const { return static_cast<uint32_t>(elements.size()); }
    uint32_t MaxCount() const {
        if (kind != kContiguous) return UINT32_MAX;
        return elementSize == 0 ? 0 : KvCList::kMaxCount;
    }
    int Compare(const Element& a, const Element& b) const { return a[0] - b[0]; }

    // The binary search: result, and the position found or to insert at.
    std::pair<int, uint32_t> Search(const Element& key) const {
        if (!compare) return {KV_ARRAY_NO_COMPARE, 0};
        int64_t lo = 0, hi = int64_t{Count()} - 1;
        if (hi < 0) return {KV_ARRAY_INDEX, 0};
        int64_t mid = 0;
        int r = 0;
        for (;;) {
            mid = (lo + hi) >> 1;
            r = Compare(key, elements[static_cast<size_t>(mid)]);
            if (r < 0) {
                hi = mid - 1;
            } else {
                lo = mid + 1;
            }
            if (r == 0) return {KV_ARRAY_OK, static_cast<uint32_t>(mid)};
            if (lo > hi) break;
        }
        return {KV_ARRAY_INDEX, static_cast<uint32_t>(r > 0 ? mid + 1 : mid)};
    }

    // The partition around the first element of the range, recursing in order.
    void QuickSort(int64_t lo, int64_t hi) {
        if (hi <= lo) return;
        const Element pivot = elements[static_cast<size_t>(lo)];
        auto at = [&](int64_t i) -> Element& { return elements[static_cast<size_t>(i)]; };
        int64_t i = lo, j = hi;
        for (;;) {
            if (Compare(at(i), pivot) <= 0) {
                while (i < hi) {
                    ++i;
                    if (Compare(at(i), pivot) > 0) break;
                }
            }
            if (Compare(at(j), pivot) > 0) {
                while (j > lo) {
                    --j;
                    if (Compare(at(j), pivot) <= 0) break;
                }
            }
            if (i >= j) break;
            std::swap(at(i), at(j));
        }
        std::swap(at(lo), at(j));
        QuickSort(lo, j - 1);
        QuickSort(j + 1, hi);
    }

    // Room for one more element, as each kind grows; false when it cannot.
    bool Grow() {
        if (Count() < capacity) return true;
        if (kind != kContiguous) {
            ++capacity;
            return true;
        }
        if (Count() == MaxCount()) return false;
        uint32_t increment = capacity != 0 ? capacity : 1;
        while (capacity + increment > MaxCount())
            increment >>= 1;
        capacity += increment;
        return true;
    }
    void Shrink() {
        if (kind == kContiguous) {
            if (Count() <= capacity / 2) capacity /= 2;
        } else {
            const uint32_t reduced = capacity - std::min<uint32_t>(capacity, 10);
            if (Count() <= reduced) capacity = reduced;
        }
    }
};

struct Subject {
    std::unique_ptr<KvVArray> array;
    Model model;
};

std::unique_ptr<KvVArray> Make(Kind kind, uint16_t elementSize, uint32_t capacity, bool compare) {
    std::unique_ptr<KvVArray> array;
    switch (kind) {
        case kContiguous:
            array = std::make_unique<KvCList>(elementSize, static_cast<int>(capacity));
            break;
        case kMemFileList:
            array.reset(new KvLList(elementSize, capacity));
            break;
        case kSorted:
            array.reset(new SortList(elementSize, CompareFirstByte, capacity));
            break;
    }
    array->SetCompareFunction(compare ? CompareFirstByte : nullptr);
    return array;
}

Element Known(const unsigned char* bytes, int size) {
    Element e(static_cast<size_t>(size), 0);
    for (size_t i = 0; i < e.size(); ++i)
        e[i] = bytes[i];
    return e;
}

Element ReadElement(FuzzedDataProvider& in, int size) {
    Element e(static_cast<size_t>(size), 0);
    for (size_t i = 0; i < e.size(); ++i)
        e[i] = in.ConsumeIntegral<unsigned char>();
    return e;
}

std::vector<unsigned char> Bytes(const Element& e) {
    return std::vector<unsigned char>(e.begin(), e.end());
}

void Compare(Subject& s) {
    KvVArray& a = *s.array;
    Model& m = s.model;
    FUZZ_CHECK(a.GetCount() == m.Count());
    FUZZ_CHECK(a.GetElementSize() == m.elementSize);
    FUZZ_CHECK(a.GetCurMaxCount() == m.capacity);
    FUZZ_CHECK(a.GetMaxCount() == m.MaxCount());
    FUZZ_CHECK(a.GetCount() <= a.GetCurMaxCount());
    FUZZ_CHECK(a.GetType() ==
               (m.kind == kContiguous ? KV_ARRAY_KIND_CONTIGUOUS : KV_ARRAY_KIND_MEMFILE));
    // Every element of a small array; of a large one, both ends and a stride.
    const uint32_t stride = m.Count() <= 512 ? 1 : 97;
    for (uint32_t i = 0; i < m.Count(); i += i < 64 || i + 64 >= m.Count() ? 1 : stride) {
        const auto* at = static_cast<const unsigned char*>(a.Element(i));
        FUZZ_CHECK(at != nullptr);
        Element& want = m.elements[i];
        for (size_t b = 0; b < want.size(); ++b) {
            if (want[b] == kUnknown) want[b] = at[b];
            FUZZ_CHECK(at[b] == want[b]);
        }
        ExactBuffer out(static_cast<size_t>(m.elementSize));
        FUZZ_CHECK(a.Get(i, out.data()) == KV_ARRAY_OK);
        FUZZ_CHECK(std::equal(out.data(), out.data() + out.size(), at));
    }
    FUZZ_CHECK(a.Element(m.Count()) == nullptr);
    FUZZ_CHECK(a.Get(m.Count(), nullptr) == KV_ARRAY_INDEX);
    if (m.kind != kContiguous) {
        // Stored bytes are the reserved room; a pointer slot must lie within them.
        auto& list = static_cast<KvLList&>(a);
        for (uint32_t i = 0; i <= m.Count(); i += i < 64 || i + 64 >= m.Count() ? 1 : stride) {
            const bool fits = i < m.Count() && (uint64_t{i} + 1) * sizeof(void*) <=
                                                   uint64_t{m.capacity} * m.elementSize;
            FUZZ_CHECK((list.PtrElement(i) != nullptr) == fits);
        }
    }
}

void Step(FuzzedDataProvider& in, Subject (&subjects)[2]) {
    Subject& s = subjects[in.ConsumeBool() ? 1 : 0];
    Subject& other = subjects[&s == &subjects[0] ? 1 : 0];
    KvVArray& a = *s.array;
    Model& m = s.model;
    const uint32_t count = m.Count();
    const int size = m.elementSize;
    auto index = [&](uint32_t beyond) {
        return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? in.ConsumeIntegral<uint32_t>()
                                                          : in.ConsumeIntegralInRange(0u, beyond);
    };
    switch (in.ConsumeIntegralInRange(0, 17)) {
        case 0: {  // Insert: bytes of the caller's, none, or an element of the list itself
            const uint32_t i = index(count + 1);
            const int source = in.ConsumeIntegralInRange(0, 2);
            Element e(static_cast<size_t>(size), kUnknown);
            std::unique_ptr<ExactBuffer> bytes;
            const void* from = nullptr;
            if (source == 0) {
                e = ReadElement(in, size);
                bytes = std::make_unique<ExactBuffer>(e.size(), Bytes(e).data());
                from = bytes->data();
            } else if (source == 2 && count > 0) {
                const uint32_t j = in.ConsumeIntegralInRange(0u, count - 1);
                e = m.elements[j];
                from = a.Element(j);
            }
            const int rc = a.Insert(i, from);
            if (i > count || (m.kind == kContiguous && i >= m.MaxCount())) {
                FUZZ_CHECK(rc == KV_ARRAY_INDEX);
            } else if (!m.Grow()) {
                FUZZ_CHECK(rc == KV_ARRAY_NO_MEMORY);
            } else {
                FUZZ_CHECK(rc == KV_ARRAY_OK);
                m.elements.insert(m.elements.begin() + i, e);
            }
            break;
        }
        case 1: {  // PrepareInsert, then fill the slot
            const uint32_t i = index(count + 1);
            auto* slot = static_cast<unsigned char*>(a.PrepareInsert(i));
            const bool fits = i <= count && !(m.kind == kContiguous && i >= m.MaxCount());
            if (!fits || !m.Grow()) {
                FUZZ_CHECK(slot == nullptr);
                break;
            }
            FUZZ_CHECK(slot != nullptr && slot == a.Element(i));
            const Element e = ReadElement(in, size);
            std::copy(e.begin(), e.end(), slot);
            m.elements.insert(m.elements.begin() + i, e);
            break;
        }
        case 2: {  // Update, also from an element of the list
            const uint32_t i = index(count);
            Element e = ReadElement(in, size);
            ExactBuffer bytes(e.size(), Bytes(e).data());
            const void* from = bytes.data();
            if (count > 0 && in.ConsumeBool()) {
                const uint32_t j = in.ConsumeIntegralInRange(0u, count - 1);
                e = m.elements[j];
                from = a.Element(j);
            }
            const int rc = a.Update(i, from);
            FUZZ_CHECK(rc == (i < count ? KV_ARRAY_OK : KV_ARRAY_INDEX));
            if (rc == KV_ARRAY_OK) m.elements[i] = e;
            break;
        }
        case 3: {  // Delete
            const uint32_t i = index(count);
            const int shrink = in.ConsumeBool() ? 1 : 0;
            const int rc = a.Delete(i, shrink);
            FUZZ_CHECK(rc == (i < count ? KV_ARRAY_OK : KV_ARRAY_INDEX));
            if (rc != KV_ARRAY_OK) break;
            m.elements.erase(m.elements.begin() + i);
            if (shrink != 0) m.Shrink();
            break;
        }
        case 4: {  // SortedInsert
            const Element key = ReadElement(in, size);
            const ExactBuffer bytes(key.size(), Bytes(key).data());
            const bool withIndex = in.ConsumeBool();
            const int allowDuplicates = in.ConsumeBool() ? 1 : 0;
            const int copyKey = in.ConsumeIntegralInRange(0, 3) != 0 ? 1 : 0;
            uint32_t at = 0xDEADBEEF;
            const int rc =
                a.SortedInsert(bytes.data(), withIndex ? &at : nullptr, allowDuplicates, copyKey);
            auto [found, position] = m.Search(key);
            if (found == KV_ARRAY_NO_COMPARE) {
                FUZZ_CHECK(rc == KV_ARRAY_NO_COMPARE);
                break;
            }
            if (found == KV_ARRAY_OK && allowDuplicates == 0) {
                FUZZ_CHECK(rc == KV_ARRAY_DUPLICATE);
                if (withIndex) FUZZ_CHECK(at == position);
                break;
            }
            if (found == KV_ARRAY_OK) ++position;
            if (withIndex) FUZZ_CHECK(at == position);
            if (m.kind == kContiguous && position >= m.MaxCount()) {
                FUZZ_CHECK(rc == KV_ARRAY_INDEX);
            } else if (!m.Grow()) {
                FUZZ_CHECK(rc == KV_ARRAY_NO_MEMORY);
            } else {
                FUZZ_CHECK(rc == KV_ARRAY_OK);
                m.elements.insert(m.elements.begin() + position,
                                  copyKey != 0 ? key : Element(key.size(), kUnknown));
            }
            break;
        }
        case 5: {  // Search
            const Element key = ReadElement(in, size);
            const ExactBuffer bytes(key.size(), Bytes(key).data());
            const bool withIndex = in.ConsumeBool(), withOut = in.ConsumeBool();
            ExactBuffer out(static_cast<size_t>(size));
            std::fill(out.data(), out.data() + size, 0xA5);
            uint32_t at = 0xDEADBEEF;
            const int rc =
                a.Search(bytes.data(), withIndex ? &at : nullptr, withOut ? out.data() : nullptr);
            const auto [found, position] = m.Search(key);
            FUZZ_CHECK(rc == found);
            if (withIndex && rc != KV_ARRAY_NO_COMPARE) FUZZ_CHECK(at == position);
            if (withOut && rc == KV_ARRAY_OK) {
                FUZZ_CHECK(Known(out.data(), size) == m.elements[position]);
            } else {
                FUZZ_CHECK(
                    std::all_of(out.data(), out.data() + size, [](auto b) { return b == 0xA5; }));
            }
            break;
        }
        case 6: {  // SearchAt
            const uint32_t i = index(count);
            Element key = ReadElement(in, size);
            ExactBuffer bytes(key.size(), Bytes(key).data());
            ExactBuffer out(static_cast<size_t>(size));
            const int rc = a.SearchAt(i, bytes.data(), out.data());
            if (!m.compare) {
                FUZZ_CHECK(rc == KV_ARRAY_NO_COMPARE);
            } else if (i >= count) {
                FUZZ_CHECK(rc == KV_ARRAY_INDEX);
            } else {
                FUZZ_CHECK(rc == m.Compare(key, m.elements[i]));
                if (rc == 0) FUZZ_CHECK(Known(out.data(), size) == m.elements[i]);
            }
            break;
        }
        case 7: {  // Sort (quadratic on ordered input, so only of smaller arrays)
            if (count > 2000) break;
            const int rc = a.Sort(in.ConsumeIntegral<uint16_t>());
            FUZZ_CHECK(rc == (m.compare ? KV_ARRAY_OK : KV_ARRAY_NO_COMPARE));
            if (rc == KV_ARRAY_OK) m.QuickSort(0, int64_t{count} - 1);
            break;
        }
        case 8: {  // SizeSet
            const uint32_t n = in.ConsumeIntegralInRange(0u, count + 40);
            const int rc = a.SizeSet(n);
            if (n < count) {
                FUZZ_CHECK(rc == KV_ARRAY_INDEX);
            } else if (n == m.capacity) {
                FUZZ_CHECK(rc == KV_ARRAY_OK);
            } else if (n > m.MaxCount()) {
                FUZZ_CHECK(rc == KV_ARRAY_NO_MEMORY);
            } else {
                FUZZ_CHECK(rc == KV_ARRAY_OK);
                m.capacity = n;
            }
            break;
        }
        case 9:  // Clear
            a.Clear();
            m.elements.clear();
            m.capacity = 0;
            break;
        case 10: {  // Init with another element size and room
            const int kinds =
                m.kind == kContiguous ? 0 : 1;  // lists of the memory file need a size
            const auto es = static_cast<uint16_t>(in.ConsumeIntegralInRange(kinds, 12));
            const uint32_t room = in.ConsumeIntegralInRange(0, 7) == 0
                                      ? in.ConsumeIntegralInRange(0u, 40000u)
                                      : in.ConsumeIntegralInRange(0u, 50u);
            const int rc = a.Init(es, room);
            m.elements.clear();
            m.elementSize = es;
            if (m.kind == kContiguous && es == 0) {
                FUZZ_CHECK(rc == KV_ARRAY_ELEMENT_SIZE);
                m.capacity = 0;
            } else {
                FUZZ_CHECK(rc == KV_ARRAY_OK);
                m.capacity = std::min(room, m.MaxCount());
            }
            break;
        }
        case 11: {  // Copy from the other array, or from one of the other kind
            if (in.ConsumeBool()) {
                const Kind foreign = m.kind == kContiguous ? kMemFileList : kContiguous;
                FUZZ_CHECK(a.Copy(Make(foreign, 4, 0, true).get()) == KV_ARRAY_WRONG_KIND);
                break;
            }
            const bool same = (m.kind == kContiguous) == (other.model.kind == kContiguous);
            const int rc = a.Copy(other.array.get());
            if (!same) {
                FUZZ_CHECK(rc == KV_ARRAY_WRONG_KIND);
                break;
            }
            FUZZ_CHECK(rc == KV_ARRAY_OK);
            m.elementSize = other.model.elementSize;
            m.capacity = other.model.capacity;
            m.elements = other.model.elements;
            break;
        }
        case 12: {  // a copy of the other array takes this one's place
            std::unique_ptr<KvVArray> copy;
            switch (other.model.kind) {
                case kContiguous:
                    copy = std::make_unique<KvCList>(static_cast<KvCList&>(*other.array));
                    break;
                case kMemFileList:
                    copy.reset(new KvLList(static_cast<KvLList&>(*other.array)));
                    break;
                case kSorted:
                    copy.reset(new SortList(static_cast<SortList&>(*other.array)));
                    break;
            }
            s.array = std::move(copy);
            s.model = other.model;
            break;
        }
        case 13: {  // CreateCopyAndClear: the contents move to a new list
            if (m.kind == kContiguous) break;
            std::unique_ptr<KvVArray> moved(static_cast<KvLList&>(a).CreateCopyAndClear());
            FUZZ_CHECK(moved != nullptr);
            FUZZ_CHECK((dynamic_cast<SortList*>(moved.get()) != nullptr) == (m.kind == kSorted));
            other.array = std::move(moved);
            other.model = m;
            m.elements.clear();
            m.capacity = 0;
            break;
        }
        case 14: {  // Import from a memory file at its position
            if (m.kind == kContiguous) break;
            const std::vector<unsigned char> bytes =
                in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange(0u, 200u));
            const int position = in.ConsumeIntegralInRange(0, static_cast<int>(bytes.size()) + 2);
            const uint32_t n = in.ConsumeIntegralInRange(0u, 30u);
            MemFile file;
            if (!bytes.empty()) file.Put(bytes.data(), 0, static_cast<int>(bytes.size()));
            unsigned int none = 0;
            file.Seek(position, 0, &none);
            const int64_t at = file.GetPosition();
            const int rc = static_cast<KvLList&>(a).Import(n, &file);
            FUZZ_CHECK(file.GetPosition() == at);
            const int64_t available = static_cast<int64_t>(bytes.size()) - at;
            if (n == 0) {
                FUZZ_CHECK(rc == KV_ARRAY_OK);
                break;
            }
            if (available <= 0) {
                FUZZ_CHECK(rc == KV_ARRAY_NO_MEMORY);
                break;
            }
            FUZZ_CHECK(rc == KV_ARRAY_OK);
            if (count + n > m.capacity) m.capacity = count + m.capacity + n;
            for (uint32_t k = 0; k < n; ++k) {
                Element e(static_cast<size_t>(size), kUnknown);
                for (int b = 0; b < size; ++b) {
                    const int64_t from = at + int64_t{k} * size + b;
                    if (from < static_cast<int64_t>(bytes.size())) {
                        e[static_cast<size_t>(b)] = bytes[static_cast<size_t>(from)];
                    }
                }
                m.elements.push_back(e);
            }
            break;
        }
        case 15:  // Merge is not supported
            FUZZ_CHECK(a.Merge(other.array.get(), 0) == KV_ARRAY_NOT_SUPPORTED);
            break;
        case 16: {  // a contiguous list filled up to its bound, and beyond
            if (m.kind != kContiguous || m.MaxCount() == 0 ||
                in.ConsumeIntegralInRange(0, 7) != 0) {
                break;  // a rare step: everything after it works on 32767 elements
            }
            const Element e = ReadElement(in, size);
            const ExactBuffer bytes(e.size(), Bytes(e).data());
            while (m.Count() < m.MaxCount()) {
                FUZZ_CHECK(a.Insert(m.Count(), bytes.data()) == KV_ARRAY_OK);
                FUZZ_CHECK(m.Grow());
                m.elements.push_back(e);
            }
            FUZZ_CHECK(a.Insert(m.Count(), bytes.data()) == KV_ARRAY_INDEX);
            FUZZ_CHECK(a.Insert(0, bytes.data()) == KV_ARRAY_NO_MEMORY);
            FUZZ_CHECK(a.SortedInsert(bytes.data(), nullptr, 1, 1) != KV_ARRAY_OK);
            break;
        }
        default:  // the compare function comes and goes
            m.compare = in.ConsumeIntegralInRange(0, 3) != 0;
            a.SetCompareFunction(m.compare ? CompareFirstByte : nullptr);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Subject subjects[2];
    for (Subject& s : subjects) {
        s.model.kind = static_cast<Kind>(in.ConsumeIntegralInRange(0, 2));
        s.model.elementSize = in.ConsumeIntegralInRange(1, 12);
        const uint32_t room = in.ConsumeIntegralInRange(0u, 20u);
        s.model.capacity = room;
        s.array = Make(s.model.kind, static_cast<uint16_t>(s.model.elementSize), room, true);
    }
    for (int step = 0; step < 300 && in.remaining_bytes() > 0; ++step) {
        Step(in, subjects);
        Compare(subjects[0]);
        Compare(subjects[1]);
    }
    return 0;
}
