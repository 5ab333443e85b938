#include "platform/registry_store.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace tq::platform {
namespace {

namespace fs = std::filesystem;
using S = RegistryStatus;

std::vector<std::string> List(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RegistryStoreTest : public ::testing::Test {
  protected:
    // The value's bytes, or "<status>" when the read does not succeed.
    static std::string Get(const RegistryKey& key, std::string_view name,
                           RegistryType* type = nullptr) {
        std::string data(8192, '\0');
        auto size = static_cast<uint32_t>(data.size());
        const S status = RegistryStore::QueryValue(key, name, type, data.data(), &size);
        if (status != S::kOk) return "<" + std::to_string(static_cast<int>(status)) + ">";
        data.resize(size);
        return data;
    }
    static S Set(const RegistryKey& key, std::string_view name, const std::string& data,
                 RegistryType type = RegistryType::kString) {
        return RegistryStore::SetValue(key, name, type, data.data(),
                                       static_cast<uint32_t>(data.size()));
    }

    test::TempDir temp_;
    std::string root_ = temp_.File("registry");
    test::ScopedEnv env_{"TQ_REGISTRY_ROOT", root_.c_str()};
};

TEST_F(RegistryStoreTest, RoundTripsEachTypeInItsFileLayout) {
    RegistryKey key;
    ASSERT_EQ(RegistryStore::CreateKey("SOFTWARE\\Quelmar", &key), S::kOk);
    const std::pair<RegistryType, std::string> cases[] = {
        {RegistryType::kString, std::string("text\0", 5)},
        {RegistryType::kExpandString, std::string("%HOME%\\x\0", 9)},
        {RegistryType::kNumber, std::string("\x04\x03\x02\x01", 4)},
        {RegistryType::kString, std::string("\0\xff\0zero\0\0", 9)},
        {RegistryType::kNumber, ""},
    };
    for (const auto& [type, data] : cases) {
        ASSERT_EQ(Set(key, "V", data, type), S::kOk);
        RegistryType read_type{};
        EXPECT_EQ(Get(key, "V", &read_type), data);
        EXPECT_EQ(read_type, type);
        EXPECT_EQ(test::ReadFile(key.directory() + "/V"),
                  "TQRV" + std::string(1, static_cast<char>(type)) + std::string(3, '\0') + data);
    }
    EXPECT_EQ(Get(key, "Missing"), "<2>");
    test::WriteFile(key.directory() + "/BadMagic", std::string("TQRX\1\0\0\0abc", 11));
    test::WriteFile(key.directory() + "/Short", "TQRV\1");
    EXPECT_EQ(Get(key, "BadMagic"), "<1117>");
    EXPECT_EQ(Get(key, "Short"), "<1117>");
    EXPECT_EQ(List(key.directory()), (std::vector<std::string>{"BadMagic", "Short", "V"}));
}

TEST_F(RegistryStoreTest, QueryReportsSizeAndMoreData) {
    RegistryKey key;
    ASSERT_EQ(RegistryStore::CreateKey("K", &key), S::kOk);
    ASSERT_EQ(Set(key, "V", "0123456789", RegistryType::kExpandString), S::kOk);

    RegistryType type{};
    uint32_t size = 3;
    EXPECT_EQ(RegistryStore::QueryValue(key, "V", &type, nullptr, &size), S::kOk);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, RegistryType::kExpandString);

    char buffer[12] = "xxxxxxxxxxx";
    size = 4;
    EXPECT_EQ(RegistryStore::QueryValue(key, "V", nullptr, buffer, &size), S::kMoreData);
    EXPECT_EQ(size, 10u);
    EXPECT_STREQ(buffer, "0123xxxxxxx");
    size = 10;
    EXPECT_EQ(RegistryStore::QueryValue(key, "V", nullptr, buffer, &size), S::kOk);
    EXPECT_STREQ(buffer, "0123456789x");
}

TEST_F(RegistryStoreTest, KeysAreDirectoriesBelowTheRoot) {
    EXPECT_EQ(RegistryStore::Root(), root_);
    RegistryKey key;
    EXPECT_EQ(RegistryStore::OpenKey("A\\B", &key), S::kNotFound);
    EXPECT_FALSE(key.is_open());
    ASSERT_EQ(RegistryStore::CreateKey("\\A\\\\B\\C\\", &key), S::kOk);
    EXPECT_EQ(key.directory(), root_ + "/A/B/C");
    EXPECT_TRUE(fs::is_directory(key.directory()));
    EXPECT_EQ(RegistryStore::OpenKey("A\\B", &key), S::kOk);
    EXPECT_EQ(key.directory(), root_ + "/A/B");
    RegistryStore::CloseKey(&key);
    EXPECT_FALSE(key.is_open());

    test::ScopedEnv no_root("TQ_REGISTRY_ROOT", "");
    test::ScopedEnv home("HOME", "/home/someone");
    {
        test::ScopedEnv config("XDG_CONFIG_HOME", "/etc/xdg-test");
        EXPECT_EQ(RegistryStore::Root(), "/etc/xdg-test/tessaloquin/registry");
    }
    test::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(RegistryStore::Root(), "/home/someone/.config/tessaloquin/registry");
}

TEST_F(RegistryStoreTest, HostileNamesAreRefusedAndNothingLeavesTheRoot) {
    RegistryKey key;
    ASSERT_EQ(RegistryStore::CreateKey("K", &key), S::kOk);
    const std::string bad[] = {"..",   ".",     "a/b", "/",
                               "\x01", "x\x7f", "\n",  std::string("a\0b", 3)};
    for (const std::string& name : bad) {
        SCOPED_TRACE(testing::PrintToString(name));
        RegistryKey other;
        EXPECT_FALSE(RegistryStore::IsValidName(name));
        EXPECT_EQ(RegistryStore::CreateKey(name + "\\escape", &other), S::kInvalidName);
        EXPECT_EQ(RegistryStore::CreateKey("K\\" + name + "\\..\\escape", &other), S::kInvalidName);
        EXPECT_EQ(RegistryStore::OpenKey("K\\" + name, &other), S::kInvalidName);
        EXPECT_EQ(RegistryStore::DeleteKey(name), S::kInvalidName);
        EXPECT_EQ(Set(key, name, "x"), S::kInvalidName);
        EXPECT_EQ(Get(key, name), "<123>");
        EXPECT_EQ(RegistryStore::DeleteValue(key, name), S::kInvalidName);
    }
    EXPECT_EQ(Set(key, "", "x"), S::kInvalidName);
    EXPECT_EQ(RegistryStore::DeleteKey(""), S::kInvalidName);
    EXPECT_EQ(RegistryStore::DeleteKey("\\\\"), S::kInvalidName);
    EXPECT_EQ(List(temp_.path()), std::vector<std::string>{"registry"});
    EXPECT_EQ(List(root_), std::vector<std::string>{"K"});
    EXPECT_TRUE(List(key.directory()).empty());

    for (const char* name : {"...", ".hidden", "a b", "a\\b", "\xc3\xbc"}) {
        EXPECT_TRUE(RegistryStore::IsValidName(name)) << name;
    }
}

TEST_F(RegistryStoreTest, ValueAndSubkeyMayNotShareAName) {
    RegistryKey key;
    RegistryKey other;
    ASSERT_EQ(RegistryStore::CreateKey("K\\Sub", &other), S::kOk);
    ASSERT_EQ(RegistryStore::OpenKey("K", &key), S::kOk);
    EXPECT_EQ(Set(key, "Sub", "x"), S::kAccessDenied);
    EXPECT_EQ(Get(key, "Sub"), "<2>");
    EXPECT_EQ(RegistryStore::DeleteValue(key, "Sub"), S::kNotFound);
    EXPECT_TRUE(fs::is_directory(root_ + "/K/Sub"));

    ASSERT_EQ(Set(key, "Val", "kept"), S::kOk);
    EXPECT_EQ(RegistryStore::CreateKey("K\\Val", &other), S::kAccessDenied);
    EXPECT_EQ(RegistryStore::CreateKey("K\\Val\\Deeper", &other), S::kAccessDenied);
    EXPECT_EQ(RegistryStore::OpenKey("K\\Val", &other), S::kNotFound);
    EXPECT_EQ(Get(key, "Val"), "kept");
    EXPECT_EQ(List(key.directory()), (std::vector<std::string>{"Sub", "Val"}));
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesSubkeysAndRemovesValues) {
    RegistryKey parent;
    RegistryKey child;
    ASSERT_EQ(RegistryStore::CreateKey("P\\C", &child), S::kOk);
    ASSERT_EQ(RegistryStore::OpenKey("P", &parent), S::kOk);
    ASSERT_EQ(Set(parent, "v", "1"), S::kOk);
    test::WriteFile(parent.directory() + "/.tmp-stray", "half");

    EXPECT_EQ(RegistryStore::DeleteKey("P"), S::kKeyHasSubkeys);
    EXPECT_EQ(List(parent.directory()), (std::vector<std::string>{".tmp-stray", "C", "v"}));
    EXPECT_EQ(RegistryStore::DeleteKey("P\\C"), S::kOk);
    EXPECT_EQ(RegistryStore::DeleteKey("P"), S::kOk);
    EXPECT_FALSE(fs::exists(parent.directory()));
    EXPECT_EQ(RegistryStore::DeleteKey("P"), S::kNotFound);
    EXPECT_EQ(Set(parent, "v", "2"), S::kNotFound);
    EXPECT_EQ(RegistryStore::DeleteValue(parent, "v"), S::kNotFound);
    EXPECT_TRUE(fs::is_directory(root_));
}

TEST_F(RegistryStoreTest, ReadOnlyKeyIsAccessDeniedAndKeepsTheOldValue) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    RegistryKey key;
    ASSERT_EQ(RegistryStore::CreateKey("K", &key), S::kOk);
    ASSERT_EQ(Set(key, "V", "old"), S::kOk);
    ASSERT_EQ(chmod(key.directory().c_str(), 0555), 0);
    EXPECT_EQ(Set(key, "V", "new"), S::kAccessDenied);
    EXPECT_EQ(RegistryStore::DeleteValue(key, "V"), S::kAccessDenied);
    EXPECT_EQ(Get(key, "V"), "old");
    EXPECT_EQ(List(key.directory()), std::vector<std::string>{"V"});
}

