#pragma once
#include <cstdint>
#include <string>

// A time on the GPS scale: whole seconds since 1970 counted in uniform 86400-second days (no
// leap seconds anywhere) plus nanoseconds. Never earlier than the GPS epoch: every invalid input
// becomes the epoch plus one line in the diagnostic text log, so a value is always usable.
class KGPSTime {
public:
    static constexpr int32_t kGpsEpoch = 315964800;       // 1980-01-06 00:00:00
    static constexpr int32_t kSecondsPerWeek = 604800;
    static constexpr uint32_t kLatestWeek = 3025;

    // The current time of the process clock (KClock).
    KGPSTime();
    explicit KGPSTime(int32_t seconds);
    KGPSTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, double second);
    KGPSTime(uint32_t week, double secondsOfWeek);

    void ValidateUTC();

    // Whether a receiver's week and seconds of week name a time at all: a week the type can
    // hold, and seconds that are a number within the week. Decoders check before building.
    static bool IsWeekTime(int64_t week, double secondsOfWeek) {
        return week >= 0 && week <= kLatestWeek && secondsOfWeek >= 0.0 && secondsOfWeek < kSecondsPerWeek;
    }

    uint32_t GetGPSWeek() const;
    double GetSecondsOfWeek() const;
    int32_t GetYear() const;
    int32_t GetMonth() const;
    int32_t GetDayOfWeek() const;  // 1 Sunday .. 7 Saturday

    // "%4.4d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d" of the UTC breakdown, or "?"; `text` holds >= 20 bytes.
    void Format(char* text) const;
    std::string Format() const;

    static int32_t UTCFromYMDHMS(int32_t year, int32_t month, int32_t day, int32_t hour,
                                 int32_t minute, int32_t second);
    // The GPS week of a seconds-of-week value taken to lie within about half a day of now.
    static void ResolveGPSWeek(uint32_t secondsOfWeek, uint32_t& week);

    friend bool operator==(const KGPSTime&, const KGPSTime&) = default;

    int32_t utc;
    int32_t nanoseconds;

private:
    struct Breakdown {
        int32_t year, month, day, hour, minute, second, dayOfWeek;
    };
    bool BreakDown(Breakdown& out) const;
    // The count of UTCFromYMDHMS before it is narrowed to 32 bits (logs a bad year or month).
    static int64_t CountFromFields(int32_t year, int32_t month, int32_t day, int32_t hour,
                                   int32_t minute, int64_t second);
};
