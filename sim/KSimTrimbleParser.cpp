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
    if (byte == kEnq && !Pending()) {
        Emit({kEnq});
        return;
    }
    KSimFrameHunt::Feed(byte);
}

size_t KSimTrimbleParser::FrameLength(const uint8_t* packet, size_t held) const {
    return held < 4 ? kNeedMore : static_cast<size_t>(packet[3]) + 6;
}

bool KSimTrimbleParser::Intact(const uint8_t* packet, size_t length) const {
    return packet[length - 1] == kEtx && Checksum(packet + 1, length - 3) == packet[length - 2];
}
