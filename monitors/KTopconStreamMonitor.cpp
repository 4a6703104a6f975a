#include "monitors/KTopconStreamMonitor.h"

#include <array>
#include <cstring>
#include <memory>

#include "log/Logs.h"

namespace {

constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;

enum : int32_t { kHunt = 1, kSkipLine = 2, kBody = 3, kLineEnd = 4 };

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

// Value of an upper-case hex digit, or -1.
constexpr std::array<int8_t, 256> MakeHexTable() {
    std::array<int8_t, 256> table{};
    for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = -1;
    for (int i = 0; i < 10; ++i) table[static_cast<size_t>('0' + i)] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) table[static_cast<size_t>('A' + i)] = static_cast<int8_t>(10 + i);
    return table;
}
constexpr std::array<int8_t, 256> kHexValue = MakeHexTable();

constexpr bool IsIdChar(uint8_t c) { return c >= 0x30 && c <= 0x7E; }
constexpr bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

bool IdIs(const uint8_t* message, const char* id) { return message[0] == id[0] && message[1] == id[1]; }

uint8_t RotateLeft2(uint8_t value) { return static_cast<uint8_t>((value << 2) | (value >> 6)); }

} // namespace

KTopconStreamMonitor::KTopconStreamMonitor() { ResetFramer(); }

KTopconStreamMonitor::~KTopconStreamMonitor() { Stop(); }

void KTopconStreamMonitor::ResetFramer() {
    state = kHunt;
    std::memset(buffer, 0, sizeof buffer);
    count = 0;
    bodyLength = 0;
}

bool KTopconStreamMonitor::ParseHeader(const uint8_t* at, uint32_t& length) {
    // The length digits first: in a hunt they turn most windows away soonest.
    const int low = kHexValue[at[4]];
    if (low < 0) return false;
    const int high = kHexValue[at[2]];
    const int middle = kHexValue[at[3]];
    if ((high | middle) < 0) return false;
    const uint8_t first = at[0];
    const uint8_t second = at[1];
    if (!IsIdChar(first) || !IsIdChar(second)) return false;
    if (second == '=' && first != '=') return false;
    if (IsDigit(first) && IsDigit(second)) return false;
    const uint32_t value = static_cast<uint32_t>((high << 8) | (middle << 4) | low);
    if (value == 0) return false;
    length = value;
    return true;
}

uint16_t KTopconStreamMonitor::Crc16(const uint8_t* data, uint32_t size) {
    uint32_t crc = 0;
    for (uint32_t i = 0; i < size; ++i)
        crc = ((crc << 8) & 0xFFFF) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF];
    return static_cast<uint16_t>(crc);
}

uint8_t KTopconStreamMonitor::Checksum8(const uint8_t* data, uint32_t size) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < size; ++i) sum = RotateLeft2(sum) ^ data[i];
    return RotateLeft2(sum);
}

bool KTopconStreamMonitor::HasCheck(const uint8_t* message) {
    return IdIs(message, "rM") || IdIs(message, "GE") || IdIs(message, "NE") || IdIs(message, "PO") ||
           IdIs(message, "~~") || IdIs(message, ">>");
}

bool KTopconStreamMonitor::ProvesProtocol(const StreamMessage& message) const {
    return message.length >= static_cast<int32_t>(kHeaderSize) && HasCheck(message.data.get());
}

bool KTopconStreamMonitor::CheckMessage(const uint8_t* message, uint32_t size) {
    if (size < kHeaderSize + 1) return false;
    const uint32_t body = size - kHeaderSize;
    if (IdIs(message, "rM")) {
        // The CRC sits in the last two body bytes; a shorter body cannot carry it.
        if (body < 2) return false;
        const uint16_t received = static_cast<uint16_t>(message[size - 2] | (message[size - 1] << 8));
        return Crc16(message, size - 2) == received;
    }
    if (IdIs(message, "GE") || IdIs(message, "NE") || IdIs(message, "PO") || IdIs(message, "~~"))
        return Checksum8(message, size - 1) == message[size - 1];
    if (IdIs(message, ">>")) {
        if (body < 2) return false;
        const int high = kHexValue[message[size - 2]];
        const int low = kHexValue[message[size - 1]];
        if ((high | low) < 0) return false;
        return Checksum8(message, size - 2) == static_cast<uint8_t>((high << 4) | low);
    }
    return true;
}

