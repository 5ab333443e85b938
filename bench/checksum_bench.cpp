// CRC-32 against zlib's crc32 and ISA-L's crc32_gzip_refl on the same bytes:
// CalcCheckSum (the engine the processor allows), the portable table code, and
// the 128-bit carry-less engine that processors without 512-bit registers use;
// on 64 MiB also against a plain read of the bytes (the memory's bandwidth).
// With TQ_BENCH_SWEEP set, also the sizes from 64 bytes to 64 MiB for the
// charts of scripts/bench --plot.
#include <isa-l/crc.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "memfile.h"
#include "memfile/checksum.h"

namespace {

std::vector<unsigned char> RandomBytes(size_t size) {
    std::vector<unsigned char> data(size);
    std::mt19937 random(42);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    return data;
}

using Crc = unsigned (*)(unsigned char*, size_t);

void Run(benchmark::State& state, size_t size, Crc crc) {
    auto data = RandomBytes(size);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(data.data(), size));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

unsigned Ours(unsigned char* d, size_t n) {
    return CalcCheckSum(d, static_cast<unsigned>(n), nullptr);
}
unsigned Table(unsigned char* d, size_t n) {
    return ~tq::Crc32Table(~0u, d, n);
}
unsigned Clmul128(unsigned char* d, size_t n) {
    return ~tq::Crc32Clmul(~0u, d, n);
}
unsigned Zlib(unsigned char* d, size_t n) {
    return static_cast<unsigned>(crc32(0L, d, static_cast<uInt>(n)));
}

unsigned Isal(unsigned char* d, size_t n) {
    return crc32_gzip_refl(0, d, n);
}
// Every byte read once, eight at a time, with the least work per word.
unsigned Read(unsigned char* d, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, d + i, 8);
        sum ^= word;
    }
    return static_cast<unsigned>(sum ^ (sum >> 32));
}

void Register(const std::string& stem, size_t size, Crc crc, bool strongPeers) {
    benchmark::RegisterBenchmark((stem + "ours").c_str(),
                                 [size, crc](benchmark::State& s) { Run(s, size, crc); });
    benchmark::RegisterBenchmark((stem + "zlib").c_str(),
                                 [size](benchmark::State& s) { Run(s, size, Zlib); });
    if (strongPeers)
        benchmark::RegisterBenchmark((stem + "isal").c_str(),
                                     [size](benchmark::State& s) { Run(s, size, Isal); });
}

// For scripts/bench --plot: sweep/crc32/SIZE/{ours,isal,zlib,read} from 64 bytes
// to 64 MiB in powers of 4, all on prefixes of one buffer of random bytes.
constexpr size_t kSweepLargest = size_t{64} << 20;

void Sweep(benchmark::State& state, size_t size, Crc crc) {
    static std::vector<unsigned char> data = RandomBytes(kSweepLargest);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(data.data(), size));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void RegisterSweep() {
    const std::pair<const char*, Crc> contenders[] = {
        {"ours", Ours}, {"isal", Isal}, {"zlib", Zlib}, {"read", Read}};
    for (size_t size = 64; size <= kSweepLargest; size *= 4) {
        for (const auto& [peer, crc] : contenders) {
            const std::string name = "sweep/crc32/" + std::to_string(size) + "/" + peer;
            benchmark::RegisterBenchmark(
                name.c_str(), [size, crc = crc](benchmark::State& s) { Sweep(s, size, crc); });
        }
    }
}

// crc32/SIZE/ours, crc32/table/SIZE/ours and crc32/clmul128/SIZE/ours, each
// with its own crc32.../SIZE/zlib in the same run.
const bool registered = [] {
    for (size_t size : {size_t{4096}, size_t{65536}, size_t{16} << 20}) {
        const std::string bytes = std::to_string(size) + "/";
        Register("crc32/" + bytes, size, Ours, true);
        Register("crc32/table/" + bytes, size, Table, false);
        if (tq::Crc32ClmulWideAvailable())
            Register("crc32/clmul128/" + bytes, size, Clmul128, false);
    }
    constexpr size_t kLarge = size_t{64} << 20;
    benchmark::RegisterBenchmark("crc32/67108864/ours",
                                 [](benchmark::State& s) { Run(s, kLarge, Ours); });
    benchmark::RegisterBenchmark("crc32/67108864/read",
                                 [](benchmark::State& s) { Run(s, kLarge, Read); });
    if (std::getenv("TQ_BENCH_SWEEP") != nullptr) RegisterSweep();
    return true;
}();

}  // namespace
