// The performance data block, its installation and the statistics, with real
// processes for provider and consumer.
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "statistics/perf_registry.h"
#include "statistics/prfdata_items.h"
#include "support/child_process.h"
#include "support/test_env.h"
#include "util/utf.h"

namespace {

using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;

constexpr const char* kPerformanceKey =
    "SYSTEM\\CurrentControlSet\\Services\\Tessaloquin\\Performance";

uint32_t Load32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// Each test has its own registry, shared-memory names and event log.
class PerfTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RegisterStatistics(), 0); }
    void TearDown() override {
        // The test's shared blocks and guard files.
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
            if (entry.path().filename().string().rfind(namespace_, 0) == 0) {
                std::filesystem::remove_all(entry.path(), ec);
            }
        }
    }

    // A fresh copy of the item table for a PrfData of the test's own.
    PRFITM* Items() {
        tables_.emplace_back(std::begin(tq::g_statisticsItems), std::end(tq::g_statisticsItems));
        return tables_.back().data();
    }

    void SetNumber(const char* name, uint32_t value) {
        RegistryKey key;
        ASSERT_EQ(RegistryStore::OpenKey(kPerformanceKey, &key), RegistryStatus::kOk);
        ASSERT_TRUE(tq::perf::WriteNumber(key, name, value));
    }

    std::string Events() { return tq::test::ReadFile(dir_.File("events")); }

    tq::test::TempDir dir_;
    tq::test::ScopedEnv registry_{"TQ_REGISTRY_ROOT", dir_.File("registry").c_str()};
    tq::test::ScopedEnv events_{"TQ_EVENT_LOG", dir_.File("events").c_str()};
    std::string namespace_ = "tqtest" + std::to_string(getpid()) + "_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".";
    tq::test::ScopedEnv shm_{"TQ_SHM_NAMESPACE", namespace_.c_str()};
    std::vector<std::vector<PRFITM>> tables_;
};

TEST_F(PerfTest, InstallationRecordsTheExtensionAndItsTexts) {
    KvPerfExtension extension;
    ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &extension), 0);
    EXPECT_EQ(std::string(extension.library), tq::platform::OwnModulePath());
    EXPECT_STREQ(extension.collect, "PrfData_Collect");
    EXPECT_EQ(extension.disabled, 0u);
    EXPECT_EQ(extension.lastCounter - extension.firstCounter, 44u);
    EXPECT_EQ(extension.lastHelp - extension.firstHelp, 44u);
    for (int i = 0; i < tq::kStatisticsItemCount; ++i) {
        char name[256], help[256];
        ASSERT_EQ(KvQueryPerfCounterText(extension.firstCounter + 2 * i, 0, name, sizeof name), 0);
        ASSERT_EQ(KvQueryPerfCounterText(extension.firstHelp + 2 * i, 1, help, sizeof help), 0);
        EXPECT_EQ(std::u16string(tq::Utf16FromUtf8(name)), tq::g_statisticsItems[i].pszName);
        EXPECT_EQ(std::u16string(tq::Utf16FromUtf8(help)), tq::g_statisticsItems[i].pszHelp);
    }
    EXPECT_EQ(RegisterStatistics(), -1);  // already installed
    EXPECT_EQ(DeregisterStatistics(), 0);
    EXPECT_EQ(DeregisterStatistics(), -1);
    EXPECT_EQ(KvQueryPerfExtension("Tessaloquin", &extension), -1);
    char text[64];
    EXPECT_EQ(KvQueryPerfCounterText(extension.firstCounter, 0, text, sizeof text), -1);
    // A new installation takes a new range.
    ASSERT_EQ(RegisterStatistics(), 0);
    KvPerfExtension again;
    ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &again), 0);
    EXPECT_GT(again.firstCounter, extension.lastCounter);

    // A key below the extension's stops its removal.
    RegistryKey key;
    ASSERT_EQ(RegistryStore::CreateKey(std::string(kPerformanceKey) + "\\Sub", &key),
              RegistryStatus::kOk);
    EXPECT_EQ(DeregisterStatistics(), -1);

    // A file system with room for N files and keys only (out of inodes): the
    // installation fails at each of its steps in turn, until it fits whole.
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount a file system of its own";
    const std::string root = dir_.File("registry");
    std::filesystem::remove_all(root);
    std::filesystem::create_directory(root);
    int fits = 0;
    for (int inodes = 1; inodes < 200 && fits == 0; ++inodes) {
        const int result = tq::test::RunInChild([&] {
            const std::string options = "nr_inodes=" + std::to_string(inodes);
            if (unshare(CLONE_NEWNS) != 0 ||
                mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("none", root.c_str(), "tmpfs", 0, options.c_str()) != 0)
                return 77;
            if (RegisterStatistics() != 0) return 1;
            KvPerfExtension installed;
            char text[64];
            return KvQueryPerfExtension("Tessaloquin", &installed) == 0 &&
                           std::string(installed.collect) == "PrfData_Collect" &&
                           KvQueryPerfCounterText(installed.lastHelp, 1, text, sizeof text) == 0
                       ? 2
                       : 3;
        });
        if (result == 77) GTEST_SKIP() << "no mount namespace of its own";
        ASSERT_TRUE(result == 1 || result == 2) << inodes << " inodes: " << result;
        if (result == 2) fits = inodes;
    }
    EXPECT_GT(fits, 60);  // the keys, 46 texts and 11 numbers
}

