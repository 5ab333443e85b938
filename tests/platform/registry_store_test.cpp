#include "platform/registry_store.h"

#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/test_env.h"

namespace tq::platform {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;
using RS = RegistryStore;
using S = RegistryStatus;

Names List(const std::string& directory) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The value's bytes, or "<status>" when the read does not succeed.
std::string Get(const RegistryKey& key, std::string_view name, RegistryType* type = nullptr) {
    std::string data(8192, '\0');
    auto size = static_cast<uint32_t>(data.size());
    const S status = RS::QueryValue(key, name, type, data.data(), &size);
    if (status != S::kOk)
        return std::string("<").append(std::to_string(static_cast<int>(status))) + ">";
    return data.substr(0, size);
}

S Set(const RegistryKey& key, std::string_view name, const std::string& data,
      RegistryType type = RegistryType::kString) {
    return RS::SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

// The file name of a value; a file of the old layout is named as the value.
std::string File(const std::string& name) {
    return '\x01' + name;
}

// The contents of a value's file.
std::string Stored(const std::string& data, RegistryType type = RegistryType::kString) {
    return "TQRV"s + static_cast<char>(type) + "\0\0\0"s + data;
}

class RegistryStoreTest : public ::testing::Test {
protected:
    test::TempDir temp_;
    std::string root_ = temp_.File("registry");
    test::ScopedEnv env_{"TQ_REGISTRY_ROOT", root_.c_str()};
    RegistryKey key_;
    RegistryKey other_;
};

TEST_F(RegistryStoreTest, RoundTripsEachTypeAndReportsSizes) {
    ASSERT_EQ(RS::CreateKey("SOFTWARE\\Quelmar", &key_), S::kOk);
    for (const auto& [type, data] : {std::pair{RegistryType::kExpandString, "%HOME%\\x\0"s},
                                     std::pair{RegistryType::kNumber, "\x04\x03\x02\x01"s},
                                     std::pair{RegistryType::kNumber, ""s},
                                     std::pair{RegistryType::kString, "\0\xff\0zero\0"s}}) {
        ASSERT_EQ(Set(key_, "V", data, type), S::kOk);
        RegistryType read_type{};
        EXPECT_EQ(Get(key_, "V", &read_type), data);
        EXPECT_EQ(read_type, type);
        EXPECT_EQ(test::ReadFile(key_.directory() + "/" + File("V")), Stored(data, type));
    }
    uint32_t size = 3;
    EXPECT_EQ(RS::QueryValue(key_, "V", nullptr, nullptr, &size), S::kOk);
    EXPECT_EQ(size, 8u);
    std::string buffer(8, 'x');
    size = 3;
    EXPECT_EQ(RS::QueryValue(key_, "V", nullptr, buffer.data(), &size), S::kMoreData);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer, "\0\xff\0xxxxx"s);

    test::WriteFile(key_.directory() + "/" + File("Bad"), "TQRX\1\0\0\0abc"s);
    EXPECT_EQ(Get(key_, "Bad"), "<1117>");
    EXPECT_EQ(Get(key_, "Missing"), "<2>");
}

TEST_F(RegistryStoreTest, KeysAreDirectoriesBelowTheRoot) {
    EXPECT_EQ(RS::OpenKey("A\\B", &key_), S::kNotFound);
    ASSERT_EQ(RS::CreateKey("\\A\\\\B\\C\\", &key_), S::kOk);
    EXPECT_EQ(key_.directory(), root_ + "/A/B/C");
    EXPECT_EQ(RS::OpenKey("A\\B", &key_), S::kOk);
    EXPECT_EQ(key_.directory(), root_ + "/A/B");
    {
        test::ScopedEnv top("TQ_REGISTRY_ROOT", "//");
        EXPECT_EQ(RS::Root(), "/");
    }

    // Without a root of our own: an absolute XDG_CONFIG_HOME, else the home's.
    test::ScopedEnv no_root("TQ_REGISTRY_ROOT", ""), home("HOME", "/home/me");
    const std::string fromHome = "/home/me/.config/tessaloquin/registry";
    for (const auto& [config, root] : {std::pair{"/etc/xdg", "/etc/xdg/tessaloquin/registry"s},
                                       {"/", "/tessaloquin/registry"},
                                       {"etc/xdg", fromHome},
                                       {"", fromHome},
                                       {nullptr, fromHome}}) {
        test::ScopedEnv xdg("XDG_CONFIG_HOME", config);
        EXPECT_EQ(RS::Root(), root) << (config != nullptr ? config : "unset");
    }
    // Without HOME the account's home directory; without that, no root at all.
    test::ScopedEnv unset_root("TQ_REGISTRY_ROOT", nullptr), no_xdg("XDG_CONFIG_HOME", nullptr);
    const passwd* account = getpwuid(getuid());
    ASSERT_NE(account, nullptr);
    for (const char* empty_home : {"", static_cast<const char*>(nullptr)}) {
        test::ScopedEnv no_home("HOME", empty_home);
        EXPECT_EQ(RS::Root(), account->pw_dir + "/.config/tessaloquin/registry"s);
    }
    test::ScopedEnv no_home("HOME", nullptr);
    if (geteuid() != 0) GTEST_SKIP() << "another account needs root";
    EXPECT_EQ(test::RunInChild([&] {
                  if (!test::BecomeAccount(54321) || getpwuid(54321) != nullptr) return 1;
                  return RS::Root().empty() && RS::OpenKey("A", &key_) == S::kIoError ? 0 : 2;
              }),
              0);
}

// A relative root counts from the current directory, however long its name;
// without a current directory there is no root.
TEST_F(RegistryStoreTest, RelativeRootFollowsTheCurrentDirectory) {
    const std::string deep = temp_.File(std::string(200, 'd') + "/" + std::string(200, 'e'));
    std::filesystem::create_directories(deep);
    test::ScopedEnv relative("TQ_REGISTRY_ROOT", "rel//");
    EXPECT_EQ(test::RunInChild([&] {
                  if (chdir(deep.c_str()) != 0 || RS::Root() != deep + "/rel") return 1;
                  if (rmdir(deep.c_str()) != 0) return 2;
                  return RS::Root().empty() && RS::CreateKey("A", &key_) == S::kIoError ? 0 : 3;
              }),
              0);
}

TEST_F(RegistryStoreTest, HostileNamesAreRefusedAndNothingLeavesTheRoot) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    for (const std::string& name : {".."s, "."s, "a/b"s, "/"s, "\x01"s, "x\x7f"s, "a\0b"s}) {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_EQ(RS::CreateKey("K\\" + name + "\\..\\escape", &other_), S::kInvalidName);
        EXPECT_EQ(RS::OpenKey(name + "\\K", &other_), S::kInvalidName);
        EXPECT_EQ(RS::DeleteKey(name + "\\K"), S::kInvalidName);
        EXPECT_EQ(Set(key_, name, "x"), S::kInvalidName);
        EXPECT_EQ(Get(key_, name), "<123>");
        EXPECT_EQ(RS::DeleteValue(key_, name), S::kInvalidName);
    }
    EXPECT_EQ(RS::DeleteKey("\\\\"), S::kInvalidName);  // the root itself
    EXPECT_EQ(List(temp_.path()), Names{"registry"});
    EXPECT_EQ(List(root_), Names{"K"});
    EXPECT_TRUE(List(key_.directory()).empty());
    EXPECT_TRUE(RS::IsValidName("...") && RS::IsValidName(".x") && RS::IsValidName("a\\b c"));
    EXPECT_FALSE(RS::IsValidName(""));
}

