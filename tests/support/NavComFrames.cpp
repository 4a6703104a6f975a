#include "support/NavComFrames.h"

#include <algorithm>
#include <stdexcept>

namespace navcom {

Bytes Header(uint8_t id, uint16_t n) {
    return {0x02, 0x99, 0x66, id, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
}

uint8_t Checksum(const Bytes& frame, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 3; i < n + 2; ++i) sum ^= frame.at(i);
    return sum;
}

Bytes Frame(uint8_t id, const Bytes& payload) {
    if (payload.size() + 4 > 0xFFFF) throw std::invalid_argument("NavCom payload too long");
    const auto n = static_cast<uint16_t>(payload.size() + 4);
    Bytes frame(payload.size() + 6);
    const Bytes header = Header(id, n);
    std::copy(header.begin(), header.end(), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 6);
    frame.push_back(Checksum(frame, n));
    frame.push_back(0x03);
    return frame;
}

Bytes FrameOfSize(size_t total, uint8_t id, uint8_t seed) {
    if (total < 8) throw std::invalid_argument("NavCom frame shorter than 8 bytes");
    Bytes payload(total - 8);
    // 0x02 never appears, so no sync can start inside the payload.
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(0x10 + (seed + i * 13) % 0xE0);
    return Frame(id, payload);
}

Bytes WithBadChecksum(Bytes frame) {
    frame[frame.size() - 2] ^= 0x20;
    return frame;
}

Bytes WithBadEtx(Bytes frame, uint8_t etx) {
    frame.back() = etx;
    return frame;
}

bool IsValid(const Bytes& frame, bool checkEtx) {
    if (frame.size() < 7 || frame[0] != 0x02 || frame[1] != 0x99 || frame[2] != 0x66) return false;
    const size_t n = frame[4] | frame[5] << 8;
    if (n < 3 || n + 4 != frame.size()) return false;
    if (checkEtx && frame.back() != 0x03) return false;
    return Checksum(frame, n) == frame[n + 2];
}

Bytes OuterCarrying(const Bytes& prefix, const Bytes& inner, size_t carried) {
    const size_t n = 6 + prefix.size() + carried - 4;
    for (uint8_t id : {0xC1, 0xC2}) {
        const Bytes outer = Concat({Header(id, static_cast<uint16_t>(n)), prefix,
                                    Bytes(inner.begin(), inner.begin() + static_cast<std::ptrdiff_t>(carried))});
        if (!IsValid(outer)) return outer;
    }
    throw std::logic_error("no damaged frame");
}

std::vector<FuzzSeed> FuzzSeeds() {
    const Bytes inner = FrameOfSize(20, 0x44);
    return {
        {"seed-1", 0x00, false, Concat({Frame(0x21, {}), FrameOfSize(60), FrameOfSize(300)}), 3},
        {"seed-2", 0x07, false,
         Concat({Hex("10 20 02 99"), FrameOfSize(30), WithBadChecksum(FrameOfSize(20)), Header(0x10, 1), FrameOfSize(9)}),
         2},
        {"seed-3", 0x21, true,
         Concat({OuterCarrying(Hex("31 32"), inner, 10), Bytes(inner.begin() + 10, inner.end()), FrameOfSize(4096)}), 2},
    };
}

} // namespace navcom
