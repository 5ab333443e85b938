// Processes that die, race each other or meet a hostile file system while they
// use the performance block and the registry store: a provider killed at random
// points under a collecting monitor, providers started at once, two writers of
// one registry value, and a registry root that is read-only or full.
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/registry_store.h"
#include "platform/shared_memory.h"
#include "prfdata_items.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;
using tq::platform::RegistryType;

constexpr uint32_t kBlockSize = 1128;    // the statistics object as collected
constexpr uint32_t kCounterBlock = 944;  // where its counter block starts
constexpr char kBlockName[] = "Global\\Tessaloquin_Performance";

bool UnderValgrind() {
    return std::getenv("TQ_UNDER_VALGRIND") != nullptr;
}

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

uint32_t Load32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// An object in memory that forked children share with the test.
template <class T>
class Shared {
public:
    Shared() : object_(new (Map()) T()) {}
    ~Shared() {
        object_->~T();
        munmap(object_, sizeof(T));
    }
    T* operator->() const { return object_; }
    T* get() const { return object_; }

private:
    static void* Map() {
        void* at =
            mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (at == MAP_FAILED) throw std::runtime_error("mmap failed");
        return at;
    }
    T* object_;
};

// The first failure that any process of a test saw.
struct Failure {
    std::atomic<int> seen{0};
    char text[512] = {};

    __attribute__((format(printf, 2, 3))) int Report(const char* format, ...) {
        if (seen.exchange(1) == 0) {
            va_list args;
            va_start(args, format);
            std::vsnprintf(text, sizeof text, format, args);
            va_end(args);
        }
        return 1;
    }
    std::string Text() const { return seen.load() != 0 ? text : ""; }
};

using Channel = tq::test::Pipe;

// The temporary files that a writer left in a directory tree.
std::vector<std::string> TempFiles(const std::string& root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().rfind(".tmp-", 0) == 0) found.push_back(it->path());
    }
    return found;
}

// ---------------------------------------------------------------------------
// The performance block

// The first way in which a collected object differs from the layout that the
// provider writes, or "" when it does not. Counter values are free, but the
// upper half of every 32-bit counter's slot stays zero.
std::string LayoutDifference(const unsigned char* object, const KvPerfExtension& installed) {
    char text[160];
    auto differs = [&](uint32_t offset, uint32_t expected) {
        if (Load32(object + offset) == expected) return false;
        std::snprintf(text, sizeof text, "offset %u holds %u, not %u", offset,
                      Load32(object + offset), expected);
        return true;
    };
    // The header; its last five fields stay zero.
    const uint32_t header[16] = {kBlockSize, kCounterBlock,
                                 64,         installed.firstCounter,
                                 0,          installed.firstHelp,
                                 0,          PERF_DETAIL_NOVICE,
                                 22,         3,
                                 0xFFFFFFFFu};
    for (uint32_t i = 0; i < 16; ++i) {
        if (differs(4 * i, header[i])) return text;
    }
    for (uint32_t c = 0; c < 22; ++c) {
        const PRFITM& item = tq::g_statisticsItems[1 + c];
        const uint32_t at = 64 + 40 * c;
        if (differs(at, 40) || differs(at + 4, installed.firstCounter + 2 + 2 * c) ||
            differs(at + 8, 0) || differs(at + 12, installed.firstHelp + 2 + 2 * c) ||
            differs(at + 16, 0) || differs(at + 20, static_cast<uint32_t>(item.DefaultScale)) ||
            differs(at + 24, item.dwDetailLevel) || differs(at + 28, item.dwCounterType) ||
            differs(at + 32, 8) || differs(at + 36, 8 + 8 * c)) {
            return text;
        }
    }
    if (differs(kCounterBlock, 184) || differs(kCounterBlock + 4, 0)) return text;
    for (uint32_t c = 0; c < 22; ++c) {
        if (differs(kCounterBlock + 8 + 8 * c + 4, 0)) return text;
    }
    return "";
}

