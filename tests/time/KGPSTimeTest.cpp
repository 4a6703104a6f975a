#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/LogCapture.h"
#include "time/KClock.h"
#include "time/KGPSTime.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr int32_t kEpoch = 315964800;
constexpr int32_t kWeek1408 = 1167523200;  // 2006-12-31 00:00:00, a Sunday
constexpr int32_t kDay = 86400;

// A wall clock that stands where the test puts it.
class WallClock : public KClock {
public:
    explicit WallClock(int64_t seconds) : now(seconds) {}
    void Sleep(int32_t) override {}
    int64_t NowMs() override { return 0; }
    int64_t WallSeconds() override { return now.load(); }
    std::atomic<int64_t> now;
};

// Seconds since 1970 of a civil date, computed independently of the code under test.
int64_t Reference(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    using namespace std::chrono;
    const sys_days day = year_month_day{year{y}, month{m}, std::chrono::day{d}};
    return int64_t{day.time_since_epoch().count()} * kDay + hh * 3600 + mm * 60 + ss;
}

std::string Formatted(const KGPSTime& time) {
    char text[21];
    std::memset(text, '#', sizeof text);
    time.Format(text);
    EXPECT_EQ(text[20], '#') << "Format wrote past 20 bytes";
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// UTCFromYMDHMS

TEST(UTCFromYMDHMS, KnownDates) {
    LogCapture log;
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(1980, 1, 6, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2000, 3, 1, 0, 0, 0), 951868800);  // 2000 is a leap year
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2000, 2, 29, 0, 0, 0), 951782400);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2006, 12, 31, 0, 0, 0), kWeek1408);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 1, 6, 14, 5, 9), 1168092309);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2038, 1, 19, 3, 14, 7), std::numeric_limits<int32_t>::max());
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(UTCFromYMDHMS, AgreesWithTheCalendarOnEveryMonthOfTheRange) {
    LogCapture log;
    for (int y = 1980; y <= 2037; ++y) {
        for (unsigned m = 1; m <= 12; ++m) {
            for (unsigned d : {1u, 28u}) {
                ASSERT_EQ(KGPSTime::UTCFromYMDHMS(y, static_cast<int32_t>(m), static_cast<int32_t>(d), 13, 59, 58),
                          Reference(y, m, d, 13, 59, 58))
                    << y << "-" << m << "-" << d;
            }
        }
        // The last day of February: 29 only in leap years.
        const bool leap = y % 4 == 0;
        EXPECT_EQ(KGPSTime::UTCFromYMDHMS(y, 3, 1, 0, 0, 0) - KGPSTime::UTCFromYMDHMS(y, 2, 1, 0, 0, 0),
                  (leap ? 29 : 28) * kDay)
            << y;
    }
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(UTCFromYMDHMS, TwoDigitYears) {
    LogCapture log;
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(7, 1, 6, 0, 0, 0), KGPSTime::UTCFromYMDHMS(2007, 1, 6, 0, 0, 0));
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(0, 1, 1, 0, 0, 0), Reference(2000, 1, 1));
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(38, 1, 1, 0, 0, 0), Reference(2038, 1, 1));
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(80, 1, 6, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(99, 12, 31, 23, 59, 59), Reference(1999, 12, 31, 23, 59, 59));
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(UTCFromYMDHMS, YearsOutsideTheRangeAreRejectedWithALine) {
    LogCapture log;
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(79, 6, 1, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(69, 6, 1, 0, 0, 0), kEpoch);   // 2069
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(70, 6, 1, 0, 0, 0), kEpoch);   // 1970
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(1979, 12, 31, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2039, 1, 1, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(-5, 1, 1, 0, 0, 0), kEpoch);   // not 1995
    EXPECT_THAT(log.TextLog(),
                ElementsAre("In UTCFromYMDHMS, year = 1979", "In UTCFromYMDHMS, year = 2069",
                            "In UTCFromYMDHMS, year = 1970", "In UTCFromYMDHMS, year = 1979",
                            "In UTCFromYMDHMS, year = 2039", "In UTCFromYMDHMS, year = -5"));
}

