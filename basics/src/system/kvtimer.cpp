// Timers: a millisecond timer on the tick count and a timer on the
// high-resolution counter.
#include <new>

#include "kvplatform.h"
#include "platform/clock.h"
#include "system/platform_services.h"

namespace {

constexpr uint32_t kTicksPerSecond = 1000;  // the tick count's rate

// The counter's frequency (ticks per second), its low 32 bits, read once when
// the library is loaded.
uint32_t g_frequency = static_cast<uint32_t>(tq::platform::HiResFrequency());

// now - start of the counter, without overflow for any two readings.
int64_t CounterDelta(int64_t now, int64_t start) {
    return static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(start));
}

// ticks * 1000 / frequency, in 64-bit arithmetic that cannot overflow; the
// caller cuts the result to 32 bits. 0 for a clock without a frequency.
uint64_t TicksToMilliseconds(int64_t ticks, uint32_t frequency) {
    if (frequency == 0) return 0;
    const int64_t f = frequency;
    const int64_t whole = ticks / f;
    const int64_t part = ticks % f * 1000 / f;  // |ticks % f| < 2^32: no overflow
    return static_cast<uint64_t>(whole) * 1000u + static_cast<uint64_t>(part);
}

}  // namespace

void tq::ReadCounterFrequency() {
    g_frequency = static_cast<uint32_t>(tq::platform::HiResFrequency());
}

uint32_t tq::CounterFrequency() {
    return g_frequency;
}

// ---------------------------------------------------------------------------
// KvTimer
// ---------------------------------------------------------------------------

KvTimer::~KvTimer() = default;

unsigned int KvTimer::TicksPerSecond() {
    return 0;
}

void KvTimer::Start() {}

void KvTimer::Stop() {}

void KvTimer::Reset() {}

int KvTimer::IsTimeOver(unsigned int, int) {
    return 0;
}

double KvTimer::Seconds() const {
    return 0.0;
}

unsigned int KvTimer::MilliSeconds() const {
    return 0;
}

unsigned int KvTimer::ElapsedTime() const {
    return 0;
}

unsigned int KvTimer::EstimatedTimeLeft(unsigned int percent) const {
    if (percent == 0 || percent >= 100) return 0;
    // Taken in 64 bits: a 32-bit product would wrap after 11.9 hours.
    const uint64_t total = uint64_t{ElapsedTime()} * 100u / percent;
    return total > UINT32_MAX ? UINT32_MAX : static_cast<unsigned int>(total);
}

unsigned int KvTimer::HourMinSec(unsigned int& hours, unsigned int& minutes, unsigned int& seconds,
                                 unsigned int milliseconds) const {
    if (milliseconds == 0xFFFFFFFFu) milliseconds = ElapsedTime();
    const unsigned int totalSeconds = milliseconds / 1000;
    const unsigned int totalMinutes = totalSeconds / 60;
    seconds = totalSeconds - 60 * totalMinutes;
    hours = totalMinutes / 60;
    minutes = totalMinutes - 60 * hours;
    return milliseconds % 1000;
}

KvTimer* KvTimer::MakeTimer() {
    return new (std::nothrow) WindowsTimer;
}

KvTimer* KvTimer::MakeHiResTimer() {
    return new (std::nothrow) Win32HiResTimer;
}

// ---------------------------------------------------------------------------
// WindowsTimer
// ---------------------------------------------------------------------------

WindowsTimer::WindowsTimer() : start(0), accumulated(0) {}

WindowsTimer::~WindowsTimer() = default;

unsigned int WindowsTimer::TicksPerSecond() {
    return kTicksPerSecond;
}

void WindowsTimer::Start() {
    start = tq::platform::TickCount();
}

void WindowsTimer::Stop() {
    accumulated += tq::platform::TickCount() - start;
}

void WindowsTimer::Reset() {
    start = 0;
    accumulated = 0;
}

int WindowsTimer::IsTimeOver(unsigned int seconds, int restart) {
    const uint32_t now = tq::platform::TickCount();
    // The limit in 64 bits: a wrapped 32-bit product would end long waits at once.
    if (uint64_t{now - start} < uint64_t{seconds} * kTicksPerSecond) return 0;
    if (restart != 0) start = now;
    return 1;
}

double WindowsTimer::Seconds() const {
    return accumulated / 1000.0;
}

unsigned int WindowsTimer::MilliSeconds() const {
    return accumulated;
}

unsigned int WindowsTimer::ElapsedTime() const {
    return tq::platform::TickCount() - start;
}

// ---------------------------------------------------------------------------
// Win32HiResTimer
// ---------------------------------------------------------------------------

Win32HiResTimer::Win32HiResTimer() : start(0), accumulated(0) {}

Win32HiResTimer::~Win32HiResTimer() = default;

void Win32HiResTimer::Start() {
    start = tq::platform::HiResCounter();
}

void Win32HiResTimer::Stop() {
    accumulated = static_cast<int64_t>(
        static_cast<uint64_t>(accumulated) +
        static_cast<uint64_t>(CounterDelta(tq::platform::HiResCounter(), start)));
}

void Win32HiResTimer::Reset() {
    start = 0;
    accumulated = 0;
}

int Win32HiResTimer::IsTimeOver(unsigned int seconds, int restart) {
    const int64_t now = tq::platform::HiResCounter();
    // The limit in 64 bits: at 10 MHz a 32-bit product wraps after 429 seconds.
    const uint64_t limit = uint64_t{g_frequency} * seconds;
    const int64_t ticks = CounterDelta(now, start);
    if (ticks < 0 || static_cast<uint64_t>(ticks) < limit) return 0;
    if (restart != 0) start = now;
    return 1;
}

double Win32HiResTimer::Seconds() const {
    if (g_frequency == 0) return 0.0;
    return static_cast<double>(accumulated) / g_frequency;
}

unsigned int Win32HiResTimer::MilliSeconds() const {
    // All 64 bits of the ticks: their low 32 bits times 1000 would wrap after
    // 429 ms of a 10 MHz counter.
    return static_cast<unsigned int>(TicksToMilliseconds(accumulated, g_frequency));
}

unsigned int Win32HiResTimer::ElapsedTime() const {
    const int64_t ticks = CounterDelta(tq::platform::HiResCounter(), start);
    const int64_t ticksPerMillisecond = g_frequency / 1000;
    // A clock slower than 1000 Hz has no whole ticks per millisecond.
    if (ticksPerMillisecond == 0) {
        return static_cast<unsigned int>(TicksToMilliseconds(ticks, g_frequency));
    }
    return static_cast<unsigned int>(static_cast<uint64_t>(ticks / ticksPerMillisecond));
}