// One collection of everything; "" when it was sound (data or none), else what
// was wrong. *commits receives counter 102 when there was data, else -1.
std::string CollectOnce(const KvPerfExtension& installed, int64_t* commits) {
    std::vector<unsigned char> buffer(2 * kBlockSize, 0xEE);
    char16_t global[] = u"Global";
    void* data = buffer.data();
    uint32_t bytes = static_cast<uint32_t>(buffer.size()), objects = 77;
    const uint32_t rc = PrfData_Collect(global, &data, &bytes, &objects);
    const auto advanced = static_cast<unsigned char*>(data) - buffer.data();
    *commits = -1;
    if (rc != 0) return "result " + std::to_string(rc);
    if (bytes == 0) {
        return objects == 0 && advanced == 0 ? "" : "no bytes, but objects or a moved pointer";
    }
    if (bytes != kBlockSize || objects != 1 || advanced != kBlockSize) {
        return "bytes " + std::to_string(bytes) + ", objects " + std::to_string(objects);
    }
    if (buffer[kBlockSize] != 0xEE) return "wrote past the object";
    *commits = Load32(buffer.data() + kCounterBlock + 8 + 8);
    return LayoutDifference(buffer.data(), installed);
}

// Each test has its own registry (with the counters installed), shared-memory
// names and event log.
class ProcessFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterStatistics(), 0);
        ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &installed_), 0);
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
            if (entry.path().filename().string().rfind(namespace_, 0) == 0) {
                fs::remove(entry.path(), ec);
            }
        }
    }
    std::string RoundNamespace(int round) const {
        return namespace_ + "r" + std::to_string(round) + ".";
    }

    tq::test::TempDir dir_;
    tq::test::ScopedEnv registry_{"TQ_REGISTRY_ROOT", dir_.File("registry").c_str()};
    tq::test::ScopedEnv events_{"TQ_EVENT_LOG", dir_.File("events").c_str()};
    std::string namespace_ = "tqfault" + std::to_string(getpid()) + "_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".";
    tq::test::ScopedEnv shm_{"TQ_SHM_NAMESPACE", namespace_.c_str()};
    KvPerfExtension installed_{};
};

// What the processes of one round of the kill test share.
struct KillRound {
    std::atomic<int> stage{0};  // provider: 0 forked, 1 activating, 2 counting, 3 refused
    std::atomic<int64_t> activatingAt{0}, activeAt{0};
    std::atomic<int> successorActive{0}, stop{0};
    Failure failure;
};

// The monitor: opens and collects without pause, checks every collection, and
// says 'm' once it has seen the successor's counters move.
int Monitor(KillRound* round, Channel* moving, const KvPerfExtension& installed) {
    if (PrfData::Instance()->IsActive()) return round->failure.Report("monitor: already active");
    int64_t first = -1;
    bool said = false;
    while (round->stop.load() == 0) {
        PrfData_Open(nullptr);
        const bool successor = round->successorActive.load() != 0;
        int64_t commits = -1;
        const std::string fault = CollectOnce(installed, &commits);
        if (!fault.empty()) {
            moving->Say('x');
            return round->failure.Report("monitor, provider stage %d: %s", round->stage.load(),
                                         fault.c_str());
        }
        if (commits < 0 || !successor || said) continue;
        if (first < 0) {
            first = commits;
        } else if (commits != first) {
            moving->Say('m');
            said = true;
        }
    }
    return 0;
}

// A server that counts as fast as it can until it is killed.
[[noreturn]] void CountForever() {
    for (;;) {
        Statistics()->IncCommits();
        Statistics()->AddLocks(1);
    }
}

int g_killStep = -1;

void KillAtStep(int step) {
    if (step == g_killStep) raise(SIGKILL);
}

