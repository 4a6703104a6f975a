#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// The NavCom receiver over its binary packets (02 99 66, ID, length, payload, XOR, 03). Every
// request is an output request (0x20) naming the message wanted, except the baud change, which
// is a port-settings packet (0x11) of our own that the receiver acknowledges with 0x06. A
// negative acknowledgement (0x15) ends any wait.
class KNavComReceiver : public KReceiver {
public:
    static constexpr size_t kPacketBufferSize = 4096;
    // The largest payload whose packet still fits the packet buffer.
    static constexpr uint16_t kMaxPayload = kPacketBufferSize - 8;
    // The speed code of a rate the receiver has no code for.
    static constexpr uint8_t kNoSpeedCode = 99;

    static constexpr uint8_t kIdAck = 0x06;
    static constexpr uint8_t kIdPortSettings = 0x11;
    static constexpr uint8_t kIdNak = 0x15;
    static constexpr uint8_t kIdOutputRequest = 0x20;
    static constexpr uint8_t kIdTime = 0x84;
    static constexpr uint8_t kIdTimeTagged = 0xB0;

    explicit KNavComReceiver(bool readerThread = true);
    ~KNavComReceiver() override;

    bool StopAllBroadcast(int32_t settleMs) override;
    bool QueryTime(KGPSTime& time) override;
    bool Ping(int32_t timeoutMs) override;
    bool ChangeBaud(int32_t baud) override;
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override {}
    void OnDetach() override {}

    // Builds one packet around `payload` in the packet buffer and writes it. False without a
    // payload, for a payload too long for the buffer, or when the write fails.
    bool SendPacket(const uint8_t* payload, uint8_t messageId, uint16_t payloadLength);

    // Sets `time` from a 0xB0, 0x86 or 0x81 message and answers true; leaves it alone (false)
    // for any other message, for none, and for one too short to hold its time fields.
    static bool DecodeNavComTime(const StreamMessage* message, KGPSTime& time);

    // The port-settings speed code of a rate, kNoSpeedCode when there is none.
    static uint8_t SpeedCode(int32_t baud);

    // The receiver of catalogue type 8; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

protected:
    // Waits for message `messageId` (for an acknowledgement, 0x06: the one of `ackedId`); every
    // other message is dropped, and a negative acknowledgement ends the wait with none.
    std::unique_ptr<StreamMessage> WaitForReply(uint8_t messageId, uint8_t ackedId, int32_t budgetMs);

private:
    bool SendOutputRequest(uint8_t wantedId);

    uint8_t packet[kPacketBufferSize];
};