// Counter-text files, well-formed and not, each loaded into a registry of its
// own; where a write must fail, a key or value of the name lies in its way.
TEST_F(PerfTest, LoadingCounterTextFiles) {
    const std::string ini = dir_.File("odd.ini"), symbols = dir_.File("odd.h");
    const std::string good =
        "[info]\r\ndrivername=Odd\r\nsymbolfile=odd.h\r\n; a comment\r\n\r\n[text]\r\n"
        "no equals sign\r\nX=a key shorter than its suffix\r\nA_009_NAME=Name A\r\n"
        "A_009_HELP=Help A\r\nA_009_OTHER=neither\r\nB_009_NAME=Name B\r\nB_009_HELP=Help B\r\n";
    const std::string defines = "#define A 0\n  #define B 2\nnot a define\n";
    const std::string perflib = "SOFTWARE/Microsoft/Windows NT/CurrentVersion/Perflib";
    auto value = [](const std::string& key, const std::string& name) {
        return key + "/\x01" + name;
    };
    struct Row {
        const char* what;
        std::string ini, symbols;
        std::vector<std::string> blocked;  // made directories that no value replaces
        std::string loop;                  // a link to itself where a key goes
        int result;
    };
    auto without = [&](const std::string& text) {
        std::string out = good;
        out.erase(out.find(text), text.size());
        return out;
    };
    const Row rows[] = {
        {"well-formed", good, defines, {}, "", 0},
        {"no driver", without("drivername=Odd\r\n"), defines, {}, "", EINVAL},
        {"no symbol file named", without("symbolfile=odd.h\r\n"), defines, {}, "", EINVAL},
        {"no symbol file", good, "", {}, "", ENOENT},
        {"no symbols", good, "not a define\n", {}, "", EINVAL},
        {"odd offset", good, "#define A 1\n", {}, "", EINVAL},
        {"offset twice", good, "#define A 0\n#define B 0\n", {}, "", EINVAL},
        {"no name", without("B_009_NAME=Name B\r\n"), defines, {}, "", EINVAL},
        {"no help", without("B_009_HELP=Help B\r\n"), defines, {}, "", EINVAL},
        {"driver not installed",
         "[info]\r\ndrivername=Nobody" + without("[info]\r\ndrivername=Odd"),
         defines,
         {},
         "",
         ENOENT},
        {"no texts key", good, defines, {}, perflib, EACCES},
        {"no counter texts", good, defines, {}, perflib + "/009", EACCES},
        {"no help texts", good, defines, {}, perflib + "/009/Help", EACCES},
        {"second name", good, defines, {value(perflib + "/009/Counter", "2004")}, "", EIO},
        {"first help", good, defines, {value(perflib + "/009/Help", "2003")}, "", EIO},
    };
    const std::string service = "SYSTEM/CurrentControlSet/Services/Odd/Performance";
    const char* numbers[] = {"Last Counter", "Last Help",  "First Counter",
                             "Last Counter", "First Help", "Last Help"};
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (int n = 0; n < 6; ++n)  // each range number in turn
        all.push_back(
            {numbers[n], good, defines, {value(n < 2 ? perflib : service, numbers[n])}, "", EIO});
    int round = 0;
    for (const Row& row : all) {
        SCOPED_TRACE(row.what);
        const std::string root = dir_.File("root" + std::to_string(round++));
        tq::test::ScopedEnv env("TQ_REGISTRY_ROOT", root.c_str());
        RegistryKey key;
        ASSERT_EQ(
            RegistryStore::CreateKey("SYSTEM\\CurrentControlSet\\Services\\Odd\\Performance", &key),
            RegistryStatus::kOk);
        for (const std::string& blocked : row.blocked)
            std::filesystem::create_directories(root + "/" + blocked + "/x");
        if (!row.loop.empty()) {
            std::filesystem::create_directories(
                std::filesystem::path(root + "/" + row.loop).parent_path());
            std::filesystem::create_symlink(root + "/" + row.loop, root + "/" + row.loop);
        }
        tq::test::WriteFile(ini, row.ini);
        std::filesystem::remove(symbols);
        if (!row.symbols.empty()) tq::test::WriteFile(symbols, row.symbols);
        EXPECT_EQ(KvLoadPerfCounterTextStrings(("load   \"" + ini + "\" more").c_str(), 1),
                  row.result);
        // A text that cannot be written takes the others back. (A range number
        // that cannot be written leaves the texts.)
        char text[32] = "";
        if (row.blocked.empty() || row.blocked[0].find("/009/") != std::string::npos) {
            EXPECT_EQ(KvQueryPerfCounterText(2002, 0, text, sizeof text), row.result == 0 ? 0 : -1);
        }
        KvPerfExtension extension;
        ASSERT_EQ(KvQueryPerfExtension("Odd", &extension), 0);
        if (row.result != 0) continue;
        EXPECT_STREQ(text, "Name A");
        for (const auto& [index, help, want] :
             {std::tuple{2004u, 0, "Name B"}, {2003u, 1, "Help A"}, {2005u, 1, "Help B"}}) {
            EXPECT_EQ(KvQueryPerfCounterText(index, help, text, sizeof text), 0);
            EXPECT_STREQ(text, want);
        }
        EXPECT_EQ(std::tuple(extension.firstCounter, extension.lastCounter, extension.firstHelp,
                             extension.lastHelp),
                  std::tuple(2002u, 2004u, 2003u, 2005u));
        // Unloading needs all four range numbers, and takes the texts away.
        for (const char* name : {"First Counter", "Last Counter", "First Help", "Last Help"}) {
            ASSERT_EQ(RegistryStore::DeleteValue(key, name), RegistryStatus::kOk);
            EXPECT_EQ(KvUnloadPerfCounterTextStrings("x Odd", 1), ENOENT) << name;
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, name[0] == 'F' ? 2002 : 2005));
        }
        EXPECT_EQ(KvUnloadPerfCounterTextStrings("x Odd", 1), 0);
        EXPECT_EQ(KvQueryPerfCounterText(2004, 0, text, sizeof text), -1);
        for (const char* name : {"First Counter", "Last Counter", "First Help", "Last Help"})
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, name[0] == 'F' ? 2 : 2000000));
        EXPECT_EQ(KvUnloadPerfCounterTextStrings("x Odd", 1), 0);  // too long a range: not walked
        std::filesystem::remove_all(root + "/SOFTWARE");
        for (const char* name : {"First Counter", "Last Counter", "First Help", "Last Help"})
            ASSERT_TRUE(tq::perf::WriteNumber(key, name, 2002));  // no texts key: nothing to do
        EXPECT_EQ(KvUnloadPerfCounterTextStrings("x Odd", 1), 0);
        EXPECT_EQ(KvQueryPerfExtension(nullptr, &extension) + KvQueryPerfExtension("Odd", nullptr),
                  -2);
    }
}

