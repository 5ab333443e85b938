// CRC-32: CalcCheckSum (carry-less multiply where available), the portable
// table code, and zlib's crc32 on the same bytes.
#include <zlib.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "checksum.h"
#include "memfile.h"

namespace {

std::vector<unsigned char> RandomBytes(size_t size) {
    std::vector<unsigned char> data(size);
    std::mt19937 random(42);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    return data;
}

template <typename Crc>
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
unsigned Zlib(std::vector<unsigned char>& d) {
    return static_cast<unsigned>(crc32(0L, d.data(), static_cast<uInt>(d.size())));
}

// crc32/SIZE/ours is compared with crc32/SIZE/table and crc32/SIZE/zlib.
const bool registered = [] {
    for (size_t size : {size_t{4096}, size_t{65536}, size_t{16} << 20}) {
        const std::string stem = "crc32/" + std::to_string(size) + "/";
        using Crc = unsigned (*)(std::vector<unsigned char>&);
        const std::pair<const char*, Crc> engines[] = {
            {"ours", Ours}, {"table", Table}, {"zlib", Zlib}};
        for (auto [name, crc] : engines) {
            benchmark::RegisterBenchmark(
                (stem + name).c_str(),
                [size, crc = crc](benchmark::State& state) { Run(state, size, crc); });
        }
    }
    return true;
}();

}  // namespace
