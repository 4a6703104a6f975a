#pragma once
#include <cstdint>

// Calendar arithmetic on the proleptic Gregorian calendar, shared by GPS time and the simulated
// receivers' clocks.

// Days since 1970-01-01 to year, month (1..12) and day (1..31).
void CivilFromDays(int64_t days, int32_t& year, int32_t& month, int32_t& day);

// Year, month and day to days since 1970-01-01 (the inverse of CivilFromDays).
constexpr int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Floor division: rounds toward minus infinity, so times before an origin fall in the right
// day or week.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}
