#pragma once
#include <cstddef>
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames Novatel/Sokkia binary logs with the standard 28-byte header: sync AA 44 12, header,
// M data bytes, CRC-32. A log that fails a check is dropped with the bytes read for it (there
// is no rewind), and the hunt goes on with the next byte from the link.
class KNovatelStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 4096;
    static constexpr uint8_t kHeaderLength = 28;
    static constexpr uint32_t kCrcLength = 4;
    // The largest data length M that still fits the buffer with header and CRC.
    static constexpr uint32_t kMaxDataLength = kBufferSize - kHeaderLength - kCrcLength;

    enum State : int32_t { kHunting = 0, kHeader = 1, kBody = 2 };

    KNovatelStreamMonitor() = default;
    ~KNovatelStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // CRC-32 (reflected 0xEDB88320, initial value 0, no final XOR) continued from `crc`. Run over
    // a whole log, its stored CRC included, it ends at 0 when the log is intact.
    static uint32_t Crc(const uint8_t* bytes, size_t size, uint32_t crc = 0);

    // Bytes hunted since the last delivered log: the bounded-scan counter. The receiver clears
    // it when it begins a bounded scan, so that the limit counts from there.
    uint32_t huntCount = 0;

protected:
    void InternalReset();
    bool Hunt();
    bool ReadHeader();
    bool ReadBody();

    uint8_t buffer[kBufferSize] = {};
    uint32_t count = 0;  // hunting: bytes consumed since the hunt began; else bytes held
    uint16_t length = 0;  // M of the log being read
    bool headerLengthRead = false;
    uint8_t headerLength = 0;

private:
    // The hunt window (bytes 0 to 2 of buffer) again, as one number: testing it this way avoids
    // reading back bytes just stored one by one, which costs a store-forwarding stall per byte.
    uint32_t window = 0;
};
