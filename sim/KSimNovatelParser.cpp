#include "sim/KSimNovatelParser.h"

#include <array>

#include "sim/KSimBytes.h"

using KSimBytes::PutLittleEndian;
using KSimBytes::ReadLittleEndian;

namespace {
constexpr size_t kHeaderLengthOffset = 3;
constexpr size_t kPayloadLengthOffset = 8;

// The byte table of the reflected polynomial, built the classic way: each entry is its index
// shifted right eight times, with the polynomial folded in after every shift that drops a 1.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
} // namespace

uint32_t KSimNovatelParser::Crc32(const uint8_t* bytes, size_t length, uint32_t crc) {
    for (size_t i = 0; i < length; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return crc;
}

std::vector<uint8_t> KSimNovatelParser::Message(const Header& header, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> message{0xAA, 0x44, 0x12, static_cast<uint8_t>(kHeaderLength)};
    PutLittleEndian(message, header.messageId, 2);
    message.push_back(header.messageType);
    message.push_back(header.portAddress);
    PutLittleEndian(message, payload.size(), 2);
    PutLittleEndian(message, 0, 2);  // sequence
    message.push_back(header.idleTime);
    message.push_back(header.timeStatus);
    PutLittleEndian(message, header.week, 2);
    PutLittleEndian(message, header.milliseconds, 4);
    PutLittleEndian(message, 0, 4);  // receiver status: no error, no warning
    PutLittleEndian(message, 0, 2);  // reserved
    PutLittleEndian(message, header.softwareVersion, 2);
    message.insert(message.end(), payload.begin(), payload.end());
    PutLittleEndian(message, Crc32(message.data(), message.size()), 4);
    return message;
}

size_t KSimNovatelParser::FrameLength(const uint8_t* frame, size_t held) const {
    if (held < kPayloadLengthOffset + 2) return kNeedMore;
    if (frame[kHeaderLengthOffset] != kHeaderLength) return kNoFrame;
    const size_t total = kHeaderLength + ReadLittleEndian(frame + kPayloadLengthOffset, 2) + kCrcLength;
    return total > kMaxMessage ? kNoFrame : total;
}

bool KSimNovatelParser::Intact(const uint8_t* frame, size_t length) const {
    return Crc32(frame, length - kCrcLength) == ReadLittleEndian(frame + length - kCrcLength, kCrcLength);
}
