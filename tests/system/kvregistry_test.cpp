// Registry configuration on a temporary registry root, the configuration
// switches and the host name.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "support/test_env.h"
#include "system/platform_services.h"

namespace {

using Path = std::vector<const char*>;

// The value's bytes as Get returns them, or "<result:size>".
std::string Get(Path path, int room = 64) {
    path.push_back(nullptr);
    std::string buffer(static_cast<size_t>(room), '#');
    int size = room;
    const int result = KvGetRegistryEntry(path.data(), buffer.data(), size);
    if (result != 0)
        return std::string("<").append(std::to_string(result) + ":" + std::to_string(size) + ">");
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '\0');  // terminated behind the bytes
    return buffer.substr(0, static_cast<size_t>(size));
}

int Set(Path path, std::string value) {
    path.push_back(nullptr);
    int size = 1;
    return KvSetRegistryEntry(path.data(), value.data(), size);
}

int Delete(Path path) {
    path.push_back(nullptr);
    return KvDeleteRegistryEntry(path.data());
}

class RegistryTest : public ::testing::Test {
protected:
    tq::test::TempDir root_;
    tq::test::ScopedEnv env_{"TQ_REGISTRY_ROOT", root_.path().c_str()};
    const std::string product_ = root_.path() + "/SOFTWARE/Wow6432Node/Quelmar/Tessaloquin";
};

TEST_F(RegistryTest, StoresStringsWithoutTerminatorAndReadsAtMostSizeMinusOne) {
    EXPECT_EQ(Set({"a", "b", "name"}, "abc"), 0);  // the keys are created
    // The store's 8-byte header and the three characters, nothing more.
    EXPECT_EQ(std::filesystem::file_size(product_ + "/a/b/\x01name"), 8u + 3u);
    EXPECT_EQ(Get({"a", "b", "name"}, 4), "abc");
    // Too small: the first size - 1 bytes arrive, size tells the value's count.
    char buffer[] = "####";
    int size = 3;
    const char* path[] = {"a", "b", "name", nullptr};
    EXPECT_EQ(KvGetRegistryEntry(path, buffer, size), -1);
    EXPECT_EQ(size, 3);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(Get({"a", "b", "name"}, 1), "<-1:3>");

    EXPECT_EQ(Set({"top"}, ""), 0);  // a value in the product key itself
    EXPECT_EQ(Get({"top"}), "");

    EXPECT_EQ(Delete({"a", "b", "other"}), -1);
    EXPECT_EQ(Delete({"a", "missing", "name"}), -1);
    EXPECT_EQ(Get({"a", "missing", "name"}), "<-1:0>");
    EXPECT_EQ(Delete({"a", "b", "name"}), 0);
    EXPECT_EQ(Get({"a", "b", "name"}), "<-1:0>");
    EXPECT_TRUE(std::filesystem::is_directory(product_ + "/a/b"));  // keys stay
}

TEST_F(RegistryTest, RefusesBadArgumentsAndLongPaths) {
    char buffer[16];
    const char* path[] = {"v", nullptr};
    const char* empty[] = {nullptr};
    int size = 0;
    EXPECT_EQ(KvSetRegistryEntry(path, buffer, size), KV_ERR_INVALID_PARAMETER);
    size = 16;
    EXPECT_EQ(KvGetRegistryEntry(empty, buffer, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvSetRegistryEntry(path, nullptr, size), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(KvDeleteRegistryEntry(nullptr), KV_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(std::filesystem::is_empty(root_.path()));  // nothing was touched

    // The product key (40 characters) and its subkeys fill at most 259.
    const std::string longest(259 - 41, 'k'), tooLong(260 - 41, 'k');
    EXPECT_EQ(Set({longest.c_str(), "v"}, "x"), 0);
    EXPECT_EQ(Get({longest.c_str(), "v"}), "x");
    EXPECT_EQ(Set({tooLong.c_str(), "v"}, "x"), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Get({tooLong.c_str(), "v"}), "<-2530:64>");
    EXPECT_EQ(Delete({tooLong.c_str(), "v"}), KV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Set({longest.c_str(), "k", "v"}, "x"), KV_ERR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, AgreesWithAMapOverRandomOperations) {
    std::map<Path, std::string> model;
    const std::vector<Path> paths = {{"v"}, {"a", "v"}, {"a", "w"}, {"a", "b", "v"}, {"c", "v"}};
    std::mt19937 random(9);
    for (int step = 0; step < 200; ++step) {
        const Path& path = paths[random() % paths.size()];
        const std::string value(random() % 40, static_cast<char>('a' + random() % 26));
        if (const unsigned action = random() % 3; action == 0) {
            ASSERT_EQ(Set(path, value), 0);
            model[path] = value;
        } else if (action == 1) {
            ASSERT_EQ(Delete(path), model.erase(path) == 1 ? 0 : -1);
        } else {
            ASSERT_EQ(Get(path), model.count(path) ? model[path] : "<-1:0>");
        }
    }
}

class ScopedConfig {
public:
    explicit ScopedConfig(const char* text) : previous_(DefaultConfig(KV_QUERY_CONFIG)) {
        config.LoadText(text);
        DefaultConfig(&config);
    }
    ~ScopedConfig() { DefaultConfig(previous_); }
    KvKeyFileConfig config;

private:
    KvConfig* previous_;
};

TEST(RegistryConfig, SwitchesAreReadOnce) {
    tq::ResetPriorityBoostCache();
    {
        ScopedConfig scoped("[servers/kvserver]\ndisableWin32PriorityBoost = 7\n");
        EXPECT_EQ(GetDisableWin32PriorityBoost(), 1);
        scoped.config.LoadText("");
        EXPECT_EQ(GetDisableWin32PriorityBoost(), 1);
    }
    tq::ResetPriorityBoostCache();
    EXPECT_EQ(GetDisableWin32PriorityBoost(), 0);  // no configuration

    ScopedConfig scoped("[test]\ngrowErrorCounter = 2\n");
    TestHandlerReset();
    EXPECT_EQ(TestHandler(0, nullptr, nullptr), 0);  // reads the count, leaves it
    EXPECT_EQ(TestHandler(1, nullptr, nullptr), -313);
    EXPECT_EQ(TestHandler(1, nullptr, nullptr), -313);
    EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);
    scoped.config.LoadText("[test]\ngrowErrorCounter = 1\n");
    EXPECT_EQ(TestHandler(1, nullptr, nullptr), 0);  // read once only
    EXPECT_EQ(TestHandlerReset(), 0);
    EXPECT_EQ(TestHandler(1, nullptr, nullptr), -313);
    TestHandlerReset();
}

TEST(HostName, IsTheSystemsNameCutToTheBuffer) {
    char expected[256] = {};
    ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
    char name[256];
    EXPECT_EQ(KvGetHostname(name, sizeof name), 0);
    EXPECT_STREQ(name, expected);
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(KvGetHostname(small, sizeof small), 0);
    EXPECT_EQ(std::string(small), std::string(expected).substr(0, 2));
    EXPECT_EQ(KvGetHostname(nullptr, 5), 0);
}

}  // namespace
