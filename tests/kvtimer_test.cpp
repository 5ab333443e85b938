// Timers on injected clock readings.
#include <memory>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/clock.h"
#include "platform_services.h"

namespace {

using tq::platform::ClockSource;

uint32_t g_tick = 0;
int64_t g_counter = 0;
uint64_t g_frequency = 10'000'000;

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_tick = 0;
        g_counter = 0;
        g_frequency = 10'000'000;
        source_ = tq::platform::SystemClockSource();
        source_.tickCount = [] { return g_tick; };
        source_.counter = [] { return g_counter; };
        source_.counterFrequency = [] { return g_frequency; };
        previous_ = tq::platform::SetClockSource(&source_);
        tq::ReadCounterFrequency();
    }
    void TearDown() override {
        tq::platform::SetClockSource(previous_);
        tq::ReadCounterFrequency();
    }
    void SetFrequency(uint64_t frequency) {
        g_frequency = frequency;
        tq::ReadCounterFrequency();
    }

    ClockSource source_{};
    const ClockSource* previous_ = nullptr;
};

TEST_F(TimerTest, TickTimerAccumulatesStoppedIntervals) {
    WindowsTimer timer;
    EXPECT_EQ(timer.TicksPerSecond(), 1000u);
    g_tick = 5000;  // before the first Start: time since the clock's origin
    EXPECT_EQ(timer.ElapsedTime(), 5000u);
    EXPECT_EQ(timer.MilliSeconds(), 0u);
    EXPECT_EQ(timer.Seconds(), 0.0);

    g_tick = 1000;
    timer.Start();
    g_tick = 1500;
    timer.Stop();
    g_tick = 2000;
    timer.Start();
    g_tick = 2250;
    timer.Stop();
    EXPECT_EQ(timer.MilliSeconds(), 750u);
    EXPECT_DOUBLE_EQ(timer.Seconds(), 0.75);
    g_tick = 2300;
    timer.Stop();  // without Start: adds the time since the last Start again
    EXPECT_EQ(timer.MilliSeconds(), 1050u);

    // The tick count wraps at 2^32; differences stay right.
    g_tick = 0xFFFFFF00u;
    timer.Start();
    g_tick = 0x100;
    EXPECT_EQ(timer.ElapsedTime(), 0x200u);

    timer.Reset();
    EXPECT_EQ(timer.start, 0u);
    EXPECT_EQ(timer.MilliSeconds(), 0u);
}

