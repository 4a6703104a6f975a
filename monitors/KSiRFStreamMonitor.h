#pragma once
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames the SiRF binary protocol: start A0 A2, a big-endian payload length L, the payload, a
// 15-bit sum of the payload (big-endian) and the end B0 B3. After a bad end or checksum it
// searches the bytes it holds for messages that began inside the bad one.
class KSiRFStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 1024;
    static constexpr uint32_t kLargestPayload = kBufferSize - 8;
    static constexpr uint8_t kStart0 = 0xA0;
    static constexpr uint8_t kStart1 = 0xA2;
    static constexpr uint8_t kEnd0 = 0xB0;
    static constexpr uint8_t kEnd1 = 0xB3;

    KSiRFStreamMonitor();
    ~KSiRFStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

protected:
    enum : int32_t { kHunting = 0, kReadingLength = 1, kReadingBody = 2 };

    uint8_t buffer[kBufferSize];
    uint32_t count = 0;       // while hunting, bytes consumed since the hunt began; else bytes held
    uint16_t length = 0;      // L of the message being read
    uint32_t bodyNeed = 0;    // bytes still to read after the length field
    uint32_t headerNeed = 2;  // bytes of offsets 0 to 3 still to read

private:
    bool Hunt();
    bool ReadLength();
    bool ReadBody();
    void Rewind();
    void InternalReset();
};
