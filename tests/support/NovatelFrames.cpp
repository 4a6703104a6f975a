#include "support/NovatelFrames.h"

#include <stdexcept>

namespace {

void PutU16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

} // namespace

uint32_t NovatelCrc32(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

Bytes NovatelLog(const Bytes& data, const NovatelHeader& h) {
    if (data.size() > 0xFFFF) throw std::invalid_argument("Novatel data longer than 65535");
    Bytes out{0xAA, 0x44, 0x12, 28};
    PutU16(out, h.messageId);
    out.push_back(h.messageType);
    out.push_back(h.portAddress);
    PutU16(out, static_cast<uint16_t>(data.size()));
    PutU16(out, h.sequence);
    out.push_back(h.idleTime);
    out.push_back(h.timeStatus);
    PutU16(out, h.week);
    PutU32(out, h.milliseconds);
    PutU32(out, h.receiverStatus);
    PutU16(out, 0);  // reserved
    PutU16(out, h.softwareVersion);
    out.insert(out.end(), data.begin(), data.end());
    PutU32(out, NovatelCrc32(out));
    return out;
}

Bytes NovatelLogOfSize(size_t size, uint16_t messageId) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 7 + 1) % 0x41);  // < 0x44
    NovatelHeader header;
    header.messageId = messageId;
    return NovatelLog(data, header);
}

Bytes NovatelResealed(Bytes log) {
    if (log.size() < 32) throw std::invalid_argument("not a Novatel log");
    log.resize(log.size() - 4);
    PutU32(log, NovatelCrc32(log));
    return log;
}

Bytes NovatelWithBadCrc(Bytes log) {
    if (log.empty()) throw std::invalid_argument("empty log");
    log.back() ^= 0x01;
    return log;
}

Bytes NovatelWithByte(Bytes log, size_t offset, uint8_t value) {
    log.at(offset) = value;
    return NovatelResealed(std::move(log));
}

Bytes NovatelForeignHeader(uint8_t headerLength) {
    Bytes out{0xAA, 0x44, 0x12, headerLength};
    for (int i = 4; i < headerLength; ++i) out.push_back(static_cast<uint8_t>(0x30 + i % 10));
    return out;
}