TEST_F(RegistryStoreTest, SubkeyValueAndDefaultValueShareNamesAndDeleteKeySparesSubkeys) {
    ASSERT_EQ(RS::CreateKey("K\\Sub", &other_), S::kOk);
    ASSERT_EQ(RS::OpenKey("K", &key_), S::kOk);
    EXPECT_EQ(Get(key_, "Sub"), "<2>");
    EXPECT_EQ(RS::DeleteValue(key_, "Sub"), S::kNotFound);
    ASSERT_EQ(Set(key_, "Sub", "value"), S::kOk);
    ASSERT_EQ(Set(key_, "", "default"), S::kOk);
    ASSERT_EQ(Set(key_, "Val", "kept"), S::kOk);
    ASSERT_EQ(RS::CreateKey("K\\Val\\Deeper", &other_), S::kOk);
    EXPECT_EQ(Get(key_, "Sub") + Get(key_, "") + Get(key_, "Val"), "valuedefaultkept");
    Names subkeys, values;
    ASSERT_EQ(RS::EnumKey(key_, &subkeys, &values), S::kOk);
    EXPECT_EQ(subkeys, (Names{"Sub", "Val"}));
    EXPECT_EQ(values, (Names{"", "Sub", "Val"}));
    EXPECT_EQ(RS::DeleteValue(key_, ""), S::kOk);
    EXPECT_EQ(Get(key_, ""), "<2>");

    test::WriteFile(key_.directory() + "/\x02tmp-stray", "half");
    EXPECT_EQ(RS::DeleteKey("K"), S::kKeyHasSubkeys);
    EXPECT_EQ(List(key_.directory()),
              (Names{File("Sub"), File("Val"), "\x02tmp-stray", "Sub", "Val"}));
    EXPECT_EQ(RS::DeleteKey("K\\Val\\Deeper"), S::kOk);
    EXPECT_EQ(RS::DeleteKey("K\\Val"), S::kOk);
    EXPECT_EQ(RS::DeleteKey("K\\Sub"), S::kOk);
    EXPECT_EQ(RS::DeleteKey("K"), S::kOk);
    EXPECT_EQ(RS::DeleteKey("K"), S::kNotFound);
    EXPECT_EQ(Set(key_, "Val", "again"), S::kNotFound);
    EXPECT_EQ(List(root_), Names{});
}

