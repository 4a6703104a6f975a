#pragma once
#ifndef _WIN32
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/posix/KPseudoTerminal.h"
#include "sim/KRealTimeDriver.h"
#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

// A simulated receiver behind a pseudo-terminal, in real time (`velinor sim`): any program
// opens SlavePath() as a serial device. A reader thread wakes as soon as the host writes and
// notes the rate the slave is set to right then (so bytes written just before the host
// reopens at another rate keep the rate they were written at); every tick (1 ms) the world
// takes them in that order (a new rate reopens the world's host port), runs the line model and
// the device, and the host is handed what its UART would have received, when it would have.
// A pseudo-terminal does not order writes against line-setting changes: bytes and a new rate
// seen in one wake-up (within some microseconds of each other) count as written at the new
// rate, which is right for a host that opens and then writes at once.
class KPtySimulator {
public:
    explicit KPtySimulator(std::unique_ptr<KSimDevice> device, const KSimWorldOptions& options = {},
                           int32_t tickMicroseconds = 1000);
    ~KPtySimulator();
    KPtySimulator(const KPtySimulator&) = delete;
    KPtySimulator& operator=(const KPtySimulator&) = delete;

    // Creates the pseudo-terminal and starts the simulation; false with `error` filled when the
    // system refuses a pseudo-terminal.
    bool Start(std::string& error);
    void Stop();

    const std::string& SlavePath() const { return terminal.SlavePath(); }
    // The rate at which the simulator last saw the host's side of the line.
    uint32_t HostBaud() const { return hostBaud.load(); }
    uint64_t BytesFromHost() const { return fromHost.load(); }
    uint64_t BytesToHost() const { return toHost.load(); }
    KSimWorld& World() { return world; }

private:
    struct HostEvent {
        uint32_t baud;               // the slave's rate when the bytes were read
        std::vector<uint8_t> bytes;  // empty for a rate change alone
    };

    void Tick();
    void ReaderMain();

    KSimWorld world;
    KPseudoTerminal terminal;
    KRealTimeDriver driver;
    std::atomic<uint32_t> hostBaud{0};
    std::atomic<uint64_t> fromHost{0};
    std::atomic<uint64_t> toHost{0};
    std::thread reader;
    std::atomic<bool> stopping{false};
    std::mutex eventLock;
    std::deque<HostEvent> events;
};
#endif
