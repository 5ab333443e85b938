// Processes that die, race each other or meet a hostile file system while they
// use the performance block and the registry store.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/registry_store.h"
#include "platform/shared_memory.h"
#include "statistics/prfdata_items.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;
using tq::platform::RegistryType;
using tq::test::StartChild;
using tq::test::WaitChild;

constexpr uint32_t kBlockSize = 1128;    // the statistics object as collected
constexpr uint32_t kCounterBlock = 944;  // where its counter block starts
constexpr char kBlockName[] = "Global\\Tessaloquin_Performance";
const bool kUnderValgrind = std::getenv("TQ_UNDER_VALGRIND") != nullptr;

uint32_t Load32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// A T in memory that forked children share with the test (kept to the end).
template <class T>
T* MakeShared() {
    void* at = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    return new (at) T();
}

// The temporary files that a writer left in a directory tree.
std::vector<std::string> TempFiles(const std::string& root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().rfind("\x02tmp-", 0) == 0) found.push_back(it->path());
    }
    return found;
}

// How a collected object differs from the provider's layout, or "". Counter
// values are free, but the upper half of each 32-bit counter's slot is zero. A
// definition: size, name and help indexes, scale, detail level (+24), counter
// type (+28), size, offset.
std::string LayoutDifference(const unsigned char* object, const KvPerfExtension& in) {
    std::vector<std::pair<uint32_t, uint32_t>> want;  // (offset, value)
    const uint32_t first = in.firstCounter, help = in.firstHelp, novice = PERF_DETAIL_NOVICE;
    const uint32_t header[16] = {kBlockSize, kCounterBlock, 64, first, 0,  help,
                                 0,          novice,        22, 3,     ~0u};
    for (uint32_t i = 0; i < 16; ++i)
        want.emplace_back(4 * i, header[i]);
    for (uint32_t c = 0; c < 22; ++c) {
        const PRFITM& item = tq::g_statisticsItems[1 + c];
        const uint32_t name = first + 2 + 2 * c, text = help + 2 + 2 * c;
        const uint32_t scale = static_cast<uint32_t>(item.DefaultScale);
        const uint32_t definition[10] = {
            40, name, 0, text, 0, scale, item.dwDetailLevel, item.dwCounterType, 8, 8 + 8 * c};
        for (uint32_t i = 0; i < 10; ++i)
            want.emplace_back(64 + 40 * c + 4 * i, definition[i]);
        want.emplace_back(kCounterBlock + 12 + 8 * c, 0);
    }
    want.emplace_back(kCounterBlock, 184);
    want.emplace_back(kCounterBlock + 4, 0);
    for (const auto& [offset, value] : want) {
        if (Load32(object + offset) != value)
            return "offset " + std::to_string(offset) + " holds " +
                   std::to_string(Load32(object + offset)) + ", not " + std::to_string(value);
    }
    return "";
}

// One collection of everything: "" when it was sound (data or none), else what
// was wrong. *commits receives counter 102 when there was data, else -1.
std::string CollectOnce(const KvPerfExtension& installed, int64_t* commits) {
    std::vector<unsigned char> buffer(2 * kBlockSize, 0xEE);
    char16_t global[] = u"Global";
    void* data = buffer.data();
    uint32_t bytes = static_cast<uint32_t>(buffer.size()), objects = 77;
    const uint32_t rc = PrfData_Collect(global, &data, &bytes, &objects);
    const auto advanced = static_cast<unsigned char*>(data) - buffer.data();
    *commits = -1;
    if (rc != 0 || advanced != bytes || objects != (bytes != 0 ? 1u : 0u) ||
        (bytes != 0 && bytes != kBlockSize) || buffer[kBlockSize] != 0xEE) {
        return "result " + std::to_string(rc) + ", bytes " + std::to_string(bytes) + ", objects " +
               std::to_string(objects) + ", advanced " + std::to_string(advanced);
    }
    if (bytes == 0) return "";
    *commits = Load32(buffer.data() + kCounterBlock + 8 + 8);
    return LayoutDifference(buffer.data(), installed);
}

class ProcessFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterStatistics(), 0);
        ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &installed_), 0);
    }
    tq::test::ScopedEnv RoundNamespace(int round) const {
        return {"TQ_SHM_NAMESPACE", (sandbox_.shm + "r" + std::to_string(round) + ".").c_str()};
    }

    tq::test::PerfSandbox sandbox_{"tqfault"};
    KvPerfExtension installed_{};
};

struct KillRound {
    std::atomic<int> stage{0};  // provider: 0 forked, 1 activating, 2 counting, 3 refused
    std::atomic<int> successorActive{0}, stop{0};
};

// Collects without pause, checks every collection, and says 'm' once it has
// seen the successor's counters move ('x' on a fault).
int Monitor(KillRound* round, tq::test::Pipe* moving, const KvPerfExtension& installed) {
    if (PrfData::Instance()->IsActive()) return moving->Say('x'), 2;
    int64_t first = -1;
    for (bool said = false; round->stop.load() == 0;) {
        PrfData_Open(nullptr);
        const bool successor = round->successorActive.load() != 0;
        int64_t commits = -1;
        const std::string fault = CollectOnce(installed, &commits);
        if (!fault.empty()) {
            std::fprintf(stderr, "provider stage %d: %s\n", round->stage.load(), fault.c_str());
            moving->Say('x');
            return 1;
        }
        if (commits < 0 || !successor || said) continue;
        if (first < 0) first = commits;
        if (commits != first) moving->Say('m'), said = true;
    }
    return 0;
}

[[noreturn]] void CountForever() {
    for (;;) {
        Statistics()->IncCommits();
        Statistics()->AddLocks(1);
    }
}

int g_killStep = -1;

// A provider killed at a random point of its life while a monitor collects; a
// new provider must take over and the monitor must see its counters move.
TEST_F(ProcessFaults, KilledProviderUnderACollectingMonitor) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    for (int r = 0; r < (kUnderValgrind ? 4 : 24) && !HasFailure(); ++r) {
        SCOPED_TRACE("round " + std::to_string(r));
        tq::test::ScopedEnv roundShm = RoundNamespace(r);
        KillRound* round = MakeShared<KillRound>();
        tq::test::Pipe moving, started, active;
        const pid_t monitor = StartChild([&] { return Monitor(round, &moving, installed_); });

        // Mode 0: killed at once; 1-4: within microseconds of the block's
        // appearance; 5-7: the provider ends itself at a random step of its
        // activation (the role taken, the block mapped, each field laid out).
        const unsigned mode = random() % 8;
        const int killStep = mode >= 5 ? static_cast<int>(random() % 190) : -1;
        const pid_t first = StartChild([&]() -> int {
            g_killStep = killStep;
            if (killStep >= 0) {
                tq::g_providerStepHook = [](int step) {
                    if (step == g_killStep) raise(SIGKILL);
                };
            }
            round->stage = 1;
            started.Say();
            Statistics()->Enable();
            round->stage = Statistics()->IsEnabled() ? 2 : 3;
            if (killStep >= 0) raise(SIGKILL);  // a step past the layout
            CountForever();
        });
        if (mode >= 1 && mode < 5) {
            ASSERT_EQ(started.Hear(), '.');
            const std::string posix = tq::platform::SharedObjectName(kBlockName);
            for (int fd = -1; fd < 0 && round->stage.load() == 1;) {
                fd = shm_open(posix.c_str(), O_RDONLY, 0);
                if (fd >= 0) close(fd);
            }
            volatile unsigned spin = random() % 10000;
            while (spin != 0)
                spin = spin - 1;
        }
        if (mode < 5) kill(first, SIGKILL);
        ASSERT_EQ(WaitChild(first), 128 + SIGKILL);
        ASSERT_NE(round->stage.load(), 3) << "the first provider was refused";

        const pid_t successor = StartChild([&]() -> int {
            Statistics()->Enable();
            active.Say(Statistics()->IsEnabled() ? 'a' : 'r');
            CountForever();
        });
        EXPECT_EQ(active.Hear(), 'a') << "the successor did not take over";
        round->successorActive = 1;
        EXPECT_EQ(moving.Hear(), 'm');
        round->stop = 1;
        kill(successor, SIGKILL);
        EXPECT_EQ(WaitChild(successor), 128 + SIGKILL);
        EXPECT_EQ(WaitChild(monitor), 0);
        munmap(round, sizeof *round);
    }
    std::printf("[ seed     ] %u\n", seed);
}