int g_steps = 0, g_lastStep = -1;

TEST_F(PerfTest, ProviderLaysOutTheBlock) {
    PrfData provider(u"Tessaloquin", Items());
    // The test hook sees the role taken, the block mapped, then each field.
    tq::g_providerStepHook = [](int step) { ++g_steps, g_lastStep = step; };
    ASSERT_EQ(provider.Activate(1), 0);
    tq::g_providerStepHook = nullptr;
    EXPECT_EQ(std::pair(g_steps, g_lastStep), std::pair(2 + 185, 186));
    ASSERT_EQ(provider.BlockSize(), 1128u);
    const unsigned char* block = provider.Block();
    EXPECT_EQ(Load32(block + 0), 0u);    // TotalByteLength
    EXPECT_EQ(Load32(block + 4), 944u);  // DefinitionLength
    EXPECT_EQ(Load32(block + 8), 64u);   // HeaderLength
    EXPECT_EQ(Load32(block + 12), provider.m_dwFirstCounter);
    EXPECT_EQ(Load32(block + 28), 100u);  // DetailLevel
    EXPECT_EQ(Load32(block + 32), 22u);   // NumCounters
    EXPECT_EQ(Load32(block + 36), 3u);    // DefaultCounter: 104
    EXPECT_EQ(Load32(block + 40), 0xFFFFFFFFu);
    for (uint32_t c = 0; c < 22; ++c) {
        const unsigned char* definition = block + 64 + 40 * c;
        EXPECT_EQ(Load32(definition), 40u);
        EXPECT_EQ(Load32(definition + 4), provider.m_dwFirstCounter + 2 + 2 * c);
        EXPECT_EQ(Load32(definition + 12), provider.m_dwFirstHelp + 2 + 2 * c);
        EXPECT_EQ(Load32(definition + 20),
                  static_cast<uint32_t>(tq::g_statisticsItems[1 + c].DefaultScale));
        EXPECT_EQ(Load32(definition + 24), tq::g_statisticsItems[1 + c].dwDetailLevel);
        EXPECT_EQ(Load32(definition + 28), tq::g_statisticsItems[1 + c].dwCounterType);
        EXPECT_EQ(Load32(definition + 32), 8u);
        EXPECT_EQ(Load32(definition + 36), 8 + 8 * c);
    }
    EXPECT_EQ(Load32(block + 944), 184u);  // the counter block's ByteLength
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(provider.CounterSlot32(104, 0)),
              block + 944 + 8 + 24);
    EXPECT_EQ(provider.CounterSlot32(99, 0), nullptr);

    // One provider at a time; consumers map the same block.
    PrfData second(u"Tessaloquin", Items());
    EXPECT_EQ(second.Activate(1), 3);
    PrfData consumer(u"Tessaloquin", Items());
    ASSERT_EQ(consumer.Activate(0), 0);
    *provider.CounterSlot32(108, 0) = 42;
    EXPECT_EQ(*consumer.CounterSlot32(108, 0), 42);
}

