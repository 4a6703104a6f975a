#pragma once
#include <cstdint>
#include <string>

// A pseudo-terminal pair for the receiver simulator: the host opens the slave path like any
// serial device; the simulator reads what the host writes and writes what the host is to
// read through the master. A slave descriptor is kept open here (in raw mode, without a lock)
// so that the host may close and reopen the device as often as it likes without the master
// seeing a hang-up. The slave's line settings, which the host sets, tell the host's rate.
class KPseudoTerminal {
public:
    KPseudoTerminal() = default;
    ~KPseudoTerminal();
    KPseudoTerminal(const KPseudoTerminal&) = delete;
    KPseudoTerminal& operator=(const KPseudoTerminal&) = delete;

    // Creates the pair; false with LastError() filled when the system refuses.
    bool Open();
    void Close();
    bool IsOpen() const { return master >= 0; }
    const std::string& SlavePath() const { return slavePath; }
    const std::string& LastError() const { return lastError; }

    // What the host has written, without waiting: the count read, 0 when nothing, -1 on error.
    int32_t Read(uint8_t* buffer, uint32_t length);
    // Bytes for the host to read: the count taken (fewer when the host's queue is full; the
    // rest is lost, as on a port nobody reads), -1 on error.
    int32_t Write(const uint8_t* data, uint32_t length);
    // Waits up to `timeoutMs` for something from the host.
    bool WaitReadable(int32_t timeoutMs);
    // The rate the slave is set to (what the host's last tcsetattr chose), 0 when unknown.
    uint32_t Baud() const;

private:
    int master = -1;
    int slave = -1;
    std::string slavePath;
    std::string lastError;
};
