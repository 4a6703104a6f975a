#include "comm/posix/KOutputDrain.h"

#include <sys/ioctl.h>
#include <termios.h>

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

int64_t Pending(int fd) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
    if (queued > 0) return queued;
#if defined(TIOCSERGETLSR) && defined(TIOCSER_TEMT)
    unsigned int status = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &status) == 0 && (status & TIOCSER_TEMT) == 0) return 1;
#endif
    return 0;
}

} // namespace KOutputDrain
