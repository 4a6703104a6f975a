#include "sim/KSimLeicaParser.h"

#include <algorithm>

uint16_t KSimLeicaParser::Checksum(const uint8_t* body, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += body[i];
    return static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
}

std::vector<uint8_t> KSimLeicaParser::Frame(const std::vector<uint8_t>& payload) {
    const size_t n = std::min(payload.size(), kMaxFrame - 6);
    const uint16_t length = static_cast<uint16_t>(n + 4);
    std::vector<uint8_t> frame(n + 6);
    frame[0] = 0x9C;
    frame[1] = 0xAE;
    frame[2] = static_cast<uint8_t>(length & 0xFF);
    frame[3] = static_cast<uint8_t>(length >> 8);
    for (size_t i = 0; i < n; ++i) frame[4 + i] = payload[i];
    const uint16_t sum = Checksum(frame.data() + 2, n + 2);
    frame[n + 4] = static_cast<uint8_t>(sum & 0xFF);
    frame[n + 5] = static_cast<uint8_t>(sum >> 8);
    return frame;
}

size_t KSimLeicaParser::FrameLength(const uint8_t* frame, size_t held) const {
    if (held < 4) return kNeedMore;
    const size_t total = static_cast<size_t>(frame[2] | (frame[3] << 8)) + 2;
    return total <= 6 || total > kMaxFrame ? kNoFrame : total;
}

bool KSimLeicaParser::Intact(const uint8_t* frame, size_t length) const {
    const uint16_t stated = static_cast<uint16_t>(frame[length - 2] | (frame[length - 1] << 8));
    return Checksum(frame + 2, length - 4) == stated;
}

std::vector<uint8_t> KSimLeicaParser::Deliver(const uint8_t* frame, size_t length) const {
    return {frame + 4, frame + length - 2};
}
