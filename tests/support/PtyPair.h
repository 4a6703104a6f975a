#pragma once
#ifndef _WIN32
#include <termios.h>

#include <string>

// A pseudo-terminal whose master end the test holds; the link under test opens the slave by its
// path, the way it would open a serial device.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int Master() const { return master; }
    const std::string& SlavePath() const { return slavePath; }

    // Sends bytes towards whoever has the slave open.
    void Send(const std::string& bytes);
    // What the slave side wrote: up to `count` bytes, waiting at most `timeoutMs` for them.
    std::string Receive(size_t count, int timeoutMs);
    // The slave's settings, as seen from the master side.
    termios SlaveSettings() const;
    // A descriptor of the slave of the test's own, in raw mode (closed with the pair).
    int OpenSlave();
    // Closes the master end, as an adapter pulled out hangs its terminal up.
    void HangUp();

private:
    int master = -1;
    int ownSlave = -1;
    std::string slavePath;
};

// Bytes waiting to be read on `fd` (FIONREAD), -1 on failure.
int QueuedOn(int fd);
// Waits (at most `timeoutMs`) until `fd` has exactly `count` bytes waiting; the input of a
// pseudo-terminal arrives through a kernel work queue, a moment after the write.
bool WaitQueued(int fd, int count, int timeoutMs = 3000);
#endif