TEST(UTCFromYMDHMS, MonthsOutsideOneToTwelveAreRejectedWithALine) {
    LogCapture log;
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 0, 1, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 13, 1, 0, 0, 0), kEpoch);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, std::numeric_limits<int32_t>::min(), 1, 0, 0, 0), kEpoch);
    EXPECT_THAT(log.TextLog(),
                ElementsAre("In UTCFromYMDHMS, month = 0", "In UTCFromYMDHMS, month = 13",
                            "In UTCFromYMDHMS, month = -2147483648"));
}

TEST(UTCFromYMDHMS, TimeFieldsHaveNoLimits) {
    LogCapture log;
    const int32_t base = KGPSTime::UTCFromYMDHMS(2007, 1, 6, 0, 0, 0);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 1, 6, 25, 0, 0), base + 25 * 3600);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 1, 6, 0, 90, 0), base + 90 * 60);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 1, 6, 0, 0, 100000), base + 100000);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 1, 36, 0, 0, 0), base + 30 * kDay);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2007, 1, 6, -1, 0, 0), base - 3600);
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(1980, 1, 6, 0, 0, -1), kEpoch - 1);  // no check here
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(UTCFromYMDHMS, CountsPastTheThirtyTwoBitRangeComeOutNegative) {
    LogCapture log;
    // One second after the last 32-bit second wraps, as 32-bit arithmetic does.
    EXPECT_EQ(KGPSTime::UTCFromYMDHMS(2038, 1, 19, 3, 14, 8), std::numeric_limits<int32_t>::min());
    EXPECT_LT(KGPSTime::UTCFromYMDHMS(2038, 12, 31, 23, 59, 59), 0);
    // Fields large enough to wrap all the way round must not land on a plausible time.
    EXPECT_LT(KGPSTime::UTCFromYMDHMS(2000, 1, 50000, 0, 0, 0), 0);
    EXPECT_LT(KGPSTime::UTCFromYMDHMS(2000, 1, 1, 1193047, 0, 0), 0);  // 2136: 2^32 + 3.8e8
    // Extreme fields: no overflow, only a count before the epoch.
    const int32_t lo = std::numeric_limits<int32_t>::min();
    const int32_t hi = std::numeric_limits<int32_t>::max();
    EXPECT_LT(KGPSTime::UTCFromYMDHMS(2000, 1, lo, lo, lo, lo), kEpoch);
    EXPECT_LT(KGPSTime::UTCFromYMDHMS(2000, 1, hi, hi, hi, hi), kEpoch);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// The date constructor

TEST(KGPSTimeFromDate, WholeAndFractionalSeconds) {
    LogCapture log;
    const KGPSTime a(2007, 1, 6, 14, 5, 12.25);
    EXPECT_EQ(a.utc, 1168092312);
    EXPECT_EQ(a.nanoseconds, 250000000);
    const KGPSTime b(2007, 1, 6, 14, 5, 0.9999999996);
    EXPECT_EQ(b.utc, 1168092300);         // not carried into the seconds
    EXPECT_EQ(b.nanoseconds, 1000000000);
    const KGPSTime c(2007, 1, 6, 14, 5, 59.0000000004);
    EXPECT_EQ(c.utc, 1168092359);
    EXPECT_EQ(c.nanoseconds, 0);
    const KGPSTime d(80, 1, 6, 0, 0, 0.0);
    EXPECT_EQ(d.utc, kEpoch);
    EXPECT_EQ(d.nanoseconds, 0);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeFromDate, NegativeOrNonFiniteSecondsGiveTheEpochWithOneLine) {
    LogCapture log;
    for (double bad : {-1.5, -std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
        const KGPSTime t(2007, 1, 6, 14, 5, bad);
        EXPECT_EQ(t.utc, kEpoch) << bad;
        EXPECT_EQ(t.nanoseconds, 0) << bad;
    }
    const auto lines = log.TextLog();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "KGPSTime::KGPSTime(y,m,d,h,m,s) negative second = -1.500000");
    for (const auto& line : lines) EXPECT_THAT(line, StartsWith("KGPSTime::KGPSTime(y,m,d,h,m,s) negative second = "));
}

TEST(KGPSTimeFromDate, RejectedYearGivesTheEpochWithTheYearLine) {
    LogCapture log;
    const KGPSTime t(79, 6, 1, 0, 0, 5.0);
    EXPECT_EQ(t.utc, kEpoch);
    EXPECT_EQ(t.nanoseconds, 0);
    EXPECT_THAT(log.TextLog(), ElementsAre("In UTCFromYMDHMS, year = 1979"));
}

TEST(KGPSTimeFromDate, DatesAfter2038BecomeTheEpochWithAValidateLine) {
    LogCapture log;
    const KGPSTime t(2038, 6, 1, 0, 0, 0.5);
    EXPECT_EQ(t.utc, kEpoch);
    EXPECT_EQ(t.nanoseconds, 0);
    const auto lines = log.TextLog();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], StartsWith("KGPSTime::ValidateUTC, time_t = -"));
}

