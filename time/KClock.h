#pragma once
#include <cstdint>

// Every wait in the system goes through this clock: reply polls, the reader's idle sleep, the
// session's pauses, and the wall-clock reads of GPS time and the logs. Tests install a virtual
// clock so that waits of seconds run deterministically in no wall time at all.
class KClock {
public:
    virtual ~KClock() = default;

    // Waits `ms` milliseconds (a virtual clock advances its time instead).
    virtual void Sleep(int32_t ms) = 0;
    // Monotonic milliseconds from an arbitrary origin.
    virtual int64_t NowMs() = 0;
    // Seconds since 1970-01-01 00:00:00 UTC, like time().
    virtual int64_t WallSeconds() = 0;

    // The clock in force for the whole process; the real clock unless a test installed another.
    static KClock& Current();
    // Installs `clock` (not owned) for the whole process; nullptr restores the real clock.
    static void Install(KClock* clock);
};

class KRealClock final : public KClock {
public:
    void Sleep(int32_t ms) override;
    int64_t NowMs() override;
    int64_t WallSeconds() override;
};

// Installs a clock for the lifetime of a scope (tests); the clock in force before comes back
// at its end, so scopes nest.
class KScopedClock {
public:
    explicit KScopedClock(KClock& clock) : previous(&KClock::Current()) { KClock::Install(&clock); }
    ~KScopedClock() { KClock::Install(previous); }
    KScopedClock(const KScopedClock&) = delete;
    KScopedClock& operator=(const KScopedClock&) = delete;

private:
    KClock* previous;
};
