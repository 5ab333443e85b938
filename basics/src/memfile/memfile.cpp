// MemFile: a growable byte file in one heap block.
#include <cstring>
#include <utility>

#include "kvmemory.h"
#include "memfile.h"
#include "platform/heap.h"

namespace {

// The largest shift s with 2^s <= segmentSize (0 for 0 and 1).
uint8_t ShiftOf(int segmentSize) {
    uint8_t shift = 0;
    while (shift < 30 && (int64_t{1} << (shift + 1)) <= segmentSize)
        ++shift;
    return shift;
}

// size / 2^shift, rounded up.
int64_t SegmentsFor(int64_t size, int shift) {
    return (size >> shift) + ((size & ((int64_t{1} << shift) - 1)) != 0 ? 1 : 0);
}

constexpr int kLargestGrowingShift = 15;  // segments grow up to 32 KiB
constexpr int64_t kMaxSegments = 32767;   // the count is 16 bits wide

}  // namespace

MemFile::MemFile(int size, int segmentSize)
    : buffer(nullptr),
      logicalSize(0),
      position(0),
      segmentCount(0),
      segmentShift(ShiftOf(segmentSize)),
      initialSegmentShift(segmentShift) {
    if (size != 0) SizeSet(size, 0);
}

MemFile::MemFile(const MemFile& other)
    : buffer(nullptr),
      logicalSize(0),
      position(0),
      segmentCount(0),
      segmentShift(other.segmentShift),
      initialSegmentShift(other.segmentShift) {
    if (other.logicalSize != 0 && SizeSet(other.logicalSize, 0) == 0) Put(&other, 0, 0);
}

MemFile& MemFile::operator=(const MemFile& other) {
    position = 0;
    if (this == &other) return *this;
    // A refused smaller block leaves the larger one, which holds the copy as
    // well; a refused larger one leaves the file as it was.
    SizeSet(other.logicalSize, 0);
    if (logicalSize == other.logicalSize) Put(&other, 0, 0);
    return *this;
}

MemFile::~MemFile() {
    tq::platform::HeapFree(buffer);
    buffer = nullptr;
    segmentCount = 0;
    logicalSize = 0;
    segmentShift = initialSegmentShift;
}

int MemFile::SizeSet(int size, unsigned short) {
    if (size == 0) {
        tq::platform::HeapFree(buffer);
        buffer = nullptr;
        segmentShift = initialSegmentShift;
        segmentCount = 0;
        logicalSize = 0;
        return 0;
    }
    if (size < 0) return KV_MEMFILE_NO_MEMORY;  // no such file

    const int64_t allocated = AllocatedBytes();
    int shift = segmentShift;
    int64_t n = SegmentsFor(size, shift);
    // A file that shrinks to what one segment holds returns to its first
    // segment size.
    if (size < logicalSize && n <= 1 && shift > initialSegmentShift) {
        shift = initialSegmentShift;
        n = SegmentsFor(size, shift);
    }
    // Larger segments while more than seven would be needed.
    while (n > 7 && shift < kLargestGrowingShift) {
        n = (n + (n & 1)) / 2;
        ++shift;
    }
    const int64_t wanted = n << shift;
    if (n > kMaxSegments || wanted > INT32_MAX) return KV_MEMFILE_NO_MEMORY;  // beyond any file

    if (buffer != nullptr && wanted == allocated) {
        logicalSize = size;
        segmentShift = static_cast<uint8_t>(shift);
        segmentCount = static_cast<int16_t>(n);
        return 0;
    }
    void* block = buffer == nullptr
                      ? tq::platform::HeapAllocate(static_cast<size_t>(wanted))
                      : tq::platform::HeapReallocate(buffer, static_cast<size_t>(wanted));
    if (block == nullptr) {
        KvCallMemoryHandler(static_cast<unsigned long long>(wanted));
        // The old block stays; a shrink still takes the smaller logical size.
        if (size <= allocated) logicalSize = size;
        return KV_MEMFILE_NO_MEMORY;
    }
    buffer = static_cast<unsigned char*>(block);
    logicalSize = size;
    segmentShift = static_cast<uint8_t>(shift);
    segmentCount = static_cast<int16_t>(n);
    return 0;
}

