#include "time/KGPSTime.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "log/Logs.h"
#include "time/KCivilDate.h"
#include "time/KClock.h"

namespace {

constexpr int32_t kCumulativeDays[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// Splits a non-negative finite value into whole seconds and rounded nanoseconds. The fraction
// rounds to at most 1000000000 and is never carried into the whole seconds.
void SplitSeconds(double seconds, double& whole, int32_t& nanos) {
    whole = std::trunc(seconds);
    nanos = static_cast<int32_t>((seconds - whole) * 1000000000.0 + 0.5);
}

// Whole seconds as a 64-bit count; anything this large is far outside the 32-bit range anyway.
int64_t WholeSeconds(double whole) {
    constexpr double kLimit = 1099511627776.0;  // 2^40
    return static_cast<int64_t>(whole < kLimit ? whole : kLimit);
}

// The 32-bit count of a 64-bit one. Just past the top, the count wraps negative as 32-bit
// arithmetic does (a date after 2038-01-19 03:14:07 becomes negative, hence invalid); a count so
// far out that wrapping would land on a plausible time becomes the most negative count instead.
int32_t NarrowCount(int64_t count) {
    if (count >= std::numeric_limits<int32_t>::min() && count <= std::numeric_limits<int32_t>::max())
        return static_cast<int32_t>(count);
    const auto wrapped = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(count)));
    return wrapped < 0 ? wrapped : std::numeric_limits<int32_t>::min();
}

} // namespace

KGPSTime::KGPSTime() : utc(0), nanoseconds(0) {
    // A clock beyond the 32-bit range is as unusable as one before 1980.
    utc = NarrowCount(KClock::Current().WallSeconds());
    ValidateUTC();
}

KGPSTime::KGPSTime(int32_t seconds) : utc(seconds), nanoseconds(0) { ValidateUTC(); }

KGPSTime::KGPSTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                   double second)
    : utc(kGpsEpoch), nanoseconds(0) {
    if (second < 0.0 || !std::isfinite(second)) {
        SixSigmaLog("KGPSTime::KGPSTime(y,m,d,h,m,s) negative second = %f", second);
        return;
    }
    double whole;
    int32_t nanos;
    SplitSeconds(second, whole, nanos);
    utc = NarrowCount(CountFromFields(year, month, day, hour, minute, WholeSeconds(whole)));
    nanoseconds = nanos;
    ValidateUTC();
}

KGPSTime::KGPSTime(uint32_t week, double secondsOfWeek) : utc(kGpsEpoch), nanoseconds(0) {
    if (!(secondsOfWeek >= 0.0) || week > kLatestWeek || !std::isfinite(secondsOfWeek)) {
        SixSigmaLog("KGPSTime::KGPSTime(week,sec) negative SoW = %f", secondsOfWeek);
        return;
    }
    double whole;
    int32_t nanos;
    SplitSeconds(secondsOfWeek, whole, nanos);
    // The seconds may run on past the week's end; past 2038 the count is invalid.
    utc = NarrowCount(static_cast<int64_t>(week) * kSecondsPerWeek + WholeSeconds(whole) + kGpsEpoch);
    nanoseconds = nanos;
    ValidateUTC();
}

void KGPSTime::ValidateUTC() {
    if (utc < kGpsEpoch) {
        SixSigmaLog("KGPSTime::ValidateUTC, time_t = %d", utc);
        utc = kGpsEpoch;
        nanoseconds = 0;
    }
}

uint32_t KGPSTime::GetGPSWeek() const {
    return (static_cast<uint32_t>(utc) - static_cast<uint32_t>(kGpsEpoch)) / kSecondsPerWeek;
}

double KGPSTime::GetSecondsOfWeek() const {
    const uint32_t sow =
        (static_cast<uint32_t>(utc) - static_cast<uint32_t>(kGpsEpoch)) % kSecondsPerWeek;
    return static_cast<double>(sow) +
           static_cast<double>(static_cast<uint32_t>(nanoseconds)) / 1000000000.0;
}

