// Pages the codec benchmarks compress: database-like records and random bytes.
#ifndef TQ_BENCH_PAGES_H
#define TQ_BENCH_PAGES_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tq::bench {

using Bytes = std::vector<unsigned char>;

inline constexpr size_t kPage = 8192;

namespace detail {

// Appends text blank-padded to width.
inline void Field(Bytes& page, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        page.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
}

inline void Binary(Bytes& page, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i)
        page.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace detail

// Records of 128 bytes: number, random key, name, city, a null date, a random
// amount, a status letter, reserved zeros, a mostly empty comment. A page
// header in front, free space (zeros) behind the last record: 800 bytes of an
// 8 KiB page, the same share of other sizes.
inline Bytes DatabasePage(size_t size = kPage) {
    using detail::Binary;
    using detail::Field;
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
    const size_t spare = size * 800 / kPage;
    for (uint32_t record = 1; page.size() + 128 <= size - spare; ++record) {
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
    page.resize(size, 0);
    return page;
}

inline Bytes RandomPage(size_t size = kPage) {
    std::mt19937 random(13);
    Bytes page(size);
    for (auto& b : page)
        b = static_cast<unsigned char>(random());
    return page;
}

}  // namespace tq::bench

#endif  // TQ_BENCH_PAGES_H
