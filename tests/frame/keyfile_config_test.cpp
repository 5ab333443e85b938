// The key-file configuration.
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "support/test_env.h"

namespace {

TEST(KeyFileConfig, ReadsSectionsNumbersAndStrings) {
    KvKeyFileConfig config;
    ASSERT_EQ(config.LoadText("; comment\n"
                              "top = 5\n"
                              "[Debug]\n"
                              "  Memory =  0x10  \n"
                              "# comment\n"
                              "[debug / memory]\r\n"
                              "library = /opt/check lib.so\r\n"
                              "big = 40000\n"
                              "neg = -32768\n"
                              "bad = 12x\n"),
              0);
    const char* none[] = {nullptr};
    const char* debug[] = {"debug", nullptr};
    const char* debugMemory[] = {"DEBUG", "Memory", nullptr};
    int32_t number = -1;
    int16_t shortNumber = -1;
    EXPECT_EQ(config.GetLong("top", &number, none), 0);
    EXPECT_EQ(number, 5);
    EXPECT_EQ(config.GetShort("memory", &shortNumber, debug), 0);
    EXPECT_EQ(shortNumber, 16);
    EXPECT_EQ(config.GetLong("big", &number, debugMemory), 0);
    EXPECT_EQ(number, 40000);
    EXPECT_EQ(config.GetShort("neg", &shortNumber, debugMemory), 0);
    EXPECT_EQ(shortNumber, -32768);

    // Not found, out of range or malformed: the target stays as it was.
    shortNumber = 3;
    number = 3;
    EXPECT_NE(config.GetShort("big", &shortNumber, debugMemory), 0);
    EXPECT_NE(config.GetLong("bad", &number, debugMemory), 0);
    EXPECT_NE(config.GetLong("memory", &number, none), 0);
    EXPECT_NE(config.GetLong("library", &number, debug), 0);
    EXPECT_EQ(shortNumber, 3);
    EXPECT_EQ(number, 3);

    char storage[KV_CONFIG_STRING_SIZE] = "unchanged";
    char* buffer = storage;
    EXPECT_NE(config.GetString("library", &buffer, debug), 0);
    EXPECT_STREQ(storage, "unchanged");
    EXPECT_EQ(config.GetString("library", &buffer, debugMemory), 0);
    EXPECT_STREQ(storage, "/opt/check lib.so");
    char* noStorage = nullptr;
    EXPECT_NE(config.GetString("library", &noStorage, debugMemory), 0);
    EXPECT_NE(config.GetString("library", nullptr, debugMemory), 0);
}

// The forms of a number, each read as a long and as a short: the value read,
// or nullopt where the target must stay unchanged.
TEST(KeyFileConfig, NumberForms) {
    struct Row {
        const char* text;
        std::optional<int32_t> asLong;
        std::optional<int16_t> asShort;
    };
    const Row rows[] = {
        {"+7", 7, 7},
        {"-0x10", -16, -16},
        {"0X1f", 31, 31},
        {"012", 12, 12},
        {"0x", std::nullopt, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"zz", std::nullopt, std::nullopt},
        {"-40000", -40000, std::nullopt},
        {"2147483648", std::nullopt, std::nullopt},
        {"-2147483648", INT32_MIN, std::nullopt},
        {"4294967297", std::nullopt, std::nullopt},
    };
    KvKeyFileConfig config;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        config.Set(nullptr, "n", row.text);  // no sections: the top level
        int32_t number = 99;
        int16_t shortNumber = 99;
        EXPECT_EQ(config.GetLong("n", &number, nullptr), row.asLong ? 0 : 1);
        EXPECT_EQ(number, row.asLong.value_or(99));
        EXPECT_EQ(config.GetShort("n", &shortNumber, nullptr), row.asShort ? 0 : 1);
        EXPECT_EQ(shortNumber, row.asShort.value_or(99));
    }
    EXPECT_EQ(config.GetLong("n", nullptr, nullptr), 1);
    EXPECT_EQ(config.GetLong(nullptr, nullptr, nullptr), 1);
    // A missing name and value are empty texts.
    config.Set(nullptr, nullptr, nullptr);
    char storage[KV_CONFIG_STRING_SIZE] = "unchanged";
    char* buffer = storage;
    EXPECT_EQ(config.GetString("", &buffer, nullptr), 0);
    EXPECT_STREQ(storage, "");
}

TEST(KeyFileConfig, LongStringsAreCutAndBadInputIsRefused) {
    KvKeyFileConfig config;
    const char* path[] = {"a", nullptr};
    std::string longValue(3000, 'v');
    config.Set(path, "long", longValue.c_str());
    char storage[KV_CONFIG_STRING_SIZE];
    char* buffer = storage;
    ASSERT_EQ(config.GetString("long", &buffer, path), 0);
    EXPECT_EQ(std::string(storage), longValue.substr(0, KV_CONFIG_STRING_SIZE - 1));

    // A bad line names itself and keeps the old contents.
    EXPECT_EQ(config.LoadText("[ok]\nx = 1\nno equals sign\n"), 3);
    EXPECT_EQ(config.LoadText("[unclosed\n"), 1);
    EXPECT_EQ(config.LoadText("\n\n = 5\n"), 3);  // no name
    EXPECT_EQ(config.GetString("long", &buffer, path), 0);

    // A missing file and a directory are errors that keep the old contents too.
    tq::test::TempDir dir;
    EXPECT_EQ(config.LoadFile("/nonexistent/tq.conf"), ENOENT);
    EXPECT_EQ(config.LoadFile(nullptr), ENOENT);
    EXPECT_EQ(config.LoadFile(dir.path().c_str()), EISDIR);
    EXPECT_EQ(config.GetString("long", &buffer, path), 0);
    tq::test::WriteFile(dir.File("tq.conf"), "[servers/kvserver]\ndisableWin32PriorityBoost=1\n");
    ASSERT_EQ(config.LoadFile(dir.File("tq.conf").c_str()), 0);
    const char* servers[] = {"servers", "kvserver", nullptr};
    int16_t value = 0;
    EXPECT_EQ(config.GetShort("disablewin32priorityboost", &value, servers), 0);
    EXPECT_EQ(value, 1);
    EXPECT_NE(config.GetString("long", &buffer, path), 0);  // replaced by the file

    // The last line needs no line end; no text at all empties the configuration.
    ASSERT_EQ(config.LoadText("\n\nlast = 4"), 0);
    int32_t number = 0;
    EXPECT_EQ(config.GetLong("last", &number, nullptr), 0);
    EXPECT_EQ(number, 4);
    EXPECT_EQ(config.LoadText(nullptr), 0);
    EXPECT_NE(config.GetLong("last", &number, nullptr), 0);
}

}  // namespace
