#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/KSimFrameHunt.h"

// How the simulated SiRF receiver reads packets: A0 A2, payload length L (big-endian), L payload
// bytes starting with the message ID, the payload's 15-bit sum (big-endian) and B0 B3. Written
// apart from the product's framer on purpose: the test bed must not share code with what it
// tests. Next hands out whole packets (A0 to B3).
class KSimSiRFParser : public KSimFrameHunt {
public:
    // The receiver's input buffer: longer packets are never recognised.
    static constexpr size_t kMaxPacket = 1024;
    static constexpr size_t kOverhead = 8;  // start, length, checksum and end

    KSimSiRFParser() : KSimFrameHunt({0xA0, 0xA2}) {}

    // A whole packet around `payload` (its first byte the message ID; at most kMaxPacket -
    // kOverhead bytes are taken).
    static std::vector<uint8_t> Packet(const std::vector<uint8_t>& payload);
    // The sum of `length` payload bytes, kept to 15 bits.
    static uint16_t Checksum(const uint8_t* payload, size_t length);

private:
    size_t FrameLength(const uint8_t* frame, size_t held) const override;
    bool Intact(const uint8_t* frame, size_t length) const override;
};
