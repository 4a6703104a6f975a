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

bool KSimSiRFParser::IntactFrom(size_t start) const {
    const uint8_t* p = buffer.data() + start;
    const size_t held = buffer.size() - start;
    if (p[0] != kStart[0] || p[1] != kStart[1]) return false;
    const size_t length = static_cast<size_t>(p[2]) << 8 | p[3];
    // A packet without payload carries no message ID.
    if (length == 0 || length + kOverhead != held) return false;
    return Checksum(p + 4, length) == (static_cast<uint16_t>(p[length + 4]) << 8 | p[length + 5]);
}

void KSimSiRFParser::Feed(uint8_t byte) {
    buffer.push_back(byte);
    // Only the last input buffer's worth can still hold a packet; drop older bytes now and then
    // rather than at every byte.
    if (buffer.size() >= 2 * kMaxPacket)
        buffer.erase(buffer.begin(), buffer.end() - static_cast<std::ptrdiff_t>(kMaxPacket));
    const size_t size = buffer.size();
    if (size < kOverhead || buffer[size - 2] != kEnd[0] || buffer[size - 1] != kEnd[1]) return;
    for (size_t start = size > kMaxPacket ? size - kMaxPacket : 0; start + kOverhead <= size; ++start) {
        if (!IntactFrom(start)) continue;
        ready.emplace_back(buffer.begin() + static_cast<std::ptrdiff_t>(start), buffer.end());
        ++packets;
        buffer.clear();
        return;
    }
}

bool KSimSiRFParser::Next(std::vector<uint8_t>& packet) {
    if (ready.empty()) return false;
    packet = std::move(ready.front());
    ready.pop_front();
    return true;
}

void KSimSiRFParser::Clear() {
    buffer.clear();
    ready.clear();
}
