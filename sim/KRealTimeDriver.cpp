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
        wake.wait_until(guard, next, [this] { return stopping; });
        if (stopping) break;
        const TickHook& tickHook = hook;  // only changed while not running
        guard.unlock();
        const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - origin).count();
        world.AdvanceTo(now);
        if (tickHook) tickHook(now);
        guard.lock();
        // After a stall (a debugger, a loaded machine) carry on from now rather than racing.
        if (Clock::now() > next + 50 * tick) next = Clock::now();
    }
}
