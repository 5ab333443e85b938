// The system log: typed entries for the platform's event log.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kvlog.h"
#include "log/event_messages.h"
#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "system/identity.h"
#include "system/variant_table.h"
#include "util/bounded_format.h"
#include "util/no_destructor.h"

namespace {

// The process-wide switch of the system log; kept as given, not reduced to 0/1.
unsigned int g_logSwitch = 1;

constexpr size_t kLogBufferSize = 1024;

struct EventClass {
    tq::platform::EventType type;
    uint32_t identifier;
};

// Event type and identifier of a log type.
EventClass ClassifyLogType(unsigned int type) {
    switch (type) {
        case 1:
        case 5:
        case 6:
        case 7:
        case 8:
            return {tq::platform::kEventSuccess, type};
        case 3:
            return {tq::platform::kEventWarning, type + 0x80000000u};
        case 4:
        case 9:
        case 10:
        case 11:
            return {tq::platform::kEventError, type + 0xC0000000u};
        default:  // 0, 2 and every type above 11
            return {tq::platform::kEventInformation, type + 0x40000000u};
    }
}

// The event source name chosen when the caller gives none: the description of
// the selected compiler variant, in its debug form when the library's file
// name ends in "d" or "D".
std::string DefaultSourceName() {
    std::string path = tq::platform::OwnModulePath();
    std::string file = path.substr(path.find_last_of('/') + 1);
    file = file.substr(0, file.find_last_of('.'));
    bool debug = !file.empty() && (file.back() == 'd' || file.back() == 'D');
    const char* name = tq::KvRuntimeVariantTable::Instance().Description(debug);
    return name != nullptr ? name : tq::kRuntimeSystemName;
}

// Creates the event-log registration of a source.
int RegisterEventSourceKey(const char* sourceName, const std::string& messageFile) {
    using tq::platform::RegistryKey;
    using tq::platform::RegistryStatus;
    using tq::platform::RegistryStore;
    using tq::platform::RegistryType;
    char keyPath[512];
    std::snprintf(keyPath, sizeof keyPath,
                  "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%s", sourceName);
    RegistryKey key;
    if (RegistryStore::CreateKey(keyPath, &key) != RegistryStatus::kOk) return -1;
    const uint8_t types[4] = {7, 0, 0, 0};
    bool ok = RegistryStore::SetValue(
                  key, "EventMessageFile", RegistryType::kExpandString, messageFile.c_str(),
                  static_cast<uint32_t>(messageFile.size() + 1)) == RegistryStatus::kOk &&
              RegistryStore::SetValue(key, "TypesSupported", RegistryType::kNumber, types,
                                      sizeof types) == RegistryStatus::kOk;
    RegistryStore::CloseKey(&key);
    if (!ok) {
        RegistryStore::DeleteKey(keyPath);
        return -1;
    }
    return 0;
}

// Builds the four insertion strings and the rendered text of one entry and
// hands them to the event log.
void ReportEntry(tq::platform::EventSource* source, const char* processIdText, unsigned int type,
                 const char* text) {
    char label[64];
    tq::FormatVersionLabel(label, sizeof label);
    std::string executable = tq::platform::ExecutablePath();
    if (executable.size() > 1023) executable.resize(1023);
    const char* strings[4] = {label, text, processIdText, executable.c_str()};
    EventClass event = ClassifyLogType(type);
    std::string message = tq::RenderEventMessage(event.identifier, strings);
    tq::platform::ReportEvent(source, event.type, event.identifier, strings, 4, message.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// KvSysLog

int KvSysLog::Install(const char*) {
    return 0;
}

unsigned int KvSysLog::Enable(unsigned int on) {
    unsigned int previous = g_logSwitch;
    g_logSwitch = on;
    return previous;
}

void KvSysLog::Open(const char*) {}

void KvSysLog::Log(unsigned int type, const char* format, ...) {
    if (g_logSwitch == 0) return;
    char buffer[kLogBufferSize];
    va_list args;
    va_start(args, format);
    tq::BoundedFormatResult formatted = tq::BoundedVFormat(buffer, sizeof buffer, format, args);
    va_end(args);
    unsigned int length = formatted.cut ? static_cast<unsigned int>(kLogBufferSize)
                                        : static_cast<unsigned int>(formatted.length);
    Write(type, length, buffer);
}

KvSysLog::~KvSysLog() = default;

// ---------------------------------------------------------------------------
// KvSysLogWin32

void* const KvSysLogWin32::kNotOpen = reinterpret_cast<void*>(~uintptr_t{0});

KvSysLogWin32::KvSysLogWin32() : eventSource(kNotOpen), platformIsNT(1), processIdText{} {}

KvSysLogWin32::~KvSysLogWin32() {
    Close();
}

void KvSysLogWin32::Close() {
    if (eventSource == kNotOpen) return;
    tq::platform::DeregisterEventSource(static_cast<tq::platform::EventSource*>(eventSource));
    eventSource = kNotOpen;
}

int KvSysLogWin32::Install(const char* sourceName) {
    std::string path = tq::platform::OwnModulePath();
    if (path.empty() || sourceName == nullptr) return -1;
    return RegisterEventSourceKey(sourceName, path);
}

void KvSysLogWin32::Open(const char* sourceName) {
    if (eventSource != kNotOpen || platformIsNT == 0 || g_logSwitch == 0) return;
    std::string chosen;
    if (sourceName == nullptr) {
        try {
            chosen = DefaultSourceName();
        } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a name
            chosen.clear();
        }  // GCOVR_EXCL_STOP
        sourceName = chosen.empty() ? tq::kRuntimeSystemName : chosen.c_str();
    }
    // A source that cannot be registered stays null: it counts as open, so no
    // further attempt is made and reports are lost quietly.
    eventSource = tq::platform::RegisterEventSource(sourceName);
    std::snprintf(processIdText, sizeof processIdText, "%" PRIu32,
                  tq::platform::CurrentProcessId());
}

void KvSysLogWin32::Write(unsigned int type, unsigned int, const char* text) {
    if (eventSource == kNotOpen) Open(nullptr);
    if (eventSource == kNotOpen) return;
    // The log never fails its caller: an entry that cannot be built is lost.
    try {
        ReportEntry(static_cast<tq::platform::EventSource*>(eventSource), processIdText, type,
                    text);
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_LINE: only when the heap refuses the entry
    }
}

KvSysLog* KvSystemLog() {
    // Never destroyed, so a log entry written by another exit handler is safe;
    // the event source is closed at exit and reopened if that happens.
    static tq::NoDestructor<KvSysLogWin32> log;
    static const bool closeAtExit = [] {
        std::atexit([] { log.get()->Close(); });
        return true;
    }();
    (void)closeAtExit;
    return log.get();
}

uint16_t TimeStampInServerLog = 0;
