#include "monitors/KMediaTekStreamMonitor.h"

#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {

constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
constexpr char kProof[] = "$PMTK705,";

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsText(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// Where the "*hh" of a sentence of `size` bytes (line end included) starts, or 0 without one.
uint32_t StarOf(const uint8_t* s, uint32_t size) {
    uint32_t end = size;
    if (end > 0 && s[end - 1] == kLF) --end;
    if (end > 0 && s[end - 1] == kCR) --end;
    // At least one byte of body between "$" and "*".
    if (end < 5 || s[end - 3] != '*' || HexValue(s[end - 2]) < 0 || HexValue(s[end - 1]) < 0) return 0;
    return end - 3;
}

} // namespace

KMediaTekStreamMonitor::KMediaTekStreamMonitor() { ResetFramer(); }

KMediaTekStreamMonitor::~KMediaTekStreamMonitor() { Stop(); }

void KMediaTekStreamMonitor::ResetFramer() {
    state = kHunt;
    count = 0;
}

uint8_t KMediaTekStreamMonitor::Checksum(std::string_view body) {
    uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    return sum;
}

bool KMediaTekStreamMonitor::SentenceHolds(const uint8_t* s, uint32_t size) {
    if (size == 0 || s[0] != '$') return false;
    const uint32_t star = StarOf(s, size);
    if (star == 0) return false;
    const std::string_view body(reinterpret_cast<const char*>(s) + 1, star - 1);
    return Checksum(body) == HexValue(s[star + 1]) * 16 + HexValue(s[star + 2]);
}

bool KMediaTekStreamMonitor::ProvesProtocol(const StreamMessage& message) const {
    const size_t length = sizeof kProof - 1;
    return message.length >= 0 && static_cast<size_t>(message.length) >= length &&
           std::memcmp(message.data.get(), kProof, length) == 0;
}

void KMediaTekStreamMonitor::Finish() {
    if (SentenceHolds(buffer, count))
        PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(count)));
    else if (StarOf(buffer, count) == 0)
        StreamErrorLog(this, "NMEA - sentence without checksum, skipped");
    else
        StreamErrorLog(this, "NMEA - invalid checksum");
    count = 0;
    state = kHunt;
}

bool KMediaTekStreamMonitor::Take(uint8_t byte) {
    if (byte == '$') {
        // A start inside a sentence means the one held was cut short: the new one counts.
        buffer[0] = byte;
        count = 1;
        state = kSentence;
        return false;
    }
    if (state != kSentence) return false;
    if (byte == kLF) {
        buffer[count++] = byte;
        Finish();
        return true;
    }
    // Noise: a byte that no sentence holds, or a CR that does not end the line.
    if (!(IsText(byte) || byte == kCR) || buffer[count - 1] == kCR) {
        count = 0;
        state = kHunt;
        return false;
    }
    // One byte always stays free for the LF.
    if (count + 1 >= kMaxSentence) {
        StreamErrorLog(this, "NMEA - sentence longer than %u bytes, skipped", kMaxSentence);
        count = 0;
        state = kHunt;
        return true;
    }
    buffer[count++] = byte;
    return false;
}

bool KMediaTekStreamMonitor::ReadStep() {
    const bool bounded = boundedScan;
    uint32_t scanned = 0;
    uint8_t byte = 0;
    while (Read(&byte, 1)) {
        if (Take(byte)) return true;
        if (StopSignalled() || (bounded && ++scanned > static_cast<uint32_t>(kScanLimit))) return false;
    }
    return false;
}
