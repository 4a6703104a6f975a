#include "sim/KVirtualClock.h"

#include <algorithm>
#include <vector>

KVirtualClock::KVirtualClock(int64_t wallBaseSeconds, int32_t sliceMs)
    : slice(std::max(sliceMs, 1)), wallBase(wallBaseSeconds) {}

int64_t KVirtualClock::NowMs() { return nowMs.load(); }

int64_t KVirtualClock::WallSeconds() {
    const int64_t ms = nowMs.load();
    return wallBase.load() + (ms >= 0 ? ms / 1000 : -((999 - ms) / 1000));
}

void KVirtualClock::SetWallBase(int64_t seconds) { wallBase.store(seconds); }

void KVirtualClock::Sleep(int32_t ms) { Advance(ms); }

void KVirtualClock::Advance(int64_t ms) {
    std::lock_guard<std::recursive_mutex> guard(advanceLock);
    if (inHooks) {
        // A hook that waits: time passes, but hooks are not re-entered.
        if (ms > 0) nowMs.fetch_add(ms);
        return;
    }
    if (ms <= 0) {
        // Nothing to wait for, but a poller that sleeps 0 must still see the world move on.
        RunHooks(nowMs.load());
        return;
    }
    int64_t remaining = ms;
    while (remaining > 0) {
        const int64_t step = std::min<int64_t>(remaining, slice);
        remaining -= step;
        RunHooks(nowMs.fetch_add(step) + step);
    }
}

void KVirtualClock::RunHooks(int64_t now) {
    ticks.fetch_add(1);
    if (hooks.empty()) return;
    std::vector<std::shared_ptr<TickHook>> snapshot;
    snapshot.reserve(hooks.size());
    for (auto& entry : hooks) snapshot.push_back(entry.second);
    struct InHooks {
        bool& flag;
        explicit InHooks(bool& f) : flag(f) { flag = true; }
        ~InHooks() { flag = false; }
    } scope(inHooks);
    for (auto& hook : snapshot) (*hook)(now);
}

int32_t KVirtualClock::AddTickHook(TickHook hook) {
    std::lock_guard<std::recursive_mutex> guard(advanceLock);
    const int32_t id = nextHookId++;
    hooks.emplace(id, std::make_shared<TickHook>(std::move(hook)));
    return id;
}

void KVirtualClock::RemoveTickHook(int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(advanceLock);
    hooks.erase(id);
}
