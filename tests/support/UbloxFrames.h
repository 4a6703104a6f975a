#pragma once
// Builders of u-blox UBX frames for tests, with their own checksum (independent of the framer's).
#include <cstdint>
#include <string>
#include <vector>

#include "support/FramerHarness.h"

// B5 62, class, id, length, `payload`, the Fletcher checksum.
Bytes UbxFrame(uint8_t messageClass, uint8_t id, const Bytes& payload = {});
// An NMEA sentence with its checksum and line end, "$" + body + "*hh\r\n".
Bytes NmeaSentence(const std::string& body);
// An RTCM 3 frame (D3, 10-bit length, payload, CRC-24Q) around `payload`.
Bytes Rtcm3Frame(const Bytes& payload);

// Every checksummed UBX frame in `stream`, each examined on its own wherever B5 62 occurs: its
// offset and length.
struct UbxCensusEntry {
    size_t at;
    size_t length;
};
std::vector<UbxCensusEntry> UbxCensus(const Bytes& stream);
