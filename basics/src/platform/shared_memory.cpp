#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tq::platform {
namespace {

constexpr const char* kGlobalPrefix = "Global\\";

std::string Namespace() {
    const char* ns = std::getenv("TQ_SHM_NAMESPACE");
    std::string out = ns != nullptr ? ns : "";
    for (char& c : out) {
        if (c == '/') c = '_';
    }
    return out;
}

// The name without "/": the part of a POSIX name after its leading slash.
std::string PlainName(const char* name) {
    std::string text = name != nullptr ? name : "";
    bool global = text.rfind(kGlobalPrefix, 0) == 0;
    if (global) text.erase(0, std::strlen(kGlobalPrefix));
    for (char& c : text) {
        if (c == '/' || c == '\\') c = '_';
    }
    std::string out = Namespace() + text;
    if (!global) out += ".u" + std::to_string(getuid());
    return out;
}

bool Map(int fd, size_t size, bool writable, SharedBlock* block) {
    void* address =
        mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return false;
    block->address = address;
    block->size = size;
    block->fd = fd;
    block->writable = writable;
    return true;
}

}  // namespace

std::string SharedObjectName(const char* name) {
    std::string posix = "/";  // (not "/" + ...: gcc 12 warns falsely on that once inlined)
    posix += PlainName(name);
    return posix;
}

bool CreateSharedBlock(const char* name, size_t size, SharedBlock* block) {
    *block = SharedBlock{};
    if (size == 0) return false;
    const std::string posix = SharedObjectName(name);
    int fd = shm_open(posix.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool existed = false;
    if (fd < 0 && errno == EEXIST) {
        fd = shm_open(posix.c_str(), O_RDWR | O_CLOEXEC, 0644);
        existed = true;
    }
    if (fd < 0) return false;
    fchmod(fd, 0644);  // whatever the umask: every account reads
    struct stat info {};
    if (fstat(fd, &info) != 0 ||
        (static_cast<size_t>(info.st_size) < size &&
         ftruncate(fd, static_cast<off_t>(size)) != 0) ||
        !Map(fd, size, true, block)) {
        close(fd);
        if (!existed) shm_unlink(posix.c_str());
        return false;
    }
    block->existed = existed && info.st_size > 0;
    return true;
}

bool OpenSharedBlock(const char* name, SharedBlock* block) {
    *block = SharedBlock{};
    int fd = shm_open(SharedObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size <= 0 ||
        !Map(fd, static_cast<size_t>(info.st_size), false, block)) {
        close(fd);
        return false;
    }
    block->existed = true;
    return true;
}

size_t SharedBlockCurrentSize(const SharedBlock& block) {
    struct stat info {};
    if (block.fd < 0 || fstat(block.fd, &info) != 0 || info.st_size < 0) return 0;
    return static_cast<size_t>(info.st_size);
}

void CloseSharedBlock(SharedBlock* block) {
    if (block->address != nullptr) munmap(block->address, block->size);
    if (block->fd >= 0) close(block->fd);
    *block = SharedBlock{};
}

bool RemoveSharedBlock(const char* name) {
    return shm_unlink(SharedObjectName(name).c_str()) == 0;
}

GuardResult AcquireInstanceGuard(const char* name, int* handle) {
    const std::string path = "/dev/shm/" + PlainName(name) + ".lock";
    // Read-only is enough for flock, and lets every account take a guard
    // file that another account created.
    int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return GuardResult::kFailed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? GuardResult::kHeldElsewhere : GuardResult::kFailed;
    }
    *handle = fd;
    return GuardResult::kAcquired;
}

void ReleaseInstanceGuard(int handle) {
    if (handle >= 0) close(handle);  // closing drops the lock
}

}  // namespace tq::platform
