// KvKeyFileConfig: the product configuration read from a plain key file.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <string_view>

#include "kvmemory.h"

struct KvKeyFileConfig::Entries {
    // Key: lower-case section path, '\n', lower-case value name.
    std::map<std::string, std::string> values;
};

namespace {

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "a / b" -> "a/b", lower case, blanks around the segments removed.
std::string NormalisePath(std::string_view path) {
    std::string out;
    while (true) {
        size_t slash = path.find('/');
        std::string_view segment = Trim(path.substr(0, slash));
        if (!segment.empty()) {
            if (!out.empty()) out += '/';
            out += Lower(segment);
        }
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return out;
}

std::string PathOf(const char** sections) {
    std::string out;
    for (const char** s = sections; s != nullptr && *s != nullptr; ++s) {
        if (!out.empty()) out += '/';
        out += *s;
    }
    return NormalisePath(out);
}

std::string KeyOf(const std::string& path, std::string_view name) {
    return path + '\n' + Lower(Trim(name));
}

// Parses a decimal or 0x-hexadecimal number with an optional sign.
bool ParseNumber(std::string_view text, long long* out) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    unsigned long long magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
    if (magnitude > (1ull << 32)) return false;  // beyond every target's range
    long long value = static_cast<long long>(magnitude);
    *out = negative ? -value : value;
    return true;
}

// Parses text into *value: 0, or 1 (target unchanged) when it is missing,
// malformed or outside the target's range.
template <typename Number>
int ReadInto(const char* text, Number* value) {
    long long number = 0;
    if (text == nullptr || value == nullptr || !ParseNumber(text, &number)) return 1;
    if (number < std::numeric_limits<Number>::min() ||
        number > std::numeric_limits<Number>::max()) {
        return 1;
    }
    *value = static_cast<Number>(number);
    return 0;
}

}  // namespace

KvKeyFileConfig::KvKeyFileConfig() : entries_(new Entries) {}

KvKeyFileConfig::~KvKeyFileConfig() {
    delete entries_;  // GCOVR_EXCL_BR_LINE: delete's null test; entries_ is never null
}

int KvKeyFileConfig::LoadFile(const char* path) {
    errno = 0;
    FILE* file = std::fopen(path != nullptr ? path : "", "rb");
    // GCOVR_EXCL_BR_START: glibc sets errno on every failure; the fallback is for other C libraries
    if (file == nullptr) return errno != 0 ? errno : ENOENT;
    // GCOVR_EXCL_BR_STOP
    std::string text;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    // A directory opens but cannot be read: an error, and the configuration
    // stays as it was, like for any other read error.
    // GCOVR_EXCL_BR_START: glibc sets errno on every failure; the fallback is for other C libraries
    const int error = std::ferror(file) != 0 ? (errno != 0 ? errno : EIO) : 0;
    // GCOVR_EXCL_BR_STOP
    std::fclose(file);
    return error != 0 ? error : LoadText(text.c_str());
}

int KvKeyFileConfig::LoadText(const char* text) {
    Entries parsed;
    std::string section;
    std::string_view rest = text != nullptr ? text : "";
    for (int lineNumber = 1; !rest.empty(); ++lineNumber) {
        size_t end = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return lineNumber;
            section = NormalisePath(line.substr(1, line.size() - 2));
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string_view::npos || Trim(line.substr(0, equals)).empty()) {
            return lineNumber;
        }
        parsed.values[KeyOf(section, line.substr(0, equals))] = Trim(line.substr(equals + 1));
    }
    entries_->values.swap(parsed.values);
    return 0;
}

void KvKeyFileConfig::Set(const char** sections, const char* name, const char* value) {
    entries_->values[KeyOf(PathOf(sections), name != nullptr ? name : "")] =
        value != nullptr ? value : "";
}

const char* KvKeyFileConfig::Find(const char** sections, const char* name) const {
    if (name == nullptr) return nullptr;
    auto it = entries_->values.find(KeyOf(PathOf(sections), name));
    return it != entries_->values.end() ? it->second.c_str() : nullptr;
}

int KvKeyFileConfig::GetLong(const char* name, int32_t* value, const char** sections) {
    return ReadInto(Find(sections, name), value);
}

int KvKeyFileConfig::GetShort(const char* name, int16_t* value, const char** sections) {
    return ReadInto(Find(sections, name), value);
}

int KvKeyFileConfig::GetString(const char* name, char** buffer, const char** sections) {
    const char* text = Find(sections, name);
    if (text == nullptr || buffer == nullptr || *buffer == nullptr) return 1;
    size_t length = std::min(std::strlen(text), KV_CONFIG_STRING_SIZE - 1);
    std::memcpy(*buffer, text, length);
    (*buffer)[length] = '\0';
    return 0;
}
