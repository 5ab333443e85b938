// File-backed registry store. A key is a directory below the root. A value is a
// file in its key's directory that holds the four bytes "TQRV", the type as a
// little-endian 32-bit number, then the value's bytes; its file name is the
// character 0x01 followed by the value's name. No key or value name may hold a
// control character, so a value's file never meets the directory of a subkey
// of the same name, and the key's default value (the empty name) is the file
// "\x01" alone. Temporary files begin with 0x02 and so meet neither.
//
// Stores written before values had their prefix keep a value in a file named
// as the value. Such a file is still read; writing or deleting the value
// removes it, and creating a subkey of its name moves it to the prefixed name.
// Every name is checked before it reaches the file system, so no path leaves
// the root.
#include "platform/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace tq::platform {
namespace {

constexpr unsigned char kMagic[4] = {'T', 'Q', 'R', 'V'};
constexpr size_t kHeaderSize = 8;
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kValueMode = 0644;
constexpr char kValuePrefix = '\x01';
constexpr char kTempPattern[] = "\x02tmp-XXXXXX";

RegistryStatus FromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return RegistryStatus::kNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return RegistryStatus::kAccessDenied;
        case ENAMETOOLONG:
            return RegistryStatus::kInvalidName;
        default:
            return RegistryStatus::kIoError;
    }
}

std::string Join(const std::string& directory, std::string_view name) {
    std::string path = directory;
    if (path.empty() || path.back() != '/') path += '/';
    path.append(name);
    return path;
}

// The file of a value in the current layout.
std::string ValuePath(const std::string& directory, std::string_view name) {
    std::string file(1, kValuePrefix);
    file.append(name);
    return Join(directory, file);
}

bool IsValidValueName(std::string_view name) {
    return name.empty() || RegistryStore::IsValidName(name);
}

std::string CurrentDirectory() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Makes a path absolute against the current directory and drops trailing
// slashes, so that key directories are spelled the same way every time.
std::string Absolute(std::string path) {
    if (path.empty()) return path;
    if (path.front() != '/') {
        std::string cwd = CurrentDirectory();
        if (cwd.empty()) return {};
        path = Join(cwd, path);
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (size_t{1} << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return {};
        return found->pw_dir;
    }
}

// Splits a key path at '\', skipping empty segments; false when a name is invalid.
bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names) {
    while (!path.empty()) {
        const size_t end = std::min(path.find('\\'), path.size());
        const std::string_view name = path.substr(0, end);
        path.remove_prefix(std::min(end + 1, path.size()));
        if (name.empty()) continue;
        if (!RegistryStore::IsValidName(name)) return false;
        names->push_back(name);
    }
    return true;
}

