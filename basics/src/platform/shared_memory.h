// Named shared memory and the single-instance guard, safe against other
// local accounts.
//
// Names follow the home platform's kernel-object names and are mapped to POSIX
// names:  "Global\X"  ->  "/<ns>X"          (one object for the whole machine)
//         "X"         ->  "/<ns>X.u<euid>"  (one object per user account)
// where <ns> is $TQ_SHM_NAMESPACE (empty by default), so that tests and demos
// can run beside a real server without meeting its objects.
//
// A writer creates a block exclusively with mode 0644 (every account reads,
// only the owner writes) and uses an existing one only when it belongs to its
// account and no one else may write it. A reader refuses a block that group or
// others may write, and a per-account block of another owner; it never maps
// the block, but copies it through the descriptor, so that an object that
// shrinks or is replaced under it cannot fault it.
//
// The guard "X" is an exclusive flock(2) on "/dev/shm/<ns>X.u<euid>/lock": a
// directory of the account (mode 0700, checked for owner and mode before use)
// holding a file only the account can open, so no other account can take,
// hold or redirect it. The kernel drops the lock when the holder dies.
#ifndef KVBASICS_PLATFORM_SHARED_MEMORY_H
#define KVBASICS_PLATFORM_SHARED_MEMORY_H

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace tq::platform {

// The POSIX name of a kernel-object name; SharedObjectPath gives its file.
std::string SharedObjectName(const char* name);
std::string SharedObjectPath(const char* name);
// "PATH belongs to uid U and has mode 0644", or "" when there is no object.
std::string DescribeSharedObject(const char* name);

struct SharedBlock {
    void* address = nullptr;  // the writer's mapping, or the reader's private copy
    size_t size = 0;
    int fd = -1;
    bool existed = false;  // the block was there before Create
    bool writable = false;
    bool own = false;  // the object belongs to this account
};

enum class BlockStatus {
    kOk,
    kAbsent,   // no object of that name
    kRefused,  // another account owns it or may write it; *why says which
    kFailed,   // it could not be created, sized, read or mapped
};

// Creates a block for writing, at least size bytes, or takes an existing one
// of this account that no one else may write. *why (may be null) receives the
// reason of a refusal.
BlockStatus CreateSharedBlock(const char* name, size_t size, SharedBlock* block, std::string* why);
// Opens an existing block of at least size bytes to read and copies it.
BlockStatus OpenSharedBlock(const char* name, size_t size, SharedBlock* block, std::string* why);
// Whether an object of the name exists that CreateSharedBlock would take.
BlockStatus ProbeSharedBlock(const char* name, std::string* why);
// Brings a reader's copy up to date through the descriptor; for a writer, checks
// that the object still holds the mapped bytes. false when it no longer does.
bool RefreshSharedBlock(SharedBlock* block);
// Whether the block's name was removed (a cleanup) or now names another object.
bool SharedBlockRemoved(const SharedBlock& block);
void CloseSharedBlock(SharedBlock* block);
// Removes the name when the object belongs to this account; mappings that
// exist stay valid. true when removed.
bool RemoveOwnSharedBlock(const char* name);

enum class GuardResult { kAcquired, kHeldElsewhere, kFailed };
// Takes the named guard; *handle receives what ReleaseInstanceGuard needs.
// *why (may be null) receives the reason of a failure.
GuardResult AcquireInstanceGuard(const char* name, int* handle, std::string* why);
void ReleaseInstanceGuard(int handle);
// Removes the guard's files while its holder still holds it, then releases it.
void RemoveInstanceGuard(const char* name, int handle);
// The guard's directory, and whether it exists.
std::string InstanceGuardPath(const char* name);
bool InstanceGuardExists(const char* name);

// Who holds a guard, looked up without taking it (taking it, even for a moment,
// would turn a starting holder away).
struct GuardHolder {
    enum Kind { kNone, kHeld, kUnknown } kind = kUnknown;
    pid_t pid = 0;  // the holder, when the system shows it
};
GuardHolder QueryInstanceGuard(const char* name);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_SHARED_MEMORY_H
