#pragma once
// The receiver families' time scans over recorded streams, told as one line each.
#include <cstddef>
#include <cstdint>
#include <string>

#include "comm/KRecordedComm.h"
#include "receivers/KReceiver.h"
#include "time/KGPSTime.h"

// A time as "seconds.nanoseconds" on the product's scale (since 1970, no leap seconds), from a
// GPS week and milliseconds of week, or from a KGPSTime.
std::string At(uint32_t week, uint64_t ms);
std::string At(const KGPSTime& time);

// A recording that plays back but cannot seek, as the serial link.
class UnseekableRecording : public KRecordedComm {
public:
    using KRecordedComm::KRecordedComm;
    bool Seek(int32_t, int32_t) override { return false; }
};

// Opens `link`, attaches `receiver` (built without a reader thread), runs `stepsBefore` framing
// steps and then ScanTimeSpan, and tells the outcome: "result first last", a time not found as
// "-" (it must then still be the GPS epoch), and a note when the week flag does not say whether a
// first time was found.
std::string ScanOutcome(KReceiver& receiver, KComm& link, size_t stepsBefore = 0);

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
