#pragma once
#include <cstddef>
#include <cstdint>

#include <string>
#include <vector>

#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"

// Builders of Trimble STX/ETX packets for tests.

// Sum of status, type, length and data, modulo 256.
uint8_t TrimbleChecksum(uint8_t status, uint8_t type, const Bytes& data);

// STX, status, type, L, data, checksum, ETX.
Bytes TrimblePacket(uint8_t type, const Bytes& data, uint8_t status = 0x00);
// A packet of `size` data bytes of a repeatable pattern that holds neither STX nor ETX.
Bytes TrimblePacketOfSize(size_t size, uint8_t type = 0x40, uint8_t status = 0x00);

// The packet with its ETX replaced by `replacement` (which must not be 0x03).
Bytes TrimbleWithoutEtx(Bytes packet, uint8_t replacement = 0x55);
// The packet with its checksum off by one.
Bytes TrimbleWithBadChecksum(Bytes packet);
// Bytes that never hold STX: for junk between packets.
Bytes TrimbleJunk(size_t size, uint32_t seed = 1);

// Seeds of the Trimble fuzz corpus: streams that reach every path of the framer.
std::vector<FuzzSeed> TrimbleFuzzSeeds();
