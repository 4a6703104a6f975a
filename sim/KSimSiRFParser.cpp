#include "sim/KSimSiRFParser.h"

#include <algorithm>

namespace {
constexpr uint8_t kStart[2] = {0xA0, 0xA2};
constexpr uint8_t kEnd[2] = {0xB0, 0xB3};
} // namespace

uint16_t KSimSiRFParser::Checksum(const uint8_t* payload, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += payload[i];
    return static_cast<uint16_t>(sum & 0x7FFF);
}

std::vector<uint8_t> KSimSiRFParser::Packet(const std::vector<uint8_t>& payload) {
    const size_t n = std::min(payload.size(), kMaxPacket - kOverhead);
    std::vector<uint8_t> packet{kStart[0], kStart[1], static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)};
    packet.insert(packet.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    const uint16_t sum = Checksum(payload.data(), n);
    packet.insert(packet.end(), {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum & 0xFF), kEnd[0], kEnd[1]});
    return packet;
}

size_t KSimSiRFParser::FrameLength(const uint8_t* packet, size_t held) const {
    if (held < 4) return kNeedMore;
    const size_t length = static_cast<size_t>(packet[2]) << 8 | packet[3];
    // A packet without payload carries no message ID.
    return length == 0 || length + kOverhead > kMaxPacket ? kNoFrame : length + kOverhead;
}

bool KSimSiRFParser::Intact(const uint8_t* packet, size_t total) const {
    const size_t length = total - kOverhead;
    return packet[total - 2] == kEnd[0] && packet[total - 1] == kEnd[1] &&
           Checksum(packet + 4, length) == (static_cast<uint16_t>(packet[length + 4]) << 8 | packet[length + 5]);
}
