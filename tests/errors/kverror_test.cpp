// Error catalogue, KvError, KvLoginError and the module callback slot.
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "kvbasics.h"

namespace {

const std::string kOql =
    "To get the OQL-Errors, use GetOqlErrMsg(...) at one of the OQL-Interface-Classes";
const std::string kBadParameter = "One of the parameters passed to this function is not valid.";

// The independent listing of the catalogue: "CODE<TAB>TEXT" per line, texts
// byte for byte (trailing blanks included).
std::map<int, std::string> ReadListing() {
    std::ifstream in(TQ_TEST_DATA_DIR "/error_catalogue.tsv", std::ios::binary);
    std::map<int, std::string> listing;
    std::string line;
    while (std::getline(in, line)) {
        size_t tab = line.find('\t');
        EXPECT_NE(tab, std::string::npos) << line;
        EXPECT_TRUE(listing.emplace(std::stoi(line.substr(0, tab)), line.substr(tab + 1)).second);
    }
    return listing;
}

// Callbacks record the codes they are asked for.
std::string g_asked;
char g_text[] = "module text";
std::string g_long(1000, 'x');

char* ModuleText(int code) {
    g_asked += std::to_string(code) + " ";
    return code == -8500 || code == -2002 ? nullptr : g_text;
}
char* OtherText(int) {
    return g_text;
}
char* LongText(int) {
    return g_long.data();
}
char* PreviousResult(int) {
    return const_cast<char*>(KvError(nullptr, nullptr, -2008, 0));
}

class KvErrorTest : public ::testing::Test {
protected:
    void SetUp() override { g_asked.clear(); }
    void TearDown() override {
        if (upper_ != 0 || lower_ != 0) {
            EXPECT_EQ(list().SetModuleErrorCallback(nullptr, upper_, lower_), 0);
        }
    }
    // Registers for the test's lifetime.
    void Register(KvModuleErrorCallbackList::Callback callback, int upper, int lower) {
        ASSERT_EQ(list().SetModuleErrorCallback(callback, upper, lower), 0);
        upper_ = upper;
        lower_ = lower;
    }
    static KvModuleErrorCallbackList& list() { return KvModuleErrorCallbackList::GetInstance(); }
    int upper_ = 0;
    int lower_ = 0;
};

TEST(ErrorCatalogueTest, MatchesTheListing) {
    std::map<int, std::string> listing = ReadListing();
    size_t count = 0;
    const KvErrorEntry* entries = KvErrorCatalogue(&count);
    ASSERT_EQ(listing.size(), 518u);
    ASSERT_EQ(count, listing.size());
    size_t i = 0;
    for (const auto& [code, text] : listing) {  // same order, same bytes
        EXPECT_EQ(entries[i].code, code);
        EXPECT_EQ(std::string(entries[i].text), text) << code;
        ++i;
    }
    // Every code of a wide range against the listing as the model; the text
    // returned is the table's constant itself, never a copy.
    for (int code = -10000; code <= 10000; ++code) {
        const char* text = KvErrorCatalogueText(code);
        auto it = listing.find(code);
        if (KvIsQueryLanguageCode(code)) {
            EXPECT_STREQ(text, kOql.c_str());
        } else if (it == listing.end()) {
            EXPECT_EQ(text, nullptr) << code;
        } else {
            ASSERT_NE(text, nullptr) << code;
            EXPECT_EQ(text, it->second) << code;
            EXPECT_EQ(text, KvErrorCatalogueText(code));
        }
    }
    EXPECT_EQ(KvErrorCatalogueText(INT_MIN), nullptr);
    EXPECT_EQ(KvErrorCatalogueText(INT_MAX), nullptr);

    // Texts that end in a blank keep it; the longest sets the text bound.
    std::string blanks;
    size_t longest = 0;
    for (const auto& [code, text] : listing) {
        if (text.back() == ' ') blanks += std::to_string(code) + " ";
        longest = std::max(longest, text.size());
    }
    EXPECT_EQ(blanks,
              "-7026 -7025 -7024 -7023 -7022 -7021 -7019 -7018 -7017 -7016 -7015 -7014 -2217 ");
    EXPECT_EQ(longest, static_cast<size_t>(KV_ERROR_MAX_TEXT));
}

TEST_F(KvErrorTest, FormatsEveryCase) {
    char buf[512] = "untouched";
    EXPECT_EQ(KvError(buf, "Open", -2008, 0), buf);
    EXPECT_STREQ(buf, "Open : -2008 -> database is not opened");
    EXPECT_STREQ(KvError(buf, nullptr, -2008, 0), "database is not opened");
    std::strcpy(buf, "untouched");
    EXPECT_EQ(KvError(buf, "Open", -2008, 1), KvErrorCatalogueText(-2008));
    EXPECT_STREQ(buf, "untouched");

    EXPECT_STREQ(KvError(buf, nullptr, 0, 0), "0");
    EXPECT_STREQ(KvError(buf, "Open", 0, 0), "Open : ok");
    EXPECT_STREQ(KvError(buf, "Open", 0, 1), "ok");
    EXPECT_STREQ(KvError(buf, "", -2002, 0), (" : -2002 -> " + kBadParameter).c_str());

    // Counts, unknown codes and the ends of the query-language ranges.
    for (int code : {1, 5, 500, 999})
        EXPECT_STREQ(KvError(nullptr, nullptr, code, 1), "count");
    for (int code : {1000, 2002, -1, -9999, -3000, -3100, 3000, 3004, INT_MIN, INT_MAX}) {
        EXPECT_STREQ(KvError(nullptr, nullptr, code, 1), "unknown error") << code;
    }
    for (int code : {-3099, -3050, -3001, 3001, 3003}) {
        EXPECT_EQ(KvError(nullptr, nullptr, code, 1), kOql) << code;
    }
    EXPECT_STREQ(KvError(nullptr, "Q", -3001, 0), ("Q : -3001 -> " + kOql).c_str());

    // The static buffer: the same one for every call without a buffer, and a
    // previous result may be passed back as the prefix.
    const char* first = KvError(nullptr, nullptr, -2008, 0);
    EXPECT_EQ(KvError(nullptr, first, -2002, 0), first);
    EXPECT_STREQ(first, ("database is not opened : -2002 -> " + kBadParameter).c_str());
}

TEST_F(KvErrorTest, StaticBufferCutsLongResults) {
    std::string prefix(300, 'p');
    const char* result = KvError(nullptr, prefix.c_str(), -2002, 0);
    EXPECT_EQ(std::string(result), prefix.substr(0, 255));
    Register(LongText, -8000, -8999);
    EXPECT_EQ(KvError(nullptr, nullptr, -8500, 1), g_long.data());  // not copied
    EXPECT_EQ(std::string(KvError(nullptr, nullptr, -8500, 0)), g_long.substr(0, 255));
    EXPECT_EQ(std::string(KvError(nullptr, "P", -8500, 0)),
              ("P : -8500 -> " + g_long).substr(0, 255));

    // A caller's buffer as large as the contract asks (prefix, separators,
    // longest code, longest catalogue text) is never overrun.
    const size_t contract = 1 + 3 + 11 + 4 + KV_ERROR_MAX_TEXT + 1;
    std::string guarded(contract + 64, '#');
    KvError(guarded.data(), "P", -8500, 0);
    EXPECT_EQ(guarded.substr(contract), std::string(64, '#'));
    EXPECT_EQ(std::string(guarded.c_str()), ("P : -8500 -> " + g_long).substr(0, contract - 1));
    std::string plain(KV_ERROR_MAX_TEXT + 1 + 64, '#');
    KvError(plain.data(), nullptr, -8500, 0);
    EXPECT_EQ(plain.substr(KV_ERROR_MAX_TEXT + 1), std::string(64, '#'));
    EXPECT_EQ(std::strlen(plain.c_str()), static_cast<size_t>(KV_ERROR_MAX_TEXT));
}

TEST_F(KvErrorTest, CallbackRangeExcludesBothEnds) {
    Register(ModuleText, -8000, -8999);
    for (int code : {-8001, -8998, -8400})
        EXPECT_STREQ(KvError(nullptr, nullptr, code, 1), "module text");
    EXPECT_STREQ(KvError(nullptr, nullptr, -8500, 1), "unknown error");  // callback had none
    for (int code : {-8000, -8999, -9000, -7999}) {
        EXPECT_STREQ(KvError(nullptr, nullptr, code, 1), "unknown error");
    }
    EXPECT_EQ(g_asked, "-8001 -8998 -8400 -8500 ");
    EXPECT_EQ(list().GetError(-8000), nullptr);
    EXPECT_STREQ(list().GetError(-8001), "module text");
}

TEST_F(KvErrorTest, CallbackComesBeforeTheCatalogueButNotBeforeQueryCodes) {
    Register(ModuleText, -1999, -3100);
    EXPECT_STREQ(KvError(nullptr, nullptr, -2008, 1), "module text");
    EXPECT_EQ(KvError(nullptr, nullptr, -2002, 1), kBadParameter);  // callback returned null
    EXPECT_EQ(KvError(nullptr, nullptr, -3050, 1), kOql);
    EXPECT_EQ(g_asked, "-2008 -2002 ");
}

TEST_F(KvErrorTest, CallbackMayReturnTheStaticBuffer) {
    Register(PreviousResult, -8000, -8999);
    EXPECT_STREQ(KvError(nullptr, "M", -8500, 0), "M : -8500 -> database is not opened");
}

TEST_F(KvErrorTest, OneRegistrationSlot) {
    Register(ModuleText, -8000, -8999);
    // Refused: meeting ranges (shared ends included), a free-standing second
    // range, upper below lower, removals of another range.
    for (auto [upper, lower] : {std::pair{-7000, -8000},
                                {-8999, -9500},
                                {-8100, -8200},
                                {-7000, -7999},
                                {-8999, -8000}}) {
        EXPECT_EQ(list().SetModuleErrorCallback(OtherText, upper, lower), -2002) << upper;
        EXPECT_EQ(list().SetModuleErrorCallback(nullptr, upper, lower), -2002) << upper;
    }
    EXPECT_EQ(list().SetModuleErrorCallback(nullptr, -8000, -9000), -2002);
    EXPECT_STREQ(KvError(nullptr, nullptr, -7500, 1), "unknown error");
    EXPECT_STREQ(KvError(nullptr, nullptr, -8400, 1), "module text");

    EXPECT_EQ(list().SetModuleErrorCallback(nullptr, -8000, -8999), 0);
    EXPECT_EQ(list().SetModuleErrorCallback(nullptr, -8000, -8999), -2002);
    EXPECT_EQ(list().SetModuleErrorCallback(nullptr, 0, 0), 0);  // the free slot's own range
    EXPECT_STREQ(KvError(nullptr, nullptr, -8400, 1), "unknown error");
    upper_ = lower_ = 0;
    Register(OtherText, -7000, -8000);  // the range that met the old one
    EXPECT_STREQ(KvError(nullptr, nullptr, -7500, 1), "module text");
    EXPECT_EQ(list().GetError(-8000), nullptr);
}

TEST_F(KvErrorTest, LoginTexts) {
    const std::map<int, std::string> fixed = {
        {0, "Login to Database"},
        {1, "Login to Dictionary"},
        {-2017, "Login data inconsistent, please contact Admin"},
        {-2301, "Password is invalid"},
        {-2302, "Login name is not unique, please contact Admin"},
        {-2307, "Login name is invalid"}};
    char buf[256];
    for (const auto& [code, text] : fixed) {
        EXPECT_EQ(KvLoginError(nullptr, nullptr, code, 1), text);
        EXPECT_STREQ(KvLoginError(buf, nullptr, code, 0), text.c_str());
    }
    EXPECT_STREQ(KvLoginError(buf, "DB", 0, 0), "DB : 0 -> Login to Database");
    EXPECT_STREQ(KvLoginError(buf, "DB", 1, 0), "DB : 1 -> Login to Dictionary");
    EXPECT_STREQ(KvLoginError(buf, nullptr, -2500, 0), "Login failed, Error was: -2500");
    EXPECT_STREQ(KvLoginError(buf, "DB", INT_MIN, 0),
                 "DB : -2147483648 -> Login failed, Error was: -2147483648");

    // Neither the callback nor the catalogue is asked.
    Register(ModuleText, -2000, -3000);
    EXPECT_STREQ(KvLoginError(buf, nullptr, -2002, 0), "Login failed, Error was: -2002");
    EXPECT_EQ(g_asked, "");

    // A formatted text asked for alone outlives the call, in its own buffer.
    const char* alone = KvLoginError(nullptr, nullptr, -2500, 1);
    const char* error = KvError(nullptr, nullptr, -2002, 0);
    EXPECT_NE(alone, error);
    EXPECT_STREQ(alone, "Login failed, Error was: -2500");
    EXPECT_EQ(KvLoginError(buf, nullptr, 7, 1), buf);
    EXPECT_STREQ(buf, "Login failed, Error was: 7");
    std::string prefix(300, 'p');
    EXPECT_EQ(std::string(KvLoginError(nullptr, prefix.c_str(), 0, 0)), prefix.substr(0, 255));
}

}  // namespace