// A provider killed at a random point, from before its activation through its
// layout of the block to its counting, while a monitor collects; then a new
// provider must take over and the monitor must see its counters move.
TEST_F(ProcessFaults, KilledProviderUnderACollectingMonitor) {
    const int rounds = UnderValgrind() ? 6 : 40;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int64_t activation = 200000;  // a first guess of an activation's length, in ns
    int killedAt[3] = {}, stepKills = 0;

    for (int r = 0; r < rounds && !HasFailure(); ++r) {
        SCOPED_TRACE("round " + std::to_string(r));
        tq::test::ScopedEnv roundShm("TQ_SHM_NAMESPACE", RoundNamespace(r).c_str());
        Shared<KillRound> round;
        Channel moving, started, active;
        const pid_t monitor =
            tq::test::StartChild([&] { return Monitor(round.get(), &moving, installed_); });

        // One kill in eight comes at once, one falls anywhere up to twice the
        // length of an activation measured so far, three within microseconds of
        // the block's appearance, and in three the provider ends itself at a
        // random step of its activation (the role taken, the block mapped, each
        // field laid out).
        const unsigned mode = random() % 8;
        const int killStep = mode >= 5 ? static_cast<int>(random() % 190) : -1;
        const pid_t first = tq::test::StartChild([&]() -> int {
            g_killStep = killStep;
            if (killStep >= 0) tq::g_providerStepHook = KillAtStep;
            round->activatingAt = NowNs();
            round->stage = 1;
            started.Say();
            Statistics()->Enable();
            round->activeAt = NowNs();
            round->stage = Statistics()->IsEnabled() ? 2 : 3;
            if (killStep >= 0) raise(SIGKILL);  // a step past the layout
            CountForever();
        });
        stepKills += mode >= 5;
        if (mode >= 1 && mode < 5) {
            ASSERT_EQ(started.Hear(), '.');
            int64_t from = round->activatingAt.load(), span = 2 * activation;
            if (mode >= 2) {
                const std::string posix = tq::platform::SharedObjectName(kBlockName);
                for (int fd = -1; fd < 0 && round->stage.load() == 1;) {
                    fd = shm_open(posix.c_str(), O_RDONLY, 0);
                    if (fd >= 0) close(fd);
                }
                from = NowNs();
                span = 10000;
            }
            const int64_t deadline = from + static_cast<int64_t>(random() % uint64_t(span));
            while (NowNs() < deadline) {
            }
        }
        if (mode < 5) kill(first, SIGKILL);
        ASSERT_EQ(tq::test::WaitChild(first), 128 + SIGKILL);
        const int stage = round->stage.load();
        ASSERT_NE(stage, 3) << "the first provider was refused";
        ++killedAt[stage];
        if (stage == 2) activation = (activation + round->activeAt - round->activatingAt) / 2;

        const pid_t successor = tq::test::StartChild([&]() -> int {
            Statistics()->Enable();
            active.Say(Statistics()->IsEnabled() ? 'a' : 'r');
            CountForever();
        });
        EXPECT_EQ(active.Hear(), 'a') << "the successor did not take over";
        round->successorActive = 1;
        EXPECT_EQ(moving.Hear(), 'm') << round->failure.Text();
        round->stop = 1;
        kill(successor, SIGKILL);
        EXPECT_EQ(tq::test::WaitChild(successor), 128 + SIGKILL);
        EXPECT_EQ(tq::test::WaitChild(monitor), 0) << round->failure.Text();
        EXPECT_EQ(round->failure.Text(), "");
    }
    std::cout << "[ seed     ] " << seed << ": " << stepKills << " ended at a random step; killed "
              << killedAt[0] << " before activation, " << killedAt[1] << " activating, "
              << killedAt[2] << " counting\n";
}

