#pragma once
#include "receivers/KLeicaReceiver.h"

// Leica CRS1000 and GMX900: a baud change without acknowledgement and a time query answered
// with the time of the GPS week only.
class KLeicaCRS1000Receiver : public KLeicaReceiver {
public:
    explicit KLeicaCRS1000Receiver(bool readerThread = true) : KLeicaReceiver(readerThread) {}
    bool ChangeBaud(int32_t baud) override;
    bool QueryTime(KGPSTime& time) override;
};
