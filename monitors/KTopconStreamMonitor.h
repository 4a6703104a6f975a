#pragma once
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames Topcon GRIL messages: a two-character identifier, the body length as three upper-case
// hex digits, the body. A few identifiers end their body with a checksum or CRC, which is
// verified; line-end bytes after a message travel with it, and "# " lines are skipped. After a
// failed check the held bytes are searched again, so a message that began inside a damaged one
// is still delivered.
class KTopconStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 4196;
    static constexpr uint32_t kHeaderSize = 5;

    KTopconStreamMonitor();
    ~KTopconStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // What the framer holds, for tests and diagnostics.
    int32_t FramerState() const { return state; }
    uint32_t HeldBytes() const { return count; }

    // True when the five bytes at `at` form a header; its body length then goes to `length`.
    static bool ParseHeader(const uint8_t* at, uint32_t& length);
    // The check of the message's identifier over a whole message of `size` bytes (header, body
    // and nothing after); identifiers without a check pass.
    static bool CheckMessage(const uint8_t* message, uint32_t size);
    // True when the message's identifier carries a checksum or CRC that CheckMessage verifies.
    static bool HasCheck(const uint8_t* message);
    // Only checked messages: an unchecked header and length turn up in noise now and then.
    bool ProvesProtocol(const StreamMessage& message) const override;
    static uint16_t Crc16(const uint8_t* data, uint32_t size);
    static uint8_t Checksum8(const uint8_t* data, uint32_t size);

private:
    bool Hunt();
    bool SkipCommentLine();
    bool ReadBody();
    bool ReadLineEnd();
    bool CheckFrame() const;
    void Rewind();
    void Deliver(uint32_t size);
    void DropFront(uint32_t size, uint32_t held);

    uint8_t buffer[kBufferSize];
    uint32_t count = 0;
    uint32_t bodyLength = 0;
};
