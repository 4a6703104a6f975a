// The simulated Novatel receiver's command reader on arbitrary bytes: every message it finds must
// be an intact binary message (sync, the 28-byte header, its stated length within 4096 bytes, a
// CRC-32 checked here bit by bit) that really ends at the byte just fed, and
// messages never share bytes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/KSimNovatelParser.h"

namespace {
uint32_t BitwiseCrc(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

bool Intact(const std::vector<uint8_t>& message) {
    if (message.size() < 32 || message.size() > KSimNovatelParser::kMaxMessage) return false;
    if (message[0] != 0xAA || message[1] != 0x44 || message[2] != 0x12 || message[3] != 28) return false;
    if (static_cast<size_t>(message[8] | message[9] << 8) + 32 != message.size()) return false;
    return BitwiseCrc(message.data(), message.size()) == 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KSimNovatelParser parser;
    size_t lastEnd = 0;
    for (size_t i = 0; i < size; ++i) {
        parser.Feed(data[i]);
        for (std::vector<uint8_t> message; parser.Next(message);) {
            const size_t end = i + 1;
            if (!Intact(message) || message.size() > end - lastEnd ||
                !std::equal(message.begin(), message.end(), data + end - message.size())) {
                std::fprintf(stderr, "%zu bytes are not an intact message ending at %zu\n", message.size(), i);
                std::abort();
            }
            lastEnd = end;
        }
    }
    return 0;
}