int MemFile::SizeSetDontShrink(int size, unsigned short mode) {
    if (AllocatedBytes() < size) return SizeSet(size, mode);
    logicalSize = size < 0 ? 0 : size;
    return 0;
}

void MemFile::SetSizeZeroAndShrink(unsigned int keep) {
    if (static_cast<uint64_t>(AllocatedBytes()) <= keep) {
        logicalSize = 0;
        position = 0;
        return;
    }
    SizeSet(0, 0);
    position = 0;
}

unsigned char* MemFile::Seek(int offset, unsigned short origin, unsigned int* length,
                             unsigned short) {
    int64_t target = offset;
    if (origin == 1) {
        target = int64_t{position} + offset;
    } else if (origin == 2) {
        target = int64_t{logicalSize} - offset;
    }
    const int64_t wanted = length != nullptr ? *length : 0;
    if (target < 0 || target + wanted > logicalSize) {
        if (target < 0 || target >= logicalSize) {
            if (length != nullptr) *length = 0;
            return nullptr;
        }
        *length = static_cast<unsigned int>(logicalSize - target);
    }
    position = static_cast<int32_t>(target);
    return buffer + target;
}

int MemFile::Put(const unsigned char* src, int offset, int length) {
    // Without source bytes nothing is copied, and the file does not grow.
    if (offset < 0 || length < 0 || (src == nullptr && length > 0)) return 0;
    const int64_t end = int64_t{offset} + length;
    if (end > INT32_MAX) return 0;
    if (logicalSize < end && SizeSet(static_cast<int>(end), 0) != 0) return 0;
    if (buffer == nullptr) return 0;
    if (length > 0) std::memcpy(buffer + offset, src, static_cast<size_t>(length));
    return length;
}

int MemFile::Get(unsigned char* dst, int offset, int length) {
    if (offset < 0 || length < 0 || (dst == nullptr && length > 0)) return 0;
    int n = length;
    if (int64_t{offset} + length > logicalSize) {
        if (offset > logicalSize) return 0;
        n = logicalSize - offset;
    }
    if (buffer == nullptr) return 0;
    if (n > 0) std::memcpy(dst, buffer + offset, static_cast<size_t>(n));
    return n;
}

unsigned int MemFile::Get(MemFile* dst, unsigned int length, unsigned int dstOffset) {
    // Clipped at this file's logical end, so nothing past the block is read.
    const int64_t available = int64_t{logicalSize} - position;
    if (available <= 0) return 0;
    if (length > available) length = static_cast<unsigned int>(available);
    const int64_t end = int64_t{length} + dstOffset;
    if (end > INT32_MAX) return 0;
    if (dst->logicalSize < end && dst->SizeSet(static_cast<int>(end), 0) != 0) return 0;
    if (dst->buffer == nullptr) return 0;
    if (length > 0) std::memmove(dst->buffer + dstOffset, buffer + position, length);
    return length;
}

unsigned int MemFile::Put(const MemFile* src, unsigned int length, unsigned int srcOffset) {
    const int64_t srcSize = src->logicalSize;
    int64_t count = length != 0 ? int64_t{length} : srcSize - srcOffset;
    const int32_t remembered = src->position;
    if (int64_t{srcOffset} + count > srcSize) {
        if (srcOffset >= srcSize) return 0;
        count = srcSize - srcOffset;
    }
    if (count <= 0) return 0;
    // Read before the source's position moves: a file that copies from itself
    // has one position for both.
    const int32_t target = position;
    src->position = static_cast<int32_t>(srcOffset);
    const unsigned char* from = src->buffer != nullptr ? src->buffer + srcOffset : nullptr;
    unsigned int result = 0;
    if (from != nullptr) {
        const int64_t end = int64_t{target} + count;
        bool grown =
            end <= INT32_MAX && (logicalSize >= end || SizeSet(static_cast<int>(end), 0) == 0);
        if (grown && buffer != nullptr) {
            // Source and target may be the same file, and their ranges overlap.
            std::memmove(buffer + target, src->buffer + srcOffset, static_cast<size_t>(count));
            result = static_cast<unsigned int>(count);
        }
    }
    if (remembered <= src->logicalSize) src->position = remembered;
    return result;
}

