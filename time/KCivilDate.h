#pragma once
#include <cstdint>

// Calendar arithmetic on the proleptic Gregorian calendar, shared by GPS time and the simulated
// receivers' clocks.

// Days since 1970-01-01 to year, month (1..12) and day (1..31).
void CivilFromDays(int64_t days, int32_t& year, int32_t& month, int32_t& day);

// Floor division: rounds toward minus infinity, so times before an origin fall in the right
// day or week.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}
