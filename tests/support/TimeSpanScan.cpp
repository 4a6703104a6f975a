#include "support/TimeSpanScan.h"

std::string At(uint32_t week, uint64_t ms) {
    return std::to_string(KGPSTime::kGpsEpoch + int64_t{week} * KGPSTime::kSecondsPerWeek +
                          static_cast<int64_t>(ms / 1000)) +
           "." + std::to_string(ms % 1000 * 1000000);
}

std::string At(const KGPSTime& time) { return std::to_string(time.utc) + "." + std::to_string(time.nanoseconds); }

std::string ScanOutcome(KReceiver& receiver, KComm& link, size_t stepsBefore) {
    link.Open(0);
    receiver.Attach(&link, "Scan");
    while (stepsBefore-- > 0) receiver.Monitor()->ReadStep();
    bool gotFirst = false, gotLast = false, weekUnknown = false;
    // Times no scan gives: what one that finds nothing must reset to the epoch.
    KGPSTime first(400000000), last(400000000);
    const bool result = receiver.ScanTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    receiver.Detach();
    const std::string epoch = At(KGPSTime(KGPSTime::kGpsEpoch));
    auto time = [&](bool got, const KGPSTime& t) { return got ? At(t) : At(t) == epoch ? "-" : "not the epoch"; };
    return std::string(result ? "true " : "false ") + time(gotFirst, first) + " " + time(gotLast, last) +
           (weekUnknown == gotFirst ? " (week flag wrong)" : "");
}
