#pragma once
#include <cstddef>
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames u-blox UBX messages: B5 62, class, id, a 16-bit payload length (least significant byte
// first), the payload and an 8-bit Fletcher checksum over class to payload end. u-blox ports mix
// NMEA and RTCM 3 into the same stream, and their bytes may hold B5 62 by chance, so a frame
// that fails a check is not dropped whole: the hunt goes on from the byte after its sync, over
// the bytes already held, and a UBX message that began inside a false frame is still found.
// The NMEA and RTCM between messages are skipped as bytes that are no UBX.
class KUbloxStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 8192;
    static constexpr uint32_t kHeaderLength = 6;  // sync, class, id, length
    static constexpr uint32_t kChecksumLength = 2;
    // The largest payload whose frame still fits the buffer; a length above it marks a false sync.
    static constexpr uint32_t kMaxPayload = kBufferSize - kHeaderLength - kChecksumLength;
    static constexpr uint8_t kSync0 = 0xB5;
    static constexpr uint8_t kSync1 = 0x62;

    enum State : int32_t { kHunting = 0, kHeader = 1, kBody = 2 };

    KUbloxStreamMonitor() = default;
    ~KUbloxStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // The two checksum bytes (A in the low byte, B in the high one) over `size` bytes.
    static uint16_t Checksum(const uint8_t* bytes, size_t size);

    // Bytes hunted since the last delivered message: the bounded-scan counter. The receiver clears
    // it when it begins a bounded scan, so that the limit counts from there.
    uint32_t huntCount = 0;

private:
    bool Hunt();
    bool ReadHeader();
    bool ReadBody();
    // Moves on past the first `from` held bytes to the next sync among those held.
    void Settle(uint32_t from, uint32_t delivered);
    void ReportSkipped();

    uint8_t buffer[kBufferSize] = {};
    uint32_t count = 0;     // bytes held at the front of the buffer
    uint32_t skipped = 0;   // bytes given up since the last sync was found
};
