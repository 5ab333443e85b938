// The performance data block, its installation and the statistics, with real
// processes for provider and consumer.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/process.h"
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
}

TEST_F(PerfTest, ProviderLaysOutTheBlock) {
    PrfData provider(u"Tessaloquin", Items());
    ASSERT_EQ(provider.Activate(1), 0);
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

    ASSERT_EQ(DeregisterStatistics(), 0);
    PrfData absent(u"Tessaloquin", Items());
    EXPECT_EQ(absent.Activate(0), 2);

    // Tables that break the rules fail at construction.
    std::vector<PRFITM> counterFirst(tq::g_statisticsItems + 1, std::end(tq::g_statisticsItems));
    EXPECT_THROW(PrfData(u"x", counterFirst.data()), KvFatalException);
    PRFITM* duplicate = Items();
    duplicate[5].dwId = 102;
    EXPECT_THROW(PrfData(u"x", duplicate), KvFatalException);
    PRFITM* unknownDefault = Items();
    unknownDefault[0].DefCounter = 99;
    EXPECT_THROW(PrfData(u"x", unknownDefault), KvFatalException);
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

    PrfData failed(u"Nothing", Items());
    ASSERT_NE(failed.Activate(0), 0);
    void* data = buffer.data();
    uint32_t bytes = 2000;
    EXPECT_EQ(failed.Collect(u"Global", &data, &bytes, &objects), 0u);
    EXPECT_EQ(data, buffer.data());
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(objects, 0u);
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
