#pragma once
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames Leica binary 2 messages: sync 9C AE, a little-endian length L, the body, and at
// offset L a 16-bit checksum that brings the sum of offsets 2 to L+1 to zero. After a bad
// checksum it makes one attempt to resume at a sync found inside the bad message.
class KLeicaStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 4096;
    static constexpr uint8_t kSync0 = 0x9C;
    static constexpr uint8_t kSync1 = 0xAE;

    KLeicaStreamMonitor();
    ~KLeicaStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

protected:
    enum : int32_t { kHunting = 1, kReadingLength = 2, kReadingBody = 3 };

    uint8_t buffer[kBufferSize];
    uint32_t count = 0;        // while hunting, bytes consumed since the hunt began; else bytes held
    uint32_t totalLength = 0;  // L + 2 of the message being read

private:
    bool Hunt();
    bool ReadLength();
    bool ReadBody();
    void Rewind();
    void InternalReset();
    bool ChecksumHolds() const;
};
