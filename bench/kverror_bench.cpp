// The text of a result code, KvError(nullptr, nullptr, code, 1), against a
// lookup in a std::unordered_map from code to text. The codes are those of
// the catalogue, asked for in random order.
#include <cstddef>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "kverror.h"

namespace {

constexpr size_t kLookups = 4096;

std::vector<int32_t> Codes() {
    size_t count = 0;
    const KvErrorEntry* catalogue = KvErrorCatalogue(&count);
    std::mt19937 random(8);
    std::vector<int32_t> codes(kLookups);
    for (auto& code : codes)
        code = catalogue[random() % count].code;
    return codes;
}

void LookupOurs(benchmark::State& state) {
    const auto codes = Codes();
    for (auto _ : state) {
        size_t sum = 0;
        for (int32_t code : codes)
            sum += reinterpret_cast<uintptr_t>(KvError(nullptr, nullptr, code, 1));
        benchmark::DoNotOptimize(sum);
    }
}

void LookupMap(benchmark::State& state) {
    size_t count = 0;
    const KvErrorEntry* catalogue = KvErrorCatalogue(&count);
    std::unordered_map<int32_t, const char*> texts;
    for (size_t i = 0; i < count; ++i)
        texts.emplace(catalogue[i].code, catalogue[i].text);
    const auto codes = Codes();
    for (auto _ : state) {
        size_t sum = 0;
        for (int32_t code : codes)
            sum += reinterpret_cast<uintptr_t>(texts.find(code)->second);
        benchmark::DoNotOptimize(sum);
    }
}

// kverror/text/ours against kverror/text/unordered_map.
const bool registered = [] {
    benchmark::RegisterBenchmark("kverror/text/ours", LookupOurs);
    benchmark::RegisterBenchmark("kverror/text/unordered_map", LookupMap);
    return true;
}();

}  // namespace
