#include "comm/KNetSocket.h"

#include <chrono>
#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

#if defined(_WIN32)
using Poll = WSAPOLLFD;
int LastError() { return WSAGetLastError(); }
bool WouldBlock(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS; }
bool Interrupted(int err) { return err == WSAEINTR; }
int PollOn(Poll* fds, int timeoutMs) { return WSAPoll(fds, 1, timeoutMs); }
void CloseSocket(uintptr_t h) { ::closesocket(static_cast<SOCKET>(h)); }
std::string ErrorText(int err) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(err), 0,
                   text, sizeof text, nullptr);
    std::string s(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s.empty() ? "error " + std::to_string(err) : s;
}
// Winsock must be started once per process before any call; it stays up until exit.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using Poll = pollfd;
int LastError() { return errno; }
bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS; }
bool Interrupted(int err) { return err == EINTR; }
int PollOn(Poll* fds, int timeoutMs) { return ::poll(fds, 1, timeoutMs); }
void CloseSocket(int h) { ::close(h); }
std::string ErrorText(int err) { return std::strerror(err); }
bool StartWinsock() { return true; }
#endif

} // namespace

KNetSocket::~KNetSocket() { Close(); }

void KNetSocket::Close() {
    if (handle == kNone) return;
    uint8_t sink[4096];
    for (int round = 0; round < 64 && Receive(sink, sizeof sink) > 0; ++round) {
    }
    CloseSocket(handle);
    handle = kNone;
}

bool KNetSocket::Connect(const std::string& host, const std::string& port, int timeoutMs, std::string& error) {
    Close();
    broken = false;
    if (!StartWinsock()) {
        error = "the network cannot be used (Winsock did not start)";
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (lookup != 0) {
        error = "cannot find host " + host + " (" + gai_strerror(lookup) + ")";
        return false;
    }
    error = "no address of " + host + " answers";
    for (addrinfo* at = found; at && handle == kNone; at = at->ai_next) {
        const auto h = ::socket(at->ai_family, at->ai_socktype, at->ai_protocol);
#if defined(_WIN32)
        if (h == INVALID_SOCKET) continue;
        u_long nonBlocking = 1;
        ::ioctlsocket(h, FIONBIO, &nonBlocking);
        const Handle candidate = static_cast<Handle>(h);
#else
        if (h < 0) continue;
        ::fcntl(h, F_SETFL, ::fcntl(h, F_GETFL) | O_NONBLOCK);
        ::fcntl(h, F_SETFD, FD_CLOEXEC);
        const Handle candidate = h;
#endif
        int err = 0;
        if (::connect(h, at->ai_addr, static_cast<socklen_t>(at->ai_addrlen)) != 0) {
            err = LastError();
            if (WouldBlock(err)) {
                Poll wait{};
                wait.fd = h;
                wait.events = POLLOUT;
                const int ready = PollOn(&wait, MsLeft(deadline));
                if (ready <= 0) {
                    err = 0;
                    error = "no answer within " + std::to_string(timeoutMs / 1000) + " s";
                } else {
                    socklen_t size = sizeof err;
                    ::getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size);
                    if (err == 0) handle = candidate;
                }
            }
            if (handle == kNone && err != 0) error = ErrorText(err);
        } else {
            handle = candidate;
        }
        if (handle == kNone) {
            CloseSocket(candidate);
            if (MsLeft(deadline) == 0) break;
        }
    }
    ::freeaddrinfo(found);
    if (handle == kNone) return false;
    // Commands are a few bytes each and must not wait for more to fill a segment.
    int one = 1;
#if defined(_WIN32)
    ::setsockopt(static_cast<SOCKET>(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
#else
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#endif
    error.clear();
    return true;
}

bool KNetSocket::SendAll(const uint8_t* data, size_t length, int timeoutMs) {
    if (handle == kNone || broken) return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < length) {
#if defined(_WIN32)
        const int n = ::send(static_cast<SOCKET>(handle), reinterpret_cast<const char*>(data + done),
                             static_cast<int>(length - done), 0);
#else
        const ssize_t n = ::send(handle, data + done, length - done, MSG_NOSIGNAL);
#endif
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int err = LastError();
        if (!WouldBlock(err) && !Interrupted(err)) {
            broken = true;
            return false;
        }
        const int left = MsLeft(deadline);
        if (left == 0) return false;
        Poll wait{};
        wait.fd = handle;
        wait.events = POLLOUT;
        PollOn(&wait, left);
    }
    return true;
}

size_t KNetSocket::Receive(uint8_t* buffer, size_t size) {
    if (handle == kNone || broken || size == 0) return 0;
    for (;;) {
#if defined(_WIN32)
        const int n = ::recv(static_cast<SOCKET>(handle), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
#else
        const ssize_t n = ::recv(handle, buffer, size, 0);
#endif
        if (n > 0) return static_cast<size_t>(n);
        if (n == 0) {
            broken = true;  // the other side closed it
            return 0;
        }
        const int err = LastError();
        if (Interrupted(err)) continue;
        if (!WouldBlock(err)) broken = true;
        return 0;
    }
}

bool KNetSocket::WaitReadable(int timeoutMs) {
    if (handle == kNone || broken) return false;
    Poll wait{};
    wait.fd = handle;
    wait.events = POLLIN;
    return PollOn(&wait, timeoutMs) > 0;
}
