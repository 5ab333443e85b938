// Conversions between the wide (UTF-16) texts of the performance records and
// the library's single-byte (UTF-8) strings.
#ifndef KVBASICS_UTIL_UTF_H
#define KVBASICS_UTIL_UTF_H

#include <string>

namespace tq {

std::string Utf8FromUtf16(const char16_t* text);
std::u16string Utf16FromUtf8(const std::string& text);

}  // namespace tq

#endif  // KVBASICS_UTIL_UTF_H
