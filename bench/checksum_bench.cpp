// CRC-32 against zlib's crc32 on the same bytes: CalcCheckSum (the engine the
// processor allows), the portable table code, and the 128-bit carry-less
// engine that processors without 512-bit registers use.
#include <zlib.h>

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

void Register(const std::string& stem, size_t size, Crc crc) {
    benchmark::RegisterBenchmark((stem + "ours").c_str(),
                                 [size, crc](benchmark::State& s) { Run(s, size, crc); });
    benchmark::RegisterBenchmark((stem + "zlib").c_str(),
                                 [size](benchmark::State& s) { Run(s, size, Zlib); });
}

// crc32/SIZE/ours, crc32/table/SIZE/ours and crc32/clmul128/SIZE/ours, each
// with its own crc32.../SIZE/zlib in the same run.
const bool registered = [] {
    for (size_t size : {size_t{4096}, size_t{65536}, size_t{16} << 20}) {
        const std::string bytes = std::to_string(size) + "/";
        Register("crc32/" + bytes, size, Ours);
        Register("crc32/table/" + bytes, size, Table);
        if (tq::Crc32ClmulWideAvailable()) Register("crc32/clmul128/" + bytes, size, Clmul128);
    }
    return true;
}();

}  // namespace
