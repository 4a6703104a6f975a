#pragma once
#include <cstdint>

#include "monitors/KStreamMonitor.h"

// Frames what an Ashtech receiver says: "$PASHR," responses (five types with a fixed-length
// binary body and a check of their own, all others text lines up to CR LF) and NMEA "$GPXDR,"
// sentences. Everything else is skipped. A frame that fails is dropped whole.
class KAshtechStreamMonitor : public KStreamMonitor {
public:
    static constexpr uint32_t kBufferSize = 4096;
    static constexpr uint32_t kWindowSize = 10;
    static constexpr uint32_t kShortestLine = 12;

    KAshtechStreamMonitor();
    ~KAshtechStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // What the framer holds, for tests and diagnostics.
    int32_t FramerState() const { return state; }
    uint32_t HeldBytes() const { return count; }

    // Total length (CR LF included) of a fixed-length response type, 0 for a text response.
    static uint32_t FixedLength(const uint8_t* type);
    // The frame check over `size` bytes from the "$".
    static bool CheckMessage(const uint8_t* frame, uint32_t size);
    // Only the receiver's own "$PASHR," responses: a "$GPXDR," sentence is standard NMEA that
    // many instruments send.
    bool ProvesProtocol(const StreamMessage& message) const override;

private:
    bool Hunt();
    bool ReadFixed();
    bool ReadLine();
    bool CheckFrame() const;
    void DiscardFrame();
    void Deliver();

    uint8_t buffer[kBufferSize];
    uint32_t count = 0;
    uint32_t expectedLength = 0;
};
