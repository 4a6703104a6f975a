#include "time/KLeapSeconds.h"

#include "time/KCivilDate.h"

namespace {

struct Step {
    int32_t year, month;  // the leap second came at the end of the day before the 1st
    int32_t offset;       // GPS minus UTC from then on
};

// The leap seconds since the GPS epoch (IERS Bulletin C).
constexpr Step kSteps[] = {
    {1981, 7, 1},  {1982, 7, 2},  {1983, 7, 3},  {1985, 7, 4},  {1988, 1, 5},  {1990, 1, 6},
    {1991, 1, 7},  {1992, 7, 8},  {1993, 7, 9},  {1994, 7, 10}, {1996, 1, 11}, {1997, 7, 12},
    {1999, 1, 13}, {2006, 1, 14}, {2009, 1, 15}, {2012, 7, 16}, {2015, 7, 17}, {2017, 1, 18},
};

} // namespace

int32_t GpsMinusUtcSeconds(int64_t gpsSeconds) {
    int32_t offset = 0;
    for (const Step& step : kSteps) {
        // On the GPS scale the new offset starts when UTC reaches the 1st, `offset` seconds later.
        const int64_t starts = DaysFromCivil(step.year, step.month, 1) * 86400 + step.offset;
        if (gpsSeconds < starts) break;
        offset = step.offset;
    }
    return offset;
}
