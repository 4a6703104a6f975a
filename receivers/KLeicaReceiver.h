#pragma once
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// What all Leica models share over LB2 frames: the frame sender, the stop-output commands, the
// ping and control command 4. It cannot change the rate itself; its two subclasses can.
class KLeicaReceiver : public KReceiver {
public:
    explicit KLeicaReceiver(bool readerThread = true);
    ~KLeicaReceiver() override;

    bool StopAllBroadcast(int32_t settleMs) override;
    bool Ping(int32_t timeoutMs) override;
    // Leica receivers keep no time span of recordings.
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override {}
    void OnDetach() override {}

    bool SendFrame(const uint8_t* payload, uint16_t payloadLength);
    bool SendQuery(uint8_t code);
    bool SendControlCommand(int32_t command, bool waitForReply);
    // Control command 4, with its reply wait, for the models that need it after a rate change.
    void AfterRateChange() override;

    // The receiver of catalogue types 4 and 5 (CRS1000) and 6 and 7 (RS500); nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

protected:
    // Replies are matched on their first payload bytes (frame offset 4 on), which must exist.
    std::unique_ptr<StreamMessage> WaitForPayload(const uint8_t* prefix, size_t prefixLength,
                                                  int32_t budgetMs, size_t minimumFrameLength = 0);

private:
    bool controlAfterRateChange = false;  // the GMX900 (type 5)
};
