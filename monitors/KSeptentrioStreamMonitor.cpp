#include "monitors/KSeptentrioStreamMonitor.h"

#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {

constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
constexpr uint32_t kPromptSize = 5;  // "COMn>" and "---->"

bool IsReplyKind(uint8_t c) { return c == ':' || c == ';' || c == '?'; }
bool IsText(uint8_t c) { return (c >= 0x20 && c <= 0x7E) || c == kCR || c == kLF || c == '\t'; }
bool IsPortDigit(uint8_t c) { return c >= '1' && c <= '4'; }

bool IsPrompt(const uint8_t* p) {
    return (p[0] == 'C' && p[1] == 'O' && p[2] == 'M' && IsPortDigit(p[3]) && p[4] == '>') ||
           std::memcmp(p, "---->", kPromptSize) == 0;
}

// Whether the `held` bytes from the front could still grow into a start: "$@", "$R" with its
// kind, or a prompt of a serial port. 0: no; 1: a start's beginning; 2: a whole start.
int StartState(const uint8_t* b, uint32_t held) {
    static constexpr char kCom[] = "COM";
    if (b[0] == '$') {
        if (held == 1) return 1;
        if (b[1] == '@') return 2;
        if (b[1] != 'R') return 0;
        if (held == 2) return 1;
        return IsReplyKind(b[2]) ? 2 : 0;
    }
    if (b[0] != 'C') return 0;
    for (uint32_t i = 1; i < held && i < 3; ++i)
        if (b[i] != kCom[i]) return 0;
    if (held <= 3) return 1;
    if (!IsPortDigit(b[3])) return 0;
    if (held == 4) return 1;
    return b[4] == '>' ? 2 : 0;
}

} // namespace

KSeptentrioStreamMonitor::KSeptentrioStreamMonitor() { ResetFramer(); }

KSeptentrioStreamMonitor::~KSeptentrioStreamMonitor() { Stop(); }

void KSeptentrioStreamMonitor::ResetFramer() {
    state = kHunt;
    count = 0;
    blockLength = 0;
    again.clear();
    againAt = 0;
}

uint16_t KSeptentrioStreamMonitor::Crc16(const uint8_t* data, uint32_t size) {
    uint16_t crc = 0;
    for (uint32_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

int32_t KSeptentrioStreamMonitor::PromptPort(const StreamMessage& message) {
    if (message.length < static_cast<int32_t>(kPromptSize)) return 0;
    const uint8_t* prompt = message.data.get() + message.length - kPromptSize;
    return prompt[0] == 'C' && IsPrompt(prompt) ? prompt[3] - '0' : 0;
}

bool KSeptentrioStreamMonitor::ProvesProtocol(const StreamMessage& message) const {
    return message.length >= 3 && message.data[0] == '$' && (message.data[1] == '@' || message.data[1] == 'R');
}

void KSeptentrioStreamMonitor::Deliver() {
    PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(count)));
    count = 0;
    state = kHunt;
}

void KSeptentrioStreamMonitor::Abandon() {
    std::vector<uint8_t> next(buffer + 1, buffer + count);
    next.insert(next.end(), again.begin() + static_cast<std::ptrdiff_t>(againAt), again.end());
    again.swap(next);
    againAt = 0;
    count = 0;
    state = kHunt;
}

bool KSeptentrioStreamMonitor::TakeInHunt() {
    // Slides along until the held bytes are a start or its beginning (at most five are held).
    for (;;) {
        if (count == 0) return false;
        const int start = StartState(buffer, count);
        if (start == 1) return false;
        if (start == 2) {
            if (buffer[0] != '$') {  // a prompt on its own
                Deliver();
                return true;
            }
            state = buffer[1] == '@' ? kBlock : kReply;
            return false;
        }
        std::memmove(buffer, buffer + 1, --count);
    }
}

bool KSeptentrioStreamMonitor::TakeInBlock() {
    if (count == kHeaderSize) {
        blockLength = static_cast<uint32_t>(buffer[6] | buffer[7] << 8);
        if (blockLength < kHeaderSize || blockLength % 4 != 0 || blockLength > kMaxBlock) {
            StreamErrorLog(this, "SBF - invalid block length %u", blockLength);
            Abandon();
            return false;
        }
    }
    if (count < kHeaderSize || count < blockLength) return false;
    if (Crc16(buffer + 4, count - 4) == static_cast<uint16_t>(buffer[2] | buffer[3] << 8)) {
        Deliver();
        return true;
    }
    StreamErrorLog(this, "SBF - invalid CRC");
    Abandon();
    return false;
}

bool KSeptentrioStreamMonitor::TakeInReply(uint8_t byte) {
    if (!IsText(byte)) {  // noise: no reply holds it (the byte is framed again with the rest)
        Abandon();
        return false;
    }
    // A new reply's start: the one held was cut short.
    if (count > 3 && buffer[count - 3] == '$' && buffer[count - 2] == 'R' && IsReplyKind(byte)) {
        std::memmove(buffer, buffer + count - 3, 3);
        count = 3;
        return false;
    }
    if (count >= kPromptSize + 2 && buffer[count - kPromptSize - 2] == kCR &&
        buffer[count - kPromptSize - 1] == kLF && IsPrompt(buffer + count - kPromptSize)) {
        Deliver();
        return true;
    }
    if (count == kMaxReply) {
        StreamErrorLog(this, "Septentrio - reply longer than %u bytes, skipped", kMaxReply);
        Abandon();
    }
    return false;
}

bool KSeptentrioStreamMonitor::Take(uint8_t byte) {
    buffer[count++] = byte;
    switch (state) {
    case kBlock: return TakeInBlock();
    case kReply: return TakeInReply(byte);
    default: return TakeInHunt();
    }
}

bool KSeptentrioStreamMonitor::ReadStep() {
    const bool bounded = boundedScan;
    uint32_t scanned = 0;
    for (;;) {
        uint8_t byte = 0;
        if (againAt < again.size()) {
            byte = again[againAt++];
            if (againAt == again.size()) {
                again.clear();
                againAt = 0;
            }
        } else if (!Read(&byte, 1)) {
            return false;
        }
        if (Take(byte)) return true;
        if (StopSignalled() || (bounded && ++scanned > static_cast<uint32_t>(kScanLimit))) return false;
    }
}