TEST_F(RegistryStoreTest, CallerErrorsAreInvalidName) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    uint32_t size = 0;
    char byte = 0;
    EXPECT_EQ(RS::OpenKey("K", nullptr), S::kInvalidName);
    EXPECT_EQ(RS::CreateKey("K", nullptr), S::kInvalidName);
    EXPECT_EQ(RS::QueryValue(key_, "V", nullptr, &byte, nullptr), S::kInvalidName);
    EXPECT_EQ(RS::SetValue(key_, "V", RegistryType::kString, nullptr, 1), S::kInvalidName);
    EXPECT_EQ(RS::SetValue(key_, "V", RegistryType::kString, nullptr, 0), S::kOk);
    RegistryType type{};
    EXPECT_EQ(RS::QueryValue(key_, "V", &type, nullptr, nullptr), S::kOk);
    EXPECT_EQ(type, RegistryType::kString);
    RS::CloseKey(&key_);
    RS::CloseKey(nullptr);
    EXPECT_EQ(RS::QueryValue(key_, "V", nullptr, nullptr, &size), S::kInvalidName);
    EXPECT_EQ(Set(key_, "V", "x"), S::kInvalidName);
    EXPECT_EQ(RS::DeleteValue(key_, "V"), S::kInvalidName);
    EXPECT_EQ(RS::EnumKey(key_, nullptr, nullptr), S::kInvalidName);
}

