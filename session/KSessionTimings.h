#pragma once
#include <array>
#include <cstdint>

#include "session/KBaudRates.h"

// What the session does differently for some receiver types: how long a detection ping waits
// at each rate of the detection table, and what follows a rate change before the reopen.
struct KSessionTimings {
    std::array<int32_t, kBaudRates.size()> detectPingMs;
    // Leica control command 4 (with its reply wait) after the rate change, at the old rate.
    bool controlCommandAfterChange;
    int32_t pauseAfterChangeMs;
};

// The timings of a receiver type (the usual ones for a type without a row of its own).
const KSessionTimings& SessionTimingsOf(int32_t receiverType);
