// DScomp and DSdecomp on 8 KiB pages against zlib's deflate (level 1, Z_RLE)
// and inflate, LZ4's default compressor and its safe decompressor, and memcpy
// of the same bytes. Two kinds of page:
// database-like records (blank-padded text fields, runs of zeros, some random
// bytes, free space at the end) and random bytes.
#include <lz4.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "memfile.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kPage = 8192;

// Appends text blank-padded to width.
void Field(Bytes& page, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        page.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
}

void Binary(Bytes& page, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i)
        page.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Records of 128 bytes: number, random key, name, city, a null date, a random
// amount, a status letter, reserved zeros, a mostly empty comment. A page
// header in front, free space (zeros) behind the last record.
Bytes DatabasePage() {
    static const char* const kNames[] = {"Miller",  "Schmidt", "Rossi", "Dubois",   "Novak",
                                         "Jensen",  "Garcia",  "Silva", "Kowalski", "Smith",
                                         "Bergman", "Horvath", "Lund",  "Keller"};
    static const char* const kCities[] = {"Berlin", "Lyon",   "Porto", "Graz",
                                          "Turin",  "Aarhus", "Brno",  "Leeds"};
    std::mt19937 random(12);
    Bytes page;
    Binary(page, 0x50474531u, 4);  // page header: magic, number, counts, zeros
    Binary(page, 77, 4);
    Binary(page, 58, 2);
    Binary(page, 0, 22);
    for (uint32_t record = 1; page.size() + 128 <= kPage - 800; ++record) {
        Binary(page, record, 4);
        Binary(page, random(), 4);
        Field(page,
              std::string(kNames[random() % std::size(kNames)]) + ", " +
                  kNames[random() % std::size(kNames)],
              32);
        Field(page, kCities[random() % std::size(kCities)], 24);
        Binary(page, 0, 8);  // a date not set
        Binary(page, (uint64_t{random()} << 32) | random(), 8);
        page.push_back(static_cast<unsigned char>("ABCD"[random() % 4]));
        Binary(page, 0, 15);
        Field(page, random() % 4 == 0 ? "call back" : "", 32);
    }
    page.resize(kPage, 0);
    return page;
}

Bytes RandomPage() {
    std::mt19937 random(13);
    Bytes page(kPage);
    for (auto& b : page)
        b = static_cast<unsigned char>(random());
    return page;
}

Bytes Compress(Bytes& page) {
    Bytes stream(kPage + 256);
    int length = static_cast<int>(stream.size());
    if (DScomp(page.data(), static_cast<int>(page.size()), stream.data(), &length) != 0) {
        std::fprintf(stderr, "DScomp failed\n");
        std::abort();
    }
    stream.resize(static_cast<size_t>(length));
    return stream;
}

void CompressOurs(benchmark::State& state, Bytes page) {
    Bytes stream(kPage + 256);
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
    Bytes stream(deflateBound(&z, kPage));
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
    Bytes out(kPage);
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
    Bytes stream(deflateBound(&z, kPage));
    z.next_in = page.data();
    z.avail_in = static_cast<uInt>(page.size());
    z.next_out = stream.data();
    z.avail_out = static_cast<uInt>(stream.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    stream.resize(z.total_out);
    deflateEnd(&z);

    z = z_stream{};
    if (inflateInit(&z) != Z_OK) std::abort();
    Bytes out(kPage);
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
    Bytes out(kPage);
    for (auto _ : state) {
        benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(stream.data()),
                                                     reinterpret_cast<char*>(out.data()), size,
                                                     static_cast<int>(out.size())));
        benchmark::ClobberMemory();
    }
    if (out != page) std::abort();
}

void Copy(benchmark::State& state, Bytes page) {
    Bytes out(kPage);
    for (auto _ : state) {
        std::memcpy(out.data(), page.data(), page.size());
        benchmark::DoNotOptimize(out.data());  // the copy is needed
        benchmark::ClobberMemory();
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
    return true;
}();

}  // namespace