int MemFile::Copy(int dst, int src, int length) {
    if (dst < 0 || src < 0 || length < 0) return 0;
    const int64_t end = int64_t{dst} + length;
    if (end > logicalSize && (end > INT32_MAX || SizeSet(static_cast<int>(end), 0) != 0)) {
        return 0;  // it could not grow: nothing is written past the block
    }
    if (length == 0 || dst == src) return length;
    if (int64_t{src} + length > AllocatedBytes()) return 0;  // nothing is read past the block
    std::memmove(buffer + dst, buffer + src, static_cast<size_t>(length));
    return length;
}

int MemFile::Delete(unsigned int offset, unsigned int length) {
    const int64_t size = logicalSize;
    // At the logical end nothing moves, but the block still shrinks to what
    // the growth policy gives for the size.
    if (offset > size) return 0;
    if (int64_t{offset} + length > size) length = static_cast<unsigned int>(size - offset);
    Copy(static_cast<int>(offset), static_cast<int>(offset + length),
         static_cast<int>(size - offset - length));
    SizeSet(static_cast<int>(size - length), 0);
    return 0;
}

void MemFile::Exchange(MemFile* other) {
    std::swap(buffer, other->buffer);
    std::swap(logicalSize, other->logicalSize);
    std::swap(position, other->position);
    std::swap(segmentCount, other->segmentCount);
    std::swap(segmentShift, other->segmentShift);
    std::swap(initialSegmentShift, other->initialSegmentShift);
}

unsigned char* MemFile::GetSegment(unsigned int n) {
    return buffer + (n << segmentShift);
}

void MemFile::InitializeWith(unsigned char value, int from) {
    if (buffer == nullptr || logicalSize < 1 || from < 0 || from >= logicalSize) return;
    std::memset(buffer + from, value, static_cast<size_t>(logicalSize - from));
}

unsigned int MemFile::WriteGrowing(unsigned int value, int& status) {
    const int32_t old = logicalSize;
    const int64_t grown = int64_t{old} + 4;
    if (AllocatedBytes() >= grown) {
        logicalSize = static_cast<int32_t>(grown);
        status = 0;
    } else {
        status = grown > INT32_MAX ? KV_MEMFILE_NO_MEMORY : SizeSet(static_cast<int>(grown), 0);
    }
    if (status < 0) return 4;
    if (position < 0 || int64_t{position} + 4 > AllocatedBytes()) {
        // The position stands outside the block: nothing is stored, and the
        // file keeps its size (a grown block stays).
        logicalSize = old;
        status = KV_MEMFILE_BEYOND_ALLOCATED;
        return 4;
    }
    std::memcpy(buffer + position, &value, sizeof value);  // host order, without a call
    position += 4;
    return 4;
}

unsigned int MemFile::CheckSum(unsigned int offset, unsigned int length,
                               unsigned int* running) const {
    const unsigned int start = running != nullptr ? *running : 0;
    if (length == 0xFFFFFFFFu) length = static_cast<unsigned int>(logicalSize);
    if (length == 0 || offset >= static_cast<unsigned int>(logicalSize)) return start;
    if (int64_t{offset} + length > logicalSize)
        length = static_cast<unsigned int>(logicalSize) - offset;
    position = static_cast<int32_t>(offset);
    unsigned int previous = start;
    return CalcCheckSum(buffer + offset, length, &previous);
}
