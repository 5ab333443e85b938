// Library identity and module names.
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "system/variant_table.h"

namespace {

TEST(DllName, ComposesNamesFromTagAndNumber) {
    DllNameClass own("Tbs");
    EXPECT_STREQ(own.GetDllName(), "TQ110Tbs90x64");
    EXPECT_STREQ(static_cast<const char*>(own), KV_MODULE_NAME);

    // The composed name is the file name of the shipped module itself.
    std::string file = TQ_TEST_MODULE_PATH;
    file = file.substr(file.find_last_of('/') + 1);
    EXPECT_EQ(file, std::string(own.GetDllName()) + ".so");

    DllNameClass numbered("Tbs", 7);
    EXPECT_STREQ(numbered.GetDllName(), "TQ110Tbs790x64");
    DllNameClass negative("Kvs", -12);
    EXPECT_STREQ(negative.GetDllName(), "TQ110Kvs-1290x64");

    // Neither tag nor number: the buffer keeps what it holds.
    DllNameClass empty;
    std::strcpy(empty.buffer, "kept");
    EXPECT_STREQ(empty.GetDllName(), "kept");

    char out[64];
    EXPECT_EQ(DllNameClass::GetGenericDllName("x", out), out);
    EXPECT_STREQ(out, "TQx90x64");

    // A copy keeps the composed text, not the parts.
    DllNameClass source("Srv", 3);
    DllNameClass copy("Other");
    copy = source;
    EXPECT_EQ(copy.tag, nullptr);
    EXPECT_EQ(copy.number, 0);
    source.tag = "Changed";
    EXPECT_STREQ(source.GetDllName(), "TQ110Changed390x64");
    EXPECT_STREQ(copy.GetDllName(), "TQ110Srv390x64");
    copy = copy;  // self-assignment keeps the text
    EXPECT_STREQ(copy.GetDllName(), "TQ110Srv390x64");
    DllNameClass longer("LongerTag", 12345);
    ASSERT_STREQ(longer.GetDllName(), "TQ110LongerTag1234590x64");
    longer = copy;  // the terminator comes along
    EXPECT_STREQ(longer.GetDllName(), "TQ110Srv390x64");

    std::string tag(1000, 'T');
    DllNameClass name(tag.c_str(), 5);
    EXPECT_EQ(std::strlen(name.GetDllName()), sizeof name.buffer - 1);
}

TEST(Version, CheckFollowsTheFlagRules) {
    // Which numbers differ from the library's (bits 0..4), flags -> result. Flag 1
    // alone never compares the last three numbers; a waiver covers only its own.
    const std::tuple<int, int, int> cases[] = {
        {0, 0, -5004},      {0, 1, 0},      {1, 1, -5004},       {2, 1, -5004},
        {28, 1, 0},         {4, 2, -5004},  {4, 0x10000002, 0},  {8, 4, -5004},
        {8, 0x20000004, 0}, {16, 8, -5004}, {16, 0x40000008, 0}, {12, 0x10000006, -5004}};
    for (const auto& [bits, flags, result] : cases) {
        const int differ = bits;
        auto v = [differ](unsigned number, int bit) { return number + ((differ >> bit) & 1); };
        EXPECT_EQ(CheckKvVersionNumber(v(KV_VERSION_1, 0), v(KV_VERSION_2, 1), v(KV_VERSION_3, 2),
                                       v(KV_VERSION_4, 3), v(KV_VERSION_5, 4), flags),
                  result)
            << bits << " " << flags;
    }
    for (int flags : {0, 1, 2, 4, 8, 0x0E, -1, 0x70000000})
        EXPECT_EQ(KvCheckDll(flags), 0);
}

TEST(Identity, DescribeAndInfoAgree) {
    unsigned n[5];
    const char *module, *built, *info, *compiler, *extra;
    unsigned compilerVersion;
    const char* description = KvDescribeDll(&n[0], &n[1], &n[2], &n[3], &n[4], &module, &built,
                                            &info, &compilerVersion, &compiler, &extra);
    EXPECT_STREQ(description, "Tessaloquin Basic Algorithms");
    EXPECT_EQ(n[0], 11u);
    EXPECT_EQ(n[1], 0u);
    EXPECT_STREQ(module, "TQ110Tbs90x64");
    EXPECT_STREQ(info, "unknown");
    EXPECT_STREQ(extra, "");
    EXPECT_STREQ(built, KV_BUILD_DATE_TIME);

    const char *infoCompiler, *descriptionAndVersion, *buildDate, *infoModule;
    unsigned infoCompilerVersion;
    GETKVBASICSINFO(&infoCompiler, &infoCompilerVersion, &descriptionAndVersion, &buildDate,
                    &infoModule);
    EXPECT_STREQ(infoCompiler, compiler);
    EXPECT_EQ(infoCompilerVersion, compilerVersion);
    EXPECT_EQ(std::string(descriptionAndVersion), std::string(description) + " " + KV_VERSION_TEXT);
    EXPECT_EQ(descriptionAndVersion[std::strlen(descriptionAndVersion) - 1], ' ');
    EXPECT_EQ(std::string(built).rfind(buildDate, 0), 0u);  // the date begins the date and time
    EXPECT_STREQ(infoModule, module);
    GETKVBASICSINFO(nullptr, nullptr, nullptr, nullptr, nullptr);  // every out-parameter optional
}

TEST(Identity, VariantTable) {
    const tq::KvRuntimeVariantTable& table = tq::KvRuntimeVariantTable::Instance();
    EXPECT_EQ(table.current, 2);
    EXPECT_EQ(table.selected, 2);
    EXPECT_STREQ(table.Description(false), "Tessaloquin Runtime System 11.0 (90x64)");
    EXPECT_STREQ(table.Description(true), "Tessaloquin Runtime System 11.0 (90x64D)");
    EXPECT_EQ(table.description[0], nullptr);  // start-up builds the current variant only
    EXPECT_EQ(table.ModuleName(false), nullptr);

    tq::KvRuntimeVariantTable full;
    full.Build(true);
    EXPECT_STREQ(full.ModuleName(false), "TQ110Tbs90x64");
    EXPECT_STREQ(full.ModuleName(true), "TQ110Tbs90x64D");
    EXPECT_STREQ(full.description[0], "Tessaloquin Runtime System 11.0 (80)");
    EXPECT_STREQ(full.debugModuleName[1], "TQ110Tbs90D");
    const char* built = full.description[0];
    full.Build(true);  // what is built stays
    EXPECT_EQ(full.description[0], built);
    full.selected = 0;  // another variant than the current one
    EXPECT_STREQ(full.Description(true), "Tessaloquin Runtime System 11.0 (80D)");
    EXPECT_STREQ(full.ModuleName(false), "TQ110Tbs80");
    for (int16_t outside : {-1, 3}) {
        full.selected = outside;
        EXPECT_EQ(full.Description(false), nullptr);
        EXPECT_EQ(full.ModuleName(true), nullptr);
    }

    tq::KvRuntimeVariantTable none;  // never built: no current variant
    none.selected = -1;
    EXPECT_STREQ(none.Description(false), "Tessaloquin Runtime System");
}

TEST(Exports, PlainNamesResolve) {
    void* module = dlopen(TQ_TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char* name :
         {"KvDescribeDll", "KvCheckDll", "GETKVBASICSINFO", "TimeStampInServerLog"}) {
        EXPECT_NE(dlsym(module, name), nullptr) << name;
    }
    auto check = reinterpret_cast<int (*)(int)>(dlsym(module, "KvCheckDll"));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check(0), 0);
    dlclose(module);
}

}  // namespace