TEST_F(PerfTest, ActivationResults) {
    PrfData disabled(u"Tessaloquin", Items());
    SetNumber("Disable Performance Counters", 1);
    EXPECT_EQ(disabled.Activate(1), 1);
    SetNumber("Disable Performance Counters", 0);
    RegistryKey key;
    ASSERT_EQ(RegistryStore::OpenKey(kPerformanceKey, &key), RegistryStatus::kOk);
    ASSERT_EQ(RegistryStore::DeleteValue(key, "Disable Performance Counters"), RegistryStatus::kOk);
    for (const bool text : {false, true}) {  // enabled unless a number says otherwise
        if (text) {
            ASSERT_TRUE(tq::perf::WriteString(key, "Disable Performance Counters", "1"));
        }
        PrfData enabled(u"Tessaloquin", Items());
        EXPECT_EQ(enabled.Activate(1), 0);
    }
    KvPerfExtension installed;
    ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &installed), 0);
    SetNumber("Last Help", 0);
    PrfData helpless(u"Tessaloquin", Items());
    EXPECT_EQ(helpless.Activate(1), -1);
    SetNumber("Last Help", installed.lastHelp);

    SetNumber("Last Counter", 0);  // the range no longer fits 23 items
    PrfData inconsistent(u"Tessaloquin", Items());
    EXPECT_EQ(inconsistent.Activate(1), -1);
    EXPECT_NE(Events().find("\"identifier\":\"0x40000002\",\"strings\":[\"(Tessaloquin"),
              std::string::npos);
    EXPECT_NE(Events().find("Tessaloquin performance counter are inconsistent, please deregister "
                            "and register again"),
              std::string::npos);
    // The failed provider gave the role back.
    ASSERT_EQ(DeregisterStatistics(), 0);
    ASSERT_EQ(RegisterStatistics(), 0);
    // Counter 112 becomes a second object, with 3 instances: after the
    // definitions of its counters 113..122 come 3 instance definitions, then
    // one counter block per instance.
    PRFITM* split = Items();
    split[12] = {PRFITM_OBJECT, 200, u"Inst", u"", PERF_DETAIL_NOVICE, -1, 3, 16, 0, 0, 0, 0, 0, 0};
    PrfData provider(u"Tessaloquin", split);
    ASSERT_EQ(provider.Activate(1), 0);
    EXPECT_EQ(provider.BlockSize(), 600u + 464 + 3 * (24 + 32) + 3 * 88);
    for (auto [object, instance, valid] : {std::tuple{0, 0, true},
                                           {0, 1, false},
                                           {1, 2, true},
                                           {1, 3, false},
                                           {1, -1, false},
                                           {2, 0, false}}) {
        EXPECT_EQ(provider.IsValidInstId(object, instance), valid) << object << ", " << instance;
    }
    for (auto [counter, instance, offset] : {std::tuple{101, 0, 512},
                                             {101, 1, 0},
                                             {113, 0, 1144},
                                             {122, 2, 1392},
                                             {122, 3, 0},
                                             {113, -1, 0}}) {
        const auto* slot = reinterpret_cast<const unsigned char*>(
            provider.CounterSlot(static_cast<CTRID>(counter), static_cast<INSTID>(instance)));
        EXPECT_EQ(slot, offset != 0 ? provider.Block() + offset : nullptr)
            << counter << ", " << instance;
    }
    EXPECT_EQ(std::tuple(provider.CvtObjIdToObjOrd(100), provider.CvtObjIdToObjOrd(200),
                         provider.CvtObjIdToObjOrd(113), provider.CvtObjIdToPrfItmIndex(200),
                         provider.CvtObjIdToPrfItmIndex(113)),
              std::tuple(0, 1, -1, 12, -1));
    EXPECT_EQ(provider.CvtObjOrdToPrfItm(1), &split[12]);
    EXPECT_EQ(provider.CvtObjOrdToPrfItm(2), nullptr);
    // Both objects collected; the one with instances without its instances.
    std::vector<unsigned char> buffer(provider.BlockSize());
    void* data = buffer.data();
    uint32_t bytes = provider.BlockSize(), objects = 0;
    ASSERT_EQ(provider.Collect(u"Global", &data, &bytes, &objects), 0u);
    EXPECT_EQ(std::tuple(bytes, objects, Load32(buffer.data()), Load32(buffer.data() + 40)),
              std::tuple(600u + 464, 2u, 600u, 0xFFFFFFFFu));
    EXPECT_EQ(std::pair(Load32(buffer.data() + 600), Load32(buffer.data() + 640)),
              std::pair(464u, 0u));

    ASSERT_EQ(DeregisterStatistics(), 0);
    PrfData absent(u"Tessaloquin", Items());
    EXPECT_EQ(absent.Activate(0), 2);
    absent.FollowReplacedBlock();
    EXPECT_EQ(absent.CounterSlot(101, 0), nullptr);

    // Tables that break the rules fail at construction.
    std::vector<PRFITM> counterFirst(tq::g_statisticsItems + 1, std::end(tq::g_statisticsItems));
    EXPECT_THROW(PrfData(u"x", counterFirst.data()), KvFatalException);
    PRFITM* duplicate = Items();
    duplicate[5].dwId = 102;
    EXPECT_THROW(PrfData(u"x", duplicate), KvFatalException);
    PRFITM* unknownDefault = Items();
    unknownDefault[0].DefCounter = 99;
    EXPECT_THROW(PrfData(u"x", unknownDefault), KvFatalException);
    for (const int item : {0, 3}) {
        PRFITM* unknownLevel = Items();
        unknownLevel[item].dwDetailLevel = 150;
        EXPECT_THROW(PrfData(u"x", unknownLevel), KvFatalException);
    }
    PRFITM* noInstances = Items();
    noInstances[0].MaxInstances = 0;
    EXPECT_THROW(PrfData(u"x", noInstances), KvFatalException);
    // Every detail level is fine; a 64-bit counter has no 32-bit slot.
    PRFITM* levels = Items();
    levels[1].dwDetailLevel = PERF_DETAIL_ADVANCED;
    levels[2].dwDetailLevel = PERF_DETAIL_EXPERT;
    levels[3].dwDetailLevel = PERF_DETAIL_WIZARD;
    levels[4].dwCounterType = PERF_SIZE_LARGE;
    PrfData leveled(u"x", levels);
    EXPECT_EQ(leveled.CounterSlot32(103, 0), nullptr);
    EXPECT_THROW(leveled.CounterSlot32(104, 0), KvFatalException);
}

