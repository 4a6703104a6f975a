#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "time/KClock.h"

// A clock whose time moves only when someone sleeps on it. Sleep(ms) advances virtual time in
// slices of at most `sliceMs` and, after each slice, calls every tick hook with the new time; a
// hook typically advances a KSimWorld and pumps a stream monitor's ReadStep, so that a session
// and its monitors run without reader threads, deterministically and in no wall time.
// NowMs starts at 0; WallSeconds is a settable base plus the virtual seconds elapsed.
//
// Threads: NowMs, WallSeconds and the hook registry may be used from any thread. Sleeps are
// meant for one worker thread; concurrent sleepers take turns, each advancing time by its own
// amount. Hooks run on the sleeping thread; a Sleep inside a hook advances time without calling
// hooks again. A hook removed from another thread is never called after RemoveTickHook returns.
class KVirtualClock : public KClock {
public:
    using TickHook = std::function<void(int64_t nowMs)>;

    explicit KVirtualClock(int64_t wallBaseSeconds = 1700000000, int32_t sliceMs = 5);

    void Sleep(int32_t ms) override;
    int64_t NowMs() override;
    int64_t WallSeconds() override;

    // Advances like Sleep, for callers that hold an int64_t span (tests).
    void Advance(int64_t ms);
    void SetWallBase(int64_t seconds);
    int32_t SliceMs() const { return slice; }

    // Registers a hook; the id removes it again.
    int32_t AddTickHook(TickHook hook);
    void RemoveTickHook(int32_t id);

    // Slices run so far (each one called the hooks once).
    uint64_t Ticks() const { return ticks.load(); }

private:
    void RunHooks(int64_t nowMs);

    const int32_t slice;
    std::atomic<int64_t> nowMs{0};
    std::atomic<int64_t> wallBase;
    std::atomic<uint64_t> ticks{0};
    std::recursive_mutex advanceLock;  // one sleeper at a time; held while hooks run
    std::map<int32_t, std::shared_ptr<TickHook>> hooks;
    int32_t nextHookId = 1;
    bool inHooks = false;
};
