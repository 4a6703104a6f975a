#include "monitors/KNavComStreamMonitor.h"

#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {

constexpr uint32_t kHeaderSize = 6;
// The smallest length field that leaves something to read after the header and a checksum
// range that is not empty.
constexpr uint32_t kShortestLength = 3;

bool SyncAt(const uint8_t* p) {
    return p[0] == KNavComStreamMonitor::kSync0 && p[1] == KNavComStreamMonitor::kSync1 &&
           p[2] == KNavComStreamMonitor::kSync2;
}

uint32_t LengthField(const uint8_t* message) {
    return static_cast<uint32_t>(message[4]) | static_cast<uint32_t>(message[5]) << 8;
}

// The checksum of a message whose length field is n (n >= 3): XOR of offsets 3 to n + 1,
// compared with the byte at n + 2.
bool ChecksumHolds(const uint8_t* message, uint32_t n) {
    uint8_t sum = 0;
    for (uint32_t i = 3; i < n + 2; ++i) sum ^= message[i];
    return sum == message[n + 2];
}

} // namespace

KNavComStreamMonitor::KNavComStreamMonitor() {
    std::memset(buffer, 0, sizeof buffer);
    ResetFramer();
}

KNavComStreamMonitor::~KNavComStreamMonitor() {
    // The reader thread calls ReadStep: it must be gone before this object starts to die.
    Stop();
}

void KNavComStreamMonitor::ResetFramer() {
    buffer[0] = buffer[1] = buffer[2] = 0;
    count = 0;
    length = 0;
    bodyNeed = 0;
    headerNeed = 3;
    state = kHunting;
}

bool KNavComStreamMonitor::ReadStep() {
    switch (state) {
    case kHunting: return Hunt();
    case kReadingHeader: return ReadHeader();
    case kReadingBody: return ReadBody();
    default: ResetFramer(); return true;
    }
}

// One byte per step through a three-byte window at the front of the buffer. The window is
// loaded and stored as one four-byte block (the fourth byte unchanged): piecemeal byte stores
// reloaded as a wider word right after would stall the processor on every byte.
bool KNavComStreamMonitor::Hunt() {
    uint8_t incoming;
    if (!Read(&incoming, 1)) return false;
    uint8_t window[4];
    std::memcpy(window, buffer, sizeof window);
    window[2] = incoming;
    ++count;
    if (StopSignalled() || (boundedScan && count > static_cast<uint32_t>(kScanLimit))) {
        std::memcpy(buffer, window, sizeof window);
        return false;
    }
    if (SyncAt(window)) {
        std::memcpy(buffer, window, sizeof window);
        if (count > 3)
            StreamErrorLog(this, "Navcom - Skipped %d bytes to find sync marker", static_cast<int>(count - 3));
        state = kReadingHeader;
        count = 3;
        headerNeed = 3;
        return true;
    }
    window[0] = window[1];
    window[1] = window[2];
    std::memcpy(buffer, window, sizeof window);
    return true;
}

bool KNavComStreamMonitor::ReadHeader() {
    if (!Read(&buffer[count], headerNeed)) return false;
    length = static_cast<uint16_t>(LengthField(buffer));
    count = kHeaderSize;
    if (length + 4u > kBufferSize) {
        StreamErrorLog(this, "Navcom - Total message length greater than receiving buffer size - %d",
                       static_cast<int>(length + 4));
        ResetFramer();
        return true;
    }
    if (length < kShortestLength) {
        // Nothing or a wrapped count would be left to read: give the header up.
        StreamErrorLog(this, "Navcom - Invalid payload length - %d", static_cast<int>(length));
        ResetFramer();
        return true;
    }
    bodyNeed = static_cast<uint16_t>(length - 2);
    state = kReadingBody;
    return true;
}

bool KNavComStreamMonitor::ReadBody() {
    if (!Read(&buffer[count], bodyNeed)) return false;
    count += bodyNeed;
    if (buffer[count - 1] != kEtx) {
        StreamErrorLog(this, "Navcom - Invalid ETX");
        Rewind();
        return true;
    }
    if (!ChecksumHolds(buffer, length)) {
        StreamErrorLog(this, "Navcom - Invalid Checksum");
        Rewind();
        return true;
    }
    PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(count)));
    ResetFramer();
    return true;
}

// Searches the held bytes after the failed message's sync for messages that began inside it.
// The front of what is left is tracked as an offset and moved to the buffer's start once, when
// the search ends.
void KNavComStreamMonitor::Rewind() {
    uint32_t n = count;
    if (n < kHeaderSize) {
        StreamErrorLog(this, "Navcom - Invalid Rewind");
        ResetFramer();
        return;
    }
    uint32_t front = 3;
    n -= 3;
    while (n >= 3) {
        uint32_t i = 0;
        while (i + 3 <= n && !SyncAt(buffer + front + i)) ++i;
        if (i + 3 > n) {
            // Keep the last two bytes in the hunt window: a sync may be split across them.
            buffer[0] = buffer[front + n - 2];
            buffer[1] = buffer[front + n - 1];
            count = 2;
            state = kHunting;
            return;
        }
        front += i;
        n -= i;
        if (n < kHeaderSize) {
            std::memmove(buffer, buffer + front, n);
            headerNeed = static_cast<uint8_t>(kHeaderSize - n);
            count = n;
            state = kReadingHeader;
            return;
        }
        const uint8_t* candidate = buffer + front;
        const uint32_t candidateLength = LengthField(candidate);
        if (candidateLength + 4 > kBufferSize || candidateLength < kShortestLength) {
            StreamErrorLog(this, "Navcom - Invalid payload length - %d", static_cast<int>(candidateLength));
            ++front;
            --n;
            continue;
        }
        if (candidateLength + 4 > n) {
            std::memmove(buffer, candidate, n);
            length = static_cast<uint16_t>(candidateLength);
            bodyNeed = static_cast<uint16_t>(candidateLength + 4 - n);
            count = n;
            state = kReadingBody;
            return;
        }
        if (!ChecksumHolds(candidate, candidateLength)) {
            StreamErrorLog(this, "Navcom - Invalid Checksum");
            ++front;
            --n;
            continue;
        }
        PushMessage(std::make_unique<StreamMessage>(candidate, static_cast<int32_t>(candidateLength + 4)));
        front += candidateLength + 4;
        n -= candidateLength + 4;
    }
    // Fewer than three bytes are left. They go to the end of the hunt window (the newest byte
    // at position 1), and what they do not fill is cleared, so that bytes of messages already
    // handled cannot pair with new ones into a false sync.
    const uint8_t last = n >= 1 ? buffer[front + n - 1] : 0;
    const uint8_t beforeLast = n >= 2 ? buffer[front + n - 2] : 0;
    buffer[0] = beforeLast;
    buffer[1] = last;
    count = n;
    state = kHunting;
}
