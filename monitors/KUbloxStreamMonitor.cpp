#include "monitors/KUbloxStreamMonitor.h"

#include <cstring>
#include <limits>

#include "log/Logs.h"

namespace {

inline void SaturatingIncrement(uint32_t& counter) {
    if (counter != std::numeric_limits<uint32_t>::max()) ++counter;
}

inline void SaturatingAdd(uint32_t& counter, uint32_t n) {
    counter = n > std::numeric_limits<uint32_t>::max() - counter ? std::numeric_limits<uint32_t>::max() : counter + n;
}

uint32_t PayloadLength(const uint8_t* frame) { return uint32_t(frame[4]) | uint32_t(frame[5]) << 8; }

} // namespace

KUbloxStreamMonitor::~KUbloxStreamMonitor() { Stop(); }

uint16_t KUbloxStreamMonitor::Checksum(const uint8_t* bytes, size_t size) {
    uint8_t a = 0, b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = static_cast<uint8_t>(a + bytes[i]);
        b = static_cast<uint8_t>(b + a);
    }
    return static_cast<uint16_t>(a | b << 8);
}

void KUbloxStreamMonitor::ResetFramer() {
    std::memset(buffer, 0, sizeof buffer);
    count = 0;
    skipped = 0;
    huntCount = 0;
    state = kHunting;
}

bool KUbloxStreamMonitor::ReadStep() {
    switch (state) {
    case kHunting: return Hunt();
    case kHeader: return ReadHeader();
    case kBody: return ReadBody();
    default: ResetFramer(); return false;
    }
}

// One byte per step. While hunting, at most one byte is held: a B5 that may begin a sync.
bool KUbloxStreamMonitor::Hunt() {
    uint8_t byte = 0;
    if (!Read(&byte, 1)) return false;
    SaturatingIncrement(huntCount);
    if (boundedScan && huntCount > static_cast<uint32_t>(kScanLimit)) return false;
    if (count == 1 && byte == kSync1) {
        buffer[1] = byte;
        count = 2;
        ReportSkipped();
        state = kHeader;
        return true;
    }
    if (count == 1) SaturatingIncrement(skipped);  // the B5 held was no sync
    if (byte == kSync0) {
        buffer[0] = byte;
        count = 1;
    } else {
        count = 0;
        SaturatingIncrement(skipped);
    }
    return true;
}

bool KUbloxStreamMonitor::ReadHeader() {
    if (count < kHeaderLength) {
        if (!Read(buffer + count, kHeaderLength - count)) return false;
        count = kHeaderLength;
    }
    const uint32_t length = PayloadLength(buffer);
    if (length > kMaxPayload) {
        StreamErrorLog(this, "UBX - payload length %u too long", static_cast<unsigned>(length));
        Settle(1, 0);
        return true;
    }
    state = kBody;
    return true;
}

bool KUbloxStreamMonitor::ReadBody() {
    const uint32_t total = kHeaderLength + PayloadLength(buffer) + kChecksumLength;
    if (total > kBufferSize) {  // only reachable if the header check was bypassed
        ResetFramer();
        return false;
    }
    if (count < total) {
        if (!Read(buffer + count, total - count)) return false;
        count = total;
    }
    const uint16_t sum = Checksum(buffer + 2, total - 4);
    if ((sum & 0xFFu) != buffer[total - 2] || (sum >> 8) != buffer[total - 1]) {
        StreamErrorLog(this, "UBX - bad checksum for class 0x%02X id 0x%02X", buffer[2], buffer[3]);
        Settle(1, 0);
        return true;
    }
    huntCount = 0;
    PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(total)));
    // After a resync the held bytes may run past this frame; they are hunted next.
    Settle(total, total);
    return true;
}

// Drops the first `from` held bytes and what follows them up to the next sync among the held
// bytes; all but the first `delivered` of them count as skipped. A lone B5 at the very end is
// kept, since its 62 may still come.
void KUbloxStreamMonitor::Settle(uint32_t from, uint32_t delivered) {
    while (from < count && !(buffer[from] == kSync0 && (from + 1 == count || buffer[from + 1] == kSync1))) ++from;
    SaturatingAdd(skipped, from - delivered);
    std::memmove(buffer, buffer + from, count - from);
    count -= from;
    if (count >= 2) {
        ReportSkipped();
        state = kHeader;
    } else {
        state = kHunting;
    }
}

void KUbloxStreamMonitor::ReportSkipped() {
    if (skipped == 0) return;
    const uint32_t printable = skipped > uint32_t(std::numeric_limits<int32_t>::max())
                                   ? uint32_t(std::numeric_limits<int32_t>::max())
                                   : skipped;
    StreamErrorLog(this, "UBX - skipped %d bytes to find sync", static_cast<int>(printable));
    skipped = 0;
}
