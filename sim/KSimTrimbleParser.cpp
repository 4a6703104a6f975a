#include "sim/KSimTrimbleParser.h"

#include <algorithm>

uint8_t KSimTrimbleParser::Checksum(const uint8_t* fromStatus, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += fromStatus[i];
    return static_cast<uint8_t>(sum & 0xFFu);
}

std::vector<uint8_t> KSimTrimbleParser::Packet(uint8_t type, const std::vector<uint8_t>& data,
                                               uint8_t status) {
    const size_t n = std::min<size_t>(data.size(), kMaxPacket - 6);
    std::vector<uint8_t> packet(n + 6);
    packet[0] = kStx;
    packet[1] = status;
    packet[2] = type;
    packet[3] = static_cast<uint8_t>(n);
    std::copy_n(data.begin(), n, packet.begin() + 4);
    packet[n + 4] = Checksum(packet.data() + 1, n + 3);
    packet[n + 5] = kEtx;
    return packet;
}

void KSimTrimbleParser::Feed(uint8_t byte) {
    // Outside any packet an ENQ stands alone; inside one it is just a byte of it.
    if (byte == kEnq && starts.empty()) {
        buffer.clear();
        ready.push_back({kEnq});
        return;
    }
    buffer.push_back(byte);
    const size_t size = buffer.size();
    if (byte == kStx) starts.push_back(size - 1);

    // Each candidate start either completes exactly here, stays pending, or is dropped.
    for (size_t i = 0; i < starts.size();) {
        const size_t start = starts[i];
        const size_t held = size - start;
        if (held < 4) {
            ++i;
            continue;
        }
        const size_t total = static_cast<size_t>(buffer[start + 3]) + 6;
        if (held < total) {
            ++i;
            continue;
        }
        const uint8_t* packet = buffer.data() + start;
        const bool intact = packet[total - 1] == kEtx && Checksum(packet + 1, total - 3) == packet[total - 2];
        if (held == total && intact) {
            ready.emplace_back(packet, packet + total);
            ++packets;
            buffer.clear();
            starts.clear();
            return;
        }
        ++rejected;
        starts.erase(starts.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Bytes before the oldest candidate can never be part of a packet.
    const size_t keepFrom = starts.empty() ? size : starts.front();
    if (keepFrom > 0) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(keepFrom));
        for (size_t& s : starts) s -= keepFrom;
    }
}

bool KSimTrimbleParser::Next(std::vector<uint8_t>& packet) {
    if (ready.empty()) return false;
    packet = std::move(ready.front());
    ready.pop_front();
    return true;
}

void KSimTrimbleParser::Clear() {
    buffer.clear();
    starts.clear();
    ready.clear();
}
