#pragma once
#include <cstdint>
#include <vector>

#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"

// NavCom binary frames for tests: 02 99 66, message ID, a little-endian length N (payload + 4),
// the payload, the XOR of ID, length and payload, and ETX 03.
namespace navcom {

// A valid frame around `payload`.
Bytes Frame(uint8_t id, const Bytes& payload);
// A valid frame of exactly `total` bytes (8 to 65539) whose payload never holds a sync.
Bytes FrameOfSize(size_t total, uint8_t id = 0xB1, uint8_t seed = 1);
// The six header bytes with the length field `n`.
Bytes Header(uint8_t id, uint16_t n);
// The XOR of offsets 3 to N + 1 of a frame (or of a head holding at least those bytes).
uint8_t Checksum(const Bytes& frame, size_t n);
Bytes WithBadChecksum(Bytes frame);
Bytes WithBadEtx(Bytes frame, uint8_t etx = 0x04);
// An independent check of a delivered frame; the ETX is only checked when asked.
bool IsValid(const Bytes& frame, bool checkEtx = true);

// A damaged frame whose own bytes, after its header and `prefix`, are the first `carried`
// bytes of `inner`. Its ID is chosen so that its checksum fails should its ETX hold.
Bytes OuterCarrying(const Bytes& prefix, const Bytes& inner, size_t carried);
// The hand-made seeds of the fuzz corpus.
std::vector<FuzzSeed> FuzzSeeds();

} // namespace navcom
