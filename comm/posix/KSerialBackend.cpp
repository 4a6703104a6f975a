#include "comm/KSerialBackend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr int kWriteTimeoutMs = 1000;

bool SpeedFor(uint32_t baud, speed_t& speed) {
    switch (baud) {
    case 50: speed = B50; return true;
    case 75: speed = B75; return true;
    case 110: speed = B110; return true;
    case 134: speed = B134; return true;
    case 150: speed = B150; return true;
    case 200: speed = B200; return true;
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 1800: speed = B1800; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
#ifdef B460800
    case 460800: speed = B460800; return true;
#endif
#ifdef B921600
    case 921600: speed = B921600; return true;
#endif
    default: return false;
    }
}

void Fail(KOpenError& error, KOpenError::Kind kind, const std::string& device, int err) {
    error.kind = kind;
    error.text = kind == KOpenError::Settings ? "Unable to initialize COM Port to requested settings"
                                              : "COM Port Busy Or Not Installed";
    error.device = device;
    error.osError = err;
    error.reason = err ? std::strerror(err) : "";
}

// Raw 8-bit line at the requested rate and framing; no flow control, no echo, no translation.
bool ApplySettings(int fd, const KLineSettings& dcb, int& err) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        err = errno;
        return false;
    }
    cfmakeraw(&tio);
    speed_t speed;
    if (!SpeedFor(dcb.BaudRate, speed)) {
        err = EINVAL;
        return false;
    }
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (dcb.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: err = EINVAL; return false;
    }
    switch (dcb.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
#ifdef CMSPAR
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
#endif
    default: break;
    }
    if (dcb.StopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        err = errno;
        return false;
    }
    return true;
}

} // namespace

namespace KSerialBackend {

bool Open(KSerialPort& port, const std::string& device, KOpenError& error) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail(error, KOpenError::Busy, device, errno);
        return false;
    }
    // Exclusive use: an advisory lock (holds even against root) and TIOCEXCL for other openers.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        Fail(error, KOpenError::Busy, device, err);
        return false;
    }
    if (!isatty(fd)) {
        ::close(fd);
        Fail(error, KOpenError::Settings, device, ENOTTY);
        return false;
    }
    int err = 0;
    if (!ApplySettings(fd, port.dcb, err)) {
        ::close(fd);
        Fail(error, KOpenError::Settings, device, err);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    tcflush(fd, TCIOFLUSH);
    port.handle = fd;
    return true;
}

void Close(KSerialPort& port) {
    if (port.handle >= 0) {
        ::ioctl(port.handle, TIOCNXCL);
        ::close(port.handle);
    }
    port.handle = -1;
}

bool IsValid(const KSerialPort& port) { return port.handle >= 0; }

bool Write(KSerialPort& port, const void* data, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (done < length) {
        const ssize_t n = ::write(port.handle, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{port.handle, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

int64_t InputQueued(KSerialPort& port) {
    int queued = 0;
    if (::ioctl(port.handle, FIONREAD, &queued) != 0) return -1;
    return queued;
}

int32_t Read(KSerialPort& port, void* buffer, uint32_t length) {
    const ssize_t n = ::read(port.handle, buffer, length);
    return n > 0 ? static_cast<int32_t>(n) : 0;
}

void ShowOpenFailure(const KOpenError&) {}

} // namespace KSerialBackend
