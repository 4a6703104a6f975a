#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/FramerHarness.h"

// A hand-made input of a framer's fuzz target: streams that reach the framer's every path. The
// target reads two driver bytes before the stream.
struct FuzzSeed {
    std::string name;
    uint8_t chunkSeed = 0;  // first driver byte: how the stream is cut into chunks
    bool bounded = false;   // second driver byte: whether the bounded scan is on
    Bytes stream;
    size_t messages = 0;    // messages the framer delivers from it (unbounded, in any chunking)
};

// The seeds of one protocol, under its name in the registry (the corpus folder's name too).
struct ProtocolFuzzSeeds {
    std::string protocol;
    std::vector<FuzzSeed> seeds;
};

// Every protocol's seeds whose framing the tests check.
std::vector<ProtocolFuzzSeeds> FramerFuzzSeeds();

// Writes `seeds` as fuzz inputs (driver bytes, then the stream) into `folder`, made if missing.
void WriteFuzzSeeds(const std::string& folder, const std::vector<FuzzSeed>& seeds);