TEST(KGPSTimeFromDate, HugeSecondsNeverWrapIntoAPlausibleTime) {
    LogCapture log;
    // 2^32 + one day would wrap onto 1970-01-02 + ... in 32-bit arithmetic: it must be rejected.
    for (double huge : {4294967296.0 + 2 * kDay + kEpoch, 1e18, 1e300,
                        std::numeric_limits<double>::max()}) {
        const KGPSTime t(1980, 1, 6, 0, 0, huge);
        EXPECT_EQ(t.utc, kEpoch) << huge;
        EXPECT_EQ(t.nanoseconds, 0) << huge;
    }
    EXPECT_EQ(log.TextLog().size(), 4u);
    for (const auto& line : log.TextLog()) EXPECT_THAT(line, StartsWith("KGPSTime::ValidateUTC, time_t = -"));
}

// ---------------------------------------------------------------------------------------------
// The week constructor

TEST(KGPSTimeFromWeek, WeekAndSecondsOfWeek) {
    LogCapture log;
    const KGPSTime a(1408u, 0.0);
    EXPECT_EQ(a.utc, kWeek1408);
    EXPECT_EQ(a.nanoseconds, 0);
    const KGPSTime b(1408u, 86400.5);
    EXPECT_EQ(b.utc, kWeek1408 + kDay);
    EXPECT_EQ(b.nanoseconds, 500000000);
    EXPECT_EQ(b.GetGPSWeek(), 1408u);
    EXPECT_DOUBLE_EQ(b.GetSecondsOfWeek(), 86400.5);
    const KGPSTime c(0u, 0.0);
    EXPECT_EQ(c.utc, kEpoch);
    const KGPSTime d(3025u, 604799.0);
    EXPECT_EQ(d.utc, kEpoch + 3025 * 604800 + 604799);
    EXPECT_EQ(d.GetGPSWeek(), 3025u);
    const KGPSTime e(1408u, 0.9999999996);
    EXPECT_EQ(e.utc, kWeek1408);
    EXPECT_EQ(e.nanoseconds, 1000000000);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeFromWeek, SecondsRunOnIntoTheNextWeek) {
    LogCapture log;
    const KGPSTime t(1408u, 700000.0);
    EXPECT_EQ(t.utc, kWeek1408 + 700000);
    EXPECT_EQ(t.GetGPSWeek(), 1409u);
    EXPECT_DOUBLE_EQ(t.GetSecondsOfWeek(), 700000.0 - 604800.0);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeFromWeek, WeekPast3025OrBadSecondsGiveTheEpochWithTheSoWLine) {
    LogCapture log;
    const KGPSTime a(3026u, 0.0);
    const KGPSTime b(1408u, -1.0);
    const KGPSTime c(1408u, std::numeric_limits<double>::quiet_NaN());
    const KGPSTime d(std::numeric_limits<uint32_t>::max(), 5.0);
    for (const KGPSTime* t : {&a, &b, &c, &d}) {
        EXPECT_EQ(t->utc, kEpoch);
        EXPECT_EQ(t->nanoseconds, 0);
    }
    const auto lines = log.TextLog();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "KGPSTime::KGPSTime(week,sec) negative SoW = 0.000000");
    EXPECT_EQ(lines[1], "KGPSTime::KGPSTime(week,sec) negative SoW = -1.000000");
    EXPECT_THAT(lines[2], StartsWith("KGPSTime::KGPSTime(week,sec) negative SoW = "));
    EXPECT_EQ(lines[3], "KGPSTime::KGPSTime(week,sec) negative SoW = 5.000000");
}

