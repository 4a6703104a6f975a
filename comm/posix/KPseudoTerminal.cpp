#include "comm/posix/KPseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

uint32_t RateOf(speed_t speed) {
    switch (speed) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
#ifdef B460800
    case B460800: return 460800;
#endif
#ifdef B921600
    case B921600: return 921600;
#endif
    default: return 0;
    }
}

std::string Describe(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

} // namespace

KPseudoTerminal::~KPseudoTerminal() { Close(); }

bool KPseudoTerminal::Open() {
    Close();
    lastError.clear();
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        lastError = Describe("posix_openpt");
        return false;
    }
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        lastError = Describe("grantpt/unlockpt");
        Close();
        return false;
    }
    char name[128] = {};
#if defined(__linux__)
    if (::ptsname_r(master, name, sizeof name) != 0) {
        lastError = Describe("ptsname_r");
        Close();
        return false;
    }
#else
    const char* shared = ::ptsname(master);
    if (!shared) {
        lastError = Describe("ptsname");
        Close();
        return false;
    }
    std::strncpy(name, shared, sizeof name - 1);
#endif
    slavePath = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);

    slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        lastError = Describe("open slave");
        Close();
        return false;
    }
    // Raw from the start: no echo of our own output back to us before the host sets the line.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        tio.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    return true;
}

void KPseudoTerminal::Close() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
    slave = -1;
    master = -1;
    slavePath.clear();
}

int32_t KPseudoTerminal::Read(uint8_t* buffer, uint32_t length) {
    if (master < 0 || length == 0) return master < 0 ? -1 : 0;
    const ssize_t n = ::read(master, buffer, length);
    if (n > 0) return static_cast<int32_t>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)) return 0;
    return n == 0 ? 0 : -1;
}

int32_t KPseudoTerminal::Write(const uint8_t* data, uint32_t length) {
    if (master < 0) return -1;
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(master, data + done, length - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // the host's input queue is full
    }
    return static_cast<int32_t>(done);
}

bool KPseudoTerminal::WaitReadable(int32_t timeoutMs) {
    if (master < 0) return false;
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

uint32_t KPseudoTerminal::Baud() const {
    termios tio{};
    const int fd = slave >= 0 ? slave : master;
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return 0;
    return RateOf(::cfgetispeed(&tio) != B0 ? ::cfgetispeed(&tio) : ::cfgetospeed(&tio));
}
