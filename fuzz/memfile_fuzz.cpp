// MemFile operation sequences on two files against a model of their logical
// content and positions. Bytes that growth adds have no defined value: the
// model learns them at the first comparison and holds the file to them from
// then on.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "fuzz_common.h"
#include "memfile.h"

namespace {

using tq::fuzz::ExactBuffer;

constexpr int kUnknown = -1;  // a byte the file may hold any value in

struct Model {
    std::vector<int> bytes;
    int64_t position = 0;

    int Size() const { return static_cast<int>(bytes.size()); }
    void Resize(int64_t size) { bytes.resize(static_cast<size_t>(size), kUnknown); }
    // Bytes a file keeps past its logical end have no meaning once it grows again.
    void SetSize(int64_t size) {
        if (size < Size()) bytes.resize(static_cast<size_t>(size));
        Resize(size);
    }
};

struct Subject {
    std::unique_ptr<MemFile> file;
    Model model;
};

// The geometry and the content after every step.
void Compare(Subject& s) {
    MemFile& f = *s.file;
    Model& m = s.model;
    FUZZ_CHECK(f.GetLogicalSize() == m.Size());
    FUZZ_CHECK(f.GetPosition() == m.position);
    const int64_t allocated = int64_t{f.GetSegmentCount()} << f.GetSegmentShift();
    FUZZ_CHECK(f.GetAllocatedSize() == allocated);
    FUZZ_CHECK(allocated >= f.GetLogicalSize());
    FUZZ_CHECK((f.GetSegmentCount() == 0) == (f.GetBuffer() == nullptr));
    FUZZ_CHECK(f.GetSegmentCount() <= 7 || f.GetSegmentShift() >= 15);
    for (int i = 0; i < m.Size(); ++i) {
        int& want = m.bytes[static_cast<size_t>(i)];
        if (want == kUnknown) want = f.GetBuffer()[i];
        FUZZ_CHECK(f.GetBuffer()[i] == want);
    }
}

// Every byte of the range is known (checked: the range is the model's own).
std::vector<unsigned char> Known(const Model& m, int64_t from, int64_t count) {
    std::vector<unsigned char> out;
    for (int64_t i = from; i < from + count; ++i) {
        const int b = m.bytes[static_cast<size_t>(i)];
        FUZZ_CHECK(b != kUnknown);
        out.push_back(static_cast<unsigned char>(b));
    }
    return out;
}

int64_t Allocated(const MemFile& f) {
    return f.GetAllocatedSize();
}

// The most a file holds: 32767 segments of 32 KiB (the targets keep their
// segments at most that large).
constexpr int64_t kLargestFile = int64_t{32767} << 15;

// Mostly a value in [lo, hi]; now and then one at the edges of the types,
// which every operation must refuse or clip without touching memory.
int Signed(FuzzedDataProvider& in, int lo, int hi) {
    static const int kEdges[] = {INT_MAX, INT_MAX - 1, INT_MIN, -1, 1073709057, 1 << 30};
    if (in.ConsumeIntegralInRange(0, 15) == 0) return kEdges[in.ConsumeIntegralInRange(0, 5)];
    return in.ConsumeIntegralInRange(lo, hi);
}
unsigned Unsigned(FuzzedDataProvider& in, unsigned lo, unsigned hi) {
    static const unsigned kEdges[] = {UINT_MAX, UINT_MAX - 1, 0x80000000u, INT_MAX, 1u << 30};
    if (in.ConsumeIntegralInRange(0, 15) == 0) return kEdges[in.ConsumeIntegralInRange(0, 4)];
    return in.ConsumeIntegralInRange(lo, hi);
}

void Step(FuzzedDataProvider& in, Subject (&subjects)[2]) {
    const int which = in.ConsumeBool() ? 1 : 0;
    Subject& s = subjects[which];
    Subject& other = subjects[in.ConsumeBool() ? 1 : 0];
    MemFile& f = *s.file;
    Model& m = s.model;
    const int size = m.Size();
    const int op = in.ConsumeIntegralInRange(0, 16);
    static const bool trace = std::getenv("TQ_FUZZ_TRACE") != nullptr;
    if (trace) {
        std::fprintf(stderr, "op %d on %d (other %d): size %d pos %lld alloc %d\n", op, which,
                     &other == &subjects[0] ? 0 : 1, size, static_cast<long long>(m.position),
                     f.GetAllocatedSize());
    }
    switch (op) {
        case 0: {  // SizeSet
            const int n = Signed(in, -2, 5000);
            const int rc = f.SizeSet(n, 0);
            const bool fits = n >= 0 && n <= kLargestFile;
            FUZZ_CHECK(rc == (fits ? 0 : KV_MEMFILE_NO_MEMORY));
            if (fits) m.SetSize(n);
            if (n == 0) FUZZ_CHECK(f.GetBuffer() == nullptr);
            break;
        }
        case 1: {  // SizeSetDontShrink
            const int n = Signed(in, -2, 5000);
            const int64_t before = Allocated(f);
            const int rc = f.SizeSetDontShrink(n, 0);
            if (n > kLargestFile) {
                FUZZ_CHECK(rc == KV_MEMFILE_NO_MEMORY);
                break;
            }
            FUZZ_CHECK(rc == 0);
            m.SetSize(std::max(n, 0));
            if (before >= n) FUZZ_CHECK(Allocated(f) == before);
            break;
        }
        case 2: {  // SetLogicalSize
            const int64_t before = Allocated(f);
            const int n = Signed(in, -2, static_cast<int>(before) + 10);
            const int rc = f.SetLogicalSize(n);
            FUZZ_CHECK(rc == (n > before ? KV_MEMFILE_BEYOND_ALLOCATED : 0));
            if (rc == 0) m.SetSize(std::max(n, 0));
            FUZZ_CHECK(Allocated(f) == before);
            break;
        }
        case 3: {  // SetSizeZeroAndShrink
            const unsigned keep =
                in.ConsumeBool() ? UINT_MAX : in.ConsumeIntegralInRange(0u, 5000u);
            const int64_t before = Allocated(f);
            f.SetSizeZeroAndShrink(keep);
            m.SetSize(0);
            m.position = 0;
            FUZZ_CHECK(Allocated(f) == (before <= keep ? before : 0));
            break;
        }
        case 4: {  // Seek
            const auto origin = static_cast<unsigned short>(in.ConsumeIntegralInRange(0, 3));
            const int offset = Signed(in, -10, size + 10);
            const bool withLength = in.ConsumeBool();
            unsigned int length =
                in.ConsumeBool() ? UINT_MAX : in.ConsumeIntegralInRange(0u, unsigned(size) + 10u);
            const unsigned int asked = withLength ? length : 0;
            unsigned char* at = f.Seek(offset, origin, withLength ? &length : nullptr);
            const int64_t p = origin == 1   ? m.position + offset
                              : origin == 2 ? int64_t{size} - offset
                                            : offset;
            if (p < 0 || (p + asked > size && p >= size)) {
                FUZZ_CHECK(at == nullptr);
                if (withLength) FUZZ_CHECK(length == 0);
                break;
            }
            const int64_t usable = std::min<int64_t>(asked, size - p);
            FUZZ_CHECK(at == f.GetBuffer() + p);
            if (withLength) FUZZ_CHECK(length == usable);
            m.position = p;
            FUZZ_CHECK(std::equal(at, at + usable, Known(m, p, usable).begin()));
            break;
        }
        case 5: {  // Put bytes
            const int offset = Signed(in, -5, size + 50);
            const int length = Signed(in, -5, 300);
            // The source is exactly length bytes (what the input lacks is zero),
            // or a single byte for lengths that must be refused unread.
            const size_t room = static_cast<size_t>(std::clamp(length, 0, 300));
            const std::vector<unsigned char> bytes = in.ConsumeBytes<unsigned char>(room);
            ExactBuffer src(room);
            std::copy(bytes.begin(), bytes.end(), src.data());
            const int rc = f.Put(src.data(), offset, length);
            if (offset < 0 || length < 0 || int64_t{offset} + length > kLargestFile) {
                FUZZ_CHECK(rc == 0);
                break;
            }
            if (int64_t{offset} + length > size) m.Resize(int64_t{offset} + length);
            FUZZ_CHECK(rc == length);
            std::copy(src.data(), src.data() + length, m.bytes.begin() + offset);
            break;
        }
        case 6: {  // Get bytes
            const int offset = Signed(in, -5, size + 5);
            const int length = Signed(in, -5, 300);
            int64_t n = length;
            if (offset < 0 || length < 0 || offset > size) {
                n = 0;
            } else if (int64_t{offset} + length > size) {
                n = size - offset;
            }
            // Room for length bytes, or for what is there when length is huge.
            ExactBuffer dst(static_cast<size_t>(length > 300 ? n : std::max(length, 0)));
            const int rc = f.Get(dst.data(), offset, length);
            FUZZ_CHECK(rc == n);
            FUZZ_CHECK(std::equal(dst.data(), dst.data() + n, Known(m, offset, n).begin()));
            break;
        }
        case 7: {  // Get into a file, from this file's position
            Model& dm = other.model;
            const unsigned length = Unsigned(in, 0u, 300u);
            const unsigned dstOffset = Unsigned(in, 0u, unsigned(dm.Size()) + 20u);
            const unsigned rc = f.Get(other.file.get(), length, dstOffset);
            const int64_t available = size - m.position;
            const int64_t n = std::min<int64_t>(length, available);
            if (available <= 0 || n + dstOffset > kLargestFile) {
                FUZZ_CHECK(rc == 0);
                break;
            }
            FUZZ_CHECK(rc == n);
            const std::vector<int> moved(m.bytes.begin() + m.position,
                                         m.bytes.begin() + m.position + n);
            if (n + dstOffset > dm.Size()) dm.Resize(n + dstOffset);
            std::copy(moved.begin(), moved.end(), dm.bytes.begin() + dstOffset);
            break;
        }
        case 8: {  // Put from a file, at this file's position
            Model& sm = other.model;
            const unsigned length = Unsigned(in, 0u, 300u);
            const unsigned srcOffset = Unsigned(in, 0u, unsigned(sm.Size()) + 5u);
            const unsigned rc = f.Put(other.file.get(), length, srcOffset);
            const int64_t srcSize = sm.Size();
            int64_t count = length != 0 ? int64_t{length} : srcSize - srcOffset;
            if (srcOffset + count > srcSize) count = srcOffset >= srcSize ? 0 : srcSize - srcOffset;
            if (count <= 0 || m.position + count > kLargestFile) {
                FUZZ_CHECK(rc == 0);
                break;
            }
            FUZZ_CHECK(rc == count);
            // The source may be this file: its bytes are read before any moves.
            const int64_t remembered = sm.position;
            const std::vector<int> moved(sm.bytes.begin() + srcOffset,
                                         sm.bytes.begin() + srcOffset + count);
            if (m.position + count > m.Size()) m.Resize(m.position + count);
            std::copy(moved.begin(), moved.end(), m.bytes.begin() + m.position);
            sm.position = remembered <= sm.Size() ? remembered : srcOffset;
            break;
        }
        case 9: {  // Copy within the file
            const int dst = Signed(in, -2, size + 20);
            const int src = Signed(in, -2, size + 20);
            const int length = Signed(in, -2, 300);
            const int rc = f.Copy(dst, src, length);
            if (dst < 0 || src < 0 || length < 0 || int64_t{dst} + length > kLargestFile) {
                FUZZ_CHECK(rc == 0);
                break;
            }
            if (int64_t{dst} + length > size) m.Resize(int64_t{dst} + length);
            if (length == 0 || dst == src) {
                FUZZ_CHECK(rc == length);
                break;
            }
            if (int64_t{src} + length > Allocated(f)) {  // nothing is read past the block
                FUZZ_CHECK(rc == 0);
                break;
            }
            FUZZ_CHECK(rc == length);
            std::vector<int> moved;
            for (int i = src; i < src + length; ++i)
                moved.push_back(i < m.Size() ? m.bytes[static_cast<size_t>(i)] : kUnknown);
            std::copy(moved.begin(), moved.end(), m.bytes.begin() + dst);
            break;
        }
        case 10: {  // Delete
            const unsigned offset = Unsigned(in, 0u, unsigned(size) + 5u);
            const unsigned length = Unsigned(in, 0u, unsigned(size) + 5u);
            FUZZ_CHECK(f.Delete(offset, length) == 0);
            if (offset < unsigned(size)) {
                const int64_t n = std::min<int64_t>(length, size - offset);
                m.bytes.erase(m.bytes.begin() + offset, m.bytes.begin() + offset + n);
            }
            break;
        }
        case 11: {  // InitializeWith
            const auto value = in.ConsumeIntegral<unsigned char>();
            const int from = Signed(in, -2, size + 2);
            f.InitializeWith(value, from);
            if (from >= 0 && from < size) std::fill(m.bytes.begin() + from, m.bytes.end(), value);
            break;
        }
        case 12: {  // Write at the position
            const auto value = in.ConsumeIntegral<unsigned int>();
            int status = 1;
            FUZZ_CHECK(f.Write(value, status) == 4);
            if (m.position + 4 > Allocated(f)) {  // refused: the size stays
                FUZZ_CHECK(status == KV_MEMFILE_BEYOND_ALLOCATED);
                break;
            }
            m.Resize(int64_t{size} + 4);
            FUZZ_CHECK(status == 0);
            for (int i = 0; i < 4; ++i) {
                if (m.position + i < m.Size()) {
                    m.bytes[static_cast<size_t>(m.position + i)] = (value >> (8 * i)) & 0xFF;
                }
            }
            m.position += 4;
            break;
        }
        case 13: {  // CheckSum
            const unsigned offset = Unsigned(in, 0u, unsigned(size) + 5u);
            unsigned length =
                in.ConsumeBool() ? 0xFFFFFFFFu : Unsigned(in, 0u, unsigned(size) + 5u);
            const bool withRunning = in.ConsumeBool();
            unsigned running = in.ConsumeIntegral<unsigned>();
            const unsigned start = withRunning ? running : 0;
            const unsigned rc = f.CheckSum(offset, length, withRunning ? &running : nullptr);
            FUZZ_CHECK(running == (withRunning ? start : running));  // only read
            if (length == 0xFFFFFFFFu) length = static_cast<unsigned>(size);
            if (length == 0 || offset >= unsigned(size)) {
                FUZZ_CHECK(rc == start);
                break;
            }
            const int64_t n = std::min<int64_t>(length, size - offset);
            const std::vector<unsigned char> bytes = Known(m, offset, n);
            FUZZ_CHECK(rc == tq::fuzz::Crc32(start, bytes.data(), bytes.size()));
            m.position = offset;
            break;
        }
        case 14:  // Exchange
            f.Exchange(other.file.get());
            std::swap(s.model, other.model);
            break;
        case 15: {  // a copy of the other file
            if (&s == &other) break;
            auto copy = std::make_unique<MemFile>(*other.file);
            Model& sm = other.model;
            if (sm.Size() != 0 && sm.position > sm.Size()) sm.position = 0;
            s.file = std::move(copy);
            s.model = Model{sm.bytes, 0};
            break;
        }
        default: {  // assignment; to itself it only puts the position at 0
            f = *other.file;
            if (&s == &other) {
                s.model.position = 0;
                break;
            }
            Model& sm = other.model;
            if (sm.Size() != 0 && sm.position > sm.Size()) sm.position = 0;
            s.model = Model{sm.bytes, 0};
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Subject subjects[2];
    for (Subject& s : subjects) {
        // Segment sizes from a byte up to the largest growing one and a bit.
        const int segment = in.ConsumeIntegralInRange(0, 40000);
        const int initial = in.ConsumeIntegralInRange(0, 300);
        s.file = std::make_unique<MemFile>(initial, segment);
        s.model.Resize(initial);
    }
    Compare(subjects[0]);
    Compare(subjects[1]);
    for (int step = 0; step < 300 && in.remaining_bytes() > 0; ++step) {
        Step(in, subjects);
        Compare(subjects[0]);
        Compare(subjects[1]);
    }
    return 0;
}
