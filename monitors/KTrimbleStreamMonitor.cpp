#include "monitors/KTrimbleStreamMonitor.h"

#include <cstring>
#include <limits>

#include "log/Logs.h"

namespace {

constexpr uint32_t kHeaderBytes = 4;  // STX, status, type, length

// The scan counter saturates at both ends: it must neither wrap past zero when retained bytes
// are handed back nor wrap to small numbers on a link that trickles for days.
inline void AddScan(uint32_t& counter, uint32_t n) {
    counter = n > std::numeric_limits<uint32_t>::max() - counter ? std::numeric_limits<uint32_t>::max()
                                                                  : counter + n;
}
inline void SubtractScan(uint32_t& counter, uint32_t n) { counter = n > counter ? 0 : counter - n; }

} // namespace

KTrimbleStreamMonitor::~KTrimbleStreamMonitor() { Stop(); }

uint8_t KTrimbleStreamMonitor::Checksum(const uint8_t* fromStatus, uint32_t size) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size; ++i) sum += fromStatus[i];
    return static_cast<uint8_t>(sum);
}

void KTrimbleStreamMonitor::ResetFramer() {
    state = kHunting;
    std::memset(buffer, 0, sizeof buffer);
    count = 0;
    scanCount = 0;
}

bool KTrimbleStreamMonitor::ReadStep() {
    switch (state) {
    case kHunting: return Hunt();
    case kPacket: return ReadPacket();
    default:
        count = 0;
        state = kHunting;
        return true;
    }
}

bool KTrimbleStreamMonitor::Hunt() {
    count = 0;
    if (!Read(buffer, 1)) return false;
    for (;;) {
        AddScan(scanCount, 1);
        if (StopSignalled()) return false;
        if (boundedScan && scanCount > static_cast<uint32_t>(kScanLimit)) return false;
        if (buffer[0] == kStx) {
            state = kPacket;
            count = 1;
            return true;
        }
        if (!Read(buffer, 1)) return false;
    }
}

bool KTrimbleStreamMonitor::ReadPacket() {
    if (count < kHeaderBytes) {
        if (!Read(buffer + count, kHeaderBytes - count)) return false;
        AddScan(scanCount, kHeaderBytes - count);
        count = kHeaderBytes;
    }
    const uint32_t l = buffer[3];
    // Counted on every pass, also when the read below has to wait for more bytes.
    AddScan(scanCount, l + 2);
    const uint32_t total = l + 6;  // at most 261: always inside the buffer
    if (count < total) {
        if (!Read(buffer + count, total - count)) return false;
        count = total;
    }
    if (buffer[l + 5] != kEtx) {
        StreamErrorLog(this, "Trimble - no ETX");
        ThrowAway();
    } else if (Checksum(buffer + 1, l + 3) != buffer[l + 4]) {
        StreamErrorLog(this, "Trimble - invalid CRC");
        ThrowAway();
    } else {
        // Bytes retained from a thrown-away packet may reach past this ETX; they go with it.
        PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(count)));
        count = 0;
        scanCount = 0;
        state = kHunting;
    }
    if (boundedScan && scanCount > static_cast<uint32_t>(kScanLimit)) return false;
    return true;
}

void KTrimbleStreamMonitor::ThrowAway() {
    const uint32_t n = count;
    const void* next = n > 1 ? std::memchr(buffer + 1, kStx, n - 1) : nullptr;
    if (!next) {
        count = 0;
        state = kHunting;
        return;
    }
    const uint32_t i = static_cast<uint32_t>(static_cast<const uint8_t*>(next) - buffer);
    std::memmove(buffer, buffer + i, n - i);
    StreamErrorLog(this, "Trimble - Throwing away %d bytes [total = %d]", static_cast<int>(i),
                   static_cast<int>(i));
    SubtractScan(scanCount, n - i);
    count = n - i;
    state = kPacket;
}
