#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitors/StreamMessage.h"
#include "time/KGPSTime.h"

// The time scale a receiver gives a time in.
enum class KTimeScale { Gps, Utc };
const char* TimeScaleName(KTimeScale scale);  // "GPS" or "UTC"

// What one framed message says to someone reading a recording: what it is, and the time it
// carries where it carries one.
struct KMessageFacts {
    enum class Time {
        None,    // no time, or one the receiver marks as not known yet
        OfWeek,  // a time of week whose week the stream has not told (held in week 0)
        Full,    // a GPS week and time of week, or a date and time
    };
    std::string name;  // as the maker's interface description names it ("NAV-PVT", "0x29", "RMC")
    Time time = Time::None;
    KGPSTime gps{KGPSTime::kGpsEpoch};  // on the GPS scale, whatever scale the message used
    KTimeScale told = KTimeScale::Gps;   // the scale the message gave its time in
};

// A family's reader of its framed messages, one per stream: a message may need what earlier
// ones told (a date, a week) to place its time, so a reader keeps that.
class KMessageReader {
public:
    virtual ~KMessageReader() = default;
    virtual KMessageFacts Read(const StreamMessage& message) = 0;
    // The names of the messages it reads times from, for a user told that none came.
    virtual std::vector<std::string> TimeMessages() const = 0;

protected:
    // A full GPS time; it also places later times of week.
    void SetWeekTime(KMessageFacts& facts, uint32_t week, double secondsOfWeek);
    // A UTC date and time, as the receiver told it; false (and no time) when it names none.
    bool SetUtc(KMessageFacts& facts, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                double second);
    // A time already on the GPS scale, told in `told`.
    void SetTime(KMessageFacts& facts, const KGPSTime& gps, KTimeScale told);
    // Seconds since 1970 counted on `scale` (UTC: its leap seconds are added) and nanoseconds;
    // false (and no time) before the GPS epoch or past what a time holds.
    bool SetCount(KMessageFacts& facts, int64_t seconds, int32_t nanoseconds, KTimeScale scale);
    // A time of week alone: in the week nearest the stream's latest full time, when there was one.
    void SetOfWeek(KMessageFacts& facts, double secondsOfWeek);
    // A week counted modulo 1024 (older receivers): the full week nearest the stream's latest
    // full time, or, without one, a time of week alone.
    void SetWeekModulo1024(KMessageFacts& facts, uint32_t week, double secondsOfWeek);
    // A time the stream tells about something else (an ephemeris' reference time): it places
    // the times of week that follow, though no message's own time.
    void Anchor(const KGPSTime& time) { anchor = time; }

private:
    std::optional<KGPSTime> anchor;
};

// The GPS-scale count of a UTC count of seconds since 1970 (its leap seconds added).
int64_t GpsCountOfUtc(int64_t utcSeconds);
// UTC date and time on the GPS scale (the leap seconds of that moment added); false before the
// GPS epoch or for a date that names no day.
bool GpsTimeOfUtc(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, double second,
                  KGPSTime& time);

// "0x29" for a one-byte id, "0x0129" for two (lower-case hex, as the maker's tables print ids).
std::string HexId(uint32_t id, int digits);
