// A memory file: records written into it, a CRC-32 over its bytes, and the
// bytes compressed with the run-length compressor and expanded again.
#include <cstdio>
#include <cstring>
#include <vector>

#include "kvbasics.h"

int main() {
    MemFile file;  // grows as it is written; owns its block

    // A header, then 200 fixed records with long runs of equal bytes, which is
    // what the compressor is good at.
    const char header[] = "TQ-EXAMPLE-1";
    if (file.Put(reinterpret_cast<const unsigned char*>(header), 0, sizeof header) !=
        static_cast<int>(sizeof header)) {
        std::fprintf(stderr, "memfile_checksum: the file cannot grow\n");
        return 1;
    }
    for (int i = 0; i < 200; ++i) {
        unsigned char record[32] = {};
        record[0] = static_cast<unsigned char>(i);
        std::memset(record + 16, 'x', 16);
        const int offset = file.GetLogicalSize();
        if (file.Put(record, offset, sizeof record) != static_cast<int>(sizeof record)) {
            std::fprintf(stderr, "memfile_checksum: the file cannot grow\n");
            return 1;
        }
    }
    const int size = file.GetLogicalSize();
    std::printf("memory file: %d bytes in %d segments of %d bytes\n", size, file.GetSegmentCount(),
                1 << file.GetSegmentShift());

    // The checksum, over the whole file and piecewise: continuing from the
    // checksum of the first part gives the checksum of the whole.
    const unsigned int whole = file.CheckSum(0, 0xFFFFFFFFu, nullptr);
    unsigned int running = CalcCheckSum(file.GetBuffer(), 100, nullptr);
    running = CalcCheckSum(file.GetBuffer() + 100, static_cast<unsigned int>(size - 100), &running);
    std::printf("CRC-32: %08x (piecewise %08x)\n", whole, running);
    if (whole != running) return 1;

    // Compress. DScomp succeeds only when the stream is shorter than the room
    // given, so room for the input itself is enough: data that does not shrink
    // is kept uncompressed.
    std::vector<unsigned char> packed(static_cast<size_t>(size));
    int packedLength = size;
    if (DScomp(file.GetBuffer(), size, packed.data(), &packedLength) != 0) {
        std::printf("the data does not shrink; kept as it is\n");
        return 0;
    }
    std::printf("compressed: %d bytes (%d%%)\n", packedLength, packedLength * 100 / size);

    // Expand into a second memory file sized by DSlen, and compare.
    const int expandedLength = DSlen(packed.data(), packedLength);
    MemFile copy;
    if (expandedLength != size || copy.SizeSet(expandedLength, 0) != 0) return 1;
    int produced = expandedLength;
    if (DSdecomp(packed.data(), packedLength, copy.GetBuffer(), &produced) != 0 ||
        produced != size) {
        std::fprintf(stderr, "memfile_checksum: the stream does not expand\n");
        return 1;
    }
    const unsigned int check = copy.CheckSum(0, 0xFFFFFFFFu, nullptr);
    std::printf("expanded: %d bytes, CRC-32 %08x\n", produced, check);
    return check == whole && std::memcmp(copy.GetBuffer(), file.GetBuffer(), size) == 0 ? 0 : 1;
}
