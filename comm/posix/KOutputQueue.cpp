#include "comm/posix/KOutputQueue.h"

#include <sys/ioctl.h>
#include <termios.h>

namespace KOutputDrain {

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
