#pragma once
#include "receivers/KLeicaReceiver.h"

// Leica GPS1200 and System 500: a baud change that waits for the receiver's acknowledgement and
// a time query answered with a calendar date and time.
class KLeicaRS500Receiver : public KLeicaReceiver {
public:
    explicit KLeicaRS500Receiver(bool readerThread = true) : KLeicaReceiver(readerThread) {}
    bool ChangeBaud(int32_t baud) override;
    bool QueryTime(KGPSTime& time) override;
    // Its calendar answer is taken as UTC, the civil time the receiver shows its user.
    static constexpr KTimeScale kTimeScale = KTimeScale::Utc;
    KTimeScale TimeAnswerScale() const override { return kTimeScale; }
};
