#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/KSimFrameHunt.h"

// How the simulated Novatel receiver reads OEM4 binary commands: AA 44 12, the header length 28,
// message ID (16 bits at 4), message type (6), port address (7), payload length M (16 bits at 8),
// the rest of the header, M payload bytes and the CRC-32 of everything before it; numbers least
// significant byte first. Written apart from the product's framer on purpose: the test bed must
// not share code with what it tests. Next hands out whole messages.
class KSimNovatelParser : public KSimFrameHunt {
public:
    static constexpr size_t kHeaderLength = 28;
    static constexpr size_t kCrcLength = 4;
    // The longest message it takes in.
    static constexpr size_t kMaxMessage = 4096;

    KSimNovatelParser() : KSimFrameHunt({0xAA, 0x44, 0x12}) {}

    // The header fields a receiver's message sets; the others are 0.
    struct Header {
        uint16_t messageId = 0;
        uint8_t messageType = 0;  // bit 7: a response; bits 5-6: the format, 0 binary
        uint8_t portAddress = 0;
        uint8_t idleTime = 0;     // idle processor time, in half percent
        uint8_t timeStatus = 0;
        uint16_t week = 0;
        uint32_t milliseconds = 0;  // of the GPS week
        uint16_t softwareVersion = 0;
    };
    // A whole binary message with the standard header around `payload` (whose length must leave
    // the message within kMaxMessage).
    static std::vector<uint8_t> Message(const Header& header, const std::vector<uint8_t>& payload);
    // CRC-32 (reflected polynomial 0xEDB88320, no final inversion) continued from `crc`; a
    // message's CRC starts from 0.
    static uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);

private:
    size_t FrameLength(const uint8_t* frame, size_t held) const override;
    bool Intact(const uint8_t* frame, size_t length) const override;
};
