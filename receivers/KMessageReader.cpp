#include "receivers/KMessageReader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "time/KLeapSeconds.h"

const char* TimeScaleName(KTimeScale scale) { return scale == KTimeScale::Utc ? "UTC" : "GPS"; }

bool GpsTimeOfUtc(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, double second,
                  KGPSTime& time) {
    if (year < 1980 || year > 2038 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || !(second >= 0.0 && second < 61.0))
        return false;
    const int64_t count = KGPSTime::UTCFromYMDHMS(year, month, day, hour, minute, static_cast<int32_t>(second));
    if (count < KGPSTime::kGpsEpoch) return false;
    time = KGPSTime(year, month, day, hour, minute, second);
    time.utc = static_cast<int32_t>(GpsCountOfUtc(time.utc));
    return true;
}

int64_t GpsCountOfUtc(int64_t utcSeconds) {
    // The offset in force at that UTC moment. The table is kept on the GPS scale, where a new
    // offset k starts at UTC midnight plus k; every step adds one second, so the moment taken
    // with one second more than the offset before is on the right side of the step.
    return utcSeconds + GpsMinusUtcSeconds(utcSeconds + GpsMinusUtcSeconds(utcSeconds) + 1);
}

std::string HexId(uint32_t id, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, id);
    return text;
}

void KMessageReader::SetWeekTime(KMessageFacts& facts, uint32_t week, double secondsOfWeek) {
    if (!KGPSTime::IsWeekTime(week, secondsOfWeek)) return;
    SetTime(facts, KGPSTime(week, secondsOfWeek), KTimeScale::Gps);
}

void KMessageReader::SetTime(KMessageFacts& facts, const KGPSTime& gps, KTimeScale told) {
    facts.gps = gps;
    facts.time = KMessageFacts::Time::Full;
    facts.told = told;
    anchor = gps;
}

bool KMessageReader::SetUtc(KMessageFacts& facts, int32_t year, int32_t month, int32_t day, int32_t hour,
                            int32_t minute, double second) {
    KGPSTime time(KGPSTime::kGpsEpoch);
    if (!GpsTimeOfUtc(year, month, day, hour, minute, second, time)) return false;
    SetTime(facts, time, KTimeScale::Utc);
    return true;
}

bool KMessageReader::SetCount(KMessageFacts& facts, int64_t seconds, int32_t nanoseconds, KTimeScale scale) {
    const int64_t gps = scale == KTimeScale::Utc ? GpsCountOfUtc(seconds) : seconds;
    if (gps < KGPSTime::kGpsEpoch || gps > INT32_MAX || nanoseconds < 0 || nanoseconds >= 1000000000) return false;
    KGPSTime time(static_cast<int32_t>(gps));
    time.nanoseconds = nanoseconds;
    SetTime(facts, time, scale);
    return true;
}

void KMessageReader::SetOfWeek(KMessageFacts& facts, double secondsOfWeek) {
    if (!KGPSTime::IsWeekTime(0, secondsOfWeek)) return;
    facts.told = KTimeScale::Gps;
    if (!anchor) {
        facts.gps = KGPSTime(0u, secondsOfWeek);
        facts.time = KMessageFacts::Time::OfWeek;
        return;
    }
    // Half a week either side of the latest full time.
    int64_t week = anchor->GetGPSWeek();
    const double ahead = secondsOfWeek - anchor->GetSecondsOfWeek();
    if (ahead > KGPSTime::kSecondsPerWeek / 2) --week;
    if (ahead < -KGPSTime::kSecondsPerWeek / 2) ++week;
    if (!KGPSTime::IsWeekTime(week, secondsOfWeek)) return;
    SetTime(facts, KGPSTime(static_cast<uint32_t>(week), secondsOfWeek), KTimeScale::Gps);
}

void KMessageReader::SetWeekModulo1024(KMessageFacts& facts, uint32_t week, double secondsOfWeek) {
    if (week >= 1024) return SetWeekTime(facts, week, secondsOfWeek);
    if (!anchor) return SetOfWeek(facts, secondsOfWeek);
    const int64_t near = anchor->GetGPSWeek();
    const int64_t full = near + ((static_cast<int64_t>(week) - near % 1024 + 1024 + 512) % 1024 - 512);
    if (full < 0) return SetOfWeek(facts, secondsOfWeek);
    SetWeekTime(facts, static_cast<uint32_t>(full), secondsOfWeek);
}
