#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// One TCP connection, never blocking for longer than asked: connects within a bound, sends
// within a bound, and receives only what has arrived. The same on POSIX sockets and Winsock.
class KNetSocket {
public:
    KNetSocket() = default;
    ~KNetSocket();
    KNetSocket(const KNetSocket&) = delete;
    KNetSocket& operator=(const KNetSocket&) = delete;

    // Tries every address `host` resolves to until one accepts within what is left of
    // `timeoutMs`. False, with the reason in `error`, when none does.
    bool Connect(const std::string& host, const std::string& port, int timeoutMs, std::string& error);
    // All of it, within `timeoutMs`. False when the connection broke (then Broken()) or the
    // other side took nothing for that long.
    bool SendAll(const uint8_t* data, size_t length, int timeoutMs);
    // What has arrived, up to `size` bytes, without waiting: 0 when nothing has; on a closed or
    // broken connection 0 as well, and Broken() is then true.
    size_t Receive(uint8_t* buffer, size_t size);
    // Waits at most `timeoutMs` for bytes (or the end of the connection) to arrive.
    bool WaitReadable(int timeoutMs);
    // Reads out what is still waiting first: closing with unread bytes resets the connection,
    // which may throw away the last bytes sent.
    void Close();

    bool IsOpen() const { return handle != kNone; }
    // The other side closed the connection or it broke (reset, unreachable).
    bool Broken() const { return broken.load(); }

private:
#if defined(_WIN32)
    using Handle = uintptr_t;
    static constexpr Handle kNone = ~static_cast<uintptr_t>(0);
#else
    using Handle = int;
    static constexpr Handle kNone = -1;
#endif
    Handle handle = kNone;
    std::atomic<bool> broken{false};
};
