// Installation of the statistics as a performance extension.
#include <string>

#include "kvstatistics.h"
#include "platform/process.h"
#include "prfdata.h"
#include "statistics/perf_registry.h"
#include "statistics/prfdata_items.h"
#include "util/utf.h"

namespace {

using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;

constexpr const char* kCounterFile = "TessaloquinPerformanceCounters.ini";

std::string PerformanceKey() {
    return "SYSTEM\\CurrentControlSet\\Services\\" + tq::Utf8FromUtf16(tq::kApplicationName) +
           "\\Performance";
}

}  // namespace

int RegisterStatistics() {
    try {
        const std::string library = tq::platform::OwnModulePath();
        const std::string keyPath = PerformanceKey();
        RegistryKey key;
        if (RegistryStore::OpenKey(keyPath, &key) == RegistryStatus::kOk) return -1;  // installed
        if (RegistryStore::CreateKey(keyPath, &key) != RegistryStatus::kOk) return -1;
        // The counter texts lie beside the library.
        const size_t slash = library.find_last_of('/');
        if (slash == std::string::npos) return -1;
        const std::string commandLine =
            "xx \"" + library.substr(0, slash + 1) + kCounterFile + "\"";
        if (KvLoadPerfCounterTextStrings(commandLine.c_str(), 1) != 0) return -1;
        // GCOVR_EXCL_BR_START: each write's failure is tested; the other branches
        // clean up the temporary names when building one throws (the heap refused)
        const bool written = tq::perf::WriteString(key, "Library", library) &&
                             tq::perf::WriteString(key, "Open", "PrfData_Open") &&
                             tq::perf::WriteString(key, "Close", "PrfData_Close") &&
                             tq::perf::WriteString(key, "Collect", "PrfData_Collect") &&
                             tq::perf::WriteNumber(key, "Disable Performance Counters", 0);
        // GCOVR_EXCL_BR_STOP
        RegistryStore::CloseKey(&key);
        return written ? 0 : -1;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name
        return -1;
    }  // GCOVR_EXCL_STOP
}

int DeregisterStatistics() {
    try {
        const std::string keyPath = PerformanceKey();
        RegistryKey key;
        if (RegistryStore::OpenKey(keyPath, &key) != RegistryStatus::kOk) return -1;
        const std::string commandLine = "xx " + tq::Utf8FromUtf16(tq::kApplicationName);
        if (KvUnloadPerfCounterTextStrings(commandLine.c_str(), 1) != 0) return -1;
        return RegistryStore::DeleteKey(keyPath) == RegistryStatus::kOk ? 0 : -1;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name
        return -1;
    }  // GCOVR_EXCL_STOP
}
