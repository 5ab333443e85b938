// Helpers shared by the fuzz targets: a checked assertion that survives
// release builds, a reference CRC-32, heap copies of exactly the size asked
// for (so that AddressSanitizer sees any overrun) and private directories.
#ifndef TQ_FUZZ_FUZZ_COMMON_H
#define TQ_FUZZ_FUZZ_COMMON_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// A broken expectation is a crash: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace tq::fuzz {

// CRC-32 of IEEE 802.3, bit by bit, continuing from a finished value.
inline uint32_t Crc32(uint32_t previous, const unsigned char* data, size_t length) {
    uint32_t crc = ~previous;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A heap block of exactly size bytes (one byte for size 0, never touched),
// filled from src when given, else zeroed.
class ExactBuffer {
public:
    explicit ExactBuffer(size_t size, const void* src = nullptr)
        : size_(size), data_(new unsigned char[size == 0 ? 1 : size]()) {
        if (src != nullptr && size != 0) std::memcpy(data_.get(), src, size);
    }
    unsigned char* data() const { return data_.get(); }
    size_t size() const { return size_; }

private:
    size_t size_;
    std::unique_ptr<unsigned char[]> data_;
};

// A private directory for the whole run, removed at exit. Placed below
// $TQ_FUZZ_WORKDIR when set (scripts/fuzz points it at a directory it removes
// afterwards, so that a crashed run leaves nothing behind), else in /dev/shm
// when possible: the registry store syncs every value it writes, which costs
// nothing on a memory file system.
inline std::string MakeRunDirectory(const char* tag) {
    std::string base = "/dev/shm";
    if (const char* work = std::getenv("TQ_FUZZ_WORKDIR"); work != nullptr && *work != '\0') {
        base = work;
    } else if (access(base.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    std::string pattern = base + "/tqfuzz-" + tag + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static std::vector<std::string> directories;
    if (directories.empty()) {
        std::atexit([] {
            std::error_code ec;
            for (const std::string& d : directories)
                std::filesystem::remove_all(d, ec);
        });
    }
    directories.push_back(pattern);
    return pattern;
}

}  // namespace tq::fuzz

#endif  // TQ_FUZZ_FUZZ_COMMON_H
