// Date and time on injected wall-clock readings and chosen time zones.
#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/clock.h"
#include "platform_services.h"
#include "support/test_env.h"

namespace {

using tq::platform::CalendarTime;
using tq::platform::ClockSource;
using tq::platform::RealTime;

constexpr int64_t kWinterNoon = 1'705'320'000;  // 2024-01-15 12:00:00 UTC
constexpr int64_t kSummerNoon = 1'721'044'800;  // 2024-07-15 12:00:00 UTC
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

RealTime g_now{};

class DateTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = {kWinterNoon, 0};
        source_ = tq::platform::SystemClockSource();
        source_.realTime = [](RealTime* now) {
            *now = g_now;
            return true;
        };
        previous_ = tq::platform::SetClockSource(&source_);
        tq::ResetTimeZoneCache();
        KvOffsetHours(0);
    }
    void TearDown() override {
        tq::platform::SetClockSource(previous_);
        tq::ResetTimeZoneCache();
        KvOffsetHours(0);
    }

    ClockSource source_{};
    const ClockSource* previous_ = nullptr;
};

TEST_F(DateTest, ZoneIsMinutesEastAndAskedOnce) {
    tq::test::ScopedEnv tz("TZ", kCentralEurope);
    EXPECT_EQ(bksgettimezone(), 60);  // standard time
    tq::ResetTimeZoneCache();
    g_now.seconds = kSummerNoon;
    EXPECT_EQ(bksgettimezone(), 120);  // daylight saving time
    tq::ResetTimeZoneCache();
    {
        tq::test::ScopedEnv west("TZ", "EST5EDT,M3.2.0,M11.1.0");
        g_now.seconds = kWinterNoon;
        EXPECT_EQ(bksgettimezone(), -300);
        // Kept for the process: a later change of zone or season is not seen.
        g_now.seconds = kSummerNoon;
        tq::test::ScopedEnv other("TZ", "UTC0");
        EXPECT_EQ(bksgettimezone(), -300);
        btime time{};
        bksgettime(&time);
        EXPECT_EQ(time.zone, -300);
        EXPECT_EQ(time.hour, 12);  // the clock itself follows the zone in force
    }

    // A zone the system cannot tell: -2171, cached too; the records carry 0.
    tq::ResetTimeZoneCache();
    source_.splitLocal = [](int64_t, CalendarTime*, int32_t*) { return false; };
    EXPECT_EQ(bksgettimezone(), KV_ERR_NO_TIMEZONE);
    source_.splitLocal = tq::platform::SystemClockSource().splitLocal;
    EXPECT_EQ(bksgettimezone(), KV_ERR_NO_TIMEZONE);
    btime time{};
    bksgettime(&time);
    EXPECT_EQ(time.zone, 0);
}

TEST_F(DateTest, HourOffsetIsAddedWithEightBitWrap) {
    tq::test::ScopedEnv tz("TZ", "UTC0");
    g_now.seconds = kWinterNoon + 11 * 3600 + 10 * 60 + 5;  // 23:10:05
    EXPECT_EQ(KvOffsetHours(2), 0);
    EXPECT_EQ(KvOffsetHours(2), 2);
    btime time{};
    bdate date{};
    bksgettime(&time);
    EXPECT_EQ(time.hour, 25);  // not reduced modulo 24
    EXPECT_EQ(time.minute, 10);
    EXPECT_EQ(time.second, 5);
    bksgetdate(&date);  // the offset plays no part in the date
    EXPECT_EQ(date.year, 2024);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.day, 15);

    EXPECT_EQ(KvOffsetHours(-1), 2);
    EXPECT_EQ(KvOffsetHours(0x1FF), -1);      // stored as the byte 0xFF
    g_now.seconds = kWinterNoon - 12 * 3600;  // 00:00
    bksgettime(&time);
    EXPECT_EQ(time.hour, 255);
}

TEST_F(DateTest, UtcAndHighResolutionReadings) {
    tq::test::ScopedEnv tz("TZ", kCentralEurope);
    g_now = {kSummerNoon + 59, 123'456'789};
    btime time{};
    bdate date{};
    bksgetsystemtime(&time, &date);
    EXPECT_EQ(time.hour, 12);
    EXPECT_EQ(time.second, 59);
    EXPECT_EQ(time.zone, 0);
    EXPECT_EQ(date.month, 7);

    int nanoseconds = -1;
    bksGetHiresTimeUTC(date, time, nanoseconds);
    EXPECT_EQ(nanoseconds, 123'456'700);
    EXPECT_EQ(time.hour, 12);
    EXPECT_EQ(time.zone, 0);

    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ(nanoseconds, 123'456'700);
    EXPECT_EQ(time.hour, 14);
    EXPECT_EQ(time.zone, 120);
    EXPECT_EQ(date.day, 15);

    // The last hundred nanoseconds of a second, and the first.
    g_now.nanoseconds = 999'999'999;
    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ(nanoseconds, 999'999'900);
    g_now = {kWinterNoon - 12 * 3600 - 1, 0};  // 23:59:59 UTC, 00:59:59 local next day
    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ(nanoseconds, 0);
    EXPECT_EQ(date.day, 15);
    EXPECT_EQ(time.hour, 0);
    EXPECT_EQ(time.zone, 120);  // the cached zone of the first reading

    // A reading that cannot be split leaves the records as they were.
    source_.splitLocal = [](int64_t, CalendarTime*, int32_t*) { return false; };
    g_now.nanoseconds = 500;
    const bdate keptDate = date;
    bksGetHiresTime(date, time, nanoseconds);
    EXPECT_EQ(nanoseconds, 0);
    EXPECT_EQ(date.day, keptDate.day);
    EXPECT_EQ(time.hour, 0);
}

TEST(DateSystemClock, LocalDateMatchesTheSystemCalendar) {
    // The real clock, around a date change at most once: retry until stable.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const time_t before = time(nullptr);
        bdate date{};
        bksgetdate(&date);
        tm parts{};
        localtime_r(&before, &parts);
        if (time(nullptr) / 60 != before / 60) continue;
        EXPECT_EQ(date.year, parts.tm_year + 1900);
        EXPECT_EQ(date.month, parts.tm_mon + 1);
        EXPECT_EQ(date.day, parts.tm_mday);
        return;
    }
}

}  // namespace
