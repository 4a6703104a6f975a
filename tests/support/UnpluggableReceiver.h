#pragma once
#ifndef _WIN32
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/KPtySimulator.h"

// A simulated receiver on a pseudo-terminal behind a stable name: a symbolic link that follows
// whichever pseudo-terminal serves the receiver now, as a /dev/serial/by-id name follows an
// adapter. Unplug() takes the name, the receiver and its pseudo-terminal away; Serve() plugs one
// in again.
class UnpluggableReceiver {
public:
    explicit UnpluggableReceiver(std::string linkPath) : link(std::move(linkPath)) {}

    // A receiver of catalogue `type` at `baud` on a new pseudo-terminal, the link pointed at it.
    // A silent one answers nothing, so a session on it is surely still running when it goes.
    // One that misses its first `missed` requests sends nothing until it has taken one more, as
    // a receiver still starting up after power returns.
    bool Serve(int32_t type, uint32_t baud, bool silent, std::string& error, size_t missed = 0);
    // Waits (at most `bound`) until the host has written to the receiver, then unplugs it; false
    // when nothing was written in time (the receiver is unplugged all the same).
    bool UnplugOnceWrittenTo(std::chrono::milliseconds bound);
    // Waits (at most `bound`) until the receiver runs at `baud` and has taken two requests there
    // (so the host heard the first answer before it asked again), then unplugs it; false when
    // that did not happen in time.
    bool UnplugOnceAnsweredAt(uint32_t baud, std::chrono::milliseconds bound);
    void Unplug();

    const std::string& Link() const { return link; }
    KPtySimulator* Simulator() { return simulator.get(); }

private:
    std::string link;
    std::unique_ptr<KPtySimulator> simulator;
};
#endif
