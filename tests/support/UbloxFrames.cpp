#include "support/UbloxFrames.h"

#include <cstdio>

Bytes UbxFrame(uint8_t messageClass, uint8_t id, const Bytes& payload) {
    Bytes frame = {0xB5, 0x62, messageClass, id, static_cast<uint8_t>(payload.size()),
                   static_cast<uint8_t>(payload.size() >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    unsigned a = 0, b = 0;
    for (size_t i = 2; i < frame.size(); ++i) {
        a = (a + frame[i]) % 256;
        b = (b + a) % 256;
    }
    frame.push_back(static_cast<uint8_t>(a));
    frame.push_back(static_cast<uint8_t>(b));
    return frame;
}

Bytes NmeaSentence(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body) sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(c));
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    const std::string text = "$" + body + tail;
    return Bytes(text.begin(), text.end());
}

Bytes Rtcm3Frame(const Bytes& payload) {
    Bytes frame = {0xD3, static_cast<uint8_t>((payload.size() >> 8) & 0x03), static_cast<uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    uint32_t crc = 0;
    for (uint8_t byte : frame) {
        crc ^= uint32_t(byte) << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000u) crc ^= 0x1864CFBu;
        }
    }
    for (int shift = 16; shift >= 0; shift -= 8) frame.push_back(static_cast<uint8_t>(crc >> shift));
    return frame;
}

std::vector<UbxCensusEntry> UbxCensus(const Bytes& stream) {
    std::vector<UbxCensusEntry> found;
    for (size_t at = 0; at + 8 <= stream.size(); ++at) {
        if (stream[at] != 0xB5 || stream[at + 1] != 0x62) continue;
        const size_t length = 8 + (stream[at + 4] | size_t(stream[at + 5]) << 8);
        if (at + length > stream.size()) continue;
        const Bytes frame(stream.begin() + static_cast<std::ptrdiff_t>(at),
                          stream.begin() + static_cast<std::ptrdiff_t>(at + length));
        const Bytes payload(frame.begin() + 6, frame.end() - 2);
        if (UbxFrame(frame[2], frame[3], payload) == frame) found.push_back({at, length});
    }
    return found;
}
