// Typed reads and writes of registry values for the performance counters.
#ifndef KVBASICS_PERF_REGISTRY_H
#define KVBASICS_PERF_REGISTRY_H

#include <cstdint>
#include <string>

#include "platform/registry_store.h"

namespace tq::perf {

// A 32-bit number (little-endian); false when missing or not four bytes.
bool ReadNumber(const platform::RegistryKey& key, const std::string& name, uint32_t* value);
bool WriteNumber(const platform::RegistryKey& key, const std::string& name, uint32_t value);
// A string, stored with its terminator; read without it.
bool ReadString(const platform::RegistryKey& key, const std::string& name, std::string* value);
bool WriteString(const platform::RegistryKey& key, const std::string& name,
                 const std::string& value);

}  // namespace tq::perf

#endif  // KVBASICS_PERF_REGISTRY_H
