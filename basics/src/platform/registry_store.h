// File-backed registry store: the stand-in for the platform registry under the
// local machine. A key is a directory below the root, a value a file in it that
// keeps its type and its bytes. A key may hold a subkey and a value of the same
// name, and a default value: the value of the empty name.
//
// Root: $TQ_REGISTRY_ROOT, else $XDG_CONFIG_HOME/tessaloquin/registry, else
// $HOME/.config/tessaloquin/registry. The root is read again on every open, so
// a test can point it at a temporary directory.
//
// Key paths are key names separated by '\' ("SOFTWARE\Quelmar\Tessaloquin");
// empty segments (a leading, trailing or doubled '\') are ignored. A key name
// is refused when it is empty, "." or "..", or contains '/' or a control
// character, so that no path leaves the root; so is a value name, except that
// it may be empty. A name too long for the file system is refused as well.
// Names compare exactly as written. Writes are atomic: a temporary file in the
// key's directory renamed over the value, so a reader sees the old or the new
// value, never a mixture.
#ifndef KVBASICS_PLATFORM_REGISTRY_STORE_H
#define KVBASICS_PLATFORM_REGISTRY_STORE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tq::platform {

// Value types, numbered as the platform registry numbers them.
enum class RegistryType : uint32_t {
    kString = 1,        // REG_SZ
    kExpandString = 2,  // REG_EXPAND_SZ
    kNumber = 4,        // REG_DWORD: 32-bit, little-endian
};

// Results, numbered as the platform registry numbers its errors.
enum class RegistryStatus : int32_t {
    kOk = 0,
    kNotFound = 2,          // key or value does not exist
    kAccessDenied = 5,      // the file system refused (permissions, read-only)
    kInvalidName = 123,     // a name that could leave the root, an empty or too long one
    kMoreData = 234,        // the caller's buffer is too small
    kKeyHasSubkeys = 1020,  // a key with subkeys cannot be deleted
    kIoError = 1117,        // any other failure of the file system (full disk, ...)
};

// An open key. Copyable; closing it only forgets the path.
class RegistryKey {
public:
    RegistryKey() = default;
    bool is_open() const { return !directory_.empty(); }
    const std::string& directory() const { return directory_; }

private:
    friend class RegistryStore;
    std::string directory_;
};

class RegistryStore {
public:
    // The root directory in use now (from the environment, see above).
    static std::string Root();

    // Opens an existing key.
    static RegistryStatus OpenKey(std::string_view path, RegistryKey* key);
    // Opens a key, creating it and every missing key above it.
    static RegistryStatus CreateKey(std::string_view path, RegistryKey* key);
    static void CloseKey(RegistryKey* key);

    // Reads a value. *size in: the room in data (data may be null with *size 0
    // to ask for the size); out: the value's byte count. A value larger than the
    // room gives kMoreData with *size set to the value's byte count and the
    // first *size-in bytes copied. type may be null.
    static RegistryStatus QueryValue(const RegistryKey& key, std::string_view name,
                                     RegistryType* type, void* data, uint32_t* size);
    // Writes a value atomically, replacing one of the same name.
    static RegistryStatus SetValue(const RegistryKey& key, std::string_view name, RegistryType type,
                                   const void* data, uint32_t size);
    static RegistryStatus DeleteValue(const RegistryKey& key, std::string_view name);
    // The names of a key's subkeys and of its values, each sorted; either
    // list may be null.
    static RegistryStatus EnumKey(const RegistryKey& key, std::vector<std::string>* subkeys,
                                  std::vector<std::string>* values);
    // Deletes a key and its values; refused while it has subkeys.
    static RegistryStatus DeleteKey(std::string_view path);

    // True when name may be a key name (and a value name; a value's may also be empty).
    static bool IsValidName(std::string_view name);
};

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_REGISTRY_STORE_H