TEST_F(PerfTest, CollectionFilters) {
    PrfData provider(u"Tessaloquin", Items());
    ASSERT_EQ(provider.Activate(1), 0);
    *provider.CounterSlot32(102, 0) = 7;
    const std::string index = std::to_string(provider.m_dwFirstCounter);
    std::vector<unsigned char> buffer(2000, 0xEE);

    auto collect = [&](const std::u16string& name, uint32_t room, uint32_t* objects) {
        void* data = buffer.data();
        uint32_t bytes = room;
        uint32_t rc = provider.Collect(name.c_str(), &data, &bytes, objects);
        EXPECT_EQ(static_cast<unsigned char*>(data) - buffer.data(), rc == 0 ? bytes : 0);
        return std::make_pair(rc, bytes);
    };
    uint32_t objects = 9;
    EXPECT_EQ(collect(u"gLoBaL", 1128, &objects), std::make_pair(0u, 1128u));
    EXPECT_EQ(objects, 1u);
    EXPECT_EQ(Load32(buffer.data()), 1128u);             // TotalByteLength in the copy
    EXPECT_EQ(Load32(provider.Block()), 0u);             // but not in the block
    EXPECT_EQ(Load32(buffer.data() + 944 + 8 + 8), 7u);  // counter 102
    std::u16string list = tq::Utf16FromUtf8("17 " + index + " 230");
    EXPECT_EQ(collect(list, 2000, &objects), std::make_pair(0u, 1128u));
    EXPECT_EQ(collect(tq::Utf16FromUtf8(index + "0"), 2000, &objects), std::make_pair(0u, 0u));
    EXPECT_EQ(objects, 0u);
    EXPECT_EQ(collect(u"Costly", 2000, &objects), std::make_pair(0u, 0u));
    void* at = buffer.data();
    uint32_t room = 2000;
    EXPECT_EQ(provider.Collect(nullptr, &at, &room, &objects), 0u);
    EXPECT_EQ(std::tuple(at, room, objects), std::tuple(buffer.data(), 0u, 0u));

    // A consumer's block cut short gives no slot and no data; one removed
    // with nothing in its place keeps the values its provider left.
    PrfData consumer(u"Tessaloquin", Items());
    ASSERT_EQ(consumer.Activate(0), 0);
    const int fd = shm_open(
        tq::platform::SharedObjectName("Global\\Tessaloquin_Performance").c_str(), O_RDWR, 0);
    ASSERT_EQ(ftruncate(fd, 100), 0);
    EXPECT_EQ(consumer.CounterSlot32(102, 0), nullptr);
    at = buffer.data(), room = 2000;
    EXPECT_EQ(consumer.Collect(u"Global", &at, &room, &objects), 0u);
    EXPECT_EQ(std::tuple(at, room, objects), std::tuple(buffer.data(), 0u, 0u));
    ASSERT_EQ(ftruncate(fd, 1128), 0);
    *provider.CounterSlot32(102, 0) = 8;
    close(fd);
    EXPECT_TRUE(tq::platform::RemoveOwnSharedBlock("Global\\Tessaloquin_Performance"));
    consumer.FollowReplacedBlock();
    ASSERT_NE(consumer.CounterSlot32(102, 0), nullptr);
    EXPECT_EQ(*consumer.CounterSlot32(102, 0), 8);

    PrfData failed(u"Nothing", Items());
    ASSERT_NE(failed.Activate(0), 0);
    void* data = buffer.data();
    uint32_t bytes = 2000;
    EXPECT_EQ(failed.Collect(u"Global", &data, &bytes, &objects), 0u);
    EXPECT_EQ(data, buffer.data());
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(objects, 0u);
}