bool KGPSTime::BreakDown(Breakdown& out) const {
    // Like the platforms' gmtime on Windows: counts before 1970 cannot be broken down.
    if (utc < 0) return false;
    const int64_t days = utc / 86400;
    const int64_t rest = utc % 86400;
    CivilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int32_t>(rest / 3600);
    out.minute = static_cast<int32_t>(rest / 60 % 60);
    out.second = static_cast<int32_t>(rest % 60);
    out.dayOfWeek = static_cast<int32_t>((days + 4) % 7) + 1;  // 1970-01-01 was a Thursday
    return true;
}

int32_t KGPSTime::GetYear() const {
    Breakdown b;
    if (!BreakDown(b)) {
        SixSigmaLog("KGPSTime::GetYear invalid time_t(%d)", utc);
        return 1980;
    }
    return b.year;
}

int32_t KGPSTime::GetMonth() const {
    Breakdown b;
    if (!BreakDown(b)) {
        SixSigmaLog("KGPSTime::GetMonth invalid time_t(%d)", utc);
        return 1;
    }
    return b.month;
}

int32_t KGPSTime::GetDayOfWeek() const {
    Breakdown b;
    if (!BreakDown(b)) {
        SixSigmaLog("KGPSTime::GetDayOfWeek invalid time_t(%d)", utc);
        return 1;
    }
    return b.dayOfWeek;
}

void KGPSTime::Format(char* text) const {
    Breakdown b;
    if (!BreakDown(b)) {
        text[0] = '?';
        text[1] = '\0';
        return;
    }
    char full[64];
    std::snprintf(full, sizeof full, "%4.4d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d", b.year, b.month,
                  b.day, b.hour, b.minute, b.second);
    std::memcpy(text, full, 19);  // years up to 2038: always 19 characters
    text[19] = '\0';
}

std::string KGPSTime::Format() const {
    char text[32];
    Format(text);
    return text;
}

int32_t KGPSTime::UTCFromYMDHMS(int32_t year, int32_t month, int32_t day, int32_t hour,
                                int32_t minute, int32_t second) {
    return NarrowCount(CountFromFields(year, month, day, hour, minute, second));
}

int64_t KGPSTime::CountFromFields(int32_t year, int32_t month, int32_t day, int32_t hour,
                                  int32_t minute, int64_t second) {
    // Two-digit years: 70..99 are 1970..1999, 0..69 are 2000..2069. A negative year stays
    // invalid rather than turning into a plausible one.
    if (year >= 0 && year < 100) year += year >= 70 ? 1900 : 2000;
    if (year < 1980 || year > 2038) {
        SixSigmaLog("In UTCFromYMDHMS, year = %d", year);
        return kGpsEpoch;
    }
    // A month outside the table would index past it: rejected like a bad year.
    if (month < 1 || month > 12) {
        SixSigmaLog("In UTCFromYMDHMS, month = %d", month);
        return kGpsEpoch;
    }
    const bool leap = (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
    // 64-bit, so that no field overflows; the caller narrows the result to 32 bits.
    int64_t count = int64_t{year - 1970} * 31536000;
    if (year >= 1973) count += int64_t{86400} * (1 + (year - 1973) / 4);
    count += int64_t{86400} * kCumulativeDays[leap ? 1 : 0][month];
    count += (((int64_t{day} - 1) * 24 + hour) * 60 + minute) * 60 + second;
    return count;
}

void KGPSTime::ResolveGPSWeek(uint32_t secondsOfWeek, uint32_t& week) {
    const KGPSTime now;
    uint32_t w = now.GetGPSWeek();
    const int32_t day = now.GetDayOfWeek();
    if (secondsOfWeek > 561600 && day == 1) {
        if (w > 0) --w;
    } else if (secondsOfWeek < 43200 && day == 7) {
        ++w;
    }
    const KGPSTime candidate(w, static_cast<double>(secondsOfWeek));
    if (static_cast<int64_t>(candidate.utc) > static_cast<int64_t>(now.utc) + 43200 && w > 0) --w;
    week = w;
}
