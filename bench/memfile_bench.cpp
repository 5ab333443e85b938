// MemFile::Write appending 4-byte values up to 64 MiB, against
// std::vector<uint32_t>::push_back of the same values. "64MiB": both start
// empty in every iteration, with the C library's default treatment of large
// blocks (fresh pages each time); the file also counts how often its block was
// requested from the heap (allocation or reallocation) and how often it moved.
// "64MiB-reused": both keep their block between iterations, which times the
// append itself.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <benchmark/benchmark.h>

#include "memfile.h"
#include "platform/heap.h"

namespace {

constexpr uint32_t kValues = (64u << 20) / 4;

void WriteOurs(benchmark::State& state) {
    uint64_t requests = 0;
    uint64_t moves = 0;
    for (auto _ : state) {
        MemFile file;
        int status = 0;
        tq::platform::HeapFailAfter(0);
        const unsigned char* buffer = nullptr;
        for (uint32_t v = 0; v < kValues; ++v) {
            file.Write(v, status);
            if (file.GetBuffer() != buffer) {
                buffer = file.GetBuffer();
                ++moves;
            }
        }
        requests += tq::platform::HeapFailAfter(0);
        if (status != 0 || file.GetLogicalSize() != static_cast<int>(kValues * 4)) std::abort();
        benchmark::DoNotOptimize(file.GetBuffer());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["heap_requests"] = static_cast<double>(requests) / n;
    state.counters["block_moves"] = static_cast<double>(moves) / n;
}

void PushBack(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<uint32_t> values;
        for (uint32_t v = 0; v < kValues; ++v)
            values.push_back(v);
        benchmark::DoNotOptimize(values.data());
    }
}

void WriteReused(benchmark::State& state) {
    MemFile file;
    int status = 0;
    for (int pass = 0; pass < 3; ++pass) {  // the block, its pages touched and settled
        file.SetSizeZeroAndShrink(UINT32_MAX);
        for (uint32_t v = 0; v < kValues; ++v)
            file.Write(v, status);
    }
    for (auto _ : state) {
        file.SetSizeZeroAndShrink(UINT32_MAX);  // keeps the block
        for (uint32_t v = 0; v < kValues; ++v)
            file.Write(v, status);
        benchmark::DoNotOptimize(file.GetBuffer());
    }
    if (status != 0) std::abort();
}

void PushBackReused(benchmark::State& state) {
    std::vector<uint32_t> values(kValues);
    for (int pass = 0; pass < 2; ++pass) {
        values.clear();
        for (uint32_t v = 0; v < kValues; ++v)
            values.push_back(v);
    }
    for (auto _ : state) {
        values.clear();  // keeps the block
        for (uint32_t v = 0; v < kValues; ++v)
            values.push_back(v);
        benchmark::DoNotOptimize(values.data());
    }
}

// memfile/write/64MiB/ours against memfile/write/64MiB/vector, and the same
// for 64MiB-reused.
const bool registered = [] {
    benchmark::RegisterBenchmark("memfile/write/64MiB/ours", WriteOurs)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("memfile/write/64MiB/vector", PushBack)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("memfile/write/64MiB-reused/ours", WriteReused)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("memfile/write/64MiB-reused/vector", PushBackReused)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