// Objects of another account at the names of the block, and a link at the
// guard's: never written to, named in the log, and a provider of this account
// still runs where it can.
TEST_F(PerfTest, ForeignObjectsAtTheNames) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to plant objects of another account";
    const std::string global = tq::platform::SharedObjectPath("Global\\Tessaloquin_Performance");
    auto plant = [&](mode_t mode) {
        const int fd = open(global.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(fchmod(fd, mode) + ftruncate(fd, 1128) + fchown(fd, 61002, 61002), 0);
        close(fd);
    };
    KvPerfObjects objects;
    // One that every account may write: refused by providers and consumers.
    plant(0666);
    {
        PrfData provider(u"Tessaloquin", Items());
        ASSERT_EQ(provider.Activate(1), 0);
        *provider.CounterSlot32(102, 0) = 5;
        PrfData consumer(u"Tessaloquin", Items());
        ASSERT_EQ(consumer.Activate(0), 0);
        EXPECT_EQ(*consumer.CounterSlot32(102, 0), 5);
        ASSERT_EQ(KvQueryPerfObjects("Tessaloquin", &objects), 0);
        EXPECT_EQ(
            std::tuple(objects.provider, objects.providerPid, objects.block, objects.blockOwn),
            std::tuple(1, getpid(), 2, 1));
        EXPECT_EQ(std::string(objects.refused),
                  global + " belongs to uid 61002 and has mode 0666\n");
        char none = '#';
        EXPECT_EQ(KvRemoveStalePerfObjects("Tessaloquin", &none, 0), -1);  // it runs
        EXPECT_EQ(none, '#');
    }
    EXPECT_NE(Events().find(global + " belongs to uid 61002 and has mode 0666, so it is not used"),
              std::string::npos);
    {
        PrfData again(u"Tessaloquin", Items());  // goes to the account's block at once
        ASSERT_EQ(again.Activate(1), 0);
    }
    char removed[512];
    EXPECT_EQ(KvRemoveStalePerfObjects("Tessaloquin", removed, sizeof removed), 2);
    EXPECT_EQ(std::string(removed), tq::platform::SharedObjectPath("Tessaloquin_Performance") +
                                        "\n" + tq::platform::InstanceGuardPath("Tessaloquin_mt") +
                                        "\n");
    // One that only its owner writes: read when there is no block of this account.
    std::filesystem::remove(global);
    plant(0644);
    ASSERT_EQ(KvQueryPerfObjects("Tessaloquin", &objects), 0);
    EXPECT_EQ(std::tuple(objects.provider, objects.block, objects.blockOwn, objects.refused[0]),
              std::tuple(0, 1, 0, '\0'));
    EXPECT_EQ(std::string(objects.blockText), global + " belongs to uid 61002 and has mode 0644");
    // A link at the guard's name: no provider, and no cleanup.
    const std::string guard = tq::platform::InstanceGuardPath("Tessaloquin_mt");
    ASSERT_EQ(symlink(dir_.path().c_str(), guard.c_str()), 0);
    PrfData provider(u"Tessaloquin", Items());
    EXPECT_EQ(provider.Activate(1), -1);
    EXPECT_NE(Events().find(guard + " belongs to uid 0 and has mode 0777 (a symbolic link), so it "
                                    "is not used"),
              std::string::npos);
    EXPECT_EQ(KvRemoveStalePerfObjects("Tessaloquin", removed, sizeof removed), -1);
    EXPECT_EQ(KvQueryPerfObjects("Tessaloquin", &objects), 0);
    EXPECT_EQ(objects.provider, -1);
}

