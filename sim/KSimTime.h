#pragma once
#include <cstdint>

// The simulated receivers' clock: whole seconds come from the process clock (KClock, so tests
// fix them), the fraction of a second from the world's time line, so that an answer tells the
// time at which it is sent.
namespace KSimTime {

struct Gps {
    int64_t week;          // GPS week (0 before the GPS epoch)
    int64_t secondOfWeek;  // 0 .. 604799
};
// GPS time now; GPS time runs `leapSeconds` ahead of UTC.
Gps GpsNow(int32_t leapSeconds);

struct Utc {
    int32_t year, month, day, hour, minute, second;
};
Utc UtcNow();

// The fraction of the current second on the world's time line, in milliseconds (0..999).
inline int64_t MillisecondOfSecond(int64_t timeNs) { return (timeNs / 1000000) % 1000; }

} // namespace KSimTime
