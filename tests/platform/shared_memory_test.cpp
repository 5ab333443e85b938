// Shared blocks and instance guards against what may lie at their names in
// /dev/shm: objects of other accounts or modes, directories, links, sockets,
// files cut short, names too long.
#include "platform/shared_memory.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/test_env.h"

namespace tq::platform {
namespace {

constexpr uid_t kOther = 61002;
const std::string kLongName(300, 'n');

// Runs body in a child under the account kOther. The saved uid stays root,
// with no effective capability while body runs, so that the child of a
// coverage build can write its counts afterwards.
int RunAsOther(const std::function<int()>& body) {
    return test::RunInChild([&] {
        if (setgroups(0, nullptr) != 0 || setresgid(kOther, kOther, 0) != 0 ||
            setresuid(kOther, kOther, 0) != 0)
            return 90;
        const int result = body();
        return setresuid(-1, 0, -1) == 0 ? result : 91;
    });
}

// A bound socket at path: no shared object opens it.
void PlantSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    close(fd);
}

void PlantFile(const std::string& path, mode_t mode, off_t size, uid_t owner = 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(fchmod(fd, mode) + ftruncate(fd, size) + fchown(fd, owner, owner), 0);
    close(fd);
}

class SharedMemory : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root, to plant objects of another account";
    }
    test::PerfSandbox sandbox_{"tqshm"};
};