TEST(KGPSTimeFromWeek, CountsPast2038BecomeTheEpochWithAValidateLine) {
    LogCapture log;
    const KGPSTime a(3025u, 4.0 * 604800);
    const KGPSTime b(3025u, 1e300);
    const KGPSTime c(3025u, std::numeric_limits<double>::infinity());
    for (const KGPSTime* t : {&a, &b, &c}) {
        EXPECT_EQ(t->utc, kEpoch);
        EXPECT_EQ(t->nanoseconds, 0);
    }
    const auto lines = log.TextLog();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_THAT(lines[0], StartsWith("KGPSTime::ValidateUTC, time_t = -"));
    EXPECT_THAT(lines[1], StartsWith("KGPSTime::ValidateUTC, time_t = -"));
    EXPECT_THAT(lines[2], StartsWith("KGPSTime::KGPSTime(week,sec) negative SoW = "));
}

TEST(KGPSTimeFromWeek, RoundTripsThroughWeekAndSecondsOfWeek) {
    LogCapture log;
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> weeks(0, 3025);
    std::uniform_int_distribution<uint32_t> seconds(0, 604799);
    std::uniform_int_distribution<uint32_t> millis(0, 999);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t week = weeks(random);
        const double sow = seconds(random) + millis(random) / 1000.0;
        const KGPSTime t(week, sow);
        ASSERT_EQ(t.GetGPSWeek(), week);
        ASSERT_NEAR(t.GetSecondsOfWeek(), sow, 1e-6);
    }
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// ValidateUTC and the clock

TEST(ValidateUTC, ReplacesCountsBeforeTheEpochWithOneLine) {
    LogCapture log;
    const KGPSTime zero(0);
    EXPECT_EQ(zero.utc, kEpoch);
    EXPECT_EQ(zero.nanoseconds, 0);
    EXPECT_THAT(log.TextLog(), ElementsAre("KGPSTime::ValidateUTC, time_t = 0"));
    log.Clear();

    const KGPSTime epoch(kEpoch);
    EXPECT_EQ(epoch.utc, kEpoch);
    const KGPSTime justBefore(kEpoch - 1);
    EXPECT_EQ(justBefore.utc, kEpoch);
    EXPECT_THAT(log.TextLog(), ElementsAre("KGPSTime::ValidateUTC, time_t = 315964799"));
    log.Clear();

    KGPSTime changed(kWeek1408);
    changed.utc = -7;
    changed.nanoseconds = 123;
    changed.ValidateUTC();
    EXPECT_EQ(changed.utc, kEpoch);
    EXPECT_EQ(changed.nanoseconds, 0);
    EXPECT_THAT(log.TextLog(), ElementsAre("KGPSTime::ValidateUTC, time_t = -7"));
}

TEST(KGPSTimeNow, ReadsTheProcessClock) {
    LogCapture log;
    WallClock clock(kWeek1408 + 12345);
    KScopedClock scope(clock);
    const KGPSTime now;
    EXPECT_EQ(now.utc, kWeek1408 + 12345);
    EXPECT_EQ(now.nanoseconds, 0);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeNow, AClockBefore1980OrPast2038GivesTheEpochWithOneLine) {
    LogCapture log;
    WallClock clock(100);
    KScopedClock scope(clock);
    EXPECT_EQ(KGPSTime().utc, kEpoch);
    clock.now = int64_t{1} << 31;  // 2038-01-19 03:14:08
    EXPECT_EQ(KGPSTime().utc, kEpoch);
    clock.now = (int64_t{1} << 32) + kWeek1408;  // would wrap onto 2006 in 32 bits
    EXPECT_EQ(KGPSTime().utc, kEpoch);
    clock.now = -5;
    EXPECT_EQ(KGPSTime().utc, kEpoch);
    const auto lines = log.TextLog();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "KGPSTime::ValidateUTC, time_t = 100");
    EXPECT_EQ(lines[1], "KGPSTime::ValidateUTC, time_t = -2147483648");
    EXPECT_THAT(lines[2], StartsWith("KGPSTime::ValidateUTC, time_t = -"));
    EXPECT_EQ(lines[3], "KGPSTime::ValidateUTC, time_t = -5");
}

