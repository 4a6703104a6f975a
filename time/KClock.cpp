#include "time/KClock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace {
KRealClock realClock;
std::atomic<KClock*> installed{nullptr};
} // namespace

KClock& KClock::Current() {
    KClock* clock = installed.load(std::memory_order_acquire);
    return clock ? *clock : realClock;
}

void KClock::Install(KClock* clock) { installed.store(clock, std::memory_order_release); }

void KRealClock::Sleep(int32_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t KRealClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t KRealClock::WallSeconds() { return static_cast<int64_t>(std::time(nullptr)); }
