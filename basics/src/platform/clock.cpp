#include "platform/clock.h"

#include <time.h>

namespace tq::platform {
namespace {

constexpr uint64_t kCounterFrequency = 10'000'000;  // 100 ns ticks

timespec Monotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

uint32_t SystemTickCount() {
    const timespec now = Monotonic();
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1'000'000u;
    return static_cast<uint32_t>(ms);
}

int64_t SystemCounter() {
    const timespec now = Monotonic();
    return static_cast<int64_t>(now.tv_sec) * static_cast<int64_t>(kCounterFrequency) +
           now.tv_nsec / 100;
}

uint64_t SystemCounterFrequency() {
    return kCounterFrequency;
}

bool SystemRealTime(RealTime* now) {
    timespec reading{};
    // A valid clock and address: the call cannot fail.
    if (clock_gettime(CLOCK_REALTIME, &reading) != 0) return false;  // GCOVR_EXCL_LINE: see above
    now->seconds = reading.tv_sec;
    now->nanoseconds = static_cast<int32_t>(reading.tv_nsec);
    return true;
}

// False when the year does not fit the fields (tm_year may be as large as an int).
bool Fill(const tm& parts, CalendarTime* fields) {
    const int64_t year = int64_t{parts.tm_year} + 1900;
    if (year > INT32_MAX) return false;
    fields->year = static_cast<int32_t>(year);
    fields->month = parts.tm_mon + 1;
    fields->day = parts.tm_mday;
    fields->hour = parts.tm_hour;
    fields->minute = parts.tm_min;
    fields->second = parts.tm_sec;
    return true;
}

bool SystemSplitLocal(int64_t seconds, CalendarTime* fields, int32_t* secondsEast) {
    // localtime_r need not look at TZ again; tzset makes a changed zone count.
    tzset();
    const time_t time = static_cast<time_t>(seconds);
    tm parts{};
    if (localtime_r(&time, &parts) == nullptr || !Fill(parts, fields)) return false;
    *secondsEast = static_cast<int32_t>(parts.tm_gmtoff);
    return true;
}

const ClockSource kSystem = {SystemTickCount, SystemCounter, SystemCounterFrequency, SystemRealTime,
                             SystemSplitLocal};

const ClockSource* g_source = &kSystem;

}  // namespace

const ClockSource& SystemClockSource() {
    return kSystem;
}

const ClockSource* SetClockSource(const ClockSource* source) {
    const ClockSource* previous = g_source;
    g_source = source != nullptr ? source : &kSystem;
    return previous;
}

uint32_t TickCount() {
    return g_source->tickCount();
}

int64_t HiResCounter() {
    return g_source->counter();
}

uint64_t HiResFrequency() {
    return g_source->counterFrequency();
}

bool RealTimeNow(RealTime* now) {
    return now != nullptr && g_source->realTime(now);
}

bool SplitLocalTime(int64_t seconds, CalendarTime* fields, int32_t* secondsEast) {
    return fields != nullptr && secondsEast != nullptr &&
           g_source->splitLocal(seconds, fields, secondsEast);
}

bool SplitUtcTime(int64_t seconds, CalendarTime* fields) {
    if (fields == nullptr) return false;
    const time_t time = static_cast<time_t>(seconds);
    tm parts{};
    return gmtime_r(&time, &parts) != nullptr && Fill(parts, fields);
}

}  // namespace tq::platform
