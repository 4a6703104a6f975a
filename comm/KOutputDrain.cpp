#include "comm/KOutputDrain.h"

#include "time/KClock.h"

namespace {
constexpr int32_t kPollMs = 2;
}

namespace KOutputDrain {

bool WaitUntilSent(const std::function<int64_t()>& pending, int32_t boundMs) {
    KClock& clock = KClock::Current();
    const int64_t deadline = clock.NowMs() + boundMs;
    for (;;) {
        if (pending() <= 0) return true;
        if (clock.NowMs() >= deadline) return false;
        clock.Sleep(kPollMs);
    }
}

int64_t WireMs(int64_t bytes, int64_t baud, int32_t bitsPerCharacter) {
    if (bytes <= 0 || baud <= 0 || bitsPerCharacter <= 0) return 0;
    const int64_t bits = bytes * bitsPerCharacter;
    return (bits * 1000 + baud - 1) / baud;
}

} // namespace KOutputDrain
