#pragma once
#include <cstdint>
#include <vector>

#include "monitors/KStreamMonitor.h"

// Frames what a Septentrio receiver sends: SBF blocks ("$@", CRC-16, block ID, length, then the
// body; the length counts the whole block and is a multiple of 4, the CRC covers ID to end) and
// replies to ASCII commands ("$R:", "$R;" or "$R?", text lines, and the prompt naming the
// connection that sent the command, e.g. "COM2>", or the pseudo-prompt "---->" of a listing).
// A prompt on its own (the answer to an empty line) is delivered too. A block whose check or
// length fails, or a reply that is cut short or too long, is dropped, and the bytes after its
// start are framed again, so a start inside it is not lost.
class KSeptentrioStreamMonitor : public KStreamMonitor {
public:
    // The largest block SBF defines, and the longest reply kept.
    static constexpr uint32_t kMaxBlock = 4096;
    static constexpr uint32_t kMaxReply = 4096;
    static constexpr uint32_t kHeaderSize = 8;

    KSeptentrioStreamMonitor();
    ~KSeptentrioStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // SBF blocks (checked) and command replies (shaped as no other receiver's), not a bare prompt.
    bool ProvesProtocol(const StreamMessage& message) const override;

    // CRC-16-CCITT (polynomial 0x1021, initial 0) of `size` bytes.
    static uint16_t Crc16(const uint8_t* data, uint32_t size);
    // The port number (1 to 4) a reply's or a bare prompt's "COMn>" names, 0 for none.
    static int32_t PromptPort(const StreamMessage& message);

    uint32_t HeldBytes() const { return count; }

private:
    enum : int32_t { kHunt = 1, kBlock = 2, kReply = 3 };

    // Takes one byte; true when it delivered a message.
    bool Take(uint8_t byte);
    bool TakeInHunt();
    bool TakeInBlock();
    bool TakeInReply(uint8_t byte);
    void Deliver();
    // Gives up the message held: its bytes after the first are framed again.
    void Abandon();

    uint8_t buffer[kMaxBlock > kMaxReply ? kMaxBlock : kMaxReply];
    uint32_t count = 0;
    uint32_t blockLength = 0;
    std::vector<uint8_t> again;  // bytes to frame again before reading more
    size_t againAt = 0;
};
