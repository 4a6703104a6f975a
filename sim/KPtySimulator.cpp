#ifndef _WIN32
#include "sim/KPtySimulator.h"

#include <vector>

KPtySimulator::KPtySimulator(std::unique_ptr<KSimDevice> device, const KSimWorldOptions& options,
                             int32_t tickMicroseconds)
    : world(std::move(device), options), driver(world, tickMicroseconds) {
    driver.SetTickHook([this](int64_t) { Tick(); });
    driver.SetIdleUntilNextEvent(true);
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
    stopping.store(false);
    reader = std::thread(&KPtySimulator::ReaderMain, this);
    driver.Start();
    return true;
}

void KPtySimulator::Stop() {
    stopping.store(true);
    if (reader.joinable()) reader.join();
    driver.Stop();
    terminal.Close();
}

void KPtySimulator::ReaderMain() {
    uint32_t seenBaud = hostBaud.load();
    uint8_t buffer[4096];
    while (!stopping.load()) {
        const bool readable = terminal.WaitReadable(5);
        std::vector<uint8_t> bytes;
        if (readable)
            for (int32_t n; (n = terminal.Read(buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
        // The rate right after the bytes: a host that sets its rate and then writes has its bytes
        // go out at the new rate; one that writes and then reopens, at the old.
        const uint32_t baud = terminal.Baud();
        if (bytes.empty() && (baud == 0 || baud == seenBaud)) continue;
        if (baud != 0) seenBaud = baud;
        {
            std::lock_guard<std::mutex> guard(eventLock);
            events.push_back(HostEvent{seenBaud, std::move(bytes)});
        }
        driver.Poke();
    }
}

void KPtySimulator::Tick() {
    // What the host's UART has decoded up to now goes to the host first, at the old rate.
    uint8_t buffer[4096];
    for (size_t n; (n = world.HostRead(buffer, sizeof buffer)) > 0;) {
        const int32_t written = terminal.Write(buffer, static_cast<uint32_t>(n));
        if (written > 0) toHost.fetch_add(static_cast<uint64_t>(written));
    }
    std::deque<HostEvent> pending;
    {
        std::lock_guard<std::mutex> guard(eventLock);
        pending.swap(events);
    }
    for (HostEvent& event : pending) {
        if (event.baud != hostBaud.load()) {
            hostBaud.store(event.baud);
            world.HostOpen(event.baud);
        }
        if (!event.bytes.empty()) {
            world.HostWrite(event.bytes.data(), event.bytes.size());
            fromHost.fetch_add(event.bytes.size());
        }
    }
}
#endif
