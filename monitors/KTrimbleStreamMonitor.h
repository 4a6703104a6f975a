#pragma once
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames Trimble binary packets: STX, status, type, length L, L data bytes, checksum, ETX.
// On a bad packet the bytes after its STX are kept and searched for the next STX, so that a
// packet that began inside a damaged one is not lost.
class KTrimbleStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 262;
    static constexpr uint8_t kStx = 0x02;
    static constexpr uint8_t kEtx = 0x03;

    enum State : int32_t { kHunting = 1, kPacket = 2 };

    KTrimbleStreamMonitor() = default;
    ~KTrimbleStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // Sum of status, type, length and data bytes, modulo 256.
    static uint8_t Checksum(const uint8_t* fromStatus, uint32_t size);

    // A time scan starts its byte budget afresh, whatever an earlier read left counted.
    void ResetScanCount() { scanCount = 0; }

protected:
    bool Hunt();
    bool ReadPacket();
    void ThrowAway();

    uint8_t buffer[kBufferSize] = {};
    uint32_t count = 0;      // bytes held in buffer
    uint32_t scanCount = 0;  // bytes consumed since the last delivered packet (bounded scan)
};