// A provider killed while it set the block up leaves an empty object or a
// layout cut anywhere: a monitor hands out the whole layout or nothing, and a
// new provider lays the block out again.
TEST_F(ProcessFaults, HalfLaidOutBlockIsNeverHandedOut) {
    // Killed between creating the object and giving it its size.
    const std::string posix = tq::platform::SharedObjectName(kBlockName);
    const int fd = shm_open(posix.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    std::vector<PRFITM> items[3];  // each PrfData keeps its own table
    std::fill(
        std::begin(items), std::end(items),
        std::vector<PRFITM>(std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems)));
    PrfData early(u"Tessaloquin", items[0].data());
    EXPECT_EQ(early.Activate(0), -1);
    auto provider = std::make_unique<PrfData>(u"Tessaloquin", items[1].data());
    ASSERT_EQ(provider->Activate(1), 0);
    PrfData monitor(u"Tessaloquin", items[2].data());
    ASSERT_EQ(monitor.Activate(0), 0);
    auto* block = const_cast<unsigned char*>(provider->Block());
    const std::vector<unsigned char> layout(block, block + kBlockSize);

    std::vector<unsigned char> buffer(kBlockSize);
    auto collect = [&](const std::string& what) {  // the bytes collected
        SCOPED_TRACE(what);
        void* data = buffer.data();
        uint32_t bytes = kBlockSize, objects = 0;
        EXPECT_EQ(monitor.Collect(u"Global", &data, &bytes, &objects), 0u);
        EXPECT_EQ(static_cast<unsigned char*>(data) - buffer.data(), bytes);
        EXPECT_EQ(objects, bytes != 0 ? 1u : 0u);
        EXPECT_EQ(bytes != 0 ? LayoutDifference(buffer.data(), installed_) : "", "");
        return bytes;
    };
    for (uint32_t cut = 0; cut <= kBlockSize && !HasFailure(); cut += 4) {
        std::memset(block, 0, kBlockSize);
        std::memcpy(block, layout.data(), cut);
        collect("first " + std::to_string(cut) + " bytes laid out");
        std::memset(block, 0, kBlockSize);
        std::memcpy(block + cut, layout.data() + cut, kBlockSize - cut);
        collect("from byte " + std::to_string(cut) + " laid out");
    }
    // Died right after giving the block its size; a new provider lays it out.
    std::memset(block, 0, kBlockSize);
    provider.reset();
    EXPECT_EQ(collect("nothing laid out"), 0u);
    EXPECT_EQ(tq::test::RunInChild([] {
                  Statistics()->Enable();
                  return Statistics()->IsEnabled() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(collect("laid out again"), kBlockSize);
}

// Providers released at once: exactly one takes the role, the others get 3,
// and the winner's block is sound for a monitor.
TEST_F(ProcessFaults, ProvidersStartedAtOnce) {
    constexpr int kProviders = 4;
    for (int r = 0; r < (kUnderValgrind ? 3 : 10) && !HasFailure(); ++r) {
        SCOPED_TRACE("round " + std::to_string(r));
        tq::test::ScopedEnv roundShm = RoundNamespace(r);
        tq::test::Pipe go, results, done;
        // No parent heap block may be half-built at a fork (valgrind: lost).
        pid_t providers[kProviders] = {};
        for (pid_t& provider : providers) {
            provider = StartChild([&] {
                go.Wait();
                results.Say(static_cast<char>('1' + PrfData::Instance()->Activate(1)));
                done.Wait();
                return 0;
            });
        }
        go.Release();
        std::string heard;
        for (int p = 0; p < kProviders; ++p)
            heard += results.Hear();
        std::sort(heard.begin(), heard.end());
        EXPECT_EQ(heard, "1444");  // Activate's 0 once, 3 for the others
        int64_t commits = 0;
        EXPECT_EQ(tq::test::RunInChild([&] {
                      PrfData_Open(nullptr);
                      return CollectOnce(installed_, &commits) == "" && commits == 0 ? 0 : 1;
                  }),
                  0);
        done.Release();
        for (pid_t provider : providers)
            EXPECT_EQ(WaitChild(provider), 0);
    }
}

// Two unprivileged accounts, the server's and another one, attack each other's
// shared objects: forked children of a root test run under numeric uids.
class AccountBoundaries : public ProcessFaults {
protected:
    static constexpr uid_t kServer = 61001, kOther = 61002;

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root, to run processes under two other accounts";
        ProcessFaults::SetUp();
        // The accounts read the registry store and append to the event log.
        chmod(sandbox_.dir.path().c_str(), 0755);
        tq::test::WriteFile(events_, "");
        chmod(events_.c_str(), 0666);
    }
    // Runs body in a child under account uid. The saved uid stays root, with
    // no effective capability while body runs, so that the child of a coverage
    // build can write its counts afterwards.
    static pid_t As(uid_t uid, const std::function<int()>& body) {
        return StartChild([&] {
            if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, 0) != 0 ||
                setresuid(uid, uid, 0) != 0 || prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
                return 90;
            const int result = body();
            return setresuid(-1, 0, -1) == 0 ? result : 91;
        });
    }
    static int RunAs(uid_t uid, const std::function<int()>& body) {
        return WaitChild(As(uid, body));
    }
    // A server of kServer that enables the counters, says 'e' (published) or
    // 'l' (local only) and counts until it is killed.
    pid_t StartServer(tq::test::Pipe* enabled) const {
        return As(kServer, [enabled]() -> int {
            Statistics()->Enable();
            enabled->Say(Statistics()->IsEnabled() ? 'e' : 'l');
            CountForever();
        });
    }
    // A monitor of kServer: 0 when it sees the commits rise.
    int MonitorSeesCommitsRise() const {
        return RunAs(kServer, [&] {
            PrfData_Open(nullptr);
            int64_t first = -1, later = -1;
            if (CollectOnce(installed_, &first) != "" || first < 0) return 1;
            for (int i = 0; i < 500 && later <= first; ++i) {
                usleep(2000);
                if (CollectOnce(installed_, &later) != "") return 2;
            }
            return later > first ? 0 : 3;
        });
    }
    // Kills a server that must still be alive (not ended by a fault).
    static void Stop(pid_t server) {
        kill(server, SIGKILL);
        EXPECT_EQ(WaitChild(server), 128 + SIGKILL);
    }

    const std::string events_ = sandbox_.dir.File("events");
};

// Adopt-a-block: another account creates the machine-wide block first, open to
// every account's writes or only to its own. The server never writes into it:
// it names it in the log and publishes under its account's name; cutting the
// squatted block short harms nobody, and the server's monitor sees its commits.
TEST_F(AccountBoundaries, AnotherAccountsBlockIsNeverAdopted) {
    for (const mode_t mode : {0666, 0644}) {
        SCOPED_TRACE("squatted with mode " + std::to_string(mode));
        tq::test::ScopedEnv roundShm = RoundNamespace(static_cast<int>(mode));
        const std::string posix = tq::platform::SharedObjectName(kBlockName);
        ASSERT_EQ(
            RunAs(kOther,
                  [&] {
                      const int fd = shm_open(posix.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
                      return fd >= 0 && fchmod(fd, mode) == 0 && ftruncate(fd, kBlockSize) == 0 ? 0
                                                                                                : 1;
                  }),
            0);
        tq::test::Pipe enabled;
        const pid_t server = StartServer(&enabled);
        EXPECT_EQ(enabled.Hear(), 'e');
        // The squatter cuts its block short and goes for the server's own.
        EXPECT_EQ(RunAs(kOther,
                        [&] {
                            const int fd = shm_open(posix.c_str(), O_RDWR, 0);
                            if (fd < 0 || ftruncate(fd, 0) != 0) return 1;
                            const std::string theirs =
                                std::string("/") + std::getenv("TQ_SHM_NAMESPACE") +
                                "Tessaloquin_Performance.u" + std::to_string(kServer);
                            return shm_open(theirs.c_str(), O_RDWR, 0) < 0 && errno == EACCES ? 0
                                                                                              : 2;
                        }),
                  0);
        EXPECT_EQ(MonitorSeesCommitsRise(), 0);
        Stop(server);
        char named[96];
        std::snprintf(named, sizeof named, "belongs to uid %u and has mode %04o, so it is not used",
                      static_cast<unsigned>(kOther), static_cast<unsigned>(mode));
        EXPECT_NE(tq::test::ReadFile(events_).find(named), std::string::npos) << named;
    }
}

// A block cut short and grown again without pause under a monitor of another
// account: every collection is whole or empty, and the monitor never faults.
TEST_F(AccountBoundaries, BlockCutShortUnderAMonitor) {
    tq::test::Pipe laidOut;
    const pid_t owner = As(kOther, [&] {
        if (PrfData::Instance()->Activate(1) != 0) return 1;
        const int fd = shm_open(tq::platform::SharedObjectName(kBlockName).c_str(), O_RDWR, 0);
        laidOut.Say();
        while (ftruncate(fd, 0) == 0 && ftruncate(fd, kBlockSize) == 0) {
        }
        return 2;
    });
    ASSERT_EQ(laidOut.Hear(), '.');
    EXPECT_EQ(RunAs(kServer,
                    [&] {
                        PrfData_Open(nullptr);
                        int64_t commits = 0;
                        for (int i = 0; i < (kUnderValgrind ? 500 : 20000); ++i) {
                            if (CollectOnce(installed_, &commits) != "") return 1;
                        }
                        return 0;
                    }),
              0);
    Stop(owner);
}

// Block-the-guard: another account holds a lock where the guard used to be, and
// plants a link where it is now. The link is refused without following it (no
// file appears at its target), named in the log, and the server keeps running
// with local counters; once the link is gone, the server provides the counters
// although the other account still holds its lock, and that account can
// neither open nor take the server's guard.
TEST_F(AccountBoundaries, AnotherAccountCannotHoldOrRedirectTheGuard) {
    const std::string guard =
        "/dev/shm/" + sandbox_.shm + "Tessaloquin_mt.u" + std::to_string(kServer);
    const std::string target = sandbox_.dir.File("target");
    ASSERT_EQ(mkdir(target.c_str(), 0777), 0);
    tq::test::Pipe holding, release;
    const pid_t holder = As(kOther, [&] {
        const int fd = open((guard + ".lock").c_str(), O_RDONLY | O_CREAT, 0644);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
            symlink(target.c_str(), guard.c_str()) != 0)
            return 1;
        holding.Say();
        release.Wait();
        return 0;
    });
    ASSERT_EQ(holding.Hear(), '.');

    EXPECT_EQ(RunAs(kServer,
                    [] {
                        Statistics()->Enable();
                        Statistics()->IncCommits();
                        return !Statistics()->IsEnabled() && Statistics()->Value(102) == 1 ? 0 : 1;
                    }),
              0);
    EXPECT_TRUE(fs::is_empty(target));
    EXPECT_NE(tq::test::ReadFile(events_).find(guard + " belongs to uid " + std::to_string(kOther)),
              std::string::npos);

    ASSERT_EQ(unlink(guard.c_str()), 0);
    tq::test::Pipe enabled;
    const pid_t server = StartServer(&enabled);
    EXPECT_EQ(enabled.Hear(), 'e');
    EXPECT_EQ(MonitorSeesCommitsRise(), 0);
    EXPECT_EQ(RunAs(kOther,
                    [&] {
                        return open((guard + "/lock").c_str(), O_RDONLY) < 0 && errno == EACCES &&
                                       mkdir(guard.c_str(), 0777) != 0
                                   ? 0
                                   : 1;
                    }),
              0);
    Stop(server);
    release.Release();
    EXPECT_EQ(WaitChild(holder), 0);
}

// Writer w's value at step i, tagged with both so that a reader can tell a whole
// value from a torn one: strings of 1 to 3000 bytes, plain from writer 0
// (through the exported function), expandable from writer 1 (through the
// store). Given a read, the value that its tag names.
struct Written {
    RegistryType type;
    std::string bytes;
    bool operator==(const Written&) const = default;
};

Written WrittenValue(int writer, int step, const Written* read = nullptr) {
    if (read != nullptr) {
        writer = read->bytes.rfind('B', 0) == 0 ? 1 : 0;
        step = std::atoi(read->bytes.c_str() + std::min<size_t>(read->bytes.size(), 1));
        if (step < 0 || step >= 1000) return {};
    }
    std::string text = (writer == 0 ? "A" : "B") + std::to_string(step) + ":";
    for (size_t i = text.size(); i < 1 + static_cast<size_t>(step * 37 % 3000); ++i)
        text += static_cast<char>('a' + (static_cast<size_t>(step) + i) % 26);
    return {writer == 0 ? RegistryType::kString : RegistryType::kExpandString, text};
}

RegistryStatus ReadValue(const std::string& keyPath, Written* read) {
    RegistryKey key;
    std::string buffer(4096, '\0');
    uint32_t size = static_cast<uint32_t>(buffer.size());
    RegistryStatus status = RegistryStore::OpenKey(keyPath, &key);
    if (status == RegistryStatus::kOk)
        status = RegistryStore::QueryValue(key, "value", &read->type, buffer.data(), &size);
    read->bytes.assign(buffer.data(), status == RegistryStatus::kOk ? size : 0);
    return status;
}

// Two processes write one value a thousand times each while a third reads it
// without pause: every read gives one whole written value, or "not found"
// before the first write.
TEST(RegistryFaults, TwoWritersAndAReaderOfOneValue) {
    const int steps = kUnderValgrind ? 250 : 1000;
    tq::test::ScopedEnv memory("TMPDIR", "/dev/shm");  // the writers sync every value
    tq::test::TempDir dir;
    const std::string root = dir.File("registry");
    tq::test::ScopedEnv env("TQ_REGISTRY_ROOT", root.c_str());
    const char* path[] = {"race", "value", nullptr};
    const std::string keyPath = std::string(KV_PRODUCT_REGISTRY_KEY) + "\\race";

    auto* writing = MakeShared<std::atomic<int>>();
    *writing = 2;
    tq::test::Pipe go;
    auto writer = [&](int w) {
        return StartChild([&, w] {
            go.Wait();
            for (int step = 0; step < steps; ++step) {
                Written value = WrittenValue(w, step);
                RegistryKey key;
                int size = 1;
                const bool written =
                    w == 0
                        ? KvSetRegistryEntry(path, value.bytes.data(), size) == 0
                        : RegistryStore::CreateKey(keyPath, &key) == RegistryStatus::kOk &&
                              RegistryStore::SetValue(key, "value", value.type, value.bytes.data(),
                                                      static_cast<uint32_t>(value.bytes.size())) ==
                                  RegistryStatus::kOk;
                if (!written) return 10 + w;
            }
            --*writing;
            return 0;
        });
    };
    const pid_t writers[2] = {writer(0), writer(1)};
    const pid_t reader = StartChild([&] {
        go.Wait();
        bool seen = false;
        for (bool last = false; !last;) {  // one more read after both writers are done
            last = writing->load() == 0;
            Written read{};
            const RegistryStatus status = ReadValue(keyPath, &read);
            if (status == RegistryStatus::kNotFound && !seen) continue;
            if (status != RegistryStatus::kOk) return 20;
            seen = true;
            if (!(read == WrittenValue(0, 0, &read))) return 21;  // torn or never written
        }
        return 0;
    });
    go.Release();
    for (pid_t child : {writers[0], writers[1], reader})
        EXPECT_EQ(WaitChild(child), 0);
    Written last{};
    ASSERT_EQ(ReadValue(keyPath, &last), RegistryStatus::kOk);
    EXPECT_TRUE(last == WrittenValue(0, steps - 1) || last == WrittenValue(1, steps - 1));
    EXPECT_EQ(TempFiles(root), std::vector<std::string>{});
    munmap(writing, sizeof *writing);
}

// Gives up the capabilities that let root write where permissions forbid it.
bool DropFileCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        const uint32_t bit = 1u << (capability % 32);
        data[capability / 32].effective &= ~bit;
        data[capability / 32].permitted &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}

