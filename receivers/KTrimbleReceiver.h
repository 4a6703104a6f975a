#pragma once
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

class KTrimbleStreamMonitor;

// Trimble receivers over their binary packets (STX, status, type, length, data, checksum, ETX).
// The ping asks which receiver port the request came in on (0x4A, answered by 0x4B); the rate
// change sets that port's parameters (0x48). Trimble receivers have no command that stops their
// output, so StopAllBroadcast only learns the port and drops what has queued.
class KTrimbleReceiver : public KReceiver {
public:
    static constexpr uint8_t kSetPort = 0x48;
    static constexpr uint8_t kGetOptions = 0x4A;
    static constexpr uint8_t kOptions = 0x4B;
    static constexpr uint8_t kRawData = 0x57;
    static constexpr uint8_t kWeekText = 0x0C;

    explicit KTrimbleReceiver(bool readerThread = true);
    ~KTrimbleReceiver() override;

    bool StopAllBroadcast(int32_t settleMs) override;
    bool Ping(int32_t timeoutMs) override;
    bool ChangeBaud(int32_t baud) override;
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    // The port is learnt again on every attachment: the cable may have moved.
    void Reset() override { receiverPort = 0; }
    void OnDetach() override { receiverPort = 0; }

    // Sends one packet (status 0) with a single write; false, with nothing sent, for more than
    // 255 data bytes, and false when the link did not take the bytes.
    bool SendPacket(uint8_t packetType, const uint8_t* data, uint32_t dataLength);

    // The receiver port learnt on this attachment, 0 while unknown.
    uint32_t ReceiverPort() const { return receiverPort; }

    // The receiver of catalogue types 12, 13 and 14; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

protected:
    // The first queued packet of `packetType` within the budget; every other one is dropped.
    std::unique_ptr<StreamMessage> WaitForReply(uint8_t packetType, int32_t budgetMs);
    // The port the receiver says the PC is cabled to (the known one when there is one); false
    // without an answer or for a number that is not a serial port (1 to 4, or 18).
    bool GetPort(uint32_t& port);

private:
    KTrimbleStreamMonitor* framer;  // the monitor, as its own type
    uint32_t receiverPort = 0;
};
