#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/heap.h"

namespace tq::platform {
namespace {

constexpr const char* kGlobalPrefix = "Global\\";
constexpr const char* kObjectDirectory = "/dev/shm";
constexpr const char* kGuardFile = "lock";
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

std::string Namespace() {
    const char* ns = std::getenv("TQ_SHM_NAMESPACE");
    std::string out = ns != nullptr ? ns : "";
    for (char& c : out) {
        if (c == '/') c = '_';
    }
    return out;
}

bool IsGlobal(const char* name) {
    return name != nullptr && std::strncmp(name, kGlobalPrefix, std::strlen(kGlobalPrefix)) == 0;
}

// The name without "/": the part of a POSIX name after its leading slash. A
// per-account name (always so for a guard) ends in the effective uid, the
// owner of every object the account creates.
std::string PlainName(const char* name, bool perAccount) {
    std::string text = name != nullptr ? name : "";
    if (IsGlobal(name)) text.erase(0, std::strlen(kGlobalPrefix));
    for (char& c : text) {
        if (c == '/' || c == '\\') c = '_';
    }
    std::string out = Namespace() + text;
    if (perAccount) out += ".u" + std::to_string(geteuid());
    return out;
}

std::string GuardDirectoryPath(const char* name) {
    return std::string(kObjectDirectory) + "/" + PlainName(name, true);
}

// "PATH belongs to uid U and has mode 0666": what an operator needs to know of
// an object that was not used.
void Explain(std::string* why, const std::string& path, const struct stat& info) {
    if (why == nullptr) return;
    char text[96];
    const char* kind = S_ISREG(info.st_mode)   ? ""
                       : S_ISDIR(info.st_mode) ? " (a directory)"
                       : S_ISLNK(info.st_mode) ? " (a symbolic link)"
                                               : " (not a regular file)";
    std::snprintf(text, sizeof text, " belongs to uid %u and has mode %04o%s",
                  static_cast<unsigned>(info.st_uid), static_cast<unsigned>(info.st_mode & 07777),
                  kind);
    *why = path + text;
}

void ExplainPath(std::string* why, const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        Explain(why, path, info);
    } else if (why != nullptr) {
        *why = path + ": " + std::strerror(errno);
    }
}

bool WriterMayUse(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & kOthersWrite) == 0;
}

bool ReaderMayUse(const struct stat& info, bool global) {
    return S_ISREG(info.st_mode) && (info.st_mode & kOthersWrite) == 0 &&
           (global || info.st_uid == geteuid());
}

// Opens the account's guard directory (creating it when asked): -1, with *why,
// when it is not a directory of this account that only the account may change.
int OpenGuardDirectory(const std::string& path, bool create, std::string* why) {
    if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        if (why != nullptr) *why = path + ": " + std::strerror(errno);
        return -1;
    }
    const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        ExplainPath(why, path);
        return -1;
    }
    struct stat info {};
    if (fstat(dir, &info) != 0 || info.st_uid != geteuid() || (info.st_mode & kOthersWrite) != 0) {
        Explain(why, path, info);
        close(dir);
        return -1;
    }
    return dir;
}

}  // namespace

std::string SharedObjectName(const char* name) {
    std::string posix = "/";  // (not "/" + ...: gcc 12 warns falsely on that once inlined)
    posix += PlainName(name, !IsGlobal(name));
    return posix;
}

std::string SharedObjectPath(const char* name) {
    return kObjectDirectory + SharedObjectName(name);
}

std::string DescribeSharedObject(const char* name) {
    std::string text;
    struct stat info {};
    const std::string path = SharedObjectPath(name);
    if (lstat(path.c_str(), &info) == 0) Explain(&text, path, info);
    return text;
}

