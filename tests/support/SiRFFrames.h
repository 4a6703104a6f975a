#pragma once
#include <cstdint>
#include <vector>

#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"

// SiRF binary frames for tests: A0 A2, a big-endian payload length L, the payload, the payload
// sum modulo 32768 (big-endian) and B0 B3.
namespace sirf {

uint16_t Checksum(const Bytes& payload);
// A valid frame around `payload`.
Bytes Frame(const Bytes& payload);
// A valid frame of exactly `total` bytes (8 to 65543) whose payload never holds a start.
Bytes FrameOfSize(size_t total, uint8_t seed = 1);
// The four bytes of start and length field.
Bytes Header(uint16_t payloadLength);
Bytes WithBadChecksum(Bytes frame);
Bytes WithBadEnd(Bytes frame);
// An independent check of a delivered frame; the end sequence is only checked when asked.
bool IsValid(const Bytes& frame, bool checkEnd = true);
// The protocol's numbers: `value` in `bytes` bytes, most significant first, and back.
Bytes BigEndian(uint64_t value, int bytes);
uint64_t ReadBigEndian(const uint8_t* data, int bytes);

// A damaged frame whose payload is `prefix` and then the first `carried` bytes of `inner`, which
// thus end where the damaged frame ends. Its own payload byte is adjusted so that its checksum
// fails should its end sequence hold.
Bytes OuterCarrying(const Bytes& prefix, const Bytes& inner, size_t carried);
// The hand-made seeds of the fuzz corpus.
std::vector<FuzzSeed> FuzzSeeds();

} // namespace sirf
