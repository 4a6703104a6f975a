#include "support/SiRFFrames.h"

#include <algorithm>
#include <stdexcept>

namespace sirf {

uint16_t Checksum(const Bytes& payload) {
    uint32_t sum = 0;
    for (uint8_t b : payload) sum += b;
    return static_cast<uint16_t>(sum % 32768);
}

Bytes Header(uint16_t payloadLength) {
    return {0xA0, 0xA2, static_cast<uint8_t>(payloadLength >> 8), static_cast<uint8_t>(payloadLength & 0xFF)};
}

Bytes Frame(const Bytes& payload) {
    if (payload.size() > 0xFFFF) throw std::invalid_argument("SiRF payload too long");
    Bytes frame(payload.size() + 4);
    const Bytes header = Header(static_cast<uint16_t>(payload.size()));
    std::copy(header.begin(), header.end(), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 4);
    const uint16_t checksum = Checksum(payload);
    frame.push_back(static_cast<uint8_t>(checksum >> 8));
    frame.push_back(static_cast<uint8_t>(checksum & 0xFF));
    frame.push_back(0xB0);
    frame.push_back(0xB3);
    return frame;
}

Bytes FrameOfSize(size_t total, uint8_t seed) {
    if (total < 8) throw std::invalid_argument("SiRF frame shorter than 8 bytes");
    Bytes payload(total - 8);
    // Bytes below 0xA0 only, so no start can appear inside the payload.
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>((seed + i * 11) % 0xA0);
    return Frame(payload);
}

Bytes WithBadChecksum(Bytes frame) {
    frame[frame.size() - 3] ^= 0x01;
    return frame;
}

Bytes WithBadEnd(Bytes frame) {
    frame[frame.size() - 1] = 0xB4;
    return frame;
}

bool IsValid(const Bytes& frame, bool checkEnd) {
    if (frame.size() < 8 || frame[0] != 0xA0 || frame[1] != 0xA2) return false;
    const size_t l = static_cast<size_t>(frame[2] << 8 | frame[3]);
    if (l + 8 != frame.size()) return false;
    if (checkEnd && (frame[l + 6] != 0xB0 || frame[l + 7] != 0xB3)) return false;
    const Bytes payload(frame.begin() + 4, frame.begin() + 4 + static_cast<std::ptrdiff_t>(l));
    return Checksum(payload) == (frame[l + 4] << 8 | frame[l + 5]);
}

Bytes BigEndian(uint64_t value, int bytes) {
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

uint64_t ReadBigEndian(const uint8_t* data, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | data[i];
    return value;
}

Bytes OuterCarrying(const Bytes& prefix, const Bytes& inner, size_t carried) {
    const size_t total = 4 + 1 + prefix.size() + carried;
    for (uint8_t first : {0x01, 0x02}) {
        const Bytes outer = Concat({Header(static_cast<uint16_t>(total - 8)), Bytes{first}, prefix,
                                    Bytes(inner.begin(), inner.begin() + static_cast<std::ptrdiff_t>(carried))});
        if (!IsValid(outer)) return outer;
    }
    throw std::logic_error("no damaged frame");
}

std::vector<FuzzSeed> FuzzSeeds() {
    const Bytes inner = FrameOfSize(20, 4);
    return {
        {"seed-1", 0x00, false, Concat({Frame({}), Frame(Hex("29")), FrameOfSize(60), FrameOfSize(300)}), 4},
        {"seed-2", 0x07, false,
         Concat({Hex("10 20 A0"), FrameOfSize(30), WithBadChecksum(FrameOfSize(20)), Header(1017), FrameOfSize(9)}), 2},
        {"seed-3", 0x21, true,
         Concat({OuterCarrying(Hex("31 32"), inner, 10), Bytes(inner.begin() + 10, inner.end()), FrameOfSize(1024)}), 2},
    };
}

} // namespace sirf