// The message at the front of the buffer, with its own header's length.
bool KTopconStreamMonitor::CheckFrame() const {
    uint32_t length = 0;
    if (!ParseHeader(buffer, length)) return false;
    return CheckMessage(buffer, length + kHeaderSize);
}

void KTopconStreamMonitor::Deliver(uint32_t size) {
    PushMessage(std::make_unique<StreamMessage>(buffer, static_cast<int32_t>(size)));
}

// Drops the first `size` of `held` bytes, moving the rest to the front.
void KTopconStreamMonitor::DropFront(uint32_t size, uint32_t held) {
    if (size < held) std::memmove(buffer, buffer + size, held - size);
}

bool KTopconStreamMonitor::ReadStep() {
    switch (state) {
    case kHunt: return Hunt();
    case kSkipLine: return SkipCommentLine();
    case kBody: return ReadBody();
    case kLineEnd: return ReadLineEnd();
    default:
        count = 0;
        state = kHunt;
        return false;
    }
}

bool KTopconStreamMonitor::Hunt() {
    enum { kHeader = 1, kComment = 2 };
    uint32_t length = 0;
    return HuntInWindow(
        buffer, kBufferSize, count, kHeaderSize,
        [&length](const uint8_t* window) {
            if (ParseHeader(window, length)) return static_cast<int>(kHeader);
            if (window[0] == '#' && window[1] == ' ') return static_cast<int>(kComment);
            return 0;
        },
        [&](int kind) {
            if (kind == kHeader) {
                bodyLength = length;
                state = kBody;
                return true;
            }
            // A comment line short enough to end inside the window ends here; skipping to the
            // next line end would swallow the line after it.
            for (uint32_t i = 2; i < count; ++i) {
                if (buffer[i] == kLF) {
                    DropFront(i + 1, count);
                    count -= i + 1;
                    return true;
                }
            }
            state = kSkipLine;
            return true;
        });
}

bool KTopconStreamMonitor::SkipCommentLine() {
    count = 0;
    if (!Read(buffer, 1)) return false;
    if (buffer[0] == kLF) state = kHunt;
    return true;
}

bool KTopconStreamMonitor::ReadBody() {
    const uint32_t total = bodyLength + kHeaderSize;
    // A header found with a leftover byte of a tiny body may already hold the whole message;
    // a read of nothing would never succeed.
    if (count < total && !Read(buffer + count, total - count)) return false;
    count = total;
    state = kLineEnd;
    return true;
}

bool KTopconStreamMonitor::ReadLineEnd() {
    uint8_t byte = 0;
    if (!Read(&byte, 1)) return false;
    if (count >= kBufferSize) {
        StreamErrorLog(this, "Topcon - buffer size exceeded");
        buffer[0] = byte;
        count = 1;
        state = kHunt;
        return true;
    }
    if (byte == kCR) {
        buffer[count++] = byte;
        return true;
    }
    if (byte == kLF) buffer[count++] = byte;
    if (CheckFrame()) {
        Deliver(count);
        count = 0;
        state = kHunt;
        if (byte != kLF) {
            buffer[0] = byte;
            count = 1;
        }
        return true;
    }
    StreamErrorLog(this, "Topcon - invalid CRC");
    if (byte != kLF) buffer[count++] = byte;  // count was below the capacity: room for one
    Rewind();
    return true;
}

void KTopconStreamMonitor::Rewind() {
    uint32_t n = count;
    if (n < kHeaderSize) {
        StreamErrorLog(this, "Topcon - invalid rewind");
        count = 0;
        state = kHunt;
        return;
    }
    DropFront(kHeaderSize, n);
    n -= kHeaderSize;
    while (n >= kHeaderSize) {
        uint32_t at = 0;
        uint32_t length = 0;
        while (at + kHeaderSize <= n && !ParseHeader(buffer + at, length)) ++at;
        if (at + kHeaderSize > n) {
            std::memmove(buffer, buffer + n - 4, 4);
            count = 4;
            state = kHunt;
            return;
        }
        DropFront(at, n);
        n -= at;
        const uint32_t total = length + kHeaderSize;
        if (total > n) {
            bodyLength = length;
            count = n;
            state = kBody;
            return;
        }
        if (CheckMessage(buffer, total)) {
            Deliver(total);
            DropFront(total, n);
            n -= total;
        } else {
            DropFront(1, n);
            n -= 1;
        }
    }
    count = n;
    state = kHunt;
}
