#include "support/TrimbleFrames.h"

#include <random>
#include <stdexcept>

uint8_t TrimbleChecksum(uint8_t status, uint8_t type, const Bytes& data) {
    unsigned sum = status + type + static_cast<unsigned>(data.size());
    for (uint8_t b : data) sum += b;
    return static_cast<uint8_t>(sum & 0xFFu);
}

Bytes TrimblePacket(uint8_t type, const Bytes& data, uint8_t status) {
    if (data.size() > 255) throw std::invalid_argument("Trimble data longer than 255");
    Bytes out{0x02, status, type, static_cast<uint8_t>(data.size())};
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(TrimbleChecksum(status, type, data));
    out.push_back(0x03);
    return out;
}

Bytes TrimblePacketOfSize(size_t size, uint8_t type, uint8_t status) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(0x10 + (i * 13) % 0xE0);
    return TrimblePacket(type, data, status);
}

Bytes TrimbleWithoutEtx(Bytes packet, uint8_t replacement) {
    if (packet.size() < 6 || replacement == 0x03) throw std::invalid_argument("bad ETX edit");
    packet[static_cast<size_t>(packet[3]) + 5] = replacement;
    return packet;
}

Bytes TrimbleWithBadChecksum(Bytes packet) {
    if (packet.size() < 6) throw std::invalid_argument("not a Trimble packet");
    packet[static_cast<size_t>(packet[3]) + 4] += 1;
    return packet;
}

Bytes TrimbleJunk(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (uint8_t& b : out) {
        do b = static_cast<uint8_t>(random()); while (b == 0x02);
    }
    return out;
}
