// Output streams: the exact text of each insertion into a file, the
// manipulators and the file's ownership.
#include <cinttypes>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "support/test_env.h"

namespace {

using tq::test::ReadFile;
using tq::test::TempDir;

class KvOutStreamTest : public ::testing::Test {
protected:
    // The text that one insertion writes.
    template <typename T>
    std::string Written(T value) {
        FILE* file = std::fopen(path_.c_str(), "w");
        EXPECT_NE(file, nullptr);
        {
            KvOutStreamFILE stream(file);
            KvOutStreamStub& stub = stream;
            stub << value;
        }
        std::fclose(file);
        return ReadFile(path_);
    }

    TempDir dir_;
    std::string path_ = dir_.File("out.txt");
};

TEST_F(KvOutStreamTest, EachInsertionWritesItsFormat) {
    // "0x" and then the C library's %p, which has its own prefix here.
    EXPECT_EQ(Written(reinterpret_cast<void*>(0x10)), "0x0x10");
    EXPECT_EQ(Written('q'), "q");
    EXPECT_EQ(Written(2.25), "2.250000");
    EXPECT_EQ(Written(1.5f), "1.500000");
    EXPECT_EQ(Written(static_cast<unsigned short>(65535)), "65535");
    EXPECT_EQ(Written(uint32_t{4294967295u}), "4294967295");
    EXPECT_EQ(Written(static_cast<short>(-5)), "-5");
    EXPECT_EQ(Written(int32_t{-2147483647 - 1}), "-2147483648");
    EXPECT_EQ(Written("text"), "text");
    EXPECT_EQ(Written(static_cast<const char*>(nullptr)), "");

    // 64-bit integers against the C library's conversion.
    char expected[32];
    for (uint64_t v : {uint64_t{0}, uint64_t{10}, uint64_t{4294967296u}, ~uint64_t{0}}) {
        std::snprintf(expected, sizeof expected, "%" PRIu64, v);
        EXPECT_EQ(Written(v), expected);
    }
    for (int64_t v : {int64_t{0}, int64_t{-10}, INT64_MAX, INT64_MIN}) {
        std::snprintf(expected, sizeof expected, "%" PRId64, v);
        EXPECT_EQ(Written(v), expected);
    }
}

TEST_F(KvOutStreamTest, EndlDoesNotFlushAndTheFileStaysOpen) {
    FILE* file = std::fopen(path_.c_str(), "w");
    ASSERT_NE(file, nullptr);
    static char buffer[4096];
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    {
        KvOutStreamFILE stream(file);
        stream << "a" << 1 << endl;
        EXPECT_EQ(ReadFile(path_), "");  // still in the FILE's buffer
        stream << flush;
        EXPECT_EQ(ReadFile(path_), "a1\n");
        stream << int64_t{-3};
        ::endl(static_cast<KvOutStreamStub&>(stream));
    }
    EXPECT_GE(std::fputs("after", file), 0);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(ReadFile(path_), "a1\n-3\nafter");

    KvOutStreamFILE none(nullptr);  // without a file nothing happens
    none << "x" << 1 << endl << flush;
}

}  // namespace
