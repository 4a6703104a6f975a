#ifndef _WIN32
#include "sim/KPtySimulator.h"

#include <vector>

KPtySimulator::KPtySimulator(std::unique_ptr<KSimDevice> device, const KSimWorldOptions& options,
                             int32_t tickMicroseconds)
    : world(std::move(device), options), driver(world, tickMicroseconds) {
    driver.SetTickHook([this](int64_t) { Tick(); });
}

KPtySimulator::~KPtySimulator() { Stop(); }

bool KPtySimulator::Start(std::string& error) {
    if (driver.Running()) return true;
    if (!terminal.Open()) {
        error = terminal.LastError();
        return false;
    }
    const uint32_t baud = terminal.Baud();
    hostBaud.store(baud ? baud : 9600);
    world.HostOpen(hostBaud.load());
    driver.Start();
    return true;
}

void KPtySimulator::Stop() {
    driver.Stop();
    terminal.Close();
}

void KPtySimulator::Tick() {
    // What the host's UART has decoded up to now goes to the host first, at the old rate.
    uint8_t buffer[4096];
    for (size_t n; (n = world.HostRead(buffer, sizeof buffer)) > 0;) {
        const int32_t written = terminal.Write(buffer, static_cast<uint32_t>(n));
        if (written > 0) toHost.fetch_add(static_cast<uint64_t>(written));
    }
    std::vector<uint8_t> written;
    for (int32_t n; (n = terminal.Read(buffer, sizeof buffer)) > 0;)
        written.insert(written.end(), buffer, buffer + n);
    // The rate is read after the bytes: a host that sets its rate and writes at once has its
    // bytes sent at the new rate.
    const uint32_t baud = terminal.Baud();
    if (baud != 0 && baud != hostBaud.load()) {
        hostBaud.store(baud);
        world.HostOpen(baud);
    }
    if (!written.empty()) {
        world.HostWrite(written.data(), written.size());
        fromHost.fetch_add(written.size());
    }
}
#endif