// Writer w, round r: a value whose first bytes name w and r and whose length varies.
std::string WriterValue(int writer, int round) {
    std::string value(3 + static_cast<size_t>(round * 97 + writer * 1013) % 6000, '\0');
    value[0] = static_cast<char>(writer);
    value[1] = static_cast<char>(round & 0xff);
    value[2] = static_cast<char>(round >> 8);
    for (size_t i = 3; i < value.size(); ++i) {
        value[i] = static_cast<char>((writer * 31 + round * 7 + static_cast<int>(i)) & 0xff);
    }
    return value;
}

TEST_F(RegistryStoreTest, ConcurrentWritersNeverShowATornValue) {
    constexpr int kRounds = 500;
    RegistryKey key;
    ASSERT_EQ(RegistryStore::CreateKey("K", &key), S::kOk);
    ASSERT_EQ(Set(key, "V", WriterValue(2, 0)), S::kOk);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            bool ok = true;
            for (int round = 0; round < kRounds; ++round)
                ok &= Set(key, "V", WriterValue(w, round)) == S::kOk;
            _exit(ok ? 0 : 1);
        }
    }
    int reads = 0;
    int torn = 0;
    int running = 2;
    while (running > 0) {
        const std::string value = Get(key, "V");
        ++reads;
        const bool whole = value.size() >= 3 &&
                           value == WriterValue(static_cast<unsigned char>(value[0]),
                                                static_cast<unsigned char>(value[1]) |
                                                    static_cast<unsigned char>(value[2]) << 8);
        if (!whole) ++torn;
        for (pid_t& pid : writers) {
            int wait_status = 0;
            if (pid > 0 && waitpid(pid, &wait_status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);
                pid = 0;
                --running;
            }
        }
    }
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(List(key.directory()), std::vector<std::string>{"V"});
}

}  // namespace
}  // namespace tq::platform
