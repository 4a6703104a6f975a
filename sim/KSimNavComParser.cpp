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

void KSimNavComParser::Feed(uint8_t byte) {
    buffer.push_back(byte);
    const size_t size = buffer.size();
    if (size >= 3 && std::equal(kSync, kSync + 3, buffer.end() - 3)) syncs.push_back(size - 3);

    // Each candidate start either completes exactly here, stays pending, or is dropped.
    for (size_t i = 0; i < syncs.size();) {
        const size_t start = syncs[i];
        if (size - start < kHeader) {
            ++i;
            continue;
        }
        const size_t total = static_cast<size_t>(buffer[start + 4] | (buffer[start + 5] << 8)) + 4;
        // A length below 4 leaves no room for the checksum and ETX after the length field.
        if (total < kOverhead || total > kMaxPacket || size - start > total) {
            syncs.erase(syncs.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (size - start < total) {
            ++i;
            continue;
        }
        const uint8_t* packet = buffer.data() + start;
        if (packet[total - 1] == kEtx && Checksum(packet + 3, total - 5) == packet[total - 2]) {
            ready.emplace_back(packet, packet + total);
            ++packets;
            buffer.clear();
            syncs.clear();
            return;
        }
        ++badPackets;
        syncs.erase(syncs.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Bytes before the oldest candidate can never be part of a packet; the last two may begin
    // a sync.
    const size_t keepFrom = syncs.empty() ? (size > 2 ? size - 2 : 0) : syncs.front();
    if (keepFrom > 0) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(keepFrom));
        for (size_t& s : syncs) s -= keepFrom;
    }
}

bool KSimNavComParser::Next(std::vector<uint8_t>& packet) {
    if (ready.empty()) return false;
    packet = std::move(ready.front());
    ready.pop_front();
    return true;
}

void KSimNavComParser::Clear() {
    buffer.clear();
    syncs.clear();
    ready.clear();
}
