// The counter-text loader: reads a counter-text file (an [info] section with
// the driver and symbol file names, a [text] section of SYMBOL_009_NAME and
// SYMBOL_009_HELP lines; the symbol file #defines each symbol's even offset),
// allots the driver a range of name and help indexes and keeps the texts by
// index for performance hosts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "prfdata.h"
#include "statistics/perf_registry.h"

namespace {

using tq::perf::ReadNumber;
using tq::perf::ReadString;
using tq::perf::WriteNumber;
using tq::perf::WriteString;
using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;

constexpr const char* kPerflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
constexpr const char* kCounterTexts =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009\\Counter";
constexpr const char* kHelpTexts =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009\\Help";
// Where the allotted ranges start on a machine without any (as after a fresh
// installation of the platform's own counters).
constexpr uint32_t kBaseLastCounter = 2000;
constexpr uint32_t kBaseLastHelp = 2001;

// The argument after the program name, without its quotes.
std::string Argument(const char* commandLine) {
    std::string text = commandLine != nullptr ? commandLine : "";
    size_t blank = text.find(' ');
    if (blank == std::string::npos) return {};
    text.erase(0, blank + 1);
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    if (text.size() >= 2 && text.front() == '"') {
        size_t close = text.find('"', 1);
        return text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return text;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    *text = out.str();
    return true;
}

struct CounterFile {
    std::string driver;
    std::map<std::string, std::string> names, helps;  // by symbol
    std::map<std::string, uint32_t> offsets;          // by symbol
};

// Parses the counter-text file and its symbol file; 0 or an errno value.
int Parse(const std::string& path, CounterFile* file) {
    std::string text;
    if (!ReadWholeFile(path, &text)) return ENOENT;
    std::string section, symbolFile;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = line;
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);  // as written: blanks are text
        if (section == "[info]" && key == "drivername") file->driver = value;
        if (section == "[info]" && key == "symbolfile") symbolFile = value;
        if (section != "[text]") continue;
        const std::string name = "_009_NAME", help = "_009_HELP";
        if (key.size() > name.size() &&
            key.compare(key.size() - name.size(), name.size(), name) == 0) {
            file->names[key.substr(0, key.size() - name.size())] = value;
        } else if (key.size() > help.size() &&
                   key.compare(key.size() - help.size(), help.size(), help) == 0) {
            file->helps[key.substr(0, key.size() - help.size())] = value;
        }
    }
    if (file->driver.empty() || symbolFile.empty()) return EINVAL;
    const std::string directory = path.substr(0, path.find_last_of('/') + 1);
    std::string symbols;
    if (!ReadWholeFile(directory + symbolFile, &symbols)) return ENOENT;
    std::istringstream defines(symbols);
    for (std::string line; std::getline(defines, line);) {
        char symbol[128];
        unsigned offset = 0;
        if (std::sscanf(line.c_str(), " #define %127s %u", symbol, &offset) == 2) {
            file->offsets[symbol] = offset;
        }
    }
    // Every symbol has both texts, at distinct even offsets.
    if (file->offsets.empty()) return EINVAL;
    std::map<uint32_t, bool> seen;
    for (const auto& [symbol, offset] : file->offsets) {
        if (offset % 2 != 0 || seen[offset] || file->names.count(symbol) == 0 ||
            file->helps.count(symbol) == 0) {
            return EINVAL;
        }
        seen[offset] = true;
    }
    return 0;
}

std::string PerformanceKey(const std::string& driver) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + driver + "\\Performance";
}

void RemoveTexts(uint32_t first, uint32_t last, const char* where) {
    RegistryKey key;
    if (RegistryStore::OpenKey(where, &key) != RegistryStatus::kOk) return;
    // In 64 bits: a range that ends at the top of the index space must not
    // wrap around to its bottom.
    for (uint64_t index = first; index <= last && last - first < 100000; index += 2) {
        RegistryStore::DeleteValue(key, std::to_string(index));
    }
}

}  // namespace

