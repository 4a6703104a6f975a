#include "monitors/KAshtechStreamMonitor.h"

#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {

constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;

enum : int32_t { kHunt = 1, kFixed = 2, kLine = 3 };

bool Begins(const uint8_t* frame, const char* text) { return std::memcmp(frame, text, 7) == 0; }

bool TypeIs(const uint8_t* type, const char* name) {
    return type[0] == name[0] && type[1] == name[1] && type[2] == name[2];
}

uint8_t XorOf(const uint8_t* data, uint32_t first, uint32_t last) {
    uint8_t value = 0;
    for (uint32_t i = first; i <= last; ++i) value ^= data[i];
    return value;
}

uint16_t Word(const uint8_t* data, uint32_t at) {
    return static_cast<uint16_t>((data[at] << 8) | data[at + 1]);
}

uint16_t WordSum(const uint8_t* data, uint32_t first, uint32_t words) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < words; ++i) sum += Word(data, first + 2 * i);
    return static_cast<uint16_t>(sum);
}

bool IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Upper-case letters read as 10 to 15; a lower-case letter comes out 32 higher than its
// upper-case twin, so a checksum written in lower case generally fails.
uint32_t DigitValue(uint8_t c) { return c <= '9' ? c - 48u : c - 55u; }

bool NmeaChecksumPasses(const uint8_t* frame, uint32_t size) {
    uint32_t star = 1;
    uint8_t computed = 0;
    while (star < size && frame[star] != '*') computed ^= frame[star++];
    if (star >= size) return false;  // no "*" among the bytes held
    uint32_t received = 0;
    if (star + 2 < size && IsHexDigit(frame[star + 1]) && IsHexDigit(frame[star + 2]))
        received = ((DigitValue(frame[star + 1]) * 16) % 256) | DigitValue(frame[star + 2]);
    return computed == static_cast<uint8_t>(received);
}

} // namespace

KAshtechStreamMonitor::KAshtechStreamMonitor() { ResetFramer(); }

KAshtechStreamMonitor::~KAshtechStreamMonitor() { Stop(); }

void KAshtechStreamMonitor::ResetFramer() {
    state = kHunt;
    std::memset(buffer, 0, sizeof buffer);
    count = 0;
    expectedLength = 0;
}

void KAshtechStreamMonitor::DiscardFrame() {
    count = 0;
    state = kHunt;
}

uint32_t KAshtechStreamMonitor::FixedLength(const uint8_t* type) {
    if (TypeIs(type, "MPC")) return 108;
    if (TypeIs(type, "PBN")) return 69;
    if (TypeIs(type, "GBN")) return 49;
    if (TypeIs(type, "SNV")) return 145;
    if (TypeIs(type, "MCA")) return 50;
    return 0;
}

bool KAshtechStreamMonitor::CheckMessage(const uint8_t* frame, uint32_t size) {
    if (size < 7) return false;
    if (Begins(frame, "$PASHR,")) {
        if (size < kWindowSize) return true;  // no type to look at
        const uint8_t* type = frame + 7;
        if (TypeIs(type, "MPC")) return size == 108 && XorOf(frame, 11, 104) == frame[105];
        if (TypeIs(type, "PBN")) return size == 69 && WordSum(frame, 11, 27) == Word(frame, 65);
        if (TypeIs(type, "SNV")) return size == 145 && WordSum(frame, 11, 65) == Word(frame, 141);
        if (TypeIs(type, "MCA")) return size == 50 && XorOf(frame, 11, 46) == frame[47];
        return true;
    }
    if (Begins(frame, "$GPXDR,")) return NmeaChecksumPasses(frame, size);
    return false;
}

bool KAshtechStreamMonitor::ProvesProtocol(const StreamMessage& message) const {
    return message.length >= 7 && Begins(message.data.get(), "$PASHR,");
}

bool KAshtechStreamMonitor::CheckFrame() const { return CheckMessage(buffer, count); }

void KAshtechStreamMonitor::Deliver() {
    PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(count)));
}

bool KAshtechStreamMonitor::ReadStep() {
    switch (state) {
    case kHunt: return Hunt();
    case kFixed: return ReadFixed();
    case kLine: return ReadLine();
    default:
        count = 0;
        state = kHunt;
        return false;
    }
}

bool KAshtechStreamMonitor::Hunt() {
    enum { kReply = 1, kTransducer = 2 };
    return HuntInWindow(
        buffer, kBufferSize, count, kWindowSize,
        [](const uint8_t* window) {
            if (window[0] != '$') return 0;
            if (Begins(window, "$PASHR,")) return static_cast<int>(kReply);
            if (Begins(window, "$GPXDR,")) return static_cast<int>(kTransducer);
            return 0;
        },
        [this](int kind) {
            expectedLength = kind == kReply ? FixedLength(buffer + 7) : 0;
            state = expectedLength != 0 ? kFixed : kLine;
            return true;
        });
}

bool KAshtechStreamMonitor::ReadFixed() {
    if (count < expectedLength && !Read(buffer + count, expectedLength - count)) return false;
    count = expectedLength;
    if (buffer[count - 2] == kCR && buffer[count - 1] == kLF && CheckFrame()) {
        Deliver();
        count = 0;
        state = kHunt;
        return true;
    }
    StreamErrorLog(this, "Ashtech - invalid CRC");
    DiscardFrame();
    return true;
}

bool KAshtechStreamMonitor::ReadLine() {
    if (!Read(buffer + count, 1)) return false;
    for (;;) {
        ++count;
        // Checked before anything else, so the next byte always has room.
        if (count >= kBufferSize) {
            StreamErrorLog(this, "Ashtech - maximum message length exceeded, message discarded");
            count = 0;
            state = kHunt;
            return true;
        }
        if (StopSignalled()) return false;
        if (count >= kShortestLine && buffer[count - 2] == kCR && buffer[count - 1] == kLF) break;
        if (!Read(buffer + count, 1)) return false;
    }
    if (CheckFrame()) {
        Deliver();
        count = 0;
        state = kHunt;
        return true;
    }
    StreamErrorLog(this, "Ashtech - invalid CRC");
    DiscardFrame();
    return true;
}
