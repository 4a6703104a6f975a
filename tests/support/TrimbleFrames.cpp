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
    Bytes out;
    out.reserve(data.size() + 6);
    for (uint8_t b : {uint8_t{0x02}, status, type, static_cast<uint8_t>(data.size())}) out.push_back(b);
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

std::vector<FuzzSeed> TrimbleFuzzSeeds() {
    const Bytes empty = TrimblePacketOfSize(0);
    const Bytes medium = TrimblePacketOfSize(60, 0x57);
    const Bytes cut = TrimblePacketOfSize(10);
    const Bytes inner = TrimblePacketOfSize(5);
    const Bytes outer = TrimbleWithBadChecksum(TrimblePacket(0x40, Concat({Hex("11 12"), inner, empty, Hex("13")})));
    return {
        {"empty-packet", 0, false, empty, 1},
        {"longest-packet", 63, false, TrimblePacketOfSize(255), 1},
        {"junk-then-packets", 7, false, Concat({TrimbleJunk(30), medium, Hex("03 03"), empty}), 2},
        {"truncated-then-packet", 3, false, Concat({Bytes(cut.begin(), cut.begin() + 7), medium}), 1},
        {"kept-past-etx", 11, false, Concat({outer, empty}), 2},
        {"throwaway-chain", 1, false, Concat({Hex("02 05 02 00"), TrimblePacketOfSize(4)}), 1},
        {"no-etx-no-stx", 20, false, Concat({TrimbleWithoutEtx(TrimblePacketOfSize(30)), empty}), 1},
        {"bounded-junk", 2, true, Concat({TrimbleJunk(300, 5), empty, empty}), 2},
    };
}

