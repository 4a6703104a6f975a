#pragma once
#include <cstdint>
#include <vector>

#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"

// Leica LB2 frames for tests: 9C AE, a little-endian length L (payload + 4), the payload, and a
// little-endian checksum that makes the 16-bit sum of offsets 2 to L + 1 zero.
namespace leica {

// The checksum word of a frame whose bytes up to its checksum are `head` (sync included).
uint16_t Checksum(const Bytes& head);
// A valid frame around `payload`.
Bytes Frame(const Bytes& payload);
// A valid frame of exactly `total` bytes (7 to 65537) with a payload made from `seed`.
Bytes FrameOfSize(size_t total, uint8_t seed = 1);
// A frame whose length field says `lengthField`, whatever the bytes that follow.
Bytes Header(uint16_t lengthField);
// The same frame with its checksum broken.
Bytes WithBadChecksum(Bytes frame);
// An independent check of a frame as it should be delivered.
bool IsValid(const Bytes& frame);

// A bad frame that carries the first `carried` bytes of `inner` as its own last bytes, after
// `prefix`. Its checksum is whatever those bytes make it, which must fail.
Bytes OuterCarrying(const Bytes& prefix, const Bytes& inner, size_t carried);
// The hand-made seeds of the fuzz corpus.
std::vector<FuzzSeed> FuzzSeeds();

} // namespace leica
