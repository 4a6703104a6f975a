#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/KSimFrameHunt.h"

// How the simulated u-blox receiver reads UBX: B5 62, class, id, payload length (16 bits, least
// significant byte first), payload, and the two Fletcher sums over class to payload end. Written
// apart from the product's framer on purpose: the test bed must not share code with what it
// tests. Next hands out whole frames.
class KSimUbxParser : public KSimFrameHunt {
public:
    // The longest payload it takes in.
    static constexpr size_t kMaxPayload = 1024;

    KSimUbxParser() : KSimFrameHunt({0xB5, 0x62}) {}

    // A whole frame of class `messageClass` and `id` around `payload`.
    static std::vector<uint8_t> Frame(uint8_t messageClass, uint8_t id, const std::vector<uint8_t>& payload);

private:
    size_t FrameLength(const uint8_t* frame, size_t held) const override;
    bool Intact(const uint8_t* frame, size_t length) const override;
};