BlockStatus CreateSharedBlock(const char* name, size_t size, SharedBlock* block, std::string* why) {
    *block = SharedBlock{};
    if (size == 0) return BlockStatus::kFailed;
    const std::string posix = SharedObjectName(name);
    int fd = shm_open(posix.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const bool existed = fd < 0 && errno == EEXIST;
    if (existed) {
        fd = shm_open(posix.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0);
        if (fd < 0 && (errno == EACCES || errno == ELOOP)) {  // someone else's: say whose
            ExplainPath(why, SharedObjectPath(name));
            return BlockStatus::kRefused;
        }
    }
    if (fd < 0) return BlockStatus::kFailed;
    struct stat info {};
    // GCOVR_EXCL_START: fstat of a descriptor just opened does not fail
    if (fstat(fd, &info) != 0) {
        close(fd);
        return BlockStatus::kFailed;
    }
    // GCOVR_EXCL_STOP
    // An object that another account owns or may write could be changed or
    // cut short under the writer's mapping: never used.
    if (existed && !WriterMayUse(info)) {
        Explain(why, SharedObjectPath(name), info);
        close(fd);
        return BlockStatus::kRefused;
    }
    if ((info.st_mode & 07777) != 0644)
        fchmod(fd, 0644);  // whatever the umask: every account reads
    const bool sized =
        static_cast<size_t>(info.st_size) >= size || ftruncate(fd, static_cast<off_t>(size)) == 0;
    void* address =
        sized ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (address == MAP_FAILED) {
        close(fd);
        if (!existed) shm_unlink(posix.c_str());
        return BlockStatus::kFailed;
    }
    *block = SharedBlock{address, size, fd, existed && info.st_size > 0, true, true};
    return BlockStatus::kOk;
}

BlockStatus OpenSharedBlock(const char* name, size_t size, SharedBlock* block, std::string* why) {
    *block = SharedBlock{};
    if (size == 0) return BlockStatus::kFailed;
    const int fd = shm_open(SharedObjectName(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0) return errno == ENOENT ? BlockStatus::kAbsent : BlockStatus::kFailed;
    struct stat info {};
    BlockStatus status = BlockStatus::kFailed;
    if (fstat(fd, &info) == 0 && !ReaderMayUse(info, IsGlobal(name))) {
        Explain(why, SharedObjectPath(name), info);
        status = BlockStatus::kRefused;
    } else if (static_cast<size_t>(info.st_size) >= size) {  // else not laid out, or not ours
        void* copy = HeapAllocate(size);
        *block = SharedBlock{copy, size, fd, true, false, info.st_uid == geteuid()};
        if (copy != nullptr && RefreshSharedBlock(block)) return BlockStatus::kOk;
        CloseSharedBlock(block);
        return BlockStatus::kFailed;
    }
    close(fd);
    return status;
}

BlockStatus ProbeSharedBlock(const char* name, std::string* why) {
    const int fd = shm_open(SharedObjectName(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0 && errno == ENOENT) return BlockStatus::kAbsent;
    struct stat info {};
    const bool usable = fd >= 0 && fstat(fd, &info) == 0 && WriterMayUse(info);
    if (!usable) ExplainPath(why, SharedObjectPath(name));
    if (fd >= 0) close(fd);
    return usable ? BlockStatus::kOk : BlockStatus::kRefused;
}

bool RefreshSharedBlock(SharedBlock* block) {
    if (block->fd < 0 || block->address == nullptr) return false;
    if (block->writable) {
        struct stat info {};
        return fstat(block->fd, &info) == 0 && static_cast<size_t>(info.st_size) >= block->size;
    }
    auto* to = static_cast<unsigned char*>(block->address);
    for (size_t done = 0; done < block->size;) {
        const ssize_t got =
            pread(block->fd, to + done, block->size - done, static_cast<off_t>(done));
        // A regular file (checked at open): its read is not interrupted by a
        // signal and fails only on a device error; 0 when it was cut short.
        if (got < 0 && errno == EINTR) continue;  // GCOVR_EXCL_BR_LINE: see above
        if (got <= 0) return false;               // cut short under us
        done += static_cast<size_t>(got);
    }
    return true;
}

bool SharedBlockRemoved(const SharedBlock& block) {
    struct stat info {};
    return block.fd >= 0 && fstat(block.fd, &info) == 0 && info.st_nlink == 0;
}

void CloseSharedBlock(SharedBlock* block) {
    if (block->address != nullptr) {
        if (block->writable) {
            munmap(block->address, block->size);
        } else {
            HeapFree(block->address);
        }
    }
    if (block->fd >= 0) close(block->fd);
    *block = SharedBlock{};
}

bool RemoveOwnSharedBlock(const char* name) {
    struct stat info {};
    return lstat(SharedObjectPath(name).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_uid == geteuid() && shm_unlink(SharedObjectName(name).c_str()) == 0;
}

GuardResult AcquireInstanceGuard(const char* name, int* handle, std::string* why) {
    const std::string path = GuardDirectoryPath(name);
    // A cleanup may remove the files between our open and our lock; then try
    // again, so that the lock is always on the file that the name leads to.
    for (int attempt = 0; attempt < 8; ++attempt) {  // GCOVR_EXCL_BR_LINE: see the end
        const int dir = OpenGuardDirectory(path, true, why);
        if (dir < 0) return GuardResult::kFailed;
        const int fd = openat(dir, kGuardFile, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        struct stat file {
        }, named{};
        if (fd < 0 || fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != geteuid()) {
            const bool removed = fd < 0 && errno == ENOENT;
            if (!removed) ExplainPath(why, path + "/" + kGuardFile);
            if (fd >= 0) close(fd);
            close(dir);
            if (removed) continue;
            return GuardResult::kFailed;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            // GCOVR_EXCL_BR_START: without waiting, the lock of a file of ours
            // fails only when it is held (no signal interrupts it; ENOLCK is a
            // kernel out of memory).
            const bool held = errno == EWOULDBLOCK;
            if (!held && why != nullptr) *why = path + ": " + std::strerror(errno);
            close(fd);
            close(dir);
            return held ? GuardResult::kHeldElsewhere : GuardResult::kFailed;
            // GCOVR_EXCL_BR_STOP
        }
        // GCOVR_EXCL_BR_START: the file not current any more, and the attempts
        // running out, take a cleanup that removes the files between our open
        // and our lock: no test can place a removal between two system calls.
        const bool current = fstatat(dir, kGuardFile, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                             named.st_dev == file.st_dev && named.st_ino == file.st_ino;
        close(dir);
        if (current) {
            *handle = fd;
            return GuardResult::kAcquired;
        }
        // GCOVR_EXCL_BR_STOP
        close(fd);  // GCOVR_EXCL_LINE: see above
    }
    // GCOVR_EXCL_START: see above
    if (why != nullptr) *why = path + ": removed again and again while being taken";
    return GuardResult::kFailed;
    // GCOVR_EXCL_STOP
}

void ReleaseInstanceGuard(int handle) {
    if (handle >= 0) close(handle);  // closing drops the lock
}

void RemoveInstanceGuard(const char* name, int handle) {
    const std::string path = GuardDirectoryPath(name);
    const int dir = OpenGuardDirectory(path, false, nullptr);
    if (dir >= 0) {
        unlinkat(dir, kGuardFile, 0);
        close(dir);
        rmdir(path.c_str());
    }
    ReleaseInstanceGuard(handle);
}

std::string InstanceGuardPath(const char* name) {
    return GuardDirectoryPath(name);
}

bool InstanceGuardExists(const char* name) {
    struct stat info {};
    return lstat(GuardDirectoryPath(name).c_str(), &info) == 0;
}

GuardHolder QueryInstanceGuard(const char* name) {
    GuardHolder holder;
    const std::string path = GuardDirectoryPath(name);
    struct stat file {};
    if (lstat(path.c_str(), &file) != 0) {
        holder.kind = errno == ENOENT ? GuardHolder::kNone : GuardHolder::kUnknown;
        return holder;
    }
    const int dir = OpenGuardDirectory(path, false, nullptr);
    if (dir < 0) return holder;
    const bool exists = fstatat(dir, kGuardFile, &file, AT_SYMLINK_NOFOLLOW) == 0;
    const int error = errno;
    close(dir);
    if (!exists) {
        if (error == ENOENT) holder.kind = GuardHolder::kNone;
        return holder;
    }
    FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) return holder;
    holder.kind = GuardHolder::kNone;
    // "1: FLOCK  ADVISORY  WRITE 4711 00:1a:12345 0 EOF"; waiters read "1: -> FLOCK ...".
    char line[256];
    while (std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16], mode[16];
        long pid = 0;
        unsigned devMajor = 0, devMinor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*s %15s %*s %15s %ld %x:%x:%llu", kind, mode, &pid, &devMajor,
                        &devMinor, &inode) != 6 ||
            std::strcmp(kind, "FLOCK") != 0) {
            continue;
        }
        if (devMajor == major(file.st_dev) && devMinor == minor(file.st_dev) &&
            inode == static_cast<unsigned long long>(file.st_ino)) {
            holder.kind = GuardHolder::kHeld;
            holder.pid = pid > 0 ? static_cast<pid_t>(pid) : 0;
            break;
        }
    }
    std::fclose(locks);
    return holder;
}

}  // namespace tq::platform
