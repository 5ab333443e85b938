// The small services of the platform layer that the families' suites reach
// only through stand-ins: the system clock, the debugger output and breaks,
// and the dynamic loader's edge cases.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "kvmemory.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/debugger.h"
#include "platform/dynamic_library.h"
#include "platform/fatal.h"
#include "platform/host_name.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace tq::platform {
namespace {

int64_t Ticks(const timespec& t) {
    return int64_t{t.tv_sec} * 10'000'000 + t.tv_nsec / 100;
}

TEST(PlatformTest, SystemClockSourceReadsTheSystemClocks) {
    const ClockSource* previous = SetClockSource(nullptr);  // null selects the system's
    timespec before{}, after{}, realBefore{}, realAfter{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    clock_gettime(CLOCK_REALTIME, &realBefore);
    const uint32_t tick = TickCount();
    const int64_t counter = HiResCounter();
    RealTime now{};
    const bool read = RealTimeNow(&now);
    clock_gettime(CLOCK_MONOTONIC, &after);
    clock_gettime(CLOCK_REALTIME, &realAfter);
    SetClockSource(previous);

    EXPECT_EQ(HiResFrequency(), 10'000'000u);
    EXPECT_LE(Ticks(before), counter);
    EXPECT_LE(counter, Ticks(after));
    // Milliseconds of the monotonic clock, wrapping at 32 bits.
    const auto ms = [](const timespec& t) {
        return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u +
                                     static_cast<uint64_t>(t.tv_nsec) / 1'000'000u);
    };
    EXPECT_LE(tick - ms(before), ms(after) - ms(before));
    ASSERT_TRUE(read);
    EXPECT_LE(Ticks(realBefore), Ticks({now.seconds, now.nanoseconds}));
    EXPECT_LE(Ticks({now.seconds, now.nanoseconds}), Ticks(realAfter));

    CalendarTime fields{};
    int32_t east = 0;
    EXPECT_FALSE(RealTimeNow(nullptr));
    EXPECT_FALSE(SplitLocalTime(0, nullptr, &east));
    EXPECT_FALSE(SplitLocalTime(0, &fields, nullptr));
    EXPECT_FALSE(SplitUtcTime(0, nullptr));
}

TEST(PlatformTest, DebugOutputGoesWhereTheVariableSays) {
    test::TempDir dir;
    const std::string err = dir.File("stderr"), file = dir.File("debug.txt");
    EXPECT_EQ(test::RunInChild([&] {
                  // stderr back before the child ends: a coverage build writes there too
                  const int saved = dup(2);
                  const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                  if (fd < 0 || dup2(fd, 2) != 2) return 1;
                  SetDebugOutputSink(nullptr);
                  const struct {
                      const char* target;  // null: unset
                      const char* text;
                  } cases[] = {{nullptr, "unset "},   {"", "empty "},
                               {"stderr", "err "},    {file.c_str(), "one "},
                               {file.c_str(), "two"}, {"/nonexistent/dir/x", "lost"}};
                  for (const auto& c : cases) {
                      if (c.target != nullptr)
                          setenv("TQ_DEBUG_OUTPUT", c.target, 1);
                      else
                          unsetenv("TQ_DEBUG_OUTPUT");
                      DebugOutput(c.text);
                  }
                  DebugOutput(nullptr);
                  return dup2(saved, 2) == 2 ? 0 : 2;
              }),
              0);
    EXPECT_EQ(test::ReadFile(err), "err ");
    EXPECT_EQ(test::ReadFile(file), "one two");
}

// A break raises SIGTRAP only under a debugger (here: the test as tracer).
TEST(PlatformTest, DebugBreakTrapsOnlyUnderADebugger) {
    const pid_t child = test::StartChild([] {
        SetDebugBreakHandler(nullptr);
        if (DebuggerAttached()) return 1;
        DebugBreak();  // no debugger: nothing happens
        // Without a descriptor left to read the status, no debugger is seen.
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const int lowest = dup(2);
        close(lowest);
        const rlimit lowered{static_cast<rlim_t>(lowest), limit.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &lowered) != 0 || DebuggerAttached()) return 2;
        setrlimit(RLIMIT_NOFILE, &limit);
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) return 77;
        if (!DebuggerAttached()) return 3;
        DebugBreak();
        return 0;
    });
    // The tracer sees the trap, lets the child go on without the signal.
    int traps = 0, status = 0, result = -1;
    for (int polls = 0; polls < 3000 * test::TimeScale(); ++polls) {
        const pid_t got = waitpid(child, &status, WNOHANG);
        if (got == child && WIFSTOPPED(status)) {
            traps += WSTOPSIG(status) == SIGTRAP;
            ptrace(PTRACE_CONT, child, nullptr, nullptr);
            continue;
        }
        if (got == child) {
            result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        usleep(10'000);
    }
    if (result < 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    if (result == 77) GTEST_SKIP() << "ptrace is not permitted here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(traps, 1);
}

TEST(PlatformTest, HostNameIsCutToTheBuffer) {
    char full[256] = {}, cut[2] = "x";
    ASSERT_EQ(gethostname(full, sizeof full - 1), 0);
    char name[256];
    EXPECT_TRUE(HostName(name, sizeof name));
    EXPECT_STREQ(name, full);
    EXPECT_EQ(HostName(cut, sizeof cut), std::strlen(full) < sizeof cut);
    EXPECT_EQ(std::string(cut), std::string(full).substr(0, 1));
    EXPECT_FALSE(HostName(nullptr, 5));
    EXPECT_FALSE(HostName(cut, 0));
}

TEST(PlatformTest, FatalExceptionWithoutText) {
    try {
        RaiseFatalException(7, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const KvFatalException& e) {
        EXPECT_STREQ(e.what(), "");
    }
}

TEST(PlatformTest, DynamicLibraryEdgeCases) {
    test::TempDir dir;
    EXPECT_EQ(LoadLibrary(nullptr), nullptr);
    EXPECT_EQ(LibrarySymbol(nullptr, "x"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(LibraryPath(nullptr), "");

    // A file that is no library: its error has no system text.
    test::WriteFile(dir.File("text.so"), "not a library\n");
    EXPECT_EQ(LoadLibrary(dir.File("text.so").c_str()), nullptr);
    EXPECT_EQ(LastLibraryErrorCode(), ENOEXEC);
    EXPECT_NE(LastLibraryError().find("text.so"), std::string::npos);

    // A library whose file is gone keeps the path it was loaded from.
    const std::string copy = dir.File("copy.so");
    std::filesystem::copy_file(TQ_TEST_PLAIN_MODULE, copy);
    void* library = LoadLibrary(copy.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(LibrarySymbol(library, nullptr), nullptr);
    EXPECT_EQ(LibraryPath(library), copy);
    std::filesystem::remove(copy);
    EXPECT_EQ(LibraryPath(library), copy);
    EXPECT_TRUE(FreeLibrary(library));

    // The search path: empty entries and directories of the name are passed over.
    std::filesystem::create_directories(dir.File("a/lib.so"));
    std::filesystem::create_directories(dir.File("b"));
    test::WriteFile(dir.File("b/lib.so"), "");
    const std::string list = "::" + dir.File("a") + ":" + dir.File("b") + "/:";
    test::ScopedEnv path("TQ_TEST_SEARCH", list.c_str());
    EXPECT_EQ(FindInSearchPath("lib.so", "TQ_TEST_SEARCH"), dir.File("b/lib.so"));
    EXPECT_EQ(FindInSearchPath("none.so", "TQ_TEST_SEARCH"), "");
    EXPECT_EQ(FindInSearchPath("lib.so", "TQ_TEST_UNSET_VARIABLE"), "");
    EXPECT_EQ(FindInSearchPath("", "TQ_TEST_SEARCH"), "");
    EXPECT_EQ(FindInSearchPath(nullptr, "TQ_TEST_SEARCH"), "");
    EXPECT_EQ(FindInSearchPath("lib.so", nullptr), "");
}

}  // namespace
}  // namespace tq::platform
