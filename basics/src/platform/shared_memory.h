// Named shared memory and the single-instance guard.
//
// Names follow the home platform's kernel-object names and are mapped to POSIX
// names:  "Global\X"  ->  "/<ns>X"          (one object for the whole machine)
//         "X"         ->  "/<ns>X.u<uid>"   (one object per user account)
// where <ns> is $TQ_SHM_NAMESPACE (empty by default), so that tests and demos
// can run beside a real server without meeting its objects. Blocks are created
// with mode 0644: every account may read, only the creator writes.
//
// The guard is an exclusive flock(2) on "/dev/shm/<ns>X.lock" (same mapping of
// names): held for the life of the holder, released by the kernel when the
// holder dies, so a crashed provider never blocks its successor.
#ifndef KVBASICS_PLATFORM_SHARED_MEMORY_H
#define KVBASICS_PLATFORM_SHARED_MEMORY_H

#include <cstddef>
#include <string>

namespace tq::platform {

// The POSIX name of a kernel-object name.
std::string SharedObjectName(const char* name);

struct SharedBlock {
    void* address = nullptr;
    size_t size = 0;
    int fd = -1;
    bool existed = false;  // the block was there before Create
    bool writable = false;
};

// Creates (or opens, when it exists) a block for writing, at least size
// bytes. false when it cannot be created or mapped.
bool CreateSharedBlock(const char* name, size_t size, SharedBlock* block);
// Opens an existing block read-only; false when there is none.
bool OpenSharedBlock(const char* name, SharedBlock* block);
// The current size of the object behind an open block (0 when unknown), to
// check before reading that no one shrank it.
size_t SharedBlockCurrentSize(const SharedBlock& block);
void CloseSharedBlock(SharedBlock* block);
// Removes the name; mappings that exist stay valid.
bool RemoveSharedBlock(const char* name);

enum class GuardResult { kAcquired, kHeldElsewhere, kFailed };
// Takes the named guard; *handle receives what ReleaseInstanceGuard needs.
GuardResult AcquireInstanceGuard(const char* name, int* handle);
void ReleaseInstanceGuard(int handle);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_SHARED_MEMORY_H
