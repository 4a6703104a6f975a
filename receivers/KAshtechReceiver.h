#pragma once
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// Ashtech Z, AC12 and G12 over the Ashtech ASCII command set ("$PASHQ," queries, "$PASHS,"
// settings, "$PASHR," answers). Every setting names the receiver port it applies to, so each
// operation first asks the receiver which port the PC is cabled to; that question is the ping.
class KAshtechReceiver : public KReceiver {
public:
    // What StopAllBroadcast silences.
    enum OutputMode : int32_t { kRawOff = 1, kNmeaOff = 2, kAllOff = 3 };
    // The speed code of a rate without a speed command.
    static constexpr int32_t kNoSpeedCode = 99;

    KAshtechReceiver(bool readerThread, int32_t outputMode);
    ~KAshtechReceiver() override;

    bool StopAllBroadcast(int32_t settleMs) override;
    // Bounded by the port query's own two waits, not by `timeoutMs`.
    bool Ping(int32_t timeoutMs) override;
    bool ChangeBaud(int32_t baud) override;
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override {}
    void OnDetach() override {}

    int32_t OutputModeUsed() const { return outputMode; }

    // The receiver's code for `baud`, or kNoSpeedCode.
    static int32_t SpeedCode(int32_t baud);
    // The receiver of catalogue types 1 to 3; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

private:
    // The first queued message that begins with `prefix`; the others are dropped.
    std::unique_ptr<StreamMessage> WaitForReply(const char* prefix, int32_t budgetMs);
    // Asks which port the PC is on (twice at most). `letter` is left alone without a reply.
    bool GetPort(char& letter);

    int32_t outputMode;
};
