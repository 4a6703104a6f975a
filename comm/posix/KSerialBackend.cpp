#include "comm/KSerialBackend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "comm/posix/KOpenDiagnosis.h"
#include "comm/posix/KOutputQueue.h"
#include "comm/posix/KTermiosSettings.h"
#include "comm/posix/KUucpLock.h"

namespace {

constexpr int kWriteTimeoutMs = 1000;
constexpr const char* kProcRoot = "/proc";

// A pseudo-terminal has no line: its driver always carries 8 bits without parity, whatever it
// is asked, so only the rate can be checked on one.
bool IsPseudoTerminal(int fd) {
#if defined(__linux__)
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode)) {
        const unsigned int devMajor = major(info.st_rdev);
        if (devMajor >= 136 && devMajor <= 143) return true;  // the Unix98 pty slaves
    }
#endif
    char name[256];
    if (::ttyname_r(fd, name, sizeof name) != 0) return false;
    const std::string path = name;
    return path.rfind("/dev/pts/", 0) == 0;
}

int OpenDevice(const std::string& device) {
    for (;;) {
        // Non-blocking, so that a port without carrier cannot hold the open up, and so that
        // reads return at once with what has arrived.
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Errors of a device that is no longer there: an unplugged adapter, or a pseudo-terminal whose
// other side has closed.
bool IsGoneError(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

// A raw line read with nothing waiting answers 0 whether or not it was hung up; only poll tells.
bool HungUp(int fd) {
    pollfd state{fd, POLLIN, 0};
    return ::poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLERR)) != 0;
}

void CloseDevice(int fd, bool releaseExclusive) {
    if (releaseExclusive) ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

// Others who have the device (or its lock file) although it was free to claim: programs that
// never ask for TIOCEXCL or flock, and serial tools that go by the UUCP lock. False, with `error`
// filled, when there is one; else the lock file is ours (where the lock folder can be written).
bool ClaimAgainstOthers(const std::string& device, KUucpLock& lock, KOpenError& error) {
    const std::string folder = KUucpLock::Folder();
    KLockOwner owner;
    if (!lock.Acquire(device, owner, folder)) {
        KOpenDiagnosis::DescribeLocked(error, device, owner, folder + "/" + KUucpLock::FileName(device), kProcRoot);
        return false;
    }
    std::vector<KOpenDiagnosis::KDeviceHolder> holders = KOpenDiagnosis::FindHolders(kProcRoot, device);
    const int self = ::getpid();
    // The program on the other side of a pseudo-terminal is the device, not a rival.
    std::erase_if(holders, [self](const KOpenDiagnosis::KDeviceHolder& h) { return h.pid == self || h.otherEnd; });
    if (holders.empty()) return true;
    lock.Release();
    KOpenDiagnosis::DescribeHeld(error, device, holders, "");
    return false;
}

// Sets the line to `dcb` on top of `base` (the settings found at open). A refused request leaves
// the line at `base` and fills `error`.
bool ApplyLine(int fd, const KLineSettings& dcb, const termios& base, const std::string& device, KOpenError& error) {
    termios wanted = base;
    std::string why;
    if (!KTermiosSettings::Build(dcb, wanted, why)) {
        KOpenDiagnosis::DescribeSettingsFailure(error, device, EINVAL, why);
        return false;
    }
    // tcsetattr succeeds when any part of the request was applied; only what the driver kept
    // counts. glibc refuses what a pseudo-terminal does to every request (8 bits, no parity):
    // there, a request whose rate and raw mode were applied has done all it can.
    const bool pseudo = IsPseudoTerminal(fd);
    const int setResult = ::tcsetattr(fd, TCSANOW, &wanted);
    const int setError = errno;
    termios applied{};
    const bool readBack = ::tcgetattr(fd, &applied) == 0;
    const bool kept = readBack && KTermiosSettings::Kept(wanted, applied, !pseudo);
    const bool accepted = setResult == 0 || (pseudo && setError == EINVAL && readBack &&
                                             applied.c_iflag == wanted.c_iflag &&
                                             applied.c_oflag == wanted.c_oflag &&
                                             applied.c_lflag == wanted.c_lflag);
    if (accepted && kept) return true;
    ::tcsetattr(fd, TCSANOW, &base);  // a refused request leaves the line as it found it
    const std::string settings = KTermiosSettings::Describe(dcb);
    if (!accepted)
        KOpenDiagnosis::DescribeSettingsFailure(error, device, setError, "the port refused " + settings);
    else
        KOpenDiagnosis::DescribeSettingsFailure(error, device, EINVAL, "the port does not support " + settings);
    return false;
}

// What was written leaves at the rate it was written at before the line is changed: a rate
// change command must reach the receiver whole. A device that never drains has the rest
// discarded, so that nothing after waits for it (the driver's own drain at close can take 30 s).
// False when it had to be discarded.
bool LetOutputLeave(int fd) {
    const bool drained = KOutputDrain::WaitUntilSent([fd] { return KOutputDrain::Pending(fd); }, kWriteTimeoutMs);
    if (!drained) ::tcflush(fd, TCOFLUSH);
    return drained;
}

} // namespace

namespace KSerialBackend {

bool Open(KSerialPort& port, const std::string& device, KOpenError& error) {
    const int fd = OpenDevice(device);
    if (fd < 0) {
        KOpenDiagnosis::DescribeOpenFailure(error, device, errno);
        return false;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        KOpenDiagnosis::DescribeOpenFailure(error, device, ENOTTY);
        return false;
    }

    // Exclusive use, so that two programs never fight over one receiver. TIOCEXCL keeps others
    // from opening the device at all, but not root; the advisory lock holds for everyone who
    // asks for it; and a device someone else already made exclusive is theirs.
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) {
        ::close(fd);
        KOpenDiagnosis::DescribeOpenFailure(error, device, EBUSY);
        return false;
    }
#endif
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        KOpenDiagnosis::DescribeOpenFailure(error, device, err);
        return false;
    }
    const bool madeExclusive = ::ioctl(fd, TIOCEXCL) == 0;

    KUucpLock lock;  // released on every failure below when it goes out of scope
    if (!ClaimAgainstOthers(device, lock, error)) {
        CloseDevice(fd, madeExclusive);
        return false;
    }

    termios current{};
    if (::tcgetattr(fd, &current) != 0) {
        const int err = errno;
        CloseDevice(fd, madeExclusive);
        KOpenDiagnosis::DescribeSettingsFailure(error, device, err, "");
        return false;
    }
    if (!ApplyLine(fd, port.dcb, current, device, error)) {
        CloseDevice(fd, madeExclusive);
        return false;
    }

    // DTR and RTS on while the port is open; a pseudo-terminal has neither, hence no check.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
    // Nothing from before this open (another rate, another program) reaches the reader.
    ::tcflush(fd, TCIOFLUSH);

    port.handle = fd;
    port.found = current;
    port.lock = std::move(lock);
    port.gone.store(false);
    error = KOpenError{};
    return true;
}

