#include "monitors/KLeicaStreamMonitor.h"

#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {
constexpr uint32_t kShortestTotal = 7;  // sync, length, at least one body byte, checksum
}

KLeicaStreamMonitor::KLeicaStreamMonitor() { ResetFramer(); }

KLeicaStreamMonitor::~KLeicaStreamMonitor() {
    // The reader thread calls ReadStep: it must be gone before this object starts to die.
    Stop();
}

void KLeicaStreamMonitor::ResetFramer() {
    state = kHunting;
    std::memset(buffer, 0, sizeof buffer);
    count = 0;
    totalLength = 0;
}

void KLeicaStreamMonitor::InternalReset() {
    buffer[0] = 0;
    count = 0;
    state = kHunting;
}

bool KLeicaStreamMonitor::ReadStep() {
    switch (state) {
    case kHunting: return Hunt();
    case kReadingLength: return ReadLength();
    case kReadingBody: return ReadBody();
    default: InternalReset(); return false;
    }
}

// Slides a two-byte window over the stream, as many bytes as have arrived, within one step.
// The window lives in locals while the loop runs and is written back at every exit: loading a
// byte back right after its one-byte store by the link would stall the processor on every byte.
bool KLeicaStreamMonitor::Hunt() {
    uint8_t older = buffer[0];
    uint8_t newer;
    if (!Read(&newer, 1)) return false;
    uint32_t scanned = 0;
    for (;;) {
        ++count;
        ++scanned;
        if (StopSignalled() || (boundedScan && scanned > static_cast<uint32_t>(kScanLimit))) {
            buffer[0] = older;
            buffer[1] = newer;
            return false;
        }
        if (older == kSync0 && newer == kSync1) {
            buffer[0] = older;
            buffer[1] = newer;
            if (count > 2)
                StreamErrorLog(this, "LB2 - skipped %d bytes to find sync marker",
                               static_cast<int>(count - 2));
            state = kReadingLength;
            count = 2;
            return true;
        }
        older = newer;
        if (!Read(&newer, 1)) {
            // As after a failed read into the window: the slid byte is in both places.
            buffer[0] = older;
            buffer[1] = older;
            return false;
        }
    }
}

bool KLeicaStreamMonitor::ReadLength() {
    // A rewind can leave three bytes held; anything else here holds exactly the sync.
    if (count < 4 && !Read(&buffer[count], 4 - count)) return false;
    count = 4;
    totalLength = (static_cast<uint32_t>(buffer[2]) | static_cast<uint32_t>(buffer[3]) << 8) + 2;
    if (totalLength < kShortestTotal || totalLength > kBufferSize) {
        StreamErrorLog(this, "LB2 - invalid message length - %d", static_cast<int>(totalLength));
        InternalReset();
        return true;
    }
    state = kReadingBody;
    return true;
}

bool KLeicaStreamMonitor::ChecksumHolds() const {
    const uint32_t checksumAt = totalLength - 2;
    uint32_t sum = 0;
    for (uint32_t i = 2; i < checksumAt; ++i) sum += buffer[i];
    sum += static_cast<uint32_t>(buffer[checksumAt]) | static_cast<uint32_t>(buffer[checksumAt + 1]) << 8;
    return (sum & 0xFFFF) == 0;
}

bool KLeicaStreamMonitor::ReadBody() {
    // A rewound message may already be held whole: then it is checked without a read.
    if (count < totalLength) {
        if (!Read(&buffer[count], totalLength - count)) return false;
        count = totalLength;
    }
    if (ChecksumHolds()) {
        PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(totalLength)));
        InternalReset();
        return true;
    }
    StreamErrorLog(this, "LB2 - invalid CRC");
    Rewind();
    return true;
}

void KLeicaStreamMonitor::Rewind() {
    const uint32_t n = count;
    StreamErrorLog(this, "LB2 - attempting rewind on %d bytes", static_cast<int>(n));
    // A sync in the last two bytes is not looked for: it would be followed by nothing held.
    uint32_t i = 2;
    while (i + 3 <= n && !(buffer[i] == kSync0 && buffer[i + 1] == kSync1)) ++i;
    if (i + 3 > n) {
        StreamErrorLog(this, "LB2 - unable to rewind, sync not found");
        InternalReset();
        return;
    }
    StreamErrorLog(this, "LB2 - rewind sync recovered at %d bytes", static_cast<int>(i));
    std::memmove(buffer, buffer + i, n - i);
    count = n - i;
    if (count < 4) {
        state = kReadingLength;
        return;
    }
    totalLength = (static_cast<uint32_t>(buffer[2]) | static_cast<uint32_t>(buffer[3]) << 8) + 2;
    if (totalLength >= kShortestTotal && totalLength <= kBufferSize && totalLength >= count) {
        state = kReadingBody;
        return;
    }
    StreamErrorLog(this, "LB2 - invalid rewound message length - %d", static_cast<int>(totalLength));
    InternalReset();
}
