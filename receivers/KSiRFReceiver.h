#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// The SiRFStar III receiver over SiRF binary packets (A0 A2, big-endian payload length, payload
// whose first byte is the message ID, 15-bit payload sum, B0 B3). Output is silenced message by
// message (0xA6, rate 0); the ping polls the software version (0x84) and takes the receiver's
// acknowledgement of the poll (0x0B); the time query polls the clock status (0x90, answered by
// 0x07); the rate change sets the binary serial port (0x86), which the receiver never
// acknowledges.
class KSiRFReceiver : public KReceiver {
public:
    static constexpr size_t kPacketBufferSize = 1024;
    // The largest payload whose packet still fits the packet buffer.
    static constexpr uint16_t kMaxPayload = kPacketBufferSize - 8;

    static constexpr uint8_t kIdClockStatus = 0x07;
    static constexpr uint8_t kIdAck = 0x0B;
    static constexpr uint8_t kIdNavLibMeasurement = 0x1C;
    static constexpr uint8_t kIdPollVersion = 0x84;
    static constexpr uint8_t kIdSetSerialPort = 0x86;
    static constexpr uint8_t kIdPollClockStatus = 0x90;
    static constexpr uint8_t kIdSetMessageRate = 0xA6;
    static constexpr uint8_t kIdTime = 0xFA;

    // The messages StopAllBroadcast turns off, in the order it does so.
    static constexpr uint8_t kSilencedIds[16] = {2,  4,  5,  7,  8,  9,  13, 17,
                                                 18, 27, 28, 29, 30, 31, 41, 255};

    explicit KSiRFReceiver(bool readerThread = true);
    ~KSiRFReceiver() override;

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
    bool SendPacket(const uint8_t* payload, uint16_t payloadLength);

    // Whether a message is long enough for the fields read from one of its ID (the ID byte of
    // messages whose fields are not read).
    static bool HoldsFields(const StreamMessage& message);
    // The time of a clock status message (0x07): its week, and its estimated GPS time corrected
    // by its clock bias. False, with `time` left alone, for any other message or none.
    static bool DecodeClockStatus(const StreamMessage* message, KGPSTime& time);
    // The GPS software time (seconds of week) of a navigation library measurement (0x1C); 0.0
    // for any other message or none.
    static double DecodeSoftwareTime(const StreamMessage* message);

    // The receiver of catalogue type 10; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

protected:
    // The first acknowledgement (0x0B) of message `ackedId` within the budget; every other
    // message is dropped, negative acknowledgements included.
    std::unique_ptr<StreamMessage> WaitForAck(uint8_t ackedId, int32_t budgetMs);
    // The first message of `messageId` within the budget that holds the fields read from it.
    std::unique_ptr<StreamMessage> WaitForMessage(uint8_t messageId, int32_t budgetMs);

private:
    uint8_t packet[kPacketBufferSize];
};
