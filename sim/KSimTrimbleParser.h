#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/KSimFrameHunt.h"

// How the simulated Trimble receiver reads what the host sends: packets (STX 02, status, type,
// length L, L data bytes, checksum = sum of status, type, length and data modulo 256, ETX 03)
// and the lone ENQ byte (05) with which a host asks whether the receiver is there. Written apart
// from the product's framer on purpose: the test bed must not share code with what it tests.
class KSimTrimbleParser : public KSimFrameHunt {
public:
    static constexpr uint8_t kStx = 0x02;
    static constexpr uint8_t kEtx = 0x03;
    static constexpr uint8_t kEnq = 0x05;
    static constexpr size_t kMaxPacket = 261;

    KSimTrimbleParser() : KSimFrameHunt({kStx}) {}

    // A whole packet around `data` (at most 255 bytes are taken).
    static std::vector<uint8_t> Packet(uint8_t type, const std::vector<uint8_t>& data, uint8_t status = 0x00);
    static uint8_t Checksum(const uint8_t* fromStatus, size_t length);

    // An ENQ outside any packet is a request of its own, handed out as the one byte 05.
    void Feed(uint8_t byte) override;
    using KSimFrameHunt::Feed;

private:
    size_t FrameLength(const uint8_t* frame, size_t held) const override;
    bool Intact(const uint8_t* frame, size_t length) const override;
};