TEST_F(TimerTest, IsTimeOverRestartsOnlyWhenOver) {
    WindowsTimer timer;
    g_tick = 10'000;
    timer.Start();
    g_tick = 11'999;
    EXPECT_EQ(timer.IsTimeOver(2, 1), 0);
    EXPECT_EQ(timer.start, 10'000u);
    g_tick = 12'000;
    EXPECT_EQ(timer.IsTimeOver(2, 0), 1);
    EXPECT_EQ(timer.start, 10'000u);
    EXPECT_EQ(timer.IsTimeOver(0, 1), 1);
    EXPECT_EQ(timer.start, 12'000u);
    // 4294968 s * 1000 wraps to 704 in 32 bits; 704 ms are not 49.7 days.
    g_tick = 12'704;
    EXPECT_EQ(timer.IsTimeOver(4294968u, 0), 0);

    Win32HiResTimer hires;
    g_counter = 100;
    hires.Start();
    // 430 s * 10 MHz wraps to half a second in 32 bits.
    g_counter = 100 + 100 * 10'000'000LL;
    EXPECT_EQ(hires.IsTimeOver(430, 1), 0);
    g_counter = 100 + 430 * 10'000'000LL;
    EXPECT_EQ(hires.IsTimeOver(430, 1), 1);
    EXPECT_EQ(hires.start, g_counter);
    EXPECT_EQ(hires.IsTimeOver(0, 0), 1);
}

TEST_F(TimerTest, HiResTimerConvertsTicksSoundly) {
    Win32HiResTimer timer;
    EXPECT_EQ(timer.TicksPerSecond(), 0u);
    g_counter = 1'000;
    timer.Start();
    g_counter = 1'000 + 12'345'678;
    EXPECT_EQ(timer.ElapsedTime(), 1234u);
    // Ten minutes: the low 32 bits of the ticks times 1000 would wrap many times.
    g_counter = 1'000 + 6'000'000'000LL;
    timer.Stop();
    EXPECT_EQ(timer.MilliSeconds(), 600'000u);
    EXPECT_DOUBLE_EQ(timer.Seconds(), 600.0);

    // A clock slower than 1000 Hz: no division by zero, exact milliseconds.
    SetFrequency(500);
    EXPECT_EQ(timer.MilliSeconds(), 12'000'000'000u & 0xFFFFFFFFu);
    timer.Reset();
    g_counter = 250;
    EXPECT_EQ(timer.ElapsedTime(), 500u);
    timer.Stop();
    EXPECT_EQ(timer.MilliSeconds(), 500u);
    EXPECT_DOUBLE_EQ(timer.Seconds(), 0.5);
    // A clock without a frequency reads as 0.
    SetFrequency(0);
    EXPECT_EQ(timer.ElapsedTime(), 0u);
    EXPECT_EQ(timer.MilliSeconds(), 0u);
    EXPECT_EQ(timer.Seconds(), 0.0);
    // Only the low 32 bits of the frequency count.
    SetFrequency((uint64_t{1} << 32) + 2000);
    g_counter = 2000 * 3;
    EXPECT_EQ(timer.ElapsedTime(), 3000u);
}

TEST_F(TimerTest, EstimateAndSplitOfDurations) {
    KvTimer base;
    EXPECT_EQ(base.TicksPerSecond(), 0u);
    EXPECT_EQ(base.IsTimeOver(0, 1), 0);
    EXPECT_EQ(base.EstimatedTimeLeft(50), 0u);

    WindowsTimer timer;
    g_tick = 5000;
    EXPECT_EQ(timer.EstimatedTimeLeft(25), 20'000u);
    EXPECT_EQ(timer.EstimatedTimeLeft(0), 0u);
    EXPECT_EQ(timer.EstimatedTimeLeft(100), 0u);
    EXPECT_EQ(timer.EstimatedTimeLeft(150), 0u);
    // Twelve hours in: elapsed * 100 no longer fits 32 bits.
    g_tick = 43'000'000;
    EXPECT_EQ(timer.EstimatedTimeLeft(50), 86'000'000u);
    g_tick = 4'000'000'000u;
    EXPECT_EQ(timer.EstimatedTimeLeft(1), 0xFFFFFFFFu);

    unsigned h = 0, m = 0, s = 0;
    EXPECT_EQ(timer.HourMinSec(h, m, s, 3'723'456), 456u);
    EXPECT_EQ(h, 1u);
    EXPECT_EQ(m, 2u);
    EXPECT_EQ(s, 3u);
    EXPECT_EQ(timer.HourMinSec(h, m, s, 90'061'000), 0u);
    EXPECT_EQ(h, 25u);  // not reduced modulo 24
    EXPECT_EQ(m, 1u);
    EXPECT_EQ(s, 1u);
    g_tick = 61'789;  // 0xFFFFFFFF: the elapsed time
    EXPECT_EQ(timer.HourMinSec(h, m, s, 0xFFFFFFFFu), 789u);
    EXPECT_EQ(m, 1u);
    EXPECT_EQ(s, 1u);

    std::unique_ptr<KvTimer> made(KvTimer::MakeTimer());
    std::unique_ptr<KvTimer> hires(KvTimer::MakeHiResTimer());
    ASSERT_NE(made, nullptr);
    ASSERT_NE(hires, nullptr);
    EXPECT_NE(dynamic_cast<WindowsTimer*>(made.get()), nullptr);
    EXPECT_NE(dynamic_cast<Win32HiResTimer*>(hires.get()), nullptr);
    EXPECT_EQ(made->MilliSeconds(), 0u);
}

}  // namespace
