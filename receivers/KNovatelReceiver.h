#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

class KNovatelStreamMonitor;

// The Novatel/Sokkia receiver over OEM4 binary commands (AA 44 12, 28-byte header, payload,
// CRC-32): UNLOGALL silences it, LOG asks once for the VERSION log (the ping) or the TIME log,
// COM sets the rate of the port the command arrives on. Each command is dated with the PC clock.
// The receiver answers a command with a response (message type 0x80) whose first payload byte is
// 1 when it is OK; a response that is not OK is dropped like any other message.
class KNovatelReceiver : public KReceiver {
public:
    static constexpr size_t kCommandBufferSize = 4096;
    static constexpr size_t kHeaderLength = 28;
    static constexpr size_t kCrcLength = 4;
    // The largest payload whose command still fits the command buffer.
    static constexpr uint16_t kMaxPayload = kCommandBufferSize - kHeaderLength - kCrcLength;

    static constexpr uint16_t kIdLog = 1;
    static constexpr uint16_t kIdCom = 4;
    static constexpr uint16_t kIdVersion = 37;
    static constexpr uint16_t kIdUnlogAll = 38;
    static constexpr uint16_t kIdRange = 43;
    static constexpr uint16_t kIdTime = 101;
    static constexpr uint16_t kIdRangeCompressed = 140;
    static constexpr uint8_t kTypeResponse = 0x80;
    static constexpr uint8_t kResponseOk = 1;

    explicit KNovatelReceiver(bool readerThread = true);
    ~KNovatelReceiver() override;

    bool StopAllBroadcast(int32_t settleMs) override;
    bool QueryTime(KGPSTime& time) override;
    bool Ping(int32_t timeoutMs) override;
    bool ChangeBaud(int32_t baud) override;
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override {}
    void OnDetach() override {}

    // Builds one command around `payload` in the command buffer, dated with the PC clock, and
    // writes it. False without a payload, for a payload too long for the buffer, or when the
    // write fails.
    bool SendCommand(const uint8_t* payload, uint16_t payloadLength, uint16_t messageId);

    // The receiver of catalogue type 9; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

protected:
    // True once an OK response to any command is taken from the queue within the budget.
    bool WaitForOk(int32_t budgetMs);
    // The first message with ID `messageId` within the budget; every other message is dropped.
    std::unique_ptr<StreamMessage> WaitForMessage(uint16_t messageId, int32_t budgetMs);

private:
    bool SendLogRequest(uint16_t logId);

    KNovatelStreamMonitor* framer;  // the monitor, as its own type: the time scan resets its hunt
    uint8_t command[kCommandBufferSize];
};
