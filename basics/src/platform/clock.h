// The clocks: a 32-bit millisecond tick count, a high-resolution counter with
// its frequency, the wall clock and its local calendar. They are reached
// through a table of functions, so that a test can substitute fixed readings.
#ifndef KVBASICS_PLATFORM_CLOCK_H
#define KVBASICS_PLATFORM_CLOCK_H

#include <cstdint>

namespace tq::platform {

// A wall-clock reading: seconds since 1970-01-01 UTC and the nanoseconds of
// that second.
struct RealTime {
    int64_t seconds;
    int32_t nanoseconds;
};

// Calendar fields: full year, month 1..12, day 1..31, hour 0..23, minute,
// second 0..59 (60 for a leap second).
struct CalendarTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
};

struct ClockSource {
    // Milliseconds of the monotonic clock, wrapping at 2^32.
    uint32_t (*tickCount)();
    // Ticks of the high-resolution counter and its ticks per second.
    int64_t (*counter)();
    uint64_t (*counterFrequency)();
    // The wall clock; false when it cannot be read.
    bool (*realTime)(RealTime* now);
    // Splits a reading into local calendar fields and gives the local zone's
    // offset east of UTC in seconds at that moment (daylight saving included);
    // false when the local time cannot be found.
    bool (*splitLocal)(int64_t seconds, CalendarTime* fields, int32_t* secondsEast);
};

// The system's clocks: CLOCK_MONOTONIC for the tick count and the counter
// (100 ns ticks, frequency 10,000,000), CLOCK_REALTIME and localtime_r.
const ClockSource& SystemClockSource();
// Installs source (null restores the system's) and returns the previous one.
// The table must outlive its use.
const ClockSource* SetClockSource(const ClockSource* source);

// Readings through the installed source.
uint32_t TickCount();
int64_t HiResCounter();
uint64_t HiResFrequency();
bool RealTimeNow(RealTime* now);
bool SplitLocalTime(int64_t seconds, CalendarTime* fields, int32_t* secondsEast);

// Splits a reading into UTC calendar fields (gmtime_r); false when the year
// does not fit.
bool SplitUtcTime(int64_t seconds, CalendarTime* fields);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_CLOCK_H
