// The module loader: each step of the search and their order, entry points,
// module descriptions and the reports.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform_services.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

// The tests link the library statically: its own directory is the program's.
const std::string kOwnDirectory = fs::path(tq::platform::OwnModulePath()).parent_path().string();
const std::string kStdSearch = TQ_TEST_STD_SEARCH_DIR;

std::string Canonical(const std::string& path) {
    return fs::canonical(path).string();
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = DefaultConfig(KV_QUERY_CONFIG);
        DefaultConfig(&config_);
    }
    void TearDown() override { DefaultConfig(previous_); }

    // Loads name; the physical path of the module, or "" when it fails.
    std::string Where(const char* name) {
        KvModuleHandle* handle = reinterpret_cast<KvModuleHandle*>(1);
        if (KvDynamicLoader::LoadModule(name, 0, handle) != 0) {
            EXPECT_EQ(handle, nullptr);
            return "";
        }
        std::string path = KvDynamicLoader::GetPhysicalModuleName(handle);
        EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), 0);
        return path;
    }
    void SetDefaultPath(const std::string& path) {
        config_.LoadText(("defaultModulePath = " + path + "\n").c_str());
    }
    // A copy of a test module in dir under file (name + ".so").
    static std::string Copy(const char* module, const std::string& dir, const std::string& file) {
        fs::create_directories(dir);
        fs::copy_file(module, dir + "/" + file, fs::copy_options::overwrite_existing);
        return Canonical(dir + "/" + file);
    }

    KvKeyFileConfig config_;
    KvConfig* previous_ = nullptr;
    tq::test::TempDir temp_;
};

TEST_F(LoaderTest, SearchesEachStepInOrder) {
    const std::string ownPlain = Canonical(TQ_TEST_PLAIN_MODULE);
    ASSERT_EQ(fs::path(ownPlain).parent_path(), Canonical(kOwnDirectory));
    const std::string stdDescribed = Canonical(kStdSearch + "/tq_test_described.so");

    // 1. The configured directory comes first.
    const std::string configured =
        Copy(TQ_TEST_PLAIN_MODULE, temp_.File("conf"), "tq_test_plain.so");
    SetDefaultPath(temp_.File("conf"));
    EXPECT_EQ(Where("tq_test_plain"), configured);
    // 2. Without the module there, the library's own directory, before the
    // standard search that would find a copy too.
    SetDefaultPath(temp_.File("empty"));
    EXPECT_EQ(Where("tq_test_plain"), ownPlain);
    EXPECT_EQ(Where("tq_test_described"), Canonical(TQ_TEST_DESCRIBED_MODULE));
    EXPECT_NE(Where("tq_test_described"), stdDescribed);
    // 3. The standard search, before PATH that would find a copy too.
    Copy(TQ_TEST_PLAIN_MODULE, temp_.File("path"), "tq_test_stdonly.so");
    const std::string onPath = Copy(TQ_TEST_PLAIN_MODULE, temp_.File("path"), "tq_pathonly.so");
    tq::test::ScopedEnv path("PATH", (":" + temp_.File("none") + ":" + temp_.File("path")).c_str());
    EXPECT_EQ(Where("tq_test_stdonly"), Canonical(kStdSearch + "/tq_test_stdonly.so"));
    // 4. PATH, its empty and missing entries skipped.
    EXPECT_EQ(Where("tq_pathonly"), onPath);
    // Found nowhere.
    EXPECT_EQ(Where("tq_nowhere"), "");
    EXPECT_NE(std::string(KvDynamicLoader::GetErrText()).find("tq_nowhere.so"), std::string::npos);
}

TEST_F(LoaderTest, NameWithDirectoryIsTriedWholeExceptInOwnDirectory) {
    SetDefaultPath(temp_.path());
    const std::string nested = Copy(TQ_TEST_PLAIN_MODULE, temp_.File("sub"), "tq_test_plain.so");
    EXPECT_EQ(Where("sub/tq_test_plain"), nested);
    // In the own directory only the file-name part counts, extension dropped.
    EXPECT_EQ(Where("elsewhere/tq_test_plain.ext"), Canonical(TQ_TEST_PLAIN_MODULE));
    // The standard search takes a path as it is.
    config_.LoadText("");
    std::string whole = TQ_TEST_MODULE_PATH;
    whole.resize(whole.size() - 3);  // without ".so"
    EXPECT_EQ(Where(whole.c_str()), Canonical(TQ_TEST_MODULE_PATH));
}