// What others leave in the store: files of no value, names too long, a root
// below a file, a key gone while open.
TEST_F(RegistryStoreTest, ForeignFilesAndMissingPlacesAreRefused) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    const std::string dir = key_.directory() + "/";
    ASSERT_EQ(mkfifo((dir + File("Fifo")).c_str(), 0600), 0);
    ASSERT_EQ(symlink("Loop", (dir + "Loop").c_str()), 0);
    test::WriteFile(dir + File("Huge"), "");
    ASSERT_EQ(truncate((dir + File("Huge")).c_str(), int64_t{5} << 30), 0);  // sparse
    test::WriteFile(dir + File("\x02"), Stored("not listed"));
    test::WriteFile(dir + File("Short"), "TQR");
    std::filesystem::create_directory(dir + File("Dir"));
    const std::string long_name(300, 'n');
    EXPECT_EQ(Get(key_, "Fifo") + Get(key_, "Loop") + Get(key_, "Huge") + Get(key_, "Short"),
              "<1117><1117><1117><1117>");
    EXPECT_EQ(Get(key_, "Dir"), "<2>");
    EXPECT_EQ(Get(key_, long_name), "<123>");
    EXPECT_EQ(RS::CreateKey("K\\" + long_name, &other_), S::kInvalidName);
    EXPECT_EQ(RS::CreateKey("K\\Fifo\\Sub", &other_), S::kOk);  // the old-layout name is free
    ASSERT_EQ(mkfifo((dir + "Pipe").c_str(), 0600), 0);
    EXPECT_EQ(RS::CreateKey("K\\Pipe", &other_), S::kAccessDenied);  // no value to move aside
    EXPECT_EQ(RS::DeleteValue(key_, "Dir"), S::kIoError);
    Names subkeys, values;
    ASSERT_EQ(RS::EnumKey(key_, &subkeys, nullptr), S::kOk);
    ASSERT_EQ(RS::EnumKey(key_, nullptr, &values), S::kOk);
    EXPECT_EQ(subkeys, Names{"Fifo"});
    EXPECT_EQ(values, (Names{"Dir", "Fifo", "Huge", "Short"}));

    // A file where a key goes: one that is no key, and one above the root.
    test::WriteFile(root_ + "/File", Stored("v"));
    EXPECT_EQ(RS::OpenKey("File", &other_), S::kNotFound);
    {
        test::ScopedEnv below_file("TQ_REGISTRY_ROOT", (root_ + "/File/registry").c_str());
        EXPECT_EQ(RS::CreateKey("A", &other_), S::kAccessDenied);
    }
    // A key reached by a symbolic link is not deleted, nor are the values of
    // the key it leads to.
    ASSERT_EQ(RS::CreateKey("Target", &other_), S::kOk);
    ASSERT_EQ(Set(other_, "V", "x"), S::kOk);
    ASSERT_EQ(symlink("Target", (root_ + "/Link").c_str()), 0);
    EXPECT_EQ(RS::DeleteKey("Link"), S::kNotFound);
    EXPECT_EQ(Get(other_, "V"), "x");

    // The key's directory gone while the key is open.
    ASSERT_EQ(RS::CreateKey("Gone", &other_), S::kOk);
    ASSERT_EQ(rmdir(other_.directory().c_str()), 0);
    EXPECT_EQ(RS::EnumKey(other_, nullptr, nullptr), S::kNotFound);
}

// A value that does not fit under RLIMIT_FSIZE is not written, and no
// temporary file stays behind.
TEST_F(RegistryStoreTest, ValueBeyondTheFileSizeLimitIsAnIoError) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    ASSERT_EQ(Set(key_, "V", "old"), S::kOk);
    EXPECT_EQ(test::RunInChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{4096, 4096};
                  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
                  return Set(key_, "V", std::string(8192, 'x')) == S::kIoError ? 0 : 2;
              }),
              0);
    EXPECT_EQ(Get(key_, "V"), "old");
    EXPECT_EQ(List(key_.directory()), Names{File("V")});
}

