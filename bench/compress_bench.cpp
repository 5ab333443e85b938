// DScomp and DSdecomp on 8 KiB pages against zlib's deflate (level 1, Z_RLE)
// and inflate, LZ4's default compressor and its safe decompressor, and memcpy
// of the same bytes. Two kinds of page:
// database-like records (blank-padded text fields, runs of zeros, some random
// bytes, free space at the end) and random bytes. With TQ_BENCH_SWEEP set, also
// database-like pages of 1 to 64 KiB for the charts of scripts/bench --plot.
#include <lz4.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "memfile.h"
#include "pages.h"

namespace {

using tq::bench::Bytes;
using tq::bench::DatabasePage;
using tq::bench::kPage;
using tq::bench::RandomPage;

// Room for DScomp's stream of a page: at worst two bytes more per 255 literals.
size_t StreamBound(const Bytes& page) {
    return page.size() + page.size() / 64 + 256;
}

Bytes Compress(Bytes& page) {
    Bytes stream(StreamBound(page));
    int length = static_cast<int>(stream.size());
    if (DScomp(page.data(), static_cast<int>(page.size()), stream.data(), &length) != 0) {
        std::fprintf(stderr, "DScomp failed\n");
        std::abort();
    }
    stream.resize(static_cast<size_t>(length));
    return stream;
}

void CompressOurs(benchmark::State& state, Bytes page) {
    Bytes stream(StreamBound(page));
    for (auto _ : state) {
        int length = static_cast<int>(stream.size());
        benchmark::DoNotOptimize(
            DScomp(page.data(), static_cast<int>(page.size()), stream.data(), &length));
        benchmark::ClobberMemory();
    }
    int length = static_cast<int>(stream.size());
    DScomp(page.data(), static_cast<int>(page.size()), stream.data(), &length);
    state.counters["compressed"] = static_cast<double>(length) / static_cast<double>(page.size());
}

void CompressDeflate(benchmark::State& state, Bytes page) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) std::abort();
    Bytes stream(deflateBound(&z, static_cast<uLong>(page.size())));
    for (auto _ : state) {
        deflateReset(&z);
        z.next_in = page.data();
        z.avail_in = static_cast<uInt>(page.size());
        z.next_out = stream.data();
        z.avail_out = static_cast<uInt>(stream.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
        benchmark::ClobberMemory();
    }
    state.counters["compressed"] =
        static_cast<double>(z.total_out) / static_cast<double>(page.size());
    deflateEnd(&z);
}

void ExpandOurs(benchmark::State& state, Bytes page) {
    Bytes stream = Compress(page);
    Bytes out(page.size());
    for (auto _ : state) {
        int length = static_cast<int>(out.size());
        benchmark::DoNotOptimize(
            DSdecomp(stream.data(), static_cast<int>(stream.size()), out.data(), &length));
        benchmark::ClobberMemory();
    }
    if (out != page) std::abort();
}

void ExpandInflate(benchmark::State& state, Bytes page) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) std::abort();
    Bytes stream(deflateBound(&z, static_cast<uLong>(page.size())));
    z.next_in = page.data();
    z.avail_in = static_cast<uInt>(page.size());
    z.next_out = stream.data();
    z.avail_out = static_cast<uInt>(stream.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    stream.resize(z.total_out);
    deflateEnd(&z);

    z = z_stream{};
    if (inflateInit(&z) != Z_OK) std::abort();
    Bytes out(page.size());
    for (auto _ : state) {
        inflateReset(&z);
        z.next_in = stream.data();
        z.avail_in = static_cast<uInt>(stream.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
        benchmark::ClobberMemory();
    }
    inflateEnd(&z);
    if (out != page) std::abort();
}

void CompressLz4(benchmark::State& state, Bytes page) {
    Bytes stream(static_cast<size_t>(LZ4_compressBound(static_cast<int>(page.size()))));
    int size = 0;
    for (auto _ : state) {
        size = LZ4_compress_default(reinterpret_cast<const char*>(page.data()),
                                    reinterpret_cast<char*>(stream.data()),
                                    static_cast<int>(page.size()), static_cast<int>(stream.size()));
        benchmark::ClobberMemory();
    }
    if (size <= 0) std::abort();
    state.counters["compressed"] = static_cast<double>(size) / static_cast<double>(page.size());
}

void ExpandLz4(benchmark::State& state, Bytes page) {
    Bytes stream(static_cast<size_t>(LZ4_compressBound(static_cast<int>(page.size()))));
    const int size = LZ4_compress_default(
        reinterpret_cast<const char*>(page.data()), reinterpret_cast<char*>(stream.data()),
        static_cast<int>(page.size()), static_cast<int>(stream.size()));
    Bytes out(page.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(stream.data()),
                                                     reinterpret_cast<char*>(out.data()), size,
                                                     static_cast<int>(out.size())));
        benchmark::ClobberMemory();
    }
    if (out != page) std::abort();
}

