#include "sim/KSimNavComParser.h"

#include <algorithm>

namespace {
constexpr uint8_t kSync[3] = {0x02, 0x99, 0x66};
constexpr uint8_t kEtx = 0x03;
} // namespace

uint8_t KSimNavComParser::Checksum(const uint8_t* bytes, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum ^= bytes[i];
    return sum;
}

std::vector<uint8_t> KSimNavComParser::Packet(uint8_t id, const std::vector<uint8_t>& payload) {
    const size_t n = std::min(payload.size(), kMaxPacket - kOverhead);
    const uint16_t length = static_cast<uint16_t>(n + 4);
    std::vector<uint8_t> packet{kSync[0], kSync[1], kSync[2], id, static_cast<uint8_t>(length & 0xFF),
                                static_cast<uint8_t>(length >> 8)};
    packet.insert(packet.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    packet.push_back(Checksum(packet.data() + 3, n + 3));
    packet.push_back(kEtx);
    return packet;
}

size_t KSimNavComParser::FrameLength(const uint8_t* packet, size_t held) const {
    if (held < kHeader) return kNeedMore;
    const size_t total = static_cast<size_t>(packet[4] | (packet[5] << 8)) + 4;
    // A length below 4 leaves no room for the checksum and ETX after the length field.
    return total < kOverhead || total > kMaxPacket ? kNoFrame : total;
}

bool KSimNavComParser::Intact(const uint8_t* packet, size_t length) const {
    return packet[length - 1] == kEtx && Checksum(packet + 3, length - 5) == packet[length - 2];
}
