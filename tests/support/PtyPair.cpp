#ifndef _WIN32
#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

PtyPair::PtyPair() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) throw std::runtime_error("no pseudo-terminal name");
    slavePath = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    if (ownSlave >= 0) ::close(ownSlave);
    if (master >= 0) ::close(master);
}

void PtyPair::HangUp() {
    if (master >= 0) ::close(master);
    master = -1;
}

void PtyPair::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to pseudo-terminal master failed");
        } else {
            pollfd waitFor{master, POLLOUT, 0};
            ::poll(&waitFor, 1, 100);
        }
    }
}

std::string PtyPair::Receive(size_t count, int timeoutMs) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        char buffer[4096];
        const size_t want = std::min(sizeof buffer, count - bytes.size());
        const ssize_t n = ::read(master, buffer, want);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        pollfd waitFor{master, POLLIN, 0};
        ::poll(&waitFor, 1, 20);
    }
    return bytes;
}

termios PtyPair::SlaveSettings() const {
    termios settings{};
    ::tcgetattr(master, &settings);  // on a master, the termios calls reach the slave
    return settings;
}

int PtyPair::OpenSlave() {
    if (ownSlave < 0) {
        ownSlave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (ownSlave < 0) throw std::runtime_error("cannot open the slave");
        termios raw{};
        ::tcgetattr(ownSlave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(ownSlave, TCSANOW, &raw);
    }
    return ownSlave;
}

int QueuedOn(int fd) {
    int queued = 0;
    return ::ioctl(fd, FIONREAD, &queued) == 0 ? queued : -1;
}

bool WaitQueued(int fd, int count, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int queued = QueuedOn(fd);
        if (queued == count) return true;
        if (queued > count || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
#endif
