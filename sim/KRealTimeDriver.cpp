#include "sim/KRealTimeDriver.h"

#include <algorithm>
#include <chrono>

#include "sim/KSimWorld.h"

KRealTimeDriver::KRealTimeDriver(KSimWorld& simWorld, int32_t tickMicroseconds)
    : world(simWorld), tickUs(std::max(tickMicroseconds, 50)) {}

KRealTimeDriver::~KRealTimeDriver() { Stop(); }

void KRealTimeDriver::SetTickHook(TickHook tickHook) {
    std::lock_guard<std::mutex> guard(lock);
    if (!running) hook = std::move(tickHook);
}

void KRealTimeDriver::SetIdleUntilNextEvent(bool idle, int32_t longestSleepMs) {
    std::lock_guard<std::mutex> guard(lock);
    if (running) return;
    idleUntilNextEvent = idle;
    longestSleepNs = static_cast<int64_t>(std::max(longestSleepMs, 1)) * 1'000'000;
}

void KRealTimeDriver::Poke() {
    {
        std::lock_guard<std::mutex> guard(lock);
        poked = true;
    }
    wake.notify_all();
}

bool KRealTimeDriver::Start() {
    std::lock_guard<std::mutex> guard(lock);
    if (running) return false;
    stopping = false;
    running = true;
    thread = std::thread(&KRealTimeDriver::Main, this);
    return true;
}

void KRealTimeDriver::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!running) return;
        stopping = true;
    }
    wake.notify_all();
    thread.join();
    std::lock_guard<std::mutex> guard(lock);
    running = false;
}

bool KRealTimeDriver::Running() const {
    std::lock_guard<std::mutex> guard(lock);
    return running;
}

void KRealTimeDriver::Main() {
    using Clock = std::chrono::steady_clock;
    const auto origin = Clock::now() - std::chrono::nanoseconds(world.NowNs());
    const auto tick = std::chrono::microseconds(tickUs);
    auto next = Clock::now();
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        next += tick;
        if (idleUntilNextEvent) {
            // Nothing can happen before the world's next event but a poke: a silent receiver
            // costs no wake-ups, and many simulators side by side leave the processor alone.
            guard.unlock();
            const int64_t worldNow = world.NowNs();
            const int64_t eventNs = std::min(world.NextEventNs(), worldNow + longestSleepNs);
            guard.lock();
            next = std::max(next, origin + std::chrono::nanoseconds(eventNs));
        }
        wake.wait_until(guard, next, [this] { return stopping || poked; });
        if (stopping) break;
        poked = false;
        const TickHook& tickHook = hook;  // only changed while not running
        guard.unlock();
        const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - origin).count();
        world.AdvanceTo(now);
        if (tickHook) tickHook(now);
        guard.lock();
        // Behind (a debugger, a loaded machine): one advance has covered the lost time, so the
        // next tick is a whole tick from now rather than a race through the missed ones.
        next = std::max(next, Clock::now());
    }
}