// The states that a provider killed while it set the block up can leave: an
// empty object, and a layout cut anywhere. A monitor hands out the complete
// layout or nothing, and a new provider lays the block out again.
TEST_F(ProcessFaults, HalfLaidOutBlockIsNeverHandedOut) {
    // Killed between creating the object and giving it its size.
    const std::string posix = tq::platform::SharedObjectName(kBlockName);
    const int fd = shm_open(posix.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    std::vector<PRFITM> items[3];  // each PrfData keeps its own table
    for (auto& table : items)
        table.assign(std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems));
    PrfData early(u"Tessaloquin", items[0].data());
    EXPECT_EQ(early.Activate(0), -1);
    auto provider = std::make_unique<PrfData>(u"Tessaloquin", items[1].data());
    ASSERT_EQ(provider->Activate(1), 0);
    PrfData monitor(u"Tessaloquin", items[2].data());
    ASSERT_EQ(monitor.Activate(0), 0);
    auto* block = const_cast<unsigned char*>(provider->Block());
    const std::vector<unsigned char> layout(block, block + kBlockSize);

    // The whole layout, or no data at all: the bytes collected, or 0.
    std::vector<unsigned char> buffer(kBlockSize);
    auto collect = [&](uint32_t cut, bool prefix) {
        SCOPED_TRACE((prefix ? "first " : "last ") + std::to_string(cut) + " bytes laid out");
        void* data = buffer.data();
        uint32_t bytes = kBlockSize, objects = 0;
        EXPECT_EQ(monitor.Collect(u"Global", &data, &bytes, &objects), 0u);
        EXPECT_EQ(static_cast<unsigned char*>(data) - buffer.data(), bytes);
        EXPECT_EQ(objects, bytes != 0 ? 1u : 0u);
        if (bytes != 0) {
            EXPECT_EQ(LayoutDifference(buffer.data(), installed_), "");
        }
        return bytes;
    };
    for (uint32_t cut = 0; cut <= kBlockSize; cut += 4) {
        std::memset(block, 0, kBlockSize);
        std::memcpy(block, layout.data(), cut);
        collect(cut, true);
        std::memset(block, 0, kBlockSize);
        std::memcpy(block + cut, layout.data() + cut, kBlockSize - cut);
        collect(kBlockSize - cut, false);
        if (HasFailure()) break;
    }
    // A provider that died right after giving the block its size; a new one
    // lays it out again under the monitor.
    std::memset(block, 0, kBlockSize);
    provider.reset();
    EXPECT_EQ(collect(0, true), 0u);
    EXPECT_EQ(tq::test::RunInChild([] {
                  Statistics()->Enable();
                  return Statistics()->IsEnabled() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(collect(kBlockSize, true), kBlockSize);
}

// Several providers released at once: exactly one takes the role, the others
// get 3, and the winner's block is sound for a monitor.
TEST_F(ProcessFaults, ProvidersStartedAtOnce) {
    const int rounds = UnderValgrind() ? 3 : 20;
    constexpr int kProviders = 4;
    for (int r = 0; r < rounds && !HasFailure(); ++r) {
        SCOPED_TRACE("round " + std::to_string(r));
        tq::test::ScopedEnv roundShm("TQ_SHM_NAMESPACE", RoundNamespace(r).c_str());
        Channel go, results, done;
        // No heap block of the parent's may be half-built when a child forks
        // (valgrind would count it lost in the child).
        std::array<pid_t, kProviders> providers{};
        for (int p = 0; p < kProviders; ++p) {
            providers[p] = tq::test::StartChild([&] {
                go.Wait();
                const int result = PrfData::Instance()->Activate(1);
                results.Say(static_cast<char>('0' + result + 1));  // -1 .. 3 as '0' .. '4'
                done.Wait();
                return 0;
            });
        }
        go.Release();
        int winners = 0, already = 0;
        for (int p = 0; p < kProviders; ++p) {
            const int result = results.Hear() - '0' - 1;
            winners += result == 0;
            already += result == 3;
        }
        EXPECT_EQ(winners, 1);
        EXPECT_EQ(already, kProviders - 1);
        int64_t commits = 0;
        EXPECT_EQ(tq::test::RunInChild([&] {
                      PrfData_Open(nullptr);
                      return CollectOnce(installed_, &commits) == "" && commits == 0 ? 0 : 1;
                  }),
                  0);
        done.Release();
        for (pid_t provider : providers)
            EXPECT_EQ(tq::test::WaitChild(provider), 0);
    }
}

// ---------------------------------------------------------------------------
// The registry store

// The value that writer w writes at step i: strings of lengths from 1 to some
// thousands for writer 0 (through the exported function), expandable strings
// and 32-bit numbers in turn for writer 1 (through the store). Each carries its
// writer and step, so that a reader can tell a whole value from a torn one.
struct Written {
    RegistryType type;
    std::string bytes;
    bool operator==(const Written&) const = default;
};

Written WrittenValue(int writer, int step) {
    if (writer == 1 && step % 2 == 1) {
        const uint32_t number = 0xB0000000u | static_cast<uint32_t>(step);
        return {RegistryType::kNumber, std::string(reinterpret_cast<const char*>(&number), 4)};
    }
    std::string text = (writer == 0 ? "A" : "B") + std::to_string(step) + ":";
    const size_t length = 1 + static_cast<size_t>(step * 37 % (writer == 0 ? 3000 : 700));
    for (size_t i = text.size(); i < length; ++i)
        text += static_cast<char>('a' + (static_cast<size_t>(step) + i) % 26);
    return {writer == 0 ? RegistryType::kString : RegistryType::kExpandString, text};
}

bool IsWrittenValue(const Written& read) {
    uint32_t number = 0;
    if (read.bytes.size() == 4) std::memcpy(&number, read.bytes.data(), 4);
    if ((number & 0xFFFF0000u) == 0xB0000000u) {
        return read == WrittenValue(1, static_cast<int>(number & 0xFFFF));
    }
    if (read.bytes.empty() || (read.bytes[0] != 'A' && read.bytes[0] != 'B')) return false;
    const int step = std::atoi(read.bytes.c_str() + 1);
    return step >= 0 && step < 1000 && read == WrittenValue(read.bytes[0] == 'A' ? 0 : 1, step);
}

// The value as the store reads it.
RegistryStatus ReadValue(const std::string& keyPath, Written* read) {
    RegistryKey key;
    std::string buffer(4096, '\0');
    uint32_t size = static_cast<uint32_t>(buffer.size());
    RegistryStatus status = RegistryStore::OpenKey(keyPath, &key);
    if (status == RegistryStatus::kOk) {
        status = RegistryStore::QueryValue(key, "value", &read->type, buffer.data(), &size);
    }
    read->bytes.assign(buffer.data(), status == RegistryStatus::kOk ? size : 0);
    return status;
}

// Two processes write one value a thousand times each, with contents of
// different lengths and types, while a third reads it without pause: every read
// gives one whole written value, or "not found" before the first write.
TEST(RegistryFaults, TwoWritersAndAReaderOfOneValue) {
    const int steps = UnderValgrind() ? 250 : 1000;
    // On a memory file system: the writers sync every value, which costs
    // milliseconds each on a disk.
    tq::test::ScopedEnv memory("TMPDIR", "/dev/shm");
    tq::test::TempDir dir;
    const std::string root = dir.File("registry");
    tq::test::ScopedEnv env("TQ_REGISTRY_ROOT", root.c_str());
    const char* path[] = {"race", "value", nullptr};
    const std::string keyPath = std::string(KV_PRODUCT_REGISTRY_KEY) + "\\race";

    struct State {
        std::atomic<int> writing{2};
        Failure failure;
    };
    Shared<State> state;
    Channel go;
    auto writer = [&](int w) {
        return tq::test::StartChild([&, w] {
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
                if (!written) return state->failure.Report("writer %d, step %d: refused", w, step);
            }
            --state->writing;
            return 0;
        });
    };
    const pid_t writers[2] = {writer(0), writer(1)};
    const pid_t reader = tq::test::StartChild([&] {
        go.Wait();
        bool seen = false;
        // One more read after both writers are done.
        for (bool last = false; !last;) {
            last = state->writing.load() == 0;
            Written read{};
            const RegistryStatus status = ReadValue(keyPath, &read);
            if (status == RegistryStatus::kNotFound && !seen) continue;
            if (status != RegistryStatus::kOk) {
                return state->failure.Report("read: status %d", static_cast<int>(status));
            }
            seen = true;
            if (!IsWrittenValue(read)) {
                return state->failure.Report("read %zu bytes that no writer wrote: %.40s",
                                             read.bytes.size(), read.bytes.c_str());
            }
        }
        return 0;
    });
    go.Release();
    for (pid_t child : {writers[0], writers[1], reader})
        EXPECT_EQ(tq::test::WaitChild(child), 0) << state->failure.Text();

    // The last value is one writer's last, and nothing was left behind.
    Written last{};
    ASSERT_EQ(ReadValue(keyPath, &last), RegistryStatus::kOk);
    EXPECT_TRUE(last == WrittenValue(0, steps - 1) || last == WrittenValue(1, steps - 1));
    EXPECT_EQ(TempFiles(root), std::vector<std::string>{});
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
        data[capability / 32].inheritable &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}

std::string Get(const char* const* path) {
    char buffer[64];
    int size = sizeof buffer;
    const int result = KvGetRegistryEntry(const_cast<const char**>(path), buffer, size);
    return result == 0 ? std::string(buffer, static_cast<size_t>(size))
                       : "<" + std::to_string(result) + ">";
}

int Set(const char* const* path, std::string value) {
    int size = 1;
    return KvSetRegistryEntry(const_cast<const char**>(path), value.data(), size);
}

class RegistryRootFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Set(kept_, "intact"), 0);
        ASSERT_EQ(RegisterStatistics(), 0);
    }

    tq::test::TempDir dir_;
    std::string root_ = dir_.File("registry");
    tq::test::ScopedEnv env_{"TQ_REGISTRY_ROOT", root_.c_str()};
    std::string keys_ = std::string(KV_PRODUCT_REGISTRY_KEY) + "\\keys";
    const char* kept_[3] = {"keys", "kept", nullptr};
    const char* fresh_[3] = {"keys", "fresh", nullptr};
    const char* newKey_[4] = {"keys", "new", "value", nullptr};
};

