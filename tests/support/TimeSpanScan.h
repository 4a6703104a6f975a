#pragma once
// A receiver's time scan over a recorded stream, as the receiver tests run it.
#include <cstdint>

#include "comm/KRecordedComm.h"
#include "receivers/KReceiver.h"

// A recording that cannot seek, as the serial link.
class UnseekableRecording : public KRecordedComm {
public:
    using KRecordedComm::KRecordedComm;
    bool Seek(int32_t, int32_t) override { return false; }
};

// What ScanTimeSpan reported.
struct TimeSpan {
    bool scanned = false, gotFirst = false, gotLast = false, weekUnknown = false;
    KGPSTime first{0}, last{0};
};

// `receiver`, detached, scans the recording on `link` and is detached again.
inline TimeSpan ScanTimeSpanOf(KReceiver& receiver, KComm& link) {
    link.Open(0);
    receiver.Attach(&link, "Scan");
    TimeSpan s;
    s.scanned = receiver.ScanTimeSpan(s.gotFirst, s.first, s.gotLast, s.last, s.weekUnknown);
    receiver.Detach();
    return s;
}