// The directories from the top of the file system down to the key: each
// ancestor of the root, the root, then one per key name.
std::vector<std::string> DirectoryChain(const std::string& root,
                                        const std::vector<std::string_view>& names) {
    std::vector<std::string> chain;
    for (size_t slash = root.find('/', 1); slash != std::string::npos;
         slash = root.find('/', slash + 1)) {
        chain.push_back(root.substr(0, slash));
    }
    chain.push_back(root);
    for (const std::string_view name : names)
        chain.push_back(Join(chain.back(), name));
    return chain;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Removes the file of the old layout that holds the value name of directory:
// kNotFound when there is none (a subkey's directory is none).
RegistryStatus RemoveOldValue(const std::string& directory, std::string_view name) {
    if (name.empty()) return RegistryStatus::kNotFound;
    const std::string path = Join(directory, name);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return FromErrno(errno);
    if (S_ISDIR(info.st_mode)) return RegistryStatus::kNotFound;
    return unlink(path.c_str()) == 0 ? RegistryStatus::kOk : FromErrno(errno);
}

// Moves a value file of the old layout that stands where a subkey's directory
// goes to its prefixed name. A prefixed file that is there already is the
// newer value: the old file is only removed then.
RegistryStatus MoveOldValue(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return FromErrno(errno);
    if (!S_ISREG(info.st_mode)) return RegistryStatus::kAccessDenied;
    const size_t slash = path.find_last_of('/');
    const std::string target = ValuePath(path.substr(0, slash), path.substr(slash + 1));
    if (link(path.c_str(), target.c_str()) != 0 && errno != EEXIST) return FromErrno(errno);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return FromErrno(errno);
    return RegistryStatus::kOk;
}

// Creates the missing directories of the chain; the keys begin at first_key.
// The directories above are checked before anything is created, and one that
// is not a directory refuses the request.
RegistryStatus MakeDirectories(const std::vector<std::string>& chain, size_t first_key) {
    if (IsDirectory(chain.back())) return RegistryStatus::kOk;
    size_t missing = 0;
    for (; missing < chain.size(); ++missing) {
        struct stat info {};
        if (stat(chain[missing].c_str(), &info) != 0) {
            if (errno == ENOENT) break;
            return FromErrno(errno);
        }
        if (S_ISDIR(info.st_mode)) continue;
        if (missing < first_key) return RegistryStatus::kAccessDenied;
        break;  // an old value file where a key goes: moved aside below
    }
    for (size_t i = missing; i < chain.size(); ++i) {
        if (mkdir(chain[i].c_str(), kDirectoryMode) == 0) continue;
        if (errno != EEXIST) return FromErrno(errno);
        // Created meanwhile by someone else: fine if it is a directory.
        if (IsDirectory(chain[i])) continue;
        if (i < first_key) return RegistryStatus::kAccessDenied;
        if (const RegistryStatus status = MoveOldValue(chain[i]); status != RegistryStatus::kOk) {
            return status;
        }
        if (mkdir(chain[i].c_str(), kDirectoryMode) != 0) {
            const int error = errno;
            if (!IsDirectory(chain[i])) return FromErrno(error);
        }
    }
    return RegistryStatus::kOk;
}

RegistryStatus ReadFull(int fd, void* data, size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, out, size);
        // A regular file, checked before: its read is not interrupted by a
        // signal and fails only on a device error.
        if (n < 0 && errno == EINTR) continue;        // GCOVR_EXCL_BR_LINE: see above
        if (n < 0) return FromErrno(errno);           // GCOVR_EXCL_LINE: see above
        if (n == 0) return RegistryStatus::kIoError;  // shorter than its size said
        out += n;
        size -= static_cast<size_t>(n);
    }
    return RegistryStatus::kOk;
}

RegistryStatus WriteFull(int fd, const void* data, size_t size) {
    const auto* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, in, size);
        // GCOVR_EXCL_BR_START: a regular file's write is not interrupted by a signal
        if (n < 0 && errno == EINTR) continue;
        // GCOVR_EXCL_BR_STOP
        if (n < 0) return FromErrno(errno);
        in += n;
        size -= static_cast<size_t>(n);
    }
    return RegistryStatus::kOk;
}

// Opens a value's file for reading: the prefixed file, else a file of the old
// layout (never a subkey's directory). -1 with errno set when there is none.
int OpenValue(const std::string& directory, std::string_view name) {
    // O_NONBLOCK keeps a stray FIFO from blocking the open; it is refused later.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const std::string path = ValuePath(directory, name);
    const int fd = open(path.c_str(), kFlags);
    if (fd >= 0 || errno != ENOENT || name.empty()) return fd;
    const int old = open(Join(directory, name).c_str(), kFlags);
    if (old >= 0) {
        struct stat info {};
        // GCOVR_EXCL_BR_START: fstat of a descriptor just opened cannot fail
        if (fstat(old, &info) == 0 && !S_ISDIR(info.st_mode)) return old;
        // GCOVR_EXCL_BR_STOP
        close(old);
        errno = ENOENT;
    }
    if (errno != ENOENT) return -1;
    // A writer may have moved the value to its prefixed name in between.
    return open(path.c_str(), kFlags);
}

