#include "statistics/perf_registry.h"

#include <vector>

namespace tq::perf {

using platform::RegistryStatus;
using platform::RegistryStore;
using platform::RegistryType;

bool ReadNumber(const platform::RegistryKey& key, const std::string& name, uint32_t* value) {
    unsigned char bytes[4];
    uint32_t size = sizeof bytes;
    if (RegistryStore::QueryValue(key, name, nullptr, bytes, &size) != RegistryStatus::kOk ||
        size != 4) {
        return false;
    }
    *value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
             uint32_t{bytes[3]} << 24;
    return true;
}

bool WriteNumber(const platform::RegistryKey& key, const std::string& name, uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return RegistryStore::SetValue(key, name, RegistryType::kNumber, bytes, 4) ==
           RegistryStatus::kOk;
}

bool ReadString(const platform::RegistryKey& key, const std::string& name, std::string* value) {
    uint32_t size = 0;
    if (RegistryStore::QueryValue(key, name, nullptr, nullptr, &size) != RegistryStatus::kOk) {
        return false;
    }
    std::vector<char> bytes(size + 1, '\0');
    if (RegistryStore::QueryValue(key, name, nullptr, bytes.data(), &size) != RegistryStatus::kOk) {
        return false;
    }
    value->assign(bytes.data(), size);
    while (!value->empty() && value->back() == '\0')
        value->pop_back();
    return true;
}

bool WriteString(const platform::RegistryKey& key, const std::string& name,
                 const std::string& value) {
    return RegistryStore::SetValue(key, name, RegistryType::kString, value.c_str(),
                                   static_cast<uint32_t>(value.size() + 1)) == RegistryStatus::kOk;
}

}  // namespace tq::perf
