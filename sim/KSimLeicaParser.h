#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/KSimFrameHunt.h"

// How the simulated Leica receiver reads LB2 frames (9C AE, 16-bit length L little-endian, L - 4
// payload bytes, 16-bit two's-complement checksum of the length bytes and payload). Written
// apart from the product's framer on purpose: the test bed must not share code with what it
// tests. Next hands out each intact frame's payload.
class KSimLeicaParser : public KSimFrameHunt {
public:
    static constexpr size_t kMaxFrame = 4096;

    KSimLeicaParser() : KSimFrameHunt({0x9C, 0xAE}) {}

    // A whole frame around `payload` (at most kMaxFrame - 6 bytes).
    static std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload);
    // The checksum of a frame whose length and payload are `body` (from the length field on).
    static uint16_t Checksum(const uint8_t* body, size_t length);

private:
    size_t FrameLength(const uint8_t* frame, size_t held) const override;
    bool Intact(const uint8_t* frame, size_t length) const override;
    // The frame's payload.
    std::vector<uint8_t> Deliver(const uint8_t* frame, size_t length) const override;
};