// Read-only: every write and delete gives -1 (or the store's "access denied"),
// and what was there stays readable and whole. The check runs in a child
// without the capabilities that let root ignore permissions.
TEST_F(RegistryRootFaults, ReadOnlyRoot) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        chmod(it->path().c_str(), it->is_directory() ? 0555 : 0444);
    }
    chmod(root_.c_str(), 0555);
    Shared<Failure> failure;
    const int result = tq::test::RunInChild([&] {
        if (!DropFileCapabilities()) return 77;
        const int fd = open((root_ + "/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) return 77;  // the file system ignores permissions
        if (Set(kept_, "changed") != -1 || Set(fresh_, "new") != -1 || Set(newKey_, "new") != -1 ||
            KvDeleteRegistryEntry(const_cast<const char**>(kept_)) != -1) {
            return failure->Report("a write or delete was not refused");
        }
        if (Get(kept_) != "intact")
            return failure->Report("the value became %s", Get(kept_).c_str());
        if (Get(fresh_) != "<-1>") return failure->Report("a new value appeared");
        RegistryKey key;
        if (RegistryStore::OpenKey(keys_, &key) != RegistryStatus::kOk ||
            RegistryStore::SetValue(key, "n", RegistryType::kNumber, "1234", 4) !=
                RegistryStatus::kAccessDenied ||
            RegistryStore::DeleteKey(keys_) != RegistryStatus::kAccessDenied) {
            return failure->Report("a store operation did not report access denied");
        }
        // Neither the counters' installation nor its removal half-happens.
        KvPerfExtension before{}, after{};
        char text[64];
        if (KvQueryPerfExtension("Tessaloquin", &before) != 0 || DeregisterStatistics() != -1 ||
            KvQueryPerfExtension("Tessaloquin", &after) != 0 ||
            std::memcmp(&before, &after, sizeof before) != 0 ||
            KvQueryPerfCounterText(before.firstCounter, 0, text, sizeof text) != 0) {
            return failure->Report("the counters' installation changed");
        }
        return 0;
    });
    if (result == 77) GTEST_SKIP() << "permissions do not stop this process from writing";
    EXPECT_EQ(result, 0) << failure->Text();
    EXPECT_EQ(TempFiles(root_), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(root_ + "/SOFTWARE/Wow6432Node/Quelmar/Tessaloquin/keys/new"));
}

// Full: a file-size limit makes writes fail as on a full disk. A write that does
// not fit gives -1, leaves the old value and no temporary file; once there is
// room again the write succeeds.
TEST_F(RegistryRootFaults, FullRoot) {
    Shared<Failure> failure;
    const int result = tq::test::RunInChild([&] {
        constexpr rlim_t kLimit = 4096;
        signal(SIGXFSZ, SIG_IGN);  // a failed write instead of a killed process
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit room = limit;
        limit.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return failure->Report("setrlimit");
        const std::string fits(kLimit - 8, 'f'), large(kLimit - 7, 'l');
        if (Set(kept_, large) != -1 || Get(kept_) != "intact") {
            return failure->Report("a value too large replaced %s", Get(kept_).c_str());
        }
        if (Set(fresh_, large) != -1 || Get(fresh_) != "<-1>" || Set(newKey_, large) != -1 ||
            Get(newKey_) != "<-1>") {
            return failure->Report("a new value too large");
        }
        RegistryKey key;
        if (RegistryStore::OpenKey(keys_, &key) != RegistryStatus::kOk ||
            RegistryStore::SetValue(key, "kept", RegistryType::kString, large.data(),
                                    static_cast<uint32_t>(large.size())) !=
                RegistryStatus::kIoError) {
            return failure->Report("the store did not report the failed write");
        }
        if (!TempFiles(root_).empty()) return failure->Report("a temporary file remains");
        if (Set(kept_, fits) != 0) return failure->Report("a value that fits was refused");
        setrlimit(RLIMIT_FSIZE, &room);  // room again
        char buffer[kLimit];
        int size = sizeof buffer;
        if (Set(kept_, large) != 0 ||
            KvGetRegistryEntry(const_cast<const char**>(kept_), buffer, size) != 0 ||
            std::string(buffer, static_cast<size_t>(size)) != large) {
            return failure->Report("no write after room came back");
        }
        // An installation of the counters that fails midway takes its texts
        // back (the loader writes names and helps by turns).
        limit.rlim_cur = 48;
        if (DeregisterStatistics() != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
            RegisterStatistics() != -1) {
            return failure->Report("the counters were installed on a full root");
        }
        setrlimit(RLIMIT_FSIZE, &room);
        const std::string texts =
            root_ + "/SOFTWARE/Microsoft/Windows NT/CurrentVersion/Perflib/009";
        for (const char* kind : {"/Counter", "/Help"}) {
            std::error_code ec;
            if (fs::directory_iterator(texts + kind, ec) != fs::directory_iterator()) {
                return failure->Report("counter texts were left in %s", kind);
            }
        }
        return 0;
    });
    EXPECT_EQ(result, 0) << failure->Text();
    EXPECT_EQ(TempFiles(root_), std::vector<std::string>{});
}

}  // namespace
