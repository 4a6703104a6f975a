#pragma once
#include <string>

#include "time/KGPSTime.h"

// A GPS time as the command line shows it: "GPS week 1427, 206000.000 s of week,
// 2007/05/14 09:13:20 GPS = 2007/05/14 09:13:06 UTC". Without a week (a time of week alone,
// held in week 0) only the time of week is meaningful, and only that is shown.
std::string GpsTimeText(const KGPSTime& time, bool weekKnown = true);

// "2026/12/09 01:23:45.120 (GPS week 2396, 345825.120 s of week)": the time as held, without
// saying on which scale (receivers answer in GPS time or in UTC).
std::string CalendarText(const KGPSTime& time);

// The seconds of week cut to whole milliseconds, so they agree with the clock time shown.
double ShownSecondsOfWeek(const KGPSTime& time);

// The UTC moment of a time on the GPS scale: the leap seconds of its date taken off.
KGPSTime GpsToUtc(const KGPSTime& time);

// Seconds from `from` to `to`, with the fractions.
double SecondsBetween(const KGPSTime& from, const KGPSTime& to);
