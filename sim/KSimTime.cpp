#include "sim/KSimTime.h"

#include "time/KCivilDate.h"
#include "time/KClock.h"

namespace {
constexpr int64_t kGpsEpoch = 315964800;  // 1980-01-06 00:00:00 UTC
constexpr int64_t kSecondsPerWeek = 604800;
constexpr int64_t kSecondsPerDay = 86400;
} // namespace

namespace KSimTime {

Gps GpsNow(int32_t leapSeconds) {
    const int64_t gps = KClock::Current().WallSeconds() - kGpsEpoch + leapSeconds;
    const int64_t week = FloorDiv(gps, kSecondsPerWeek);
    if (week < 0) return {0, 0};
    return {week, gps - week * kSecondsPerWeek};
}

Utc UtcNow() {
    const int64_t wall = KClock::Current().WallSeconds();
    const int64_t days = FloorDiv(wall, kSecondsPerDay);
    const int64_t second = wall - days * kSecondsPerDay;
    Utc utc{};
    CivilFromDays(days, utc.year, utc.month, utc.day);
    utc.hour = static_cast<int32_t>(second / 3600);
    utc.minute = static_cast<int32_t>(second / 60 % 60);
    utc.second = static_cast<int32_t>(second % 60);
    return utc;
}

} // namespace KSimTime
