#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/KSimFrameHunt.h"

// How the simulated NavCom receiver reads packets: 02 99 66, message ID, 16-bit length N (low
// byte first, counting itself, the payload, the checksum and the ETX), N - 4 payload bytes, the
// XOR of ID, length and payload, and 03. Written apart from the product's framer on purpose:
// the test bed must not share code with what it tests. Next hands out whole packets.
class KSimNavComParser : public KSimFrameHunt {
public:
    static constexpr size_t kMaxPacket = 4096;
    static constexpr size_t kHeader = 6;
    static constexpr size_t kOverhead = 8;  // header, checksum and ETX

    KSimNavComParser() : KSimFrameHunt({0x02, 0x99, 0x66}) {}

    // A whole packet around `payload` (at most kMaxPacket - kOverhead bytes).
    static std::vector<uint8_t> Packet(uint8_t id, const std::vector<uint8_t>& payload);
    // The XOR of `length` bytes (a packet's ID, length field and payload).
    static uint8_t Checksum(const uint8_t* bytes, size_t length);

private:
    size_t FrameLength(const uint8_t* frame, size_t held) const override;
    bool Intact(const uint8_t* frame, size_t length) const override;
};
