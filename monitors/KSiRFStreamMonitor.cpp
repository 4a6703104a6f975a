#include "monitors/KSiRFStreamMonitor.h"

#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {

bool StartAt(const uint8_t* p) {
    return p[0] == KSiRFStreamMonitor::kStart0 && p[1] == KSiRFStreamMonitor::kStart1;
}

uint32_t PayloadLength(const uint8_t* message) {
    return static_cast<uint32_t>(message[2]) << 8 | static_cast<uint32_t>(message[3]);
}

// The 15-bit payload sum against the big-endian word after the payload; a word with its top bit
// set never matches.
bool ChecksumHolds(const uint8_t* message, uint32_t payloadLength) {
    uint32_t sum = 0;
    const uint8_t* payload = message + 4;
    for (uint32_t i = 0; i < payloadLength; ++i) sum += payload[i];
    const uint32_t word = static_cast<uint32_t>(payload[payloadLength]) << 8 |
                          static_cast<uint32_t>(payload[payloadLength + 1]);
    return (sum & 0x7FFF) == word;
}

} // namespace

KSiRFStreamMonitor::KSiRFStreamMonitor() { ResetFramer(); }

KSiRFStreamMonitor::~KSiRFStreamMonitor() {
    // The reader thread calls ReadStep: it must be gone before this object starts to die.
    Stop();
}

void KSiRFStreamMonitor::ResetFramer() {
    std::memset(buffer, 0, sizeof buffer);
    InternalReset();
}

void KSiRFStreamMonitor::InternalReset() {
    buffer[0] = buffer[1] = 0;
    count = 0;
    bodyNeed = 0;
    length = 0;
    headerNeed = 2;
    state = kHunting;
}

bool KSiRFStreamMonitor::ReadStep() {
    switch (state) {
    case kHunting: return Hunt();
    case kReadingLength: return ReadLength();
    case kReadingBody: return ReadBody();
    default: InternalReset(); return false;
    }
}

// One byte per step through a two-byte window at the front of the buffer. The window is
// loaded and stored as one two-byte block: piecemeal byte stores reloaded as a wider word right
// after would stall the processor on every byte.
bool KSiRFStreamMonitor::Hunt() {
    uint8_t incoming;
    if (!Read(&incoming, 1)) return false;
    uint8_t window[2];
    std::memcpy(window, buffer, sizeof window);
    window[1] = incoming;
    ++count;
    if (StopSignalled() || (boundedScan && count > static_cast<uint32_t>(kScanLimit))) {
        std::memcpy(buffer, window, sizeof window);
        return false;
    }
    if (StartAt(window)) {
        std::memcpy(buffer, window, sizeof window);
        if (count > 2)
            StreamErrorLog(this, "SBP - skipped %d bytes to find sync marker", static_cast<int>(count - 2));
        state = kReadingLength;
        headerNeed = 2;
        count = 2;
        return true;
    }
    window[0] = window[1];
    std::memcpy(buffer, window, sizeof window);
    return true;
}

bool KSiRFStreamMonitor::ReadLength() {
    if (!Read(&buffer[count], headerNeed)) return false;
    const uint32_t payloadLength = PayloadLength(buffer);
    length = static_cast<uint16_t>(payloadLength);
    headerNeed = 2;
    count = 4;
    if (payloadLength > kLargestPayload) {
        StreamErrorLog(this, "SBP - Invalid payload length - %d", static_cast<int>(payloadLength));
        InternalReset();
        return true;
    }
    bodyNeed = payloadLength + 4;
    state = kReadingBody;
    return true;
}

bool KSiRFStreamMonitor::ReadBody() {
    if (!Read(&buffer[count], bodyNeed)) return false;
    count += bodyNeed;
    if (buffer[count - 2] != kEnd0 || buffer[count - 1] != kEnd1) {
        StreamErrorLog(this, "SBP - invalid EOM");
        Rewind();
        return true;
    }
    if (!ChecksumHolds(buffer, length)) {
        StreamErrorLog(this, "SBP - Invalid CRC");
        Rewind();
        return true;
    }
    PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(count)));
    InternalReset();
    return true;
}

// Searches the held bytes after the failed start sequence for messages that began inside the
// bad one. The front of what is left is tracked as an offset and moved to the buffer's start
// once, when the search ends.
void KSiRFStreamMonitor::Rewind() {
    uint32_t n = count;
    if (n < 4) {
        StreamErrorLog(this, "SiRF - Invalid Rewind");
        InternalReset();
        return;
    }
    uint32_t front = 2;
    n -= 2;
    while (n >= 2) {
        uint32_t i = 0;
        while (i + 2 <= n && !StartAt(buffer + front + i)) ++i;
        if (i + 2 > n) {
            // Keep the last byte in the hunt window: a start may be split across it.
            buffer[0] = buffer[front + n - 1];
            count = 1;
            state = kHunting;
            return;
        }
        front += i;
        n -= i;
        if (n < 4) {
            std::memmove(buffer, buffer + front, n);
            headerNeed = 4 - n;
            count = n;
            state = kReadingLength;
            return;
        }
        const uint8_t* candidate = buffer + front;
        const uint32_t payloadLength = PayloadLength(candidate);
        length = static_cast<uint16_t>(payloadLength);
        if (payloadLength > kLargestPayload) {
            StreamErrorLog(this, "SBP - Invalid payload length - %d", static_cast<int>(payloadLength));
            ++front;
            --n;
            continue;
        }
        if (payloadLength + 8 > n) {
            std::memmove(buffer, candidate, n);
            bodyNeed = payloadLength + 8 - n;
            count = n;
            state = kReadingBody;
            return;
        }
        if (ChecksumHolds(candidate, payloadLength)) {
            PushMessage(std::make_unique<StreamMessage>(candidate, static_cast<int32_t>(payloadLength + 8)));
            front += payloadLength + 8;
            n -= payloadLength + 8;
        } else {
            ++front;
            --n;
        }
    }
    // At most one byte is left: it is the hunt window's older byte; with none, that byte is
    // cleared so that a byte of a message already handled cannot pair with a new one.
    buffer[0] = n == 1 ? buffer[front] : 0;
    count = n;
    state = kHunting;
}