void Close(KSerialPort& port) {
    if (port.handle >= 0) {
        const int fd = port.handle;
        // A hang-up that no read or write met before the close is still news: after the close
        // the device is merely missing, which an unplug and a wrong name look alike.
        if (HungUp(fd)) port.gone.store(true);
        termios found = port.found;
        if (!LetOutputLeave(fd)) {
            // Nor may flow control hold back what the transmitter still has.
            found.c_iflag &= ~static_cast<tcflag_t>(IXON);
#ifdef CRTSCTS
            found.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
        }
        // Other programs find the line as it was before this open.
        ::tcsetattr(fd, TCSANOW, &found);
        CloseDevice(fd, true);
    }
    port.handle = -1;
    port.lock.Release();
}

bool ChangeLine(KSerialPort& port, const std::string& device, KOpenError& error) {
    const int fd = port.handle;
    LetOutputLeave(fd);
    // A device that went since the last call is no line to set: the caller opens it again by name.
    if (HungUp(fd)) {
        port.gone.store(true);
        return false;
    }
    if (!ApplyLine(fd, port.dcb, port.found, device, error)) {
        if (IsGoneError(error.osError)) port.gone.store(true);
        return false;
    }
    // Nothing from the old rate reaches the reader, as after a new open.
    ::tcflush(fd, TCIOFLUSH);
    error = KOpenError{};
    return true;
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
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            if (IsGoneError(errno)) port.gone.store(true);
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd waitFor{port.handle, POLLOUT, 0};
        if (::poll(&waitFor, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        if ((waitFor.revents & (POLLHUP | POLLERR)) != 0) {
            port.gone.store(true);
            return false;
        }
    }
    return true;
}

int64_t InputQueued(KSerialPort& port) {
    int queued = 0;
    if (::ioctl(port.handle, FIONREAD, &queued) != 0 || queued < 0) {
        if (IsGoneError(errno)) port.gone.store(true);
        return -1;
    }
    // What is left after a hang-up can still be read; an empty queue is where it shows.
    if (queued == 0 && HungUp(port.handle)) port.gone.store(true);
    return queued;
}

int32_t Read(KSerialPort& port, void* buffer, uint32_t length) {
    const size_t wanted = length > INT32_MAX ? size_t{INT32_MAX} : size_t{length};
    for (;;) {
        const ssize_t n = ::read(port.handle, buffer, wanted);
        if (n > 0) return static_cast<int32_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if ((n < 0 && IsGoneError(errno)) || HungUp(port.handle)) port.gone.store(true);
        return 0;  // nothing waiting (EAGAIN), end of file, or a failure
    }
}

void ShowOpenFailure(const KOpenError&) {}

} // namespace KSerialBackend
