#include "sim/KSimUbxParser.h"

namespace {
// Sum A in the first byte, sum B in the second.
std::vector<uint8_t> Sums(const uint8_t* bytes, size_t length) {
    unsigned a = 0, b = 0;
    for (size_t i = 0; i < length; ++i) {
        a = (a + bytes[i]) & 0xFFu;
        b = (b + a) & 0xFFu;
    }
    return {static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
}
} // namespace

std::vector<uint8_t> KSimUbxParser::Frame(uint8_t messageClass, uint8_t id, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame{0xB5, 0x62, messageClass, id, static_cast<uint8_t>(payload.size() & 0xFF),
                               static_cast<uint8_t>(payload.size() >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const std::vector<uint8_t> sums = Sums(frame.data() + 2, frame.size() - 2);
    frame.insert(frame.end(), sums.begin(), sums.end());
    return frame;
}

size_t KSimUbxParser::FrameLength(const uint8_t* frame, size_t held) const {
    if (held < 6) return kNeedMore;
    const size_t payload = frame[4] | size_t(frame[5]) << 8;
    return payload > kMaxPayload ? kNoFrame : payload + 8;
}

bool KSimUbxParser::Intact(const uint8_t* frame, size_t length) const {
    const std::vector<uint8_t> sums = Sums(frame + 2, length - 4);
    return sums[0] == frame[length - 2] && sums[1] == frame[length - 1];
}
