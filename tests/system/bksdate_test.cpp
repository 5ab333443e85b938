// Date and time on injected wall-clock readings in chosen time zones.
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/clock.h"
#include "support/test_env.h"
#include "system/platform_services.h"

namespace {

using tq::platform::CalendarTime;
using tq::platform::RealTime;

constexpr int64_t kWinterNoon = 1'705'320'000;  // 2024-01-15 12:00:00 UTC
constexpr int64_t kSummerNoon = 1'721'044'800;  // 2024-07-15 12:00:00 UTC

RealTime g_now{};

bool NoLocalTime(int64_t, CalendarTime*, int32_t*) {
    return false;
}

class DateTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = {kWinterNoon, 0};
        source_.realTime = [](RealTime* now) { return *now = g_now, true; };
        previous_ = tq::platform::SetClockSource(&source_);
        tq::ResetTimeZoneCache();
    }
    void TearDown() override {
        tq::platform::SetClockSource(previous_);
        tq::ResetTimeZoneCache();
        KvOffsetHours(0);
    }

    tq::platform::ClockSource source_ = tq::platform::SystemClockSource();
    const tq::platform::ClockSource* previous_ = nullptr;
    tq::test::ScopedEnv tz_{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};
};

TEST_F(DateTest, ZoneIsMinutesEastAndAskedOnce) {
    EXPECT_EQ(bksgettimezone(), 60);  // standard time
    tq::ResetTimeZoneCache();
    g_now.seconds = kSummerNoon;
    EXPECT_EQ(bksgettimezone(), 120);  // daylight saving time
    tq::ResetTimeZoneCache();
    tq::test::ScopedEnv west("TZ", "EST5EDT,M3.2.0,M11.1.0");
    g_now.seconds = kWinterNoon;
    EXPECT_EQ(bksgettimezone(), -300);
    // Kept for the process: a later change of zone or season is not seen.
    g_now.seconds = kSummerNoon;
    tq::test::ScopedEnv utc("TZ", "UTC0");
    EXPECT_EQ(bksgettimezone(), -300);
    btime time{};
    bksgettime(&time);
    EXPECT_EQ(time.zone, -300);
    EXPECT_EQ(time.hour, 12);  // the clock itself follows the zone in force

    // A zone the system cannot tell: -2171, cached too; the records carry 0.
    tq::ResetTimeZoneCache();
    source_.splitLocal = NoLocalTime;
    EXPECT_EQ(bksgettimezone(), KV_ERR_NO_TIMEZONE);
    source_.splitLocal = tq::platform::SystemClockSource().splitLocal;
    EXPECT_EQ(bksgettimezone(), KV_ERR_NO_TIMEZONE);
    bksgettime(&time);
    EXPECT_EQ(time.zone, 0);
}

TEST_F(DateTest, HourOffsetIsAddedWithEightBitWrap) {
    g_now.seconds = kWinterNoon + 10 * 3600 + 10 * 60 + 5;  // 23:10:05 local
    EXPECT_EQ(KvOffsetHours(2), 0);
    EXPECT_EQ(KvOffsetHours(2), 2);
    btime time{};
    bdate date{};
    bksgettime(&time);
    EXPECT_EQ((std::vector<int>{time.hour, time.minute, time.second}),
              (std::vector<int>{25, 10, 5}));
    bksgetdate(&date);  // the offset plays no part in the date
    EXPECT_EQ((std::vector<int>{date.year, date.month, date.day}), (std::vector<int>{2024, 1, 15}));

    EXPECT_EQ(KvOffsetHours(-1), 2);
    EXPECT_EQ(KvOffsetHours(0x1FF), -1);      // the byte 0xFF again
    g_now.seconds = kWinterNoon - 13 * 3600;  // 00:00 local
    bksgettime(&time);
    EXPECT_EQ(time.hour, 255);
}

TEST_F(DateTest, UtcAndHighResolutionReadings) {
    g_now = {kSummerNoon + 59, 123'456'789};
    btime time{};
    bdate date{};
    bksgetsystemtime(&time, &date);
    EXPECT_EQ((std::vector<int>{time.hour, time.second, time.zone, date.month}),
              (std::vector<int>{12, 59, 0, 7}));
    int nanoseconds = -1;
    bksGetHiresTimeUTC(date, time, nanoseconds);
    EXPECT_EQ((std::vector<int>{nanoseconds, time.hour, time.zone}),
              (std::vector<int>{123'456'700, 12, 0}));
    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ((std::vector<int>{nanoseconds, time.hour, time.zone}),
              (std::vector<int>{123'456'700, 14, 120}));

    g_now = {kWinterNoon - 12 * 3600 - 1, 999'999'999};  // 23:59:59 UTC, 00:59:59 local
    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ((std::vector<int>{nanoseconds, date.day, time.hour, time.zone}),
              (std::vector<int>{999'999'900, 15, 0, 120}));

    // A reading that cannot be split leaves the records as they were.
    source_.splitLocal = NoLocalTime;
    g_now.seconds = kSummerNoon;
    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ((std::vector<int>{nanoseconds, date.day, time.hour}), (std::vector<int>{0, 15, 0}));
}

}  // namespace
