// CRC-32 against zlib's crc32 and ISA-L's crc32_gzip_refl on the same bytes:
// CalcCheckSum (the engine the processor allows), the portable table code, and
// the 128-bit carry-less engine that processors without 512-bit registers use;
// on 64 MiB also against a plain read of the bytes (the memory's bandwidth).
#include <isa-l/crc.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>

#include <random>
#include <string>
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

using Crc = unsigned (*)(std::vector<unsigned char>&);

void Run(benchmark::State& state, size_t size, Crc crc) {
    auto data = RandomBytes(size);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(data));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

unsigned Ours(std::vector<unsigned char>& d) {
    return CalcCheckSum(d.data(), static_cast<unsigned>(d.size()), nullptr);
}
unsigned Table(std::vector<unsigned char>& d) {
    return ~tq::Crc32Table(~0u, d.data(), d.size());
}
unsigned Clmul128(std::vector<unsigned char>& d) {
    return ~tq::Crc32Clmul(~0u, d.data(), d.size());
}
unsigned Zlib(std::vector<unsigned char>& d) {
    return static_cast<unsigned>(crc32(0L, d.data(), static_cast<uInt>(d.size())));
}

unsigned Isal(std::vector<unsigned char>& d) {
    return crc32_gzip_refl(0, d.data(), d.size());
}
// Every byte read once, eight at a time, with the least work per word.
unsigned Read(std::vector<unsigned char>& d) {
    uint64_t sum = 0;
    for (size_t i = 0; i + 8 <= d.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, d.data() + i, 8);
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
    return true;
}();

}  // namespace