// Every call on a block name, with each kind of thing planted there first.
// Expected: Probe, Open (of a page), Create (of a page), and a piece of the
// reason or description ("" for none).
TEST_F(SharedMemory, WhatLiesAtABlockName) {
    struct Row {
        const char* what;
        std::function<void(const std::string& path)> plant;
        BlockStatus probe, open, create;
        const char* text;
        bool removable;
    };
    using B = BlockStatus;
    const std::string elsewhere = sandbox_.dir.File("elsewhere");
    test::WriteFile(elsewhere, "untouched");
    const Row rows[] = {
        {"nothing", nullptr, B::kAbsent, B::kAbsent, B::kOk, "", false},
        {"own block", [](const std::string& p) { PlantFile(p, 0644, 4096); }, B::kOk, B::kOk,
         B::kOk, "belongs to uid 0 and has mode 0644", true},
        {"own block of mode 0600", [](const std::string& p) { PlantFile(p, 0600, 4096); }, B::kOk,
         B::kOk, B::kOk, "has mode 0600", true},
        {"own block cut short", [](const std::string& p) { PlantFile(p, 0644, 16); }, B::kOk,
         B::kFailed, B::kOk, "mode 0644", true},
        {"own block the group may write", [](const std::string& p) { PlantFile(p, 0664, 4096); },
         B::kRefused, B::kRefused, B::kRefused, "has mode 0664", true},
        {"another account's block", [](const std::string& p) { PlantFile(p, 0644, 4096, kOther); },
         B::kRefused, B::kRefused, B::kRefused, "belongs to uid 61002 and has mode 0644", false},
        {"directory", [](const std::string& p) { mkdir(p.c_str(), 0755); }, B::kRefused,
         B::kRefused, B::kFailed, "has mode 0755 (a directory)", false},
        {"symbolic link",
         [&](const std::string& p) { ASSERT_EQ(symlink(elsewhere.c_str(), p.c_str()), 0); },
         B::kRefused, B::kFailed, B::kRefused, "(a symbolic link)", false},
        {"socket", PlantSocket, B::kRefused, B::kFailed, B::kFailed, "(not a regular file)", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = SharedObjectPath("Block");
        ASSERT_EQ(path, "/dev/shm/" + sandbox_.shm + "Block.u0");
        if (row.plant != nullptr) row.plant(path);
        std::string why;
        EXPECT_EQ(ProbeSharedBlock("Block", &why), row.probe);
        EXPECT_NE((row.probe == B::kRefused ? why : DescribeSharedObject("Block")).find(row.text),
                  std::string::npos)
            << why;
        SharedBlock block;
        why.clear();
        EXPECT_EQ(OpenSharedBlock("Block", 4096, &block, &why), row.open);
        EXPECT_NE(why.find(row.open == B::kRefused ? row.text : ""), std::string::npos) << why;
        EXPECT_EQ(block.address != nullptr, row.open == B::kOk);
        EXPECT_TRUE(!block.writable && block.own == (row.open == B::kOk));
        CloseSharedBlock(&block);
        why.clear();
        EXPECT_EQ(CreateSharedBlock("Block", 4096, &block, &why), row.create);
        EXPECT_NE(why.find(row.create == B::kRefused ? row.text : ""), std::string::npos) << why;
        if (row.create == B::kOk) {
            EXPECT_TRUE(block.writable && block.own);
            EXPECT_EQ(block.existed, row.plant != nullptr);
            EXPECT_EQ(DescribeSharedObject("Block"), path + " belongs to uid 0 and has mode 0644");
            struct stat info {};
            EXPECT_TRUE(stat(path.c_str(), &info) == 0 && info.st_size == 4096);
        }
        CloseSharedBlock(&block);
        EXPECT_EQ(RemoveOwnSharedBlock("Block"), row.removable || row.create == B::kOk);
        std::filesystem::remove(path);
    }
    EXPECT_EQ(test::ReadFile(elsewhere), "untouched");

    // Another account's machine-wide block may be read, not written.
    const std::string global = SharedObjectPath("Global\\Block");
    ASSERT_EQ(global, "/dev/shm/" + sandbox_.shm + "Block");
    PlantFile(global, 0644, 4096, kOther);
    SharedBlock block;
    EXPECT_EQ(OpenSharedBlock("Global\\Block", 4096, &block, nullptr), B::kOk);
    EXPECT_FALSE(block.own);
    CloseSharedBlock(&block);
    EXPECT_EQ(CreateSharedBlock("Global\\Block", 4096, &block, nullptr), B::kRefused);
    EXPECT_EQ(ProbeSharedBlock("Global\\Block", nullptr), B::kRefused);
    EXPECT_FALSE(RemoveOwnSharedBlock("Global\\Block"));

    // Names: slashes become '_', a name too long for the system is no object.
    {
        test::ScopedEnv ns("TQ_SHM_NAMESPACE", "a/b.");
        EXPECT_EQ(SharedObjectName("Global\\x/y\\z"), "/a_b.x_y_z");
    }
    {
        test::ScopedEnv ns("TQ_SHM_NAMESPACE", nullptr);
        EXPECT_EQ(SharedObjectName(nullptr), "/.u0");
    }
    std::string why;
    EXPECT_EQ(ProbeSharedBlock(kLongName.c_str(), &why), B::kRefused);
    EXPECT_NE(why.find(std::strerror(ENAMETOOLONG)), std::string::npos) << why;
    EXPECT_EQ(OpenSharedBlock(kLongName.c_str(), 4096, &block, nullptr), B::kFailed);
    EXPECT_EQ(CreateSharedBlock(kLongName.c_str(), 4096, &block, nullptr), B::kFailed);
    EXPECT_EQ(DescribeSharedObject(kLongName.c_str()), "");
    EXPECT_FALSE(RemoveOwnSharedBlock(kLongName.c_str()));
    EXPECT_EQ(OpenSharedBlock("Block", 0, &block, nullptr), B::kFailed);
    EXPECT_EQ(CreateSharedBlock("Block", 0, &block, nullptr), B::kFailed);
}

// A writer and a reader of one block: the reader's copy follows on refresh
// until the block is cut short or removed under both.
TEST_F(SharedMemory, ReaderCopyAndWriterMappingOfOneBlock) {
    SharedBlock writer, reader;
    ASSERT_EQ(CreateSharedBlock("Block", 100, &writer, nullptr), BlockStatus::kOk);
    ASSERT_EQ(OpenSharedBlock("Block", 100, &reader, nullptr), BlockStatus::kOk);
    std::memcpy(writer.address, "fresh", 6);
    EXPECT_STRNE(static_cast<char*>(reader.address), "fresh");
    EXPECT_TRUE(RefreshSharedBlock(&reader) && RefreshSharedBlock(&writer));
    EXPECT_STREQ(static_cast<char*>(reader.address), "fresh");
    EXPECT_FALSE(SharedBlockRemoved(reader));

    ASSERT_EQ(ftruncate(writer.fd, 10), 0);
    EXPECT_FALSE(RefreshSharedBlock(&reader));
    EXPECT_FALSE(RefreshSharedBlock(&writer));
    EXPECT_TRUE(RemoveOwnSharedBlock("Block"));
    EXPECT_TRUE(SharedBlockRemoved(reader) && SharedBlockRemoved(writer));
    CloseSharedBlock(&reader);
    CloseSharedBlock(&writer);
    EXPECT_FALSE(RefreshSharedBlock(&reader));
    EXPECT_FALSE(SharedBlockRemoved(reader));

    // A block that cannot be given its size (a file-size limit): a new
    // object is removed again, an existing one stays.
    const int result = test::RunInChild([] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit room = limit;  // given back at the end, for the counts of a coverage build
        limit.rlim_cur = 4096;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
        SharedBlock block;
        const bool created =
            CreateSharedBlock("Block", 8192, &block, nullptr) == BlockStatus::kFailed &&
            DescribeSharedObject("Block").empty() &&
            CreateSharedBlock("Block", 100, &block, nullptr) == BlockStatus::kOk;
        CloseSharedBlock(&block);
        const bool kept =
            CreateSharedBlock("Block", 8192, &block, nullptr) == BlockStatus::kFailed &&
            !DescribeSharedObject("Block").empty();
        setrlimit(RLIMIT_FSIZE, &room);
        return created && kept && RemoveOwnSharedBlock("Block") ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
}

// The guard with each kind of thing planted at its directory or its file:
// Acquire's result and reason, and what Query sees.
TEST_F(SharedMemory, WhatLiesAtAGuardName) {
    using G = GuardResult;
    using H = GuardHolder;
    const std::string path = InstanceGuardPath("Guard");
    ASSERT_EQ(path, "/dev/shm/" + sandbox_.shm + "Guard.u0");
    const std::string lock = path + "/lock";
    const std::string target = sandbox_.dir.File("target");
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    auto directory = [&](mode_t mode, uid_t owner) {
        ASSERT_EQ(mkdir(path.c_str(), mode) + chmod(path.c_str(), mode) +
                      chown(path.c_str(), owner, owner),
                  0);
    };
    struct Row {
        const char* what;
        std::function<void()> plant;
        G acquired;
        const char* why;
        H::Kind seen;  // by Query before Acquire
        bool kept;     // by a removal that does not hold the guard
    };
    const Row rows[] = {
        {"nothing", [] {}, G::kAcquired, "", H::kNone, false},
        {"empty directory", [&] { directory(0700, 0); }, G::kAcquired, "", H::kNone, false},
        {"released guard", [&] { directory(0700, 0), test::WriteFile(lock, ""); }, G::kAcquired, "",
         H::kNone, false},
        {"symbolic link", [&] { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); }, G::kFailed,
         "(a symbolic link)", H::kUnknown, true},
        {"file", [&] { test::WriteFile(path, ""); }, G::kFailed, "has mode 0644", H::kUnknown,
         true},
        {"another account's directory", [&] { directory(0700, kOther); }, G::kFailed,
         "belongs to uid 61002 and has mode 0700 (a directory)", H::kUnknown, true},
        {"directory the group may write", [&] { directory(0770, 0); }, G::kFailed, "has mode 0770",
         H::kUnknown, true},
        {"directory as the lock", [&] { directory(0700, 0), mkdir(lock.c_str(), 0700); },
         G::kFailed, "lock belongs to uid 0 and has mode 0700 (a directory)", H::kNone, true},
        {"another account's lock",
         [&] {
             directory(0700, 0);
             PlantFile(lock, 0600, 0, kOther);
         },
         G::kFailed, "lock belongs to uid 61002", H::kNone, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.plant();
        EXPECT_EQ(QueryInstanceGuard("Guard").kind, row.seen);
        int handle = -1;
        std::string why;
        EXPECT_EQ(AcquireInstanceGuard("Guard", &handle, &why), row.acquired);
        EXPECT_NE(why.find(row.why), std::string::npos) << why;
        if (row.acquired == G::kAcquired) {
            const H holder = QueryInstanceGuard("Guard");
            EXPECT_EQ(holder.kind, H::kHeld);
            EXPECT_EQ(holder.pid, getpid());
            int again = -1;
            EXPECT_EQ(AcquireInstanceGuard("Guard", &again, nullptr), G::kHeldElsewhere);
            RemoveInstanceGuard("Guard", handle);
            EXPECT_FALSE(InstanceGuardExists("Guard"));
            EXPECT_EQ(QueryInstanceGuard("Guard").kind, H::kNone);
        } else {
            EXPECT_TRUE(InstanceGuardExists("Guard"));
            RemoveInstanceGuard("Guard", -1);
            EXPECT_EQ(InstanceGuardExists("Guard"), row.kept);
            std::filesystem::remove_all(path);
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(target));

    std::string why;
    int handle = -1;
    EXPECT_EQ(AcquireInstanceGuard(kLongName.c_str(), &handle, &why), G::kFailed);
    EXPECT_NE(why.find(std::strerror(ENAMETOOLONG)), std::string::npos) << why;
    EXPECT_EQ(ProbeSharedBlock(kLongName.c_str(), nullptr), BlockStatus::kRefused);
    EXPECT_EQ(QueryInstanceGuard(kLongName.c_str()).kind, H::kUnknown);

    // Without /proc the holder is unknown.
    ASSERT_EQ(AcquireInstanceGuard("Guard", &handle, nullptr), G::kAcquired);
    const int result = test::RunInChild([] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
            return 77;
        return QueryInstanceGuard("Guard").kind == H::kUnknown ? 0 : 1;
    });
    if (result == 77) GTEST_SKIP() << "no mount namespace of its own for a test without /proc";
    EXPECT_EQ(result, 0);
    RemoveInstanceGuard("Guard", handle);
    EXPECT_FALSE(InstanceGuardExists(kLongName.c_str()));
}

// Query reads the system's lock table: locks of other files, on other file
// systems, and processes waiting for a lock are not taken for the holder.
TEST_F(SharedMemory, QueryPassesOverOtherLocksAndWaiters) {
    const std::string other = sandbox_.dir.File("other");
    test::WriteFile(other, "");
    const int held = open(other.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    test::Pipe waiting;
    const pid_t waiter = test::StartChild([&] {
        close(held);  // the test's lock, not the child's
        const int fd = open(other.c_str(), O_RDONLY);
        waiting.Say();
        return flock(fd, LOCK_EX) == 0 ? 0 : 1;  // until the test lets go
    });
    ASSERT_EQ(waiting.Hear(), '.');
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (test::ReadFile("/proc/locks").find("-> FLOCK") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Beside the waiter: a lock on another file system of the same device
    // number, a record lock, and another guard.
    const int device = open("/dev/null", O_RDONLY);
    EXPECT_EQ(flock(device, LOCK_EX), 0);
    const std::string record = sandbox_.dir.File("record");
    const int recordFd = open(record.c_str(), O_RDWR | O_CREAT, 0600);
    struct flock range {};
    range.l_type = F_WRLCK;
    EXPECT_EQ(fcntl(recordFd, F_SETLK, &range), 0);
    int handle = -1, another = -1;
    ASSERT_EQ(AcquireInstanceGuard("Another", &another, nullptr), GuardResult::kAcquired);
    ASSERT_EQ(AcquireInstanceGuard("Guard", &handle, nullptr), GuardResult::kAcquired);
    ReleaseInstanceGuard(handle);
    EXPECT_EQ(QueryInstanceGuard("Guard").kind, GuardHolder::kNone);
    for (const int fd : {device, recordFd, another})
        close(fd);
    ASSERT_EQ(AcquireInstanceGuard("Guard", &handle, nullptr), GuardResult::kAcquired);
    EXPECT_EQ(QueryInstanceGuard("Guard").pid, getpid());
    close(held);
    EXPECT_EQ(test::WaitChild(waiter), 0);
    RemoveInstanceGuard("Guard", handle);

    // A guard directory that the account may read but not search: its lock
    // file cannot be looked at, so the holder is unknown.
    const int result = RunAsOther([] {
        int guard = -1;
        if (AcquireInstanceGuard("Guard", &guard, nullptr) != GuardResult::kAcquired) return 2;
        ReleaseInstanceGuard(guard);
        if (chmod(InstanceGuardPath("Guard").c_str(), 0600) != 0) return 3;
        return QueryInstanceGuard("Guard").kind == GuardHolder::kUnknown ? 0 : 4;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace tq::platform
