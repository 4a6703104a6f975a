#include <gtest/gtest.h>

#include "time/KCivilDate.h"
#include "time/KLeapSeconds.h"

namespace {

int64_t GpsSeconds(int y, int m, int d, int hh, int mm, int ss) {
    return DaysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
}

// Each offset starts when UTC reaches midnight, which on the GPS scale is the new offset later.
TEST(GpsMinusUtc, StepsAtEachLeapSecond) {
    struct Case {
        int64_t gps;
        int32_t offset;
    } cases[] = {
        {315964800, 0},                                   // the GPS epoch
        {GpsSeconds(1981, 6, 30, 23, 59, 59), 0},
        {GpsSeconds(1981, 7, 1, 0, 0, 1), 1},
        {GpsSeconds(2016, 12, 31, 23, 59, 59), 17},
        {GpsSeconds(2017, 1, 1, 0, 0, 17), 17},  // still 2016-12-31 23:59:60 UTC
        {GpsSeconds(2017, 1, 1, 0, 0, 18), 18},
        {GpsSeconds(2026, 12, 9, 0, 0, 0), 18},
    };
    for (const Case& c : cases) EXPECT_EQ(GpsMinusUtcSeconds(c.gps), c.offset) << c.gps;
}

TEST(CivilDate, DaysFromCivilUndoesCivilFromDays) {
    for (int64_t days : {int64_t{-719468}, int64_t{-1}, int64_t{0}, int64_t{3652}, int64_t{11016}, int64_t{20796}}) {
        int32_t y = 0, m = 0, d = 0;
        CivilFromDays(days, y, m, d);
        EXPECT_EQ(DaysFromCivil(y, m, d), days);
    }
    EXPECT_EQ(DaysFromCivil(1980, 1, 6) * 86400, 315964800);
}

} // namespace
