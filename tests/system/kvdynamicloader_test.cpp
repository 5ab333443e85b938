// The module loader: each step of the search and their order, entry points,
// module descriptions and the reports.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "support/test_env.h"
#include "system/platform_services.h"

namespace {

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
    return fs::canonical(path).string();
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { DefaultConfig(&config_); }
    void TearDown() override { DefaultConfig(previous_); }

    // Loads name; the module's path, or "" when it cannot be loaded.
    static std::string Where(const char* name) {
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
    // Copies a test module into the temporary directory dir as file.
    std::string Copy(const char* module, const std::string& dir, const std::string& file) {
        fs::create_directories(temp_.File(dir));
        fs::copy_file(module, temp_.File(dir + "/" + file));
        return Canonical(temp_.File(dir + "/" + file));
    }

    KvConfig* previous_ = DefaultConfig(KV_QUERY_CONFIG);
    KvKeyFileConfig config_;
    tq::test::TempDir temp_;
};

TEST_F(LoaderTest, SearchesEachStepInOrder) {
    // The tests link the library statically: its own directory is the program's.
    const std::string own = fs::path(tq::platform::OwnModulePath()).parent_path().string();
    const std::string ownPlain = Canonical(TQ_TEST_PLAIN_MODULE);
    ASSERT_EQ(fs::path(ownPlain).parent_path(), Canonical(own));

    // 1. The configured directory.
    SetDefaultPath(temp_.File("conf"));
    EXPECT_EQ(Where("tq_test_plain"), Copy(TQ_TEST_PLAIN_MODULE, "conf", "tq_test_plain.so"));
    // 2. Not there: the library's own directory, before the standard search
    // (whose directory holds tq_test_described.so too).
    SetDefaultPath(temp_.File("empty"));
    EXPECT_EQ(Where("tq_test_plain"), ownPlain);
    EXPECT_EQ(Where("tq_test_described"), Canonical(TQ_TEST_DESCRIBED_MODULE));
    // 3. The standard search, before PATH, which holds a copy too.
    Copy(TQ_TEST_PLAIN_MODULE, "path", "tq_test_stdonly.so");
    const std::string onPath = Copy(TQ_TEST_PLAIN_MODULE, "path", "tq_pathonly.so");
    tq::test::ScopedEnv path("PATH", (":" + temp_.File("none") + ":" + temp_.File("path")).c_str());
    EXPECT_EQ(Where("tq_test_stdonly"), Canonical(TQ_TEST_STD_SEARCH_DIR "/tq_test_stdonly.so"));
    // 4. PATH, its empty and missing entries skipped.
    EXPECT_EQ(Where("tq_pathonly"), onPath);
    EXPECT_EQ(Where("tq_nowhere"), "");
    EXPECT_NE(std::string(KvDynamicLoader::GetErrText()).find("tq_nowhere.so"), std::string::npos);

    // A directory part counts in every step but the own directory's, where the
    // extension goes too.
    SetDefaultPath(temp_.path());
    EXPECT_EQ(Where("sub/tq_test_plain"), Copy(TQ_TEST_PLAIN_MODULE, "sub", "tq_test_plain.so"));
    EXPECT_EQ(Where("elsewhere/tq_test_plain.ext"), ownPlain);
    const std::string library = TQ_TEST_MODULE_PATH;
    EXPECT_EQ(Where(library.substr(0, library.size() - 3).c_str()), Canonical(library));
}

TEST_F(LoaderTest, HandlesAndEntryPoints) {
    void* entry = reinterpret_cast<void*>(1);
    EXPECT_EQ(KvDynamicLoader::GetEntryPoint("TqTestModuleValue", nullptr, entry),
              ERR_KV_MODULE_HANDLE_INVALID);
    EXPECT_EQ(entry, nullptr);
    EXPECT_STREQ(KvDynamicLoader::GetPhysicalModuleName(nullptr), "<unknown>");

    KvModuleHandle* handle = nullptr;
    ASSERT_EQ(KvDynamicLoader::LoadModule("tq_test_plain", 0, handle), 0);
    ASSERT_EQ(KvDynamicLoader::GetEntryPoint("TqTestModuleValue", handle, entry), 0);
    EXPECT_EQ(reinterpret_cast<int (*)()>(entry)(), 42);
    EXPECT_EQ(KvDynamicLoader::GetEntryPoint("KvDescribeDll", handle, entry),
              ERR_KV_COULD_NOT_GET_ENTRY);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(KvDynamicLoader::UnloadModule(handle), ERR_KV_MODULE_HANDLE_INVALID);
}

struct Description {
    char path[1024] = "-";
    unsigned n[5] = {};
    char description[256] = "-", name[256] = "-", built[256] = "-", info[256] = "-",
         compiler[256] = "-", extra[256] = "-";
    int compilerVersion = 0;

    int Read(const char* module) {
        return KvGetDescription(module, path, n[0], n[1], n[2], n[3], n[4], description, name,
                                built, info, compiler, extra, compilerVersion);
    }
};

TEST_F(LoaderTest, DescriptionsOfOtherModulesAndOfTheLibrary) {
    Description module;
    ASSERT_EQ(module.Read("tq_test_described"), 0);
    EXPECT_EQ(module.path, Canonical(TQ_TEST_DESCRIBED_MODULE));
    EXPECT_EQ(std::vector<unsigned>(module.n, module.n + 5),
              (std::vector<unsigned>{7, 6, 5, 4, 3}));
    EXPECT_EQ((std::vector<std::string>{module.description, module.name, module.built, module.info,
                                        module.compiler, module.extra}),
              (std::vector<std::string>{"Described test module", "TQ110Tst90x64",
                                        "Jan  2 2024 03:04:05", "test build", "test compiler",
                                        "-"}));  // no extra text from the module
    EXPECT_EQ(module.compilerVersion, 4321);

    Description plain;
    EXPECT_EQ(plain.Read("tq_test_plain"), ERR_KV_COULD_NOT_GET_ENTRY);
    EXPECT_EQ(plain.path, Canonical(TQ_TEST_PLAIN_MODULE));
    EXPECT_STREQ(plain.description, "-");
    Description missing;
    EXPECT_EQ(missing.Read("tq_nowhere"), ERR_KV_COULD_NOT_LOAD_MODULE);
    EXPECT_STREQ(missing.path, "-");

    // The shipped library, by its module name.
    SetDefaultPath(fs::path(TQ_TEST_MODULE_PATH).parent_path().string());
    Description library;
    ASSERT_EQ(library.Read(KV_MODULE_NAME), 0);
    EXPECT_STREQ(library.name, KV_MODULE_NAME);
    EXPECT_STREQ(library.description, "Tessaloquin Basic Algorithms");
    EXPECT_EQ(library.n[4], unsigned{KV_VERSION_5});
}

std::vector<std::string> g_shown;
std::vector<std::string> g_console;

TEST_F(LoaderTest, ReportsThroughMessageSinkAndConsole) {
    auto oldBox = tq::platform::SetMessageBoxAnswerFunction(
        [](const char* text, const char*, uint32_t) { return g_shown.push_back(text), 1; });
    const int oldSwitch = KvMessage()->Enable(1);
    auto oldWriter =
        tq::SetConsoleWriter([](smp_io*, const char* text) { g_console.push_back(text); });
    static int console = 0;
    smp_io* oldConsole = Console(reinterpret_cast<smp_io*>(&console));
    tq::test::ScopedEnv path("PATH", "/no/such/dir:%s");

    Where("tq_test_plain");  // the switch is off
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
