#include "monitors/KNovatelStreamMonitor.h"

#include <array>
#include <cstring>
#include <limits>

#include "log/Logs.h"

namespace {

constexpr uint8_t kSync0 = 0xAA;
constexpr uint8_t kSync1 = 0x44;
constexpr uint8_t kSync2 = 0x12;
constexpr uint32_t kSyncWindow = uint32_t(kSync0) << 16 | uint32_t(kSync1) << 8 | kSync2;
constexpr uint8_t kFormatMask = 0x60;  // message type bits 5 and 6: 0 is binary
constexpr uint32_t kCrcPolynomial = 0xEDB88320u;

// Slicing-by-8 tables: table[0] is the classic byte table, table[k] advances k more zero bytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ kCrcPolynomial : crc >> 1;
        tables[0][i] = crc;
    }
    for (size_t k = 1; k < tables.size(); ++k)
        for (uint32_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFFu];
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

// Counters saturate instead of wrapping: a wrapped hunt counter would misreport the bytes
// skipped and would reopen a bounded scan that had already run out.
inline void SaturatingIncrement(uint32_t& counter) {
    if (counter != std::numeric_limits<uint32_t>::max()) ++counter;
}

} // namespace

KNovatelStreamMonitor::~KNovatelStreamMonitor() { Stop(); }

uint32_t KNovatelStreamMonitor::Crc(const uint8_t* bytes, size_t size, uint32_t crc) {
    const auto& t = kCrcTables;
    while (size >= 8) {
        const uint32_t low = crc ^ (uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                    uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
              t[4][low >> 24] ^ t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
        bytes += 8;
        size -= 8;
    }
    while (size--) crc = t[0][(crc ^ *bytes++) & 0xFFu] ^ (crc >> 8);
    return crc;
}

void KNovatelStreamMonitor::ResetFramer() {
    std::memset(buffer, 0, sizeof buffer);
    huntCount = 0;
    InternalReset();
}

void KNovatelStreamMonitor::InternalReset() {
    buffer[0] = buffer[1] = buffer[2] = 0;
    window = 0;
    count = 0;
    length = 0;
    headerLengthRead = false;
    headerLength = 0;
    state = kHunting;
}

bool KNovatelStreamMonitor::ReadStep() {
    switch (state) {
    case kHunting: return Hunt();
    case kHeader: return ReadHeader();
    case kBody: return ReadBody();
    default: InternalReset(); return false;
    }
}

// One byte per step; the window is bytes 0 to 2 of the buffer.
bool KNovatelStreamMonitor::Hunt() {
    if (!Read(buffer + 2, 1)) return false;
    const uint8_t newest = buffer[2];
    SaturatingIncrement(count);
    SaturatingIncrement(huntCount);
    if (boundedScan && huntCount > static_cast<uint32_t>(kScanLimit)) return false;
    window = (window << 8 | newest) & 0xFFFFFFu;
    if (window == kSyncWindow) {
        if (count > 3) {
            // The number is printed with %d: keep it from turning negative.
            const uint32_t skipped = count - 3;
            const uint32_t printable = skipped > uint32_t(std::numeric_limits<int32_t>::max())
                                           ? uint32_t(std::numeric_limits<int32_t>::max())
                                           : skipped;
            StreamErrorLog(this, "Novatel - skipped %d bytes to find sync marker",
                           static_cast<int>(printable));
        }
        state = kHeader;
        count = 3;
        return true;
    }
    buffer[0] = buffer[1];
    buffer[1] = newest;
    return true;
}

bool KNovatelStreamMonitor::ReadHeader() {
    if (!headerLengthRead) {
        // The length byte is read once; a log survives failed reads after it.
        if (!Read(buffer + 3, 1)) return false;
        headerLength = buffer[3];
        headerLengthRead = true;
        count = 4;
    }
    if (headerLength <= 4) {
        // Too short to hold even its own length byte: nothing more is read for it.
        StreamErrorLog(this, "Novatel - Header length is not consistant with known header structure");
        InternalReset();
        return true;
    }
    // At most 251 bytes at offset 4: always inside the buffer.
    if (!Read(buffer + 4, headerLength - 4u)) return false;
    count = headerLength;
    if (headerLength != kHeaderLength) {
        StreamErrorLog(this, "Novatel - Header length is not consistant with known header structure");
        InternalReset();
        return true;
    }
    if (buffer[6] & kFormatMask) {
        StreamErrorLog(this, "Novatel - Header message type not binary");
        InternalReset();
        return true;
    }
    const uint16_t m = static_cast<uint16_t>(buffer[8] | buffer[9] << 8);
    if (m > kMaxDataLength) {
        StreamErrorLog(this, "Novatel - Total message length greater than receiving buffer size - %d",
                       static_cast<int>(m));
        InternalReset();
        return true;
    }
    length = m;
    state = kBody;
    return true;
}

bool KNovatelStreamMonitor::ReadBody() {
    const uint32_t total = uint32_t(length) + kHeaderLength + kCrcLength;
    if (total > kBufferSize) {  // only reachable if the header check was bypassed
        InternalReset();
        return false;
    }
    if (!Read(buffer + kHeaderLength, length + kCrcLength)) return false;
    count = total;
    if (Crc(buffer, total) != 0) {
        StreamErrorLog(this, "Novatel - Invalid CRC");
    } else {
        huntCount = 0;
        PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(total)));
    }
    InternalReset();
    return true;
}