// A value of a store written before values had their prefix: a file named as
// the value.
TEST_F(RegistryStoreTest, OldValuesAreReadAndGiveWayToWritesAndSubkeys) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    for (const char* name : {"Old", "Gone", "Moved"})
        test::WriteFile(key_.directory() + "/" + name, Stored(name));
    EXPECT_EQ(Get(key_, "Old") + Get(key_, "Gone") + Get(key_, "Moved"), "OldGoneMoved");
    Names values;
    ASSERT_EQ(RS::EnumKey(key_, nullptr, &values), S::kOk);
    EXPECT_EQ(values, (Names{"Gone", "Moved", "Old"}));

    ASSERT_EQ(Set(key_, "Old", "new"), S::kOk);
    EXPECT_EQ(Get(key_, "Old"), "new");
    EXPECT_EQ(RS::DeleteValue(key_, "Gone"), S::kOk);
    EXPECT_EQ(RS::DeleteValue(key_, "Gone"), S::kNotFound);
    ASSERT_EQ(RS::CreateKey("K\\Moved", &other_), S::kOk);
    EXPECT_EQ(Get(key_, "Moved"), "Moved");
    // Where the prefixed file is there already, it is the newer value.
    test::WriteFile(key_.directory() + "/Newer", Stored("older"));
    ASSERT_EQ(Set(key_, "Newer", "newer"), S::kOk);
    test::WriteFile(key_.directory() + "/Newer", Stored("older"));
    ASSERT_EQ(RS::CreateKey("K\\Newer", &other_), S::kOk);
    EXPECT_EQ(Get(key_, "Newer"), "newer");
    EXPECT_EQ(List(key_.directory()),
              (Names{File("Moved"), File("Newer"), File("Old"), "Moved", "Newer"}));
}

// A key the account may not write: nothing changes in it. Permissions do not
// bind root, so root runs the checks as another account.
TEST_F(RegistryStoreTest, ReadOnlyKeyIsAccessDeniedAndKeepsTheOldValue) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    ASSERT_EQ(Set(key_, "V", "old"), S::kOk);
    for (const char* name : {"Old", "W"})  // values of the old layout
        test::WriteFile(key_.directory() + "/" + name, Stored(name));
    ASSERT_EQ(chmod(temp_.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(key_.directory().c_str(), 0555), 0);
    EXPECT_EQ(test::RunInChild([&] {
                  if (geteuid() == 0 && !test::BecomeAccount(54321)) return 100;
                  const S results[] = {Set(key_, "V", "new"), RS::DeleteValue(key_, "V"),
                                       RS::DeleteValue(key_, "W"), RS::CreateKey("K\\Sub", &other_),
                                       RS::CreateKey("K\\Old", &other_)};
                  for (size_t i = 0; i < std::size(results); ++i) {
                      if (results[i] != S::kAccessDenied) return static_cast<int>(i) + 1;
                  }
                  return Get(key_, "V") + Get(key_, "W") == "oldW" ? 0 : 99;
              }),
              0);
    EXPECT_EQ(List(key_.directory()), (Names{File("V"), "Old", "W"}));
}

// Round r of writer w: w and r in the first three bytes, the length varies.
std::string WriterValue(int w, int r) {
    std::string value(3 + static_cast<size_t>(r * 97 + w * 1013) % 6000, static_cast<char>(w + r));
    value[0] = static_cast<char>(w);
    value[1] = static_cast<char>(r & 0xff);
    value[2] = static_cast<char>(r >> 8);
    return value;
}

TEST_F(RegistryStoreTest, ConcurrentWritersNeverShowATornValue) {
    ASSERT_EQ(RS::CreateKey("K", &key_), S::kOk);
    ASSERT_EQ(Set(key_, "V", WriterValue(2, 0)), S::kOk);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            bool ok = true;
            for (int r = 0; r < 500; ++r)
                ok &= Set(key_, "V", WriterValue(w, r)) == S::kOk;
            _exit(ok ? 0 : 1);
        }
    }
    int reads = 0, torn = 0, running = 2;
    for (; running > 0; ++reads) {
        const std::string v = Get(key_, "V");
        const auto at = [&v](size_t i) { return static_cast<unsigned char>(v[i]); };
        torn += v.size() < 3 || v != WriterValue(at(0), at(1) | at(2) << 8);
        for (pid_t& pid : writers) {
            int status = 0;
            if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                pid = 0;
                --running;
            }
        }
    }
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(List(key_.directory()), Names{File("V")});
}

}  // namespace
}  // namespace tq::platform