std::string Get(const char** path) {
    char buffer[64];
    int size = sizeof buffer;
    const int result = KvGetRegistryEntry(path, buffer, size);
    return result == 0 ? std::string(buffer, static_cast<size_t>(size))
                       : "<" + std::to_string(result) + ">";
}

int Set(const char** path, std::string value) {
    int size = 1;
    return KvSetRegistryEntry(path, value.data(), size);
}

// The children below exit with the number of the first check that failed.
class RegistryRootFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Set(kept_, "intact"), 0); }
    void TearDown() override { EXPECT_EQ(TempFiles(root_), std::vector<std::string>{}); }

    tq::test::TempDir dir_;
    std::string root_ = dir_.File("registry");
    tq::test::ScopedEnv env_{"TQ_REGISTRY_ROOT", root_.c_str()};
    std::string keys_ = std::string(KV_PRODUCT_REGISTRY_KEY) + "\\keys";
    const char* kept_[3] = {"keys", "kept", nullptr};
    const char* fresh_[3] = {"keys", "fresh", nullptr};
    const char* newKey_[4] = {"keys", "new", "value", nullptr};
};

// Read-only: every write and delete is refused and what was there stays whole.
// Runs in a child without the capabilities that let root ignore permissions.
TEST_F(RegistryRootFaults, ReadOnlyRoot) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        chmod(it->path().c_str(), it->is_directory() ? 0555 : 0444);
    }
    chmod(root_.c_str(), 0555);
    const int result = tq::test::RunInChild([&] {
        if (!DropFileCapabilities()) return 77;
        const int fd = open((root_ + "/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) return 77;  // the file system ignores permissions
        if (Set(kept_, "changed") != -1 || Set(fresh_, "new") != -1 || Set(newKey_, "new") != -1 ||
            KvDeleteRegistryEntry(kept_) != -1)
            return 1;
        if (Get(kept_) != "intact" || Get(fresh_) != "<-1>") return 2;
        return RegistryStore::DeleteKey(keys_) == RegistryStatus::kAccessDenied ? 0 : 3;
    });
    if (result == 77) GTEST_SKIP() << "permissions do not stop this process from writing";
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fs::exists(root_ + "/SOFTWARE/Wow6432Node/Quelmar/Tessaloquin/keys/new"));
}

// Full: a file-size limit makes writes fail as on a full disk. A write that does
// not fit gives -1 and leaves the old value and no temporary file; once there
// is room again the write succeeds.
TEST_F(RegistryRootFaults, FullRoot) {
    const int result = tq::test::RunInChild([&] {
        constexpr rlim_t kLimit = 4096;
        signal(SIGXFSZ, SIG_IGN);  // a failed write instead of a killed process
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit room = limit;
        limit.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
        const std::string fits(kLimit - 8, 'f'), large(kLimit - 7, 'l');
        if (Set(kept_, large) != -1 || Get(kept_) != "intact" || Set(fresh_, large) != -1 ||
            Get(fresh_) != "<-1>" || Set(newKey_, large) != -1 || Get(newKey_) != "<-1>")
            return 2;
        if (!TempFiles(root_).empty()) return 4;
        if (Set(kept_, fits) != 0) return 5;
        setrlimit(RLIMIT_FSIZE, &room);
        char buffer[kLimit];
        int size = sizeof buffer;
        if (Set(kept_, large) != 0 || KvGetRegistryEntry(kept_, buffer, size) != 0 ||
            std::string(buffer, static_cast<size_t>(size)) != large)
            return 6;
        return 0;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
