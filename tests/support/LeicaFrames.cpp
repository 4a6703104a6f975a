#include "support/LeicaFrames.h"

#include <algorithm>
#include <stdexcept>

namespace leica {

uint16_t Checksum(const Bytes& head) {
    uint32_t sum = 0;
    for (size_t i = 2; i < head.size(); ++i) sum += head[i];
    return static_cast<uint16_t>(0x10000u - (sum & 0xFFFF));
}

Bytes Header(uint16_t lengthField) {
    return {0x9C, 0xAE, static_cast<uint8_t>(lengthField & 0xFF), static_cast<uint8_t>(lengthField >> 8)};
}

Bytes Frame(const Bytes& payload) {
    if (payload.size() + 4 > 0xFFFF) throw std::invalid_argument("LB2 payload too long");
    const auto field = static_cast<uint16_t>(payload.size() + 4);
    Bytes frame(payload.size() + 4);
    frame[0] = 0x9C;
    frame[1] = 0xAE;
    frame[2] = static_cast<uint8_t>(field & 0xFF);
    frame[3] = static_cast<uint8_t>(field >> 8);
    std::copy(payload.begin(), payload.end(), frame.begin() + 4);
    const uint16_t checksum = Checksum(frame);
    frame.push_back(static_cast<uint8_t>(checksum & 0xFF));
    frame.push_back(static_cast<uint8_t>(checksum >> 8));
    return frame;
}

Bytes FrameOfSize(size_t total, uint8_t seed) {
    if (total < 7) throw std::invalid_argument("LB2 frame shorter than 7 bytes");
    Bytes payload(total - 6);
    // A payload that never holds the sync, so a frame cannot contain another by accident.
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>((seed + i * 7) % 0x9C);
    return Frame(payload);
}

Bytes WithBadChecksum(Bytes frame) {
    frame[frame.size() - 2] ^= 0x01;
    return frame;
}

bool IsValid(const Bytes& frame) {
    if (frame.size() < 7 || frame[0] != 0x9C || frame[1] != 0xAE) return false;
    const size_t lengthField = frame[2] | frame[3] << 8;
    if (lengthField + 2 != frame.size()) return false;
    const Bytes head(frame.begin(), frame.end() - 2);
    return Checksum(head) == (frame[frame.size() - 2] | frame[frame.size() - 1] << 8);
}

Bytes OuterCarrying(const Bytes& prefix, const Bytes& inner, size_t carried) {
    const size_t total = 4 + prefix.size() + carried;
    Bytes outer = Concat({Header(static_cast<uint16_t>(total - 2)), prefix,
                          Bytes(inner.begin(), inner.begin() + static_cast<std::ptrdiff_t>(carried))});
    if (IsValid(outer)) throw std::logic_error("the damaged frame happens to be valid");
    return outer;
}

std::vector<FuzzSeed> FuzzSeeds() {
    const Bytes ping = Hex("9C AE 0C 00 82 00 00 C8 85 00 00 00 25 FE");
    const Bytes inner = FrameOfSize(15, 7);
    return {
        {"seed-1", 0x00, false, Concat({ping, FrameOfSize(7), FrameOfSize(300)}), 3},
        {"seed-2", 0x07, false,
         Concat({Hex("01 02 9C"), ping, WithBadChecksum(FrameOfSize(20)), Header(4095), ping}), 2},
        {"seed-3", 0x21, true, Concat({OuterCarrying(Hex("11 22 33"), inner, inner.size()), FrameOfSize(4096)}), 2},
    };
}

} // namespace leica
