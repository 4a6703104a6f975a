#pragma once
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames NavCom binary messages: sync 02 99 66, a message ID, a little-endian length N
// counting from itself through the ETX, the payload, an XOR checksum and ETX (03). After a bad
// ETX or checksum it searches the bytes it holds for messages that began inside the bad one.
class KNavComStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 4096;
    static constexpr uint8_t kSync0 = 0x02;
    static constexpr uint8_t kSync1 = 0x99;
    static constexpr uint8_t kSync2 = 0x66;
    static constexpr uint8_t kEtx = 0x03;

    KNavComStreamMonitor();
    ~KNavComStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

protected:
    enum : int32_t { kHunting = 0, kReadingHeader = 1, kReadingBody = 2 };

    uint8_t buffer[kBufferSize];
    uint32_t count = 0;      // while hunting, bytes consumed since the hunt began; else bytes held
    uint16_t length = 0;     // the length field N of the message being read
    uint8_t headerNeed = 3;  // header bytes still to read
    uint16_t bodyNeed = 0;   // bytes still to read after the header

private:
    bool Hunt();
    bool ReadHeader();
    bool ReadBody();
    void Rewind();
};