// Enabling the statistics logs why it did not happen.
TEST_F(PerfTest, EnablingTheStatistics) {
    KvPerfExtension installed;
    ASSERT_EQ(KvQueryPerfExtension("Tessaloquin", &installed), 0);
    auto enable = [] {
        return tq::test::RunInChild([] {
            Statistics()->Enable();
            const bool enabled = Statistics()->IsEnabled();
            Statistics()->Enable();  // once enabled, nothing more
            return enabled ? 1 : 0;
        });
    };
    SetNumber("Disable Performance Counters", 1);
    EXPECT_EQ(enable(), 0);
    EXPECT_NE(Events().find("Performance counters are disabled"), std::string::npos);
    SetNumber("Disable Performance Counters", 0);
    SetNumber("Last Help", 0);
    EXPECT_EQ(enable(), 0);
    EXPECT_NE(Events().find("An error occurs during activate performance counters"),
              std::string::npos);
    SetNumber("Last Help", installed.lastHelp);
    EXPECT_EQ(enable(), 1);
    const std::string logged = Events();
    ASSERT_EQ(DeregisterStatistics(), 0);
    EXPECT_EQ(enable(), 0);
    EXPECT_EQ(Events(), logged);  // nothing installed, nothing to say
}

// The road of the counters: a server process counts, a monitor process reads.
TEST_F(PerfTest, ServerAndMonitorProcesses) {
    tq::test::Pipe counted, done;
    pid_t server = tq::test::StartChild([&] {
        KvStatistics* statistics = Statistics();
        statistics->IncClients();  // before Enable: local only
        statistics->Enable();
        if (!statistics->IsEnabled() || statistics->Value(108) != 0) return 1;
        for (int i = 0; i < 5; ++i)
            statistics->IncCommits();
        statistics->AddLocks(1);
        statistics->AddLocks(3);
        statistics->DecClients();
        statistics->DecWaitingJobs();  // stays at 0
        statistics->AddDeliveredObjects(-5);
        counted.Say();
        done.Hear();
        return 0;
    });
    counted.Hear();
    const int monitor = tq::test::RunInChild([&] {
        PrfData_Open(nullptr);
        std::vector<unsigned char> buffer(1128);
        void* data = buffer.data();
        uint32_t bytes = 1128, objects = 0;
        char16_t global[] = u"Global";
        if (PrfData_Collect(global, &data, &bytes, &objects) != 0 || objects != 1) return 1;
        const unsigned char* values = buffer.data() + 944 + 8;
        auto value = [&](int id) { return static_cast<int32_t>(Load32(values + 8 * (id - 101))); };
        if (value(102) != 5 || value(111) != 4 || value(108) != -1 || value(119) != 0 ||
            value(114) != -5) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(monitor, 0);
    // A second server finds the role taken and logs it as a warning.
    EXPECT_EQ(tq::test::RunInChild([] {
                  Statistics()->Enable();
                  return Statistics()->IsEnabled() ? 1 : 0;
              }),
              0);
    EXPECT_NE(Events().find("\"type\":\"warning\",\"identifier\":\"0x80000003\""),
              std::string::npos);
    EXPECT_NE(Events().find("The instance of Tessaloquin performance counters already exist"),
              std::string::npos);
    PrfData consumer(u"Tessaloquin", Items());
    ASSERT_EQ(consumer.Activate(0), 0);
    EXPECT_EQ(*consumer.CounterSlot32(102, 0), 5);
    done.Say();
    EXPECT_EQ(tq::test::WaitChild(server), 0);
    // A new provider on the same block starts from cleared counters.
    EXPECT_EQ(tq::test::RunInChild([] {
                  Statistics()->Enable();
                  Statistics()->IncCommits();
                  return Statistics()->IsEnabled() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(*consumer.CounterSlot32(102, 0), 1);
    EXPECT_EQ(*consumer.CounterSlot32(111, 0), 0);
}

TEST_F(PerfTest, ConcurrentUpdatesLoseNothing) {
    EXPECT_EQ(tq::test::RunInChild([] {
                  Statistics()->Enable();
                  std::vector<std::thread> threads;
                  for (int t = 0; t < 4; ++t) {
                      threads.emplace_back([] {
                          for (int i = 0; i < 50000; ++i) {
                              Statistics()->IncQueries();
                              Statistics()->AddWatches(2);
                              Statistics()->DecWaitingJobs();
                              Statistics()->IncWaitingJobs();
                          }
                      });
                  }
                  for (auto& thread : threads)
                      thread.join();
                  PrfData* data = PrfData::Instance();
                  const int32_t queries = *data->CounterSlot32(107, 0);
                  const int32_t watches = *data->CounterSlot32(112, 0);
                  const int32_t jobs = *data->CounterSlot32(119, 0);
                  if (Statistics()->Value(107) != 200000 || queries != 200000) return 1;
                  if (Statistics()->Value(112) != 400000 || watches != 400000) return 2;
                  if (Statistics()->Value(119) != jobs) return 3;
                  Statistics()->Clear();
                  return Statistics()->Value(107) == 0 && *data->CounterSlot32(107, 0) == 0 ? 0 : 4;
              }),
              0);
}

TEST(Statistics, CountsLocallyUntilEnabled) {
    KvStatistics statistics;  // a private object: never enabled
    statistics.IncClients();
    statistics.AddLocks(1);
    statistics.AddLocks(-1);
    statistics.DecWaitingJobs();  // stays at 0
    statistics.DecExtents();      // may go below 0
    statistics.AddObjDescWaitCSCount(7);
    for (auto [id, value] : {std::pair{108, 1}, {111, 0}, {119, 0}, {110, -1}, {122, 7}})
        EXPECT_EQ(statistics.Value(id), value) << id;
    statistics.counters[0] = INT32_MAX;
    statistics.IncTransactions();  // wraps
    EXPECT_EQ(statistics.Value(101), INT32_MIN);
    statistics.Clear();
    for (int id = 101; id <= 122; ++id)
        EXPECT_EQ(statistics.Value(id), 0);
}

}  // namespace
