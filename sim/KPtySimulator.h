#pragma once
#ifndef _WIN32
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "comm/posix/KPseudoTerminal.h"
#include "sim/KRealTimeDriver.h"
#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

// A simulated receiver behind a pseudo-terminal, in real time (`velinor sim`): any program
// opens SlavePath() as a serial device. Every tick the simulator takes the host's rate from
// the slave's line settings (a change reopens the world's host port at that rate), sends
// what the host wrote through the line model at that rate, and hands the host what its UART
// would have received, when it would have.
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
    void Tick();

    KSimWorld world;
    KPseudoTerminal terminal;
    KRealTimeDriver driver;
    std::atomic<uint32_t> hostBaud{0};
    std::atomic<uint64_t> fromHost{0};
    std::atomic<uint64_t> toHost{0};
};
#endif
