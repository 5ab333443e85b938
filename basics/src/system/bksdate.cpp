// Date and time: the wall clock read into bdate and btime records.
#include "kvplatform.h"
#include "platform/clock.h"
#include "system/platform_services.h"

namespace {

using tq::platform::CalendarTime;
using tq::platform::RealTime;

// Added to every hour the functions deliver (8-bit wrap-around).
int8_t g_hourOffset = 0;

// The first answer of the zone query; kNotAsked until then.
constexpr int32_t kNotAsked = 0x0FFFFFFF;
int32_t g_zoneCache = kNotAsked;

void FillDate(const CalendarTime& fields, bdate* date) {
    date->year = static_cast<uint16_t>(fields.year);
    date->month = static_cast<uint8_t>(fields.month);
    date->day = static_cast<uint8_t>(fields.day);
}

void FillTime(const CalendarTime& fields, int32_t zone, btime* time) {
    time->hour = static_cast<uint8_t>(fields.hour + g_hourOffset);
    time->minute = static_cast<uint8_t>(fields.minute);
    time->second = static_cast<uint8_t>(fields.second);
    time->zone = zone;
}

// The zone for a local record: 0 when the system cannot tell.
int32_t LocalZone() {
    const int zone = bksgettimezone();
    return zone == KV_ERR_NO_TIMEZONE ? 0 : zone;
}

// A reading whose year a bdate cannot hold (0 to 65535) counts as a clock
// that cannot be split: the records stay as they were.
bool FitsRecord(const CalendarTime& fields) {
    return fields.year >= 0 && fields.year <= UINT16_MAX;
}

bool ReadLocal(RealTime* now, CalendarTime* fields) {
    int32_t secondsEast = 0;
    return tq::platform::RealTimeNow(now) &&
           tq::platform::SplitLocalTime(now->seconds, fields, &secondsEast) && FitsRecord(*fields);
}

bool ReadUtc(RealTime* now, CalendarTime* fields) {
    return tq::platform::RealTimeNow(now) && tq::platform::SplitUtcTime(now->seconds, fields) &&
           FitsRecord(*fields);
}

// Nanoseconds within the second at 100 ns resolution.
int HundredNanoseconds(const RealTime& now) {
    return now.nanoseconds / 100 * 100;
}

}  // namespace

void tq::ResetTimeZoneCache() {
    g_zoneCache = kNotAsked;
}

int KvOffsetHours(int hours) {
    const int previous = g_hourOffset;
    g_hourOffset = static_cast<int8_t>(static_cast<uint8_t>(hours));
    return previous;
}

void bksgetdate(bdate* date) {
    RealTime now{};
    CalendarTime fields{};
    if (date == nullptr || !ReadLocal(&now, &fields)) return;
    FillDate(fields, date);
}

void bksgettime(btime* time) {
    RealTime now{};
    CalendarTime fields{};
    if (time == nullptr || !ReadLocal(&now, &fields)) return;
    FillTime(fields, LocalZone(), time);
}

void bksgetsystemtime(btime* time, bdate* date) {
    RealTime now{};
    CalendarTime fields{};
    if (!ReadUtc(&now, &fields)) return;
    if (time != nullptr) FillTime(fields, 0, time);
    if (date != nullptr) FillDate(fields, date);
}

int bksgettimezone() {
    if (g_zoneCache != kNotAsked) return g_zoneCache;
    // tm_gmtoff is seconds east of UTC for the zone in force now, daylight
    // saving included: the negated bias of the zone.
    RealTime now{};
    CalendarTime fields{};
    int32_t secondsEast = 0;
    int32_t zone = KV_ERR_NO_TIMEZONE;
    if (tq::platform::RealTimeNow(&now) &&
        tq::platform::SplitLocalTime(now.seconds, &fields, &secondsEast)) {
        zone = secondsEast / 60;
    }
    g_zoneCache = zone;  // a failure is kept too
    return zone;
}

void bksGetHiresTime(bdate& date, btime& time, int& nanoseconds) {
    nanoseconds = 0;
    RealTime now{};
    CalendarTime fields{};
    if (!ReadLocal(&now, &fields)) return;
    FillTime(fields, LocalZone(), &time);
    FillDate(fields, &date);
    nanoseconds = HundredNanoseconds(now);
}

void bksGetHiresTimeUTC(bdate& date, btime& time, int& nanoseconds) {
    nanoseconds = 0;
    RealTime now{};
    CalendarTime fields{};
    if (!ReadUtc(&now, &fields)) return;
    FillTime(fields, 0, &time);
    FillDate(fields, &date);
    nanoseconds = HundredNanoseconds(now);
}
