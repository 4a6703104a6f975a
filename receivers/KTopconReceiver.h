#pragma once
#include <cstdint>
#include <memory>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// Topcon receivers over GRIL, their ASCII command language. A command line may begin with an
// identifier between percent signs; the receiver's "RE" reply then begins with the same
// identifier. The ping is an empty command with the identifier "GRILPING", silencing is "dm"
// with "ALLOFF", and the rate change sets the current port's rate (unanswered).
class KTopconReceiver : public KReceiver {
public:
    // The link type on which Reset wakes the receiver with blank lines.
    static constexpr int32_t kBlankLineLinkType = 300;

    explicit KTopconReceiver(bool readerThread = true);
    ~KTopconReceiver() override;

    // Waits up to 5000 ms for the "ALLOFF" reply whatever `settleMs`, then settles `settleMs`.
    bool StopAllBroadcast(int32_t settleMs) override;
    // Two tries of half the timeout each.
    bool Ping(int32_t timeoutMs) override;
    // Sends any rate as it is; nothing is awaited.
    bool ChangeBaud(int32_t baud) override;
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override;
    void OnDetach() override {}

    // The receiver of catalogue type 11; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();
    // The time of an "rM" message, its week taken modulo 1024 onto `weekBase`.
    static bool DecodeRmTime(const uint8_t* message, int32_t length, uint32_t weekBase,
                             KGPSTime& time);

private:
    // Whether an "RE" reply carrying `identifier` came within the budget; all else is dropped.
    bool WaitForReply(const char* identifier, int32_t budgetMs);
};