// Reads an open value file. The file behind fd is never written again once it
// is visible (writers rename a new file over it), so this sees one value whole.
RegistryStatus ReadValue(int fd, RegistryType* type, void* data, uint32_t* size) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return FromErrno(errno);  // GCOVR_EXCL_LINE: fd was just opened
    if (S_ISDIR(info.st_mode)) return RegistryStatus::kNotFound;  // a subkey, not a value
    if (!S_ISREG(info.st_mode)) return RegistryStatus::kIoError;
    const auto file_size = static_cast<uint64_t>(info.st_size);
    if (info.st_size < 0 || file_size < kHeaderSize || file_size - kHeaderSize > UINT32_MAX) {
        return RegistryStatus::kIoError;
    }
    const auto value_size = static_cast<uint32_t>(file_size - kHeaderSize);

    unsigned char header[kHeaderSize];
    if (ReadFull(fd, header, sizeof header) != RegistryStatus::kOk ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        return RegistryStatus::kIoError;
    }
    const uint32_t value_type =
        static_cast<uint32_t>(header[4]) | static_cast<uint32_t>(header[5]) << 8 |
        static_cast<uint32_t>(header[6]) << 16 | static_cast<uint32_t>(header[7]) << 24;

    bool more_data = false;
    if (data != nullptr) {
        const uint32_t count = std::min(*size, value_size);
        if (count > 0) {
            const RegistryStatus status = ReadFull(fd, data, count);
            if (status != RegistryStatus::kOk) return status;
        }
        more_data = count < value_size;
    }
    if (type != nullptr) *type = static_cast<RegistryType>(value_type);
    if (size != nullptr) *size = value_size;
    return more_data ? RegistryStatus::kMoreData : RegistryStatus::kOk;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// The type of a directory entry (DT_DIR, DT_REG, ...), not following links;
// DT_UNKNOWN when it cannot be told.
unsigned char EntryType(int dir_fd, const dirent* entry) {
    if (entry->d_type != DT_UNKNOWN) return entry->d_type;
    struct stat info {};
    if (fstatat(dir_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
    return static_cast<unsigned char>(IFTODT(info.st_mode));
}

// Removes every value (and stray temporary file) of a key, or nothing at all
// when the key has a subkey.
RegistryStatus RemoveValues(const std::string& directory) {
    const std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
    if (!dir) return FromErrno(errno);
    const int dir_fd = dirfd(dir.get());
    std::vector<std::string> files;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            // GCOVR_EXCL_BR_START: readdir of an open stream fails only on a device error
            if (errno != 0) return FromErrno(errno);
            // GCOVR_EXCL_BR_STOP
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        const unsigned char type = EntryType(dir_fd, entry);
        if (type == DT_DIR) return RegistryStatus::kKeyHasSubkeys;
        if (type != DT_UNKNOWN) files.emplace_back(name);
    }
    for (const std::string& file : files) {
        if (unlinkat(dir_fd, file.c_str(), 0) != 0 && errno != ENOENT) return FromErrno(errno);
    }
    return RegistryStatus::kOk;
}

// Resolves a key path to its directory chain below the current root, whose
// last *keys entries are the keys. The root itself (a path without names) is
// refused unless allow_root is set.
RegistryStatus ResolveKey(std::string_view path, bool allow_root, std::vector<std::string>* chain,
                          size_t* keys = nullptr) {
    std::vector<std::string_view> names;
    if (!SplitKeyPath(path, &names)) return RegistryStatus::kInvalidName;
    if (names.empty() && !allow_root) return RegistryStatus::kInvalidName;
    const std::string root = RegistryStore::Root();
    if (root.empty()) return RegistryStatus::kIoError;
    *chain = DirectoryChain(root, names);
    if (keys != nullptr) *keys = names.size();
    return RegistryStatus::kOk;
}

}  // namespace