int KvLoadPerfCounterTextStrings(const char* commandLine, int) {
    try {
        CounterFile file;
        if (int rc = Parse(Argument(commandLine), &file); rc != 0) return rc;
        RegistryKey performance;
        if (RegistryStore::OpenKey(PerformanceKey(file.driver), &performance) !=
            RegistryStatus::kOk) {
            return ENOENT;  // the driver's service is not there
        }
        RegistryKey perflib, counters, helps;
        if (RegistryStore::CreateKey(kPerflib, &perflib) != RegistryStatus::kOk ||
            RegistryStore::CreateKey(kCounterTexts, &counters) != RegistryStatus::kOk ||
            RegistryStore::CreateKey(kHelpTexts, &helps) != RegistryStatus::kOk) {
            return EACCES;
        }
        uint32_t lastCounter = kBaseLastCounter, lastHelp = kBaseLastHelp;
        ReadNumber(perflib, "Last Counter", &lastCounter);
        ReadNumber(perflib, "Last Help", &lastHelp);
        const uint32_t firstCounter = lastCounter + 2, firstHelp = lastHelp + 2;
        uint32_t highest = 0;
        for (const auto& [symbol, offset] : file.offsets) {
            highest = offset > highest ? offset : highest;
            // GCOVR_EXCL_BR_START: the outcomes of these calls are tested; their other branches
            // clean up the temporary names when building one throws (the heap refused)
            if (!WriteString(counters, std::to_string(firstCounter + offset), file.names[symbol]) ||
                !WriteString(helps, std::to_string(firstHelp + offset), file.helps[symbol])) {
                // GCOVR_EXCL_BR_STOP
                RemoveTexts(firstCounter, firstCounter + highest, kCounterTexts);
                RemoveTexts(firstHelp, firstHelp + highest, kHelpTexts);
                return EIO;
            }
        }
        // GCOVR_EXCL_BR_START: temporaries, as above
        const bool recorded = WriteNumber(perflib, "Last Counter", firstCounter + highest) &&
                              WriteNumber(perflib, "Last Help", firstHelp + highest) &&
                              WriteNumber(performance, "First Counter", firstCounter) &&
                              WriteNumber(performance, "Last Counter", firstCounter + highest) &&
                              WriteNumber(performance, "First Help", firstHelp) &&
                              WriteNumber(performance, "Last Help", firstHelp + highest);
        // GCOVR_EXCL_BR_STOP
        return recorded ? 0 : EIO;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name or text
        return ENOMEM;
    }  // GCOVR_EXCL_STOP
}

int KvUnloadPerfCounterTextStrings(const char* commandLine, int) {
    try {
        const std::string driver = Argument(commandLine);
        RegistryKey performance;
        // GCOVR_EXCL_BR_START: temporaries, as above
        if (driver.empty() ||
            RegistryStore::OpenKey(PerformanceKey(driver), &performance) != RegistryStatus::kOk) {
            // GCOVR_EXCL_BR_STOP
            return ENOENT;
        }
        uint32_t firstCounter = 0, lastCounter = 0, firstHelp = 0, lastHelp = 0;
        // GCOVR_EXCL_BR_START: temporaries, as above
        if (!ReadNumber(performance, "First Counter", &firstCounter) ||
            !ReadNumber(performance, "Last Counter", &lastCounter) ||
            !ReadNumber(performance, "First Help", &firstHelp) ||
            !ReadNumber(performance, "Last Help", &lastHelp)) {
            // GCOVR_EXCL_BR_STOP
            return ENOENT;  // no texts are held for this driver
        }
        RemoveTexts(firstCounter, lastCounter, kCounterTexts);
        RemoveTexts(firstHelp, lastHelp, kHelpTexts);
        for (const char* name : {"First Counter", "Last Counter", "First Help", "Last Help"}) {
            RegistryStore::DeleteValue(performance, name);
        }
        return 0;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name or text
        return ENOMEM;
    }  // GCOVR_EXCL_STOP
}

int KvQueryPerfCounterText(uint32_t index, int help, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return -1;
    try {
        RegistryKey key;
        std::string text;
        // GCOVR_EXCL_BR_START: temporaries, as above
        if (RegistryStore::OpenKey(help != 0 ? kHelpTexts : kCounterTexts, &key) !=
                RegistryStatus::kOk ||
            !ReadString(key, std::to_string(index), &text)) {
            // GCOVR_EXCL_BR_STOP
            return -1;
        }
        std::snprintf(buffer, size, "%s", text.c_str());
        return 0;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name or text
        return -1;
    }  // GCOVR_EXCL_STOP
}

int KvQueryPerfExtension(const char* appName, KvPerfExtension* extension) {
    if (appName == nullptr || extension == nullptr) return -1;
    try {
        *extension = KvPerfExtension{};
        RegistryKey key;
        if (RegistryStore::OpenKey(PerformanceKey(appName), &key) != RegistryStatus::kOk) return -1;
        std::string library, open, collect, close;
        ReadString(key, "Library", &library);
        ReadString(key, "Open", &open);
        ReadString(key, "Collect", &collect);
        ReadString(key, "Close", &close);
        std::snprintf(extension->library, sizeof extension->library, "%s", library.c_str());
        std::snprintf(extension->open, sizeof extension->open, "%s", open.c_str());
        std::snprintf(extension->collect, sizeof extension->collect, "%s", collect.c_str());
        std::snprintf(extension->close, sizeof extension->close, "%s", close.c_str());
        ReadNumber(key, "Disable Performance Counters", &extension->disabled);
        ReadNumber(key, "First Counter", &extension->firstCounter);
        ReadNumber(key, "Last Counter", &extension->lastCounter);
        ReadNumber(key, "First Help", &extension->firstHelp);
        ReadNumber(key, "Last Help", &extension->lastHelp);
        return 0;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name or text
        return -1;
    }  // GCOVR_EXCL_STOP
}
