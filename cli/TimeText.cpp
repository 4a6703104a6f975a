#include "cli/TimeText.h"

#include <cmath>
#include <cstdio>

#include "time/KLeapSeconds.h"

namespace {
// Seconds cut to whole milliseconds, so the seconds of week agree with the clock time shown.
double Milliseconds(double seconds) { return std::floor(seconds * 1000.0) / 1000.0; }
} // namespace

std::string GpsTimeText(const KGPSTime& time, bool weekKnown) {
    char text[160];
    if (!weekKnown) {
        std::snprintf(text, sizeof text, "%.3f s of an unknown GPS week", Milliseconds(time.GetSecondsOfWeek()));
        return text;
    }
    const KGPSTime utc(time.utc - GpsMinusUtcSeconds(time.utc));
    const int millis = time.nanoseconds / 1000000;
    std::snprintf(text, sizeof text, "GPS week %u, %.3f s of week, %s.%03d GPS = %s.%03d UTC", time.GetGPSWeek(),
                  Milliseconds(time.GetSecondsOfWeek()), time.Format().c_str(), millis, utc.Format().c_str(), millis);
    return text;
}

std::string CalendarText(const KGPSTime& time) {
    char text[120];
    std::snprintf(text, sizeof text, "%s.%03d (GPS week %u, %.3f s of week)", time.Format().c_str(),
                  time.nanoseconds / 1000000, time.GetGPSWeek(), Milliseconds(time.GetSecondsOfWeek()));
    return text;
}

double SecondsBetween(const KGPSTime& from, const KGPSTime& to) {
    return static_cast<double>(static_cast<int64_t>(to.utc) - from.utc) +
           static_cast<double>(to.nanoseconds - from.nanoseconds) / 1e9;
}