TEST_F(LoaderTest, HandlesAndEntryPoints) {
    KvModuleHandle* handle = nullptr;
    void* entry = reinterpret_cast<void*>(1);
    EXPECT_EQ(KvDynamicLoader::GetEntryPoint("TqTestModuleValue", nullptr, entry),
              ERR_KV_MODULE_HANDLE_INVALID);
    EXPECT_EQ(entry, nullptr);
    EXPECT_STREQ(KvDynamicLoader::GetPhysicalModuleName(nullptr), "<unknown>");

    ASSERT_EQ(KvDynamicLoader::LoadModule("tq_test_plain", 0, handle), 0);
    ASSERT_EQ(KvDynamicLoader::GetEntryPoint("TqTestModuleValue", handle, entry), 0);
    EXPECT_EQ(reinterpret_cast<int (*)()>(entry)(), 42);
    EXPECT_EQ(KvDynamicLoader::GetEntryPoint("KvDescribeDll", handle, entry),
              ERR_KV_COULD_NOT_GET_ENTRY);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), ERR_KV_MODULE_HANDLE_INVALID);

    // The handle object cannot be allocated: the module is unloaded again and
    // the memory handler called once.
    static unsigned long long requested = 0;
    static int calls = 0;
    KvMemoryHandler old = mmKvSetHandler([](unsigned long long size) {
        requested = size;
        ++calls;
        return 0;
    });
    tq::platform::HeapFailAfter(1);
    handle = reinterpret_cast<KvModuleHandle*>(1);
    EXPECT_EQ(KvDynamicLoader::LoadModule("tq_test_plain", 0, handle),
              ERR_KV_COULD_NOT_LOAD_MODULE);
    tq::platform::HeapFailAfter(0);
    mmKvSetHandler(old);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_GT(requested, 0u);
}

struct Description {
    char physical[1024] = "-";
    unsigned numbers[5] = {};
    char description[256] = "-", moduleName[256] = "-", built[256] = "-", info[256] = "-",
         compiler[256] = "-", extra[256] = "-";
    int compilerVersion = 0;

    int Read(const char* name) {
        return KvGetDescription(name, physical, numbers[0], numbers[1], numbers[2], numbers[3],
                                numbers[4], description, moduleName, built, info, compiler, extra,
                                compilerVersion);
    }
};

TEST_F(LoaderTest, DescriptionsOfOtherModulesAndOfTheLibrary) {
    Description described;
    ASSERT_EQ(described.Read("tq_test_described"), 0);
    EXPECT_STREQ(described.physical, Canonical(TQ_TEST_DESCRIBED_MODULE).c_str());
    EXPECT_EQ(std::vector<unsigned>(described.numbers, described.numbers + 5),
              (std::vector<unsigned>{7, 6, 5, 4, 3}));
    EXPECT_STREQ(described.description, "Described test module");
    EXPECT_STREQ(described.moduleName, "TQ110Tst90x64");
    EXPECT_STREQ(described.built, "Jan  2 2024 03:04:05");
    EXPECT_STREQ(described.info, "test build");
    EXPECT_STREQ(described.compiler, "test compiler");
    EXPECT_STREQ(described.extra, "-");  // the module gave no text
    EXPECT_EQ(described.compilerVersion, 4321);
    unsigned n[5];
    int version = 0;
    EXPECT_EQ(KvGetDescription("tq_test_described", nullptr, n[0], n[1], n[2], n[3], n[4], nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, version),
              0);

    Description plain;
    EXPECT_EQ(plain.Read("tq_test_plain"), ERR_KV_COULD_NOT_GET_ENTRY);
    EXPECT_STREQ(plain.physical, Canonical(TQ_TEST_PLAIN_MODULE).c_str());
    EXPECT_STREQ(plain.description, "-");
    Description missing;
    EXPECT_EQ(missing.Read("tq_nowhere"), ERR_KV_COULD_NOT_LOAD_MODULE);
    EXPECT_STREQ(missing.physical, "-");

    // The shipped library, by its module name from its own directory.
    SetDefaultPath(fs::path(TQ_TEST_MODULE_PATH).parent_path().string());
    Description library;
    ASSERT_EQ(library.Read(KV_MODULE_NAME), 0);
    EXPECT_STREQ(library.moduleName, KV_MODULE_NAME);
    EXPECT_STREQ(library.description, "Tessaloquin Basic Algorithms");
    EXPECT_EQ(library.numbers[0], unsigned{KV_VERSION_1});
    EXPECT_EQ(library.numbers[4], unsigned{KV_VERSION_5});
}

std::vector<std::string> g_shown;
std::vector<std::string> g_console;

TEST_F(LoaderTest, ReportsThroughMessageSinkAndConsole) {
    auto oldBox =
        tq::platform::SetMessageBoxAnswerFunction([](const char* text, const char*, uint32_t) {
            g_shown.push_back(text);
            return 1;
        });
    const int oldSwitch = KvMessage()->Enable(1);
    auto oldWriter =
        tq::SetConsoleWriter([](smp_io*, const char* text) { g_console.push_back(text); });
    static int consoleObject = 0;
    smp_io* oldConsole = Console(reinterpret_cast<smp_io*>(&consoleObject));
    tq::test::ScopedEnv path("PATH", "/no/such/dir:%s");

    Where("tq_test_plain");  // the switch is off: nothing reported
    EXPECT_TRUE(g_shown.empty());
    config_.LoadText("[debug]\nloadModule = 1\n");
    const std::string physical = Where("tq_test_plain");
    Where("tq_%s_nowhere");

    const std::string failure =
        "Loading of module 'tq_%s_nowhere' failed.\nError code : 2\nPath : '/no/such/dir:%s'\n";
    EXPECT_EQ(g_shown, (std::vector<std::string>{"Using module: " + physical, failure}));
    EXPECT_EQ(g_console, (std::vector<std::string>{"Using module: ", physical, "\n", failure}));

    if (oldConsole != nullptr) Console(oldConsole);
    tq::SetConsoleWriter(oldWriter);
    KvMessage()->Enable(oldSwitch);
    tq::platform::SetMessageBoxAnswerFunction(oldBox);
}

}  // namespace
