// Timers on injected clock readings.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/clock.h"
#include "system/platform_services.h"

namespace {

uint32_t g_tick = 0;
int64_t g_counter = 0;
uint64_t g_frequency = 10'000'000;

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        source_.tickCount = [] { return g_tick; };
        source_.counter = [] { return g_counter; };
        source_.counterFrequency = [] { return g_frequency; };
        previous_ = tq::platform::SetClockSource(&source_);
        SetFrequency(10'000'000);
    }
    void TearDown() override {
        tq::platform::SetClockSource(previous_);
        tq::ReadCounterFrequency();
    }
    static void SetFrequency(uint64_t frequency) {
        g_frequency = frequency;
        tq::ReadCounterFrequency();
    }

    tq::platform::ClockSource source_ = tq::platform::SystemClockSource();
    const tq::platform::ClockSource* previous_ = nullptr;
};

TEST_F(TimerTest, TickTimerAccumulatesAndWraps) {
    WindowsTimer timer;
    EXPECT_EQ(timer.TicksPerSecond(), 1000u);
    g_tick = 5000;  // before the first Start: the time since the clock's origin
    EXPECT_EQ(timer.ElapsedTime(), 5000u);
    EXPECT_EQ(timer.MilliSeconds(), 0u);
    for (uint32_t begin : {1000u, 2000u}) {
        g_tick = begin;
        timer.Start();
        g_tick = begin + 375;
        timer.Stop();
    }
    EXPECT_EQ(timer.MilliSeconds(), 750u);
    EXPECT_DOUBLE_EQ(timer.Seconds(), 0.75);
    timer.Stop();  // without Start: the same interval again
    EXPECT_EQ(timer.MilliSeconds(), 1125u);

    g_tick = 0xFFFFFF00u;  // the tick count wraps at 2^32
    timer.Start();
    g_tick = 0x100;
    EXPECT_EQ(timer.ElapsedTime(), 0x200u);
    EXPECT_EQ(timer.IsTimeOver(1, 1), 0);
    EXPECT_EQ(timer.start, 0xFFFFFF00u);
    g_tick = 0xFFFFFF00u + 2000;
    EXPECT_EQ(timer.IsTimeOver(2, 0), 1);
    EXPECT_EQ(timer.start, 0xFFFFFF00u);
    EXPECT_EQ(timer.IsTimeOver(0, 1), 1);
    EXPECT_EQ(timer.start, g_tick);
    // 4294968 s * 1000 wraps to 704 in 32 bits; 704 ms are not 49.7 days.
    g_tick += 704;
    EXPECT_EQ(timer.IsTimeOver(4294968u, 0), 0);
    timer.Reset();
    EXPECT_EQ(timer.start + timer.accumulated, 0u);
}

TEST_F(TimerTest, HiResTimerUsesAllBitsOfItsTicks) {
    Win32HiResTimer timer;
    EXPECT_EQ(timer.TicksPerSecond(), 0u);
    g_counter = 1'000;
    timer.Start();
    g_counter += 12'345'678;
    EXPECT_EQ(timer.ElapsedTime(), 1234u);
    // 430 s at 10 MHz wraps to half a second in a 32-bit product.
    EXPECT_EQ(timer.IsTimeOver(430, 1), 0);
    g_counter = 1'000 + 6'000'000'000LL;  // ten minutes
    timer.Stop();
    EXPECT_EQ(timer.MilliSeconds(), 600'000u);  // not the low 32 bits of the ticks
    EXPECT_DOUBLE_EQ(timer.Seconds(), 600.0);
    EXPECT_EQ(timer.IsTimeOver(430, 1), 1);
    EXPECT_EQ(timer.start, g_counter);
    g_counter += 40'000'000;  // stopped: these 4 s do not count
    timer.Start();
    g_counter += 25'000'000;
    timer.Stop();  // a second interval adds to the first
    EXPECT_EQ(timer.MilliSeconds(), 602'500u);

    // A clock slower than 1000 Hz: exact milliseconds, no division by zero.
    SetFrequency(500);
    timer.Reset();
    g_counter = 250;
    EXPECT_EQ(timer.ElapsedTime(), 500u);
    timer.Stop();
    EXPECT_EQ(timer.MilliSeconds(), 500u);
    SetFrequency(0);  // a clock without a frequency reads as 0
    EXPECT_EQ(timer.ElapsedTime(), 0u);
    EXPECT_EQ(timer.MilliSeconds(), 0u);
    EXPECT_EQ(timer.Seconds(), 0.0);
    SetFrequency((uint64_t{1} << 32) + 2000);  // its low 32 bits count
    EXPECT_EQ(timer.ElapsedTime(), 125u);
}

TEST_F(TimerTest, EstimateAndSplitOfDurations) {
    KvTimer base;
    EXPECT_EQ(base.IsTimeOver(0, 1), 0);
    EXPECT_EQ(base.EstimatedTimeLeft(50), 0u);

    std::unique_ptr<KvTimer> timer(KvTimer::MakeTimer());
    ASSERT_NE(dynamic_cast<WindowsTimer*>(timer.get()), nullptr);
    g_tick = 5000;
    EXPECT_EQ(timer->EstimatedTimeLeft(25), 20'000u);
    EXPECT_EQ(timer->EstimatedTimeLeft(0), 0u);
    EXPECT_EQ(timer->EstimatedTimeLeft(100), 0u);
    g_tick = 43'000'000;  // twelve hours: elapsed * 100 no longer fits 32 bits
    EXPECT_EQ(timer->EstimatedTimeLeft(50), 86'000'000u);
    g_tick = 4'000'000'000u;
    EXPECT_EQ(timer->EstimatedTimeLeft(1), 0xFFFFFFFFu);

    unsigned h = 0, m = 0, s = 0;
    EXPECT_EQ(timer->HourMinSec(h, m, s, 3'723'456), 456u);
    EXPECT_EQ(std::vector<unsigned>({h, m, s}), std::vector<unsigned>({1, 2, 3}));
    EXPECT_EQ(timer->HourMinSec(h, m, s, 90'061'000), 0u);
    EXPECT_EQ(std::vector<unsigned>({h, m, s}), std::vector<unsigned>({25, 1, 1}));
    g_tick = 61'789;
    EXPECT_EQ(timer->HourMinSec(h, m, s, 0xFFFFFFFFu), 789u);  // the elapsed time
    EXPECT_EQ(std::vector<unsigned>({h, m, s}), std::vector<unsigned>({0, 1, 1}));

    std::unique_ptr<KvTimer> hires(KvTimer::MakeHiResTimer());
    EXPECT_NE(dynamic_cast<Win32HiResTimer*>(hires.get()), nullptr);
}

}  // namespace
