#pragma once
#include <cstdint>

// How far GPS time runs ahead of UTC at a moment given on the GPS scale (seconds since
// 1970-01-01 counted as GPS time, as KGPSTime holds times built from a GPS week): 0 before
// 1981-07-01, 18 since 2017-01-01. Leap seconds announced after 2026 are not known here.
int32_t GpsMinusUtcSeconds(int64_t gpsSeconds);
