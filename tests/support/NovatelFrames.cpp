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
    Bytes out;
    out.reserve(data.size() + 32);
    for (uint8_t b : {0xAA, 0x44, 0x12, 28}) out.push_back(b);
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

std::vector<FuzzSeed> NovatelFuzzSeeds() {
    const Bytes small = NovatelLogOfSize(0);
    const Bytes medium = NovatelLogOfSize(100, 1194);
    Bytes ascii = NovatelWithByte(NovatelLogOfSize(8), 6, 0x20);
    Bytes tooLong = NovatelLogOfSize(4065);
    tooLong.resize(60);
    return {
        {"empty-log", 0, false, small, 1},
        {"junk-then-log", 3, false, Concat({Hex("00 AA AA 44 AA 44 44 12"), medium}), 1},
        {"bad-crc-then-log", 17, false, Concat({NovatelWithBadCrc(medium), small}), 1},
        {"header-20", 5, false, Concat({NovatelForeignHeader(20), small}), 1},
        {"header-2", 1, false, Concat({Hex("AA 44 12 02"), small}), 1},
        {"ascii-type", 9, false, Concat({ascii, small}), 1},
        {"too-long", 40, false, Concat({tooLong, small}), 1},
        {"largest", 63, false, NovatelLogOfSize(4064), 1},
        {"bounded-junk", 2, true, Concat({Repeat(0x00, 300), small, small}), 2},
    };
}