void Copy(benchmark::State& state, Bytes page) {
    Bytes out(page.size());
    for (auto _ : state) {
        std::memcpy(out.data(), page.data(), page.size());
        benchmark::DoNotOptimize(out.data());  // the copy is needed
        benchmark::ClobberMemory();
    }
}

// Page bytes per second, for the sweep's throughput.
template <void (*Function)(benchmark::State&, Bytes)>
void Throughput(benchmark::State& state, Bytes page) {
    const size_t size = page.size();
    Function(state, std::move(page));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// For scripts/bench --plot: sweep/dscomp/SIZE/{ours,lz4,deflate_rle} and
// sweep/dsdecomp/SIZE/{ours,lz4,inflate} on database-like pages of 1 to 64 KiB.
void RegisterSweep() {
    for (size_t size = 1024; size <= 65536; size *= 2) {
        const Bytes page = DatabasePage(size);
        const std::string bytes = std::to_string(size);
        auto add = [&](const std::string& stem, const char* peer, auto function) {
            benchmark::RegisterBenchmark(("sweep/" + stem + "/" + bytes + "/" + peer).c_str(),
                                         function, page);
        };
        add("dscomp", "ours", Throughput<CompressOurs>);
        add("dscomp", "lz4", Throughput<CompressLz4>);
        add("dscomp", "deflate_rle", Throughput<CompressDeflate>);
        add("dsdecomp", "ours", Throughput<ExpandOurs>);
        add("dsdecomp", "lz4", Throughput<ExpandLz4>);
        add("dsdecomp", "inflate", Throughput<ExpandInflate>);
    }
}

// dscomp/KIND/ours against dscomp/KIND/deflate_rle, .../lz4 and .../memcpy;
// dsdecomp/KIND/ours against dsdecomp/KIND/inflate, .../lz4 and .../memcpy.
const bool registered = [] {
    const std::pair<const char*, Bytes> pages[] = {{"page", DatabasePage()},
                                                   {"random", RandomPage()}};
    for (const auto& [kind, page] : pages) {
        const std::string k = kind;
        benchmark::RegisterBenchmark(("dscomp/" + k + "/ours").c_str(), CompressOurs, page);
        benchmark::RegisterBenchmark(("dscomp/" + k + "/deflate_rle").c_str(), CompressDeflate,
                                     page);
        benchmark::RegisterBenchmark(("dscomp/" + k + "/lz4").c_str(), CompressLz4, page);
        benchmark::RegisterBenchmark(("dscomp/" + k + "/memcpy").c_str(), Copy, page);
        benchmark::RegisterBenchmark(("dsdecomp/" + k + "/ours").c_str(), ExpandOurs, page);
        benchmark::RegisterBenchmark(("dsdecomp/" + k + "/inflate").c_str(), ExpandInflate, page);
        benchmark::RegisterBenchmark(("dsdecomp/" + k + "/lz4").c_str(), ExpandLz4, page);
        benchmark::RegisterBenchmark(("dsdecomp/" + k + "/memcpy").c_str(), Copy, page);
    }
    if (std::getenv("TQ_BENCH_SWEEP") != nullptr) RegisterSweep();
    return true;
}();

}  // namespace
