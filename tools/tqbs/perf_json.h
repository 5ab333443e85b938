// JSON text for the perf commands' machine-readable output.
#ifndef TQBS_PERF_JSON_H
#define TQBS_PERF_JSON_H

#include <cstdio>
#include <string>

namespace tqbs::perf {

// text as a JSON string, quotes included; control characters escaped.
inline std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out += '"';
}

}  // namespace tqbs::perf

#endif  // TQBS_PERF_JSON_H
