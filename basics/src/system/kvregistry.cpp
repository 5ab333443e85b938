// Registry configuration: string values below the product key, the cached
// priority-boost switch, the host name and the fault-injection hook.
#include <cstring>
#include <string_view>

#include "kvmemory.h"
#include "kvplatform.h"
#include "platform/host_name.h"
#include "platform/registry_store.h"
#include "system/platform_services.h"

namespace {

using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;
using tq::platform::RegistryType;

constexpr int kStoreFailed = -1;
constexpr size_t kKeyPathSize = 260;  // a composed key path has at most 259 characters

// The product key, then "\" and each subkey of the path (all strings but the
// last) into keyPath; *valueName gets the last string. KV_ERR_INVALID_PARAMETER
// for an empty path or a key path that does not fit.
int ComposeKeyPath(char const** path, char (&keyPath)[kKeyPathSize], const char** valueName) {
    if (path == nullptr || path[0] == nullptr) return KV_ERR_INVALID_PARAMETER;
    size_t length = std::strlen(KV_PRODUCT_REGISTRY_KEY);
    std::memcpy(keyPath, KV_PRODUCT_REGISTRY_KEY, length);
    size_t last = 0;
    while (path[last + 1] != nullptr)
        ++last;
    for (size_t i = 0; i < last; ++i) {
        const size_t name = std::strlen(path[i]);
        if (name + 1 > kKeyPathSize - 1 - length) return KV_ERR_INVALID_PARAMETER;
        keyPath[length++] = '\\';
        std::memcpy(keyPath + length, path[i], name);
        length += name;
    }
    keyPath[length] = '\0';
    *valueName = path[last];
    return 0;
}

// The priority-boost switch: -1 until read.
int g_priorityBoost = -1;

// The hook's injection count and whether it has been read.
int32_t g_injectionCount = 0;
bool g_injectionRead = false;

}  // namespace

void tq::ResetPriorityBoostCache() {
    g_priorityBoost = -1;
}

// ---------------------------------------------------------------------------
// Register
// ---------------------------------------------------------------------------

Register::~Register() = default;

int Register::Get(char const** path, char* buffer, int& size) {
    if (buffer == nullptr || size <= 0) return KV_ERR_INVALID_PARAMETER;
    char keyPath[kKeyPathSize];
    const char* valueName = nullptr;
    if (const int result = ComposeKeyPath(path, keyPath, &valueName); result != 0) return result;

    RegistryKey key;
    if (RegistryStore::OpenKey(keyPath, &key) != RegistryStatus::kOk) {
        size = 0;
        return kStoreFailed;
    }
    // At most size - 1 bytes, so that a terminator always fits behind them.
    // The type of the value is not examined.
    const auto room = static_cast<uint32_t>(size - 1);
    uint32_t count = room;
    const RegistryStatus status =
        RegistryStore::QueryValue(key, valueName, nullptr, buffer, &count);
    RegistryStore::CloseKey(&key);
    if (status == RegistryStatus::kOk) {
        buffer[count] = '\0';
        size = static_cast<int>(count);
        return 0;
    }
    if (status == RegistryStatus::kMoreData) {
        // The first bytes are in the buffer; count is the value's own size.
        buffer[room] = '\0';
        size = count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
    } else {
        size = 0;
    }
    return kStoreFailed;
}

int Register::Set(char const** path, char* value) {
    if (value == nullptr) return KV_ERR_INVALID_PARAMETER;
    char keyPath[kKeyPathSize];
    const char* valueName = nullptr;
    if (const int result = ComposeKeyPath(path, keyPath, &valueName); result != 0) return result;
    const size_t length = std::strlen(value);
    if (length > UINT32_MAX) return KV_ERR_INVALID_PARAMETER;

    // The value is replaced in one step (the store renames a complete file
    // over it), not deleted first: a reader never finds it missing, and a
    // write that fails (a full or read-only disk) leaves the old value.
    RegistryKey key;
    if (RegistryStore::CreateKey(keyPath, &key) != RegistryStatus::kOk) return kStoreFailed;
    // The stored bytes are the text without its terminator.
    const RegistryStatus status = RegistryStore::SetValue(key, valueName, RegistryType::kString,
                                                          value, static_cast<uint32_t>(length));
    RegistryStore::CloseKey(&key);
    return status == RegistryStatus::kOk ? 0 : kStoreFailed;
}

int Register::Delete(char const** path) {
    char keyPath[kKeyPathSize];
    const char* valueName = nullptr;
    if (const int result = ComposeKeyPath(path, keyPath, &valueName); result != 0) return result;
    RegistryKey key;
    if (RegistryStore::OpenKey(keyPath, &key) != RegistryStatus::kOk) return kStoreFailed;
    const RegistryStatus status = RegistryStore::DeleteValue(key, valueName);
    RegistryStore::CloseKey(&key);
    return status == RegistryStatus::kOk ? 0 : kStoreFailed;
}

int KvGetRegistryEntry(char const** path, char* buffer, int& size) {
    // A negative size would read past the buffer.
    if (path == nullptr || buffer == nullptr || size <= 0) return KV_ERR_INVALID_PARAMETER;
    return Register().Get(path, buffer, size);
}

int KvSetRegistryEntry(char const** path, char* value, int& size) {
    if (path == nullptr || value == nullptr || size == 0) return KV_ERR_INVALID_PARAMETER;
    return Register().Set(path, value);
}

int KvDeleteRegistryEntry(char const** path) {
    if (path == nullptr) return KV_ERR_INVALID_PARAMETER;
    return Register().Delete(path);
}

// ---------------------------------------------------------------------------
// Configuration switches and host name
// ---------------------------------------------------------------------------

uint16_t GetDisableWin32PriorityBoost() {
    if (g_priorityBoost != -1) return g_priorityBoost != 0 ? 1 : 0;
    int16_t value = 0;
    if (KvConfig* config = DefaultConfig(KV_QUERY_CONFIG); config != nullptr) {
        const char* sections[] = {"servers", "kvserver", nullptr};
        config->GetShort("disableWin32PriorityBoost", &value, sections);
    }
    g_priorityBoost = value != 0 ? 1 : 0;
    return static_cast<uint16_t>(g_priorityBoost);
}

int KvGetHostname(char* buffer, int size) {
    if (buffer != nullptr && size > 0) {
        tq::platform::HostName(buffer, static_cast<size_t>(size));
    }
    return 0;
}

int TestHandler(unsigned code, void*, void*) {
    if (!g_injectionRead) {
        if (KvConfig* config = DefaultConfig(KV_QUERY_CONFIG); config != nullptr) {
            const char* sections[] = {"test", nullptr};
            config->GetLong("growErrorCounter", &g_injectionCount, sections);
        }
        g_injectionRead = true;
    }
    if (code == 1 && g_injectionCount > 0) {
        --g_injectionCount;
        return -313;
    }
    return 0;
}

int TestHandlerReset() {
    g_injectionCount = 0;
    g_injectionRead = false;
    return 0;
}
