#include "cli/TimeText.h"

#include <cmath>
#include <cstdio>

#include "time/KLeapSeconds.h"

double ShownSecondsOfWeek(const KGPSTime& time) { return std::floor(time.GetSecondsOfWeek() * 1000.0) / 1000.0; }

KGPSTime GpsToUtc(const KGPSTime& time) {
    KGPSTime utc(time.utc - GpsMinusUtcSeconds(time.utc));
    utc.nanoseconds = time.nanoseconds;
    return utc;
}

std::string GpsTimeText(const KGPSTime& time, bool weekKnown) {
    char text[160];
    if (!weekKnown) {
        std::snprintf(text, sizeof text, "%.3f s of an unknown GPS week", ShownSecondsOfWeek(time));
        return text;
    }
    const KGPSTime utc = GpsToUtc(time);
    const int millis = time.nanoseconds / 1000000;
    std::snprintf(text, sizeof text, "GPS week %u, %.3f s of week, %s.%03d GPS = %s.%03d UTC", time.GetGPSWeek(),
                  ShownSecondsOfWeek(time), time.Format().c_str(), millis, utc.Format().c_str(), millis);
    return text;
}

std::string CalendarText(const KGPSTime& time) {
    char text[120];
    std::snprintf(text, sizeof text, "%s.%03d (GPS week %u, %.3f s of week)", time.Format().c_str(),
                  time.nanoseconds / 1000000, time.GetGPSWeek(), ShownSecondsOfWeek(time));
    return text;
}

double SecondsBetween(const KGPSTime& from, const KGPSTime& to) {
    return static_cast<double>(static_cast<int64_t>(to.utc) - from.utc) +
           static_cast<double>(to.nanoseconds - from.nanoseconds) / 1e9;
}