std::string RegistryStore::Root() {
    try {
        if (const char* root = std::getenv("TQ_REGISTRY_ROOT"); root != nullptr && *root != '\0') {
            return Absolute(root);
        }
        // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
        if (const char* config = std::getenv("XDG_CONFIG_HOME");
            config != nullptr && config[0] == '/') {
            return Absolute(Join(config, "tessaloquin/registry"));
        }
        const std::string home = HomeDirectory();
        if (home.empty()) return {};
        return Absolute(Join(home, ".config/tessaloquin/registry"));
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return {};
    }  // GCOVR_EXCL_STOP
}

RegistryStatus RegistryStore::OpenKey(std::string_view path, RegistryKey* key) {
    if (key == nullptr) return RegistryStatus::kInvalidName;
    key->directory_.clear();
    try {
        std::vector<std::string> chain;
        if (const RegistryStatus status = ResolveKey(path, true, &chain);
            status != RegistryStatus::kOk) {
            return status;
        }
        struct stat info {};
        if (stat(chain.back().c_str(), &info) != 0) return FromErrno(errno);
        if (!S_ISDIR(info.st_mode)) return RegistryStatus::kNotFound;  // a value, not a key
        key->directory_ = std::move(chain.back());
        return RegistryStatus::kOk;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

RegistryStatus RegistryStore::CreateKey(std::string_view path, RegistryKey* key) {
    if (key == nullptr) return RegistryStatus::kInvalidName;
    key->directory_.clear();
    try {
        std::vector<std::string> chain;
        size_t keys = 0;
        RegistryStatus status = ResolveKey(path, true, &chain, &keys);
        if (status == RegistryStatus::kOk) status = MakeDirectories(chain, chain.size() - keys);
        if (status == RegistryStatus::kOk) key->directory_ = std::move(chain.back());
        return status;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

void RegistryStore::CloseKey(RegistryKey* key) {
    if (key != nullptr) key->directory_.clear();
}

RegistryStatus RegistryStore::QueryValue(const RegistryKey& key, std::string_view name,
                                         RegistryType* type, void* data, uint32_t* size) {
    // A closed key or a buffer without a size is a caller error, reported as a bad name.
    if (!key.is_open() || !IsValidValueName(name) || (data != nullptr && size == nullptr)) {
        return RegistryStatus::kInvalidName;
    }
    try {
        const int fd = OpenValue(key.directory_, name);
        if (fd < 0) return FromErrno(errno);
        const RegistryStatus status = ReadValue(fd, type, data, size);
        close(fd);
        return status;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

RegistryStatus RegistryStore::SetValue(const RegistryKey& key, std::string_view name,
                                       RegistryType type, const void* data, uint32_t size) {
    if (!key.is_open() || !IsValidValueName(name) || (data == nullptr && size != 0)) {
        return RegistryStatus::kInvalidName;
    }
    try {
        const std::string target = ValuePath(key.directory_, name);
        std::string temp = Join(key.directory_, kTempPattern);
        const int fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return FromErrno(errno);

        const auto type_bits = static_cast<uint32_t>(type);
        const unsigned char header[kHeaderSize] = {
            kMagic[0],
            kMagic[1],
            kMagic[2],
            kMagic[3],
            static_cast<unsigned char>(type_bits & 0xff),
            static_cast<unsigned char>((type_bits >> 8) & 0xff),
            static_cast<unsigned char>((type_bits >> 16) & 0xff),
            static_cast<unsigned char>((type_bits >> 24) & 0xff),
        };
        RegistryStatus status = WriteFull(fd, header, sizeof header);
        if (status == RegistryStatus::kOk && size > 0) status = WriteFull(fd, data, size);
        // GCOVR_EXCL_BR_START: fchmod of our own new file cannot fail; fsync and
        // close fail only on a device error or a lost network file system.
        if (status == RegistryStatus::kOk && fchmod(fd, kValueMode) != 0) status = FromErrno(errno);
        // On disk before the rename, so that a crash cannot leave an empty value behind.
        if (status == RegistryStatus::kOk && fsync(fd) != 0) status = FromErrno(errno);
        if (close(fd) != 0 && status == RegistryStatus::kOk) status = FromErrno(errno);
        // GCOVR_EXCL_BR_STOP
        if (status == RegistryStatus::kOk && rename(temp.c_str(), target.c_str()) != 0) {
            status = FromErrno(errno);
        }
        if (status != RegistryStatus::kOk) {
            unlink(temp.c_str());
            return status;
        }
        // The value in place, its file of the old layout goes: readers take the
        // prefixed file first, so they see the new value all along.
        RemoveOldValue(key.directory_, name);
        return RegistryStatus::kOk;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

RegistryStatus RegistryStore::DeleteValue(const RegistryKey& key, std::string_view name) {
    if (!key.is_open() || !IsValidValueName(name)) return RegistryStatus::kInvalidName;
    try {
        RegistryStatus status = RegistryStatus::kOk;
        if (unlink(ValuePath(key.directory_, name).c_str()) != 0) {
            status = FromErrno(errno);
            if (status != RegistryStatus::kNotFound) return status;
        }
        const RegistryStatus old = RemoveOldValue(key.directory_, name);
        return old == RegistryStatus::kNotFound ? status : old;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

RegistryStatus RegistryStore::DeleteKey(std::string_view path) {
    try {
        std::vector<std::string> chain;
        // The root itself is never deleted.
        if (const RegistryStatus status = ResolveKey(path, false, &chain);
            status != RegistryStatus::kOk) {
            return status;
        }
        // A key reached through a symbolic link is not removed, and neither
        // are the values of the directory the link leads to.
        struct stat info;
        if (lstat(chain.back().c_str(), &info) != 0) return FromErrno(errno);
        if (!S_ISDIR(info.st_mode)) return RegistryStatus::kNotFound;
        // A writer may drop a temporary file in between; try again a few times.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const RegistryStatus status = RemoveValues(chain.back());
            if (status != RegistryStatus::kOk) return status;
            if (rmdir(chain.back().c_str()) == 0) return RegistryStatus::kOk;
            if (errno != ENOTEMPTY && errno != EEXIST) return FromErrno(errno);
        }
        return RegistryStatus::kIoError;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

RegistryStatus RegistryStore::EnumKey(const RegistryKey& key, std::vector<std::string>* subkeys,
                                      std::vector<std::string>* values) {
    if (!key.is_open()) return RegistryStatus::kInvalidName;
    try {
        const std::unique_ptr<DIR, DirCloser> dir(opendir(key.directory_.c_str()));
        if (!dir) return FromErrno(errno);
        std::vector<std::string> keys, names;
        for (;;) {
            errno = 0;
            const dirent* entry = readdir(dir.get());
            if (entry == nullptr) {
                // GCOVR_EXCL_BR_START: readdir of an open stream fails only on a device error
                if (errno != 0) return FromErrno(errno);
                // GCOVR_EXCL_BR_STOP
                break;
            }
            std::string_view name = entry->d_name;
            if (!name.empty() && name.front() == kValuePrefix) {
                name.remove_prefix(1);
                if (IsValidValueName(name)) names.emplace_back(name);
                continue;
            }
            if (!IsValidName(name)) continue;  // ".", "..", temporary files
            const unsigned char type = EntryType(dirfd(dir.get()), entry);
            if (type == DT_DIR) keys.emplace_back(name);
            if (type == DT_REG) names.emplace_back(name);  // a value of the old layout
        }
        std::sort(keys.begin(), keys.end());
        std::sort(names.begin(), names.end());
        // A value in both layouts, caught while a writer replaces it, counts once.
        names.erase(std::unique(names.begin(), names.end()), names.end());
        if (subkeys != nullptr) *subkeys = std::move(keys);
        if (values != nullptr) *values = std::move(names);
        return RegistryStatus::kOk;
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a path-sized
                                       // string
        return RegistryStatus::kIoError;
    }  // GCOVR_EXCL_STOP
}

bool RegistryStore::IsValidName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || byte < 0x20 || byte == 0x7f;
    });
}

}  // namespace tq::platform