// ---------------------------------------------------------------------------------------------
// Breakdown, weeks and Format

TEST(KGPSTimeBreakdown, CalendarFieldsAndDayOfWeek) {
    LogCapture log;
    const KGPSTime epoch(kEpoch);
    EXPECT_EQ(epoch.GetYear(), 1980);
    EXPECT_EQ(epoch.GetMonth(), 1);
    EXPECT_EQ(epoch.GetDayOfWeek(), 1);  // a Sunday
    EXPECT_EQ(epoch.GetGPSWeek(), 0u);
    EXPECT_DOUBLE_EQ(epoch.GetSecondsOfWeek(), 0.0);

    const KGPSTime saturday(2007, 1, 6, 23, 59, 59.0);
    EXPECT_EQ(saturday.GetDayOfWeek(), 7);
    EXPECT_EQ(saturday.GetYear(), 2007);
    EXPECT_EQ(saturday.GetMonth(), 1);
    EXPECT_EQ(saturday.GetGPSWeek(), 1408u);
    EXPECT_DOUBLE_EQ(saturday.GetSecondsOfWeek(), 604799.0);
    EXPECT_EQ(KGPSTime(2007, 1, 7, 0, 0, 0.0).GetDayOfWeek(), 1);
    EXPECT_EQ(KGPSTime(2000, 2, 29, 12, 0, 0.0).GetDayOfWeek(), 3);  // a Tuesday
    EXPECT_EQ(KGPSTime(2037, 12, 31, 23, 59, 59.0).GetMonth(), 12);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeBreakdown, AgreesWithTheCalendarAcrossTheRange) {
    LogCapture log;
    using namespace std::chrono;
    std::mt19937 random(11);
    std::uniform_int_distribution<int32_t> counts(kEpoch, std::numeric_limits<int32_t>::max());
    for (int i = 0; i < 5000; ++i) {
        const int32_t count = counts(random);
        const KGPSTime t(count);
        const sys_days day{days{count / kDay}};
        const year_month_day ymd{day};
        ASSERT_EQ(t.GetYear(), static_cast<int>(ymd.year())) << count;
        ASSERT_EQ(t.GetMonth(), static_cast<int>(static_cast<unsigned>(ymd.month()))) << count;
        ASSERT_EQ(t.GetDayOfWeek(), static_cast<int>(weekday{day}.c_encoding()) + 1) << count;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%04d/%02u/%02u %02d:%02d:%02d",
                      static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                      static_cast<unsigned>(ymd.day()), count % kDay / 3600, count % 3600 / 60,
                      count % 60);
        ASSERT_EQ(t.Format(), expected);
    }
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeFormat, UTCBreakdownInTwentyBytes) {
    LogCapture log;
    EXPECT_EQ(Formatted(KGPSTime(kEpoch)), "1980/01/06 00:00:00");
    EXPECT_EQ(Formatted(KGPSTime(2007, 1, 6, 14, 5, 9.75)), "2007/01/06 14:05:09");
    EXPECT_EQ(Formatted(KGPSTime(std::numeric_limits<int32_t>::max())), "2038/01/19 03:14:07");
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(KGPSTimeBreakdown, ACountThatCannotBeBrokenDownGivesFallbacksAndLines) {
    LogCapture log;
    KGPSTime t(kEpoch);
    t.utc = -1;  // only reachable by writing the field
    EXPECT_EQ(t.GetYear(), 1980);
    EXPECT_EQ(t.GetMonth(), 1);
    EXPECT_EQ(t.GetDayOfWeek(), 1);
    EXPECT_EQ(Formatted(t), "?");
    EXPECT_THAT(log.TextLog(), ElementsAre("KGPSTime::GetYear invalid time_t(-1)",
                                           "KGPSTime::GetMonth invalid time_t(-1)",
                                           "KGPSTime::GetDayOfWeek invalid time_t(-1)"));
}

TEST(KGPSTimeValue, CopiesAndCompares) {
    const KGPSTime a(1408u, 10.5);
    KGPSTime b(kEpoch);
    b = a;
    EXPECT_EQ(b, a);
    const KGPSTime c(b);
    EXPECT_EQ(c.utc, a.utc);
    EXPECT_EQ(c.nanoseconds, a.nanoseconds);
    EXPECT_NE(KGPSTime(1408u, 10.25), a);
}

// ---------------------------------------------------------------------------------------------
// ResolveGPSWeek, with the current time injected

namespace {
uint32_t Resolve(int64_t now, uint32_t secondsOfWeek) {
    WallClock clock(now);
    KScopedClock scope(clock);
    uint32_t week = 12345;
    KGPSTime::ResolveGPSWeek(secondsOfWeek, week);
    return week;
}
int64_t At(uint32_t week, int64_t secondsOfWeek) { return kEpoch + int64_t{week} * 604800 + secondsOfWeek; }
} // namespace

TEST(ResolveGPSWeek, WithinTheCurrentWeek) {
    LogCapture log;
    const int64_t wednesdayNoon = At(1408, 3 * kDay + 43200);
    EXPECT_EQ(Resolve(wednesdayNoon, 3 * kDay + 43200), 1408u);
    EXPECT_EQ(Resolve(wednesdayNoon, 100000), 1408u);
    EXPECT_EQ(Resolve(wednesdayNoon, 0), 1408u);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(ResolveGPSWeek, LateSecondsOnASundayMorningBelongToLastWeek) {
    LogCapture log;
    const int64_t sundayMorning = At(1408, 3 * 3600);
    EXPECT_EQ(Resolve(sundayMorning, 600000), 1407u);
    EXPECT_EQ(Resolve(sundayMorning, 561601), 1407u);
    EXPECT_EQ(Resolve(sundayMorning, 1000), 1408u);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(ResolveGPSWeek, EarlySecondsOnASaturdayEveningBelongToNextWeek) {
    LogCapture log;
    const int64_t saturdayEvening = At(1408, 6 * kDay + 20 * 3600);
    EXPECT_EQ(Resolve(saturdayEvening, 1000), 1409u);
    // Saturday 20:00 + 4 h + 8 h: exactly half a day ahead still counts as next week.
    EXPECT_EQ(Resolve(saturdayEvening, 28800), 1409u);
    EXPECT_EQ(Resolve(saturdayEvening, 28801), 1408u);
    EXPECT_EQ(Resolve(saturdayEvening, 600000), 1408u);
    // Saturday morning: next week's Sunday 00:16 is more than half a day ahead, so back again.
    EXPECT_EQ(Resolve(At(1408, 6 * kDay + 3600), 1000), 1408u);
    EXPECT_THAT(log.TextLog(), IsEmpty());
}

TEST(ResolveGPSWeek, AValueMoreThanHalfADayAheadOfNowIsLastWeeks) {
    LogCapture log;
    const int64_t wednesdayNoon = At(1408, 3 * kDay + 43200);
    const uint32_t nowSow = 3 * kDay + 43200;
    EXPECT_EQ(Resolve(wednesdayNoon, nowSow + 43200), 1408u);  // exactly half a day: this week
    EXPECT_EQ(Resolve(wednesdayNoon, nowSow + 43201), 1407u);
    EXPECT_EQ(Resolve(wednesdayNoon, 600000), 1407u);          // Saturday: last week's
}

TEST(ResolveGPSWeek, NeverGoesBelowWeekZero) {
    LogCapture log;
    EXPECT_EQ(Resolve(kEpoch + 3600, 600000), 0u);   // a Sunday in week 0
    EXPECT_EQ(Resolve(kEpoch + 3600, 100000), 0u);
    EXPECT_EQ(Resolve(100, 600000), 0u);              // a clock before 1980 reads as the epoch
    EXPECT_THAT(log.TextLog(), ElementsAre("KGPSTime::ValidateUTC, time_t = 100"));
}
