#include "cli/RecordingPass.h"

#include <algorithm>

void FrameRecording(KStreamMonitor& monitor, KRecordedComm& link, const char* clientName,
                    const std::function<void(const StreamMessage&)>& onMessage) {
    monitor.Start(&link, false, clientName);
    uint64_t stalledAt = UINT64_MAX;
    for (;;) {
        const bool progressed = monitor.ReadStep();
        while (auto message = monitor.PopMessage()) onMessage(*message);
        if (progressed) continue;
        // A step that made no progress either ran out of input or gave up on a frame; only the
        // same position twice in a row means nothing more can come.
        if (link.AtEnd() || link.Position() == stalledAt) break;
        stalledAt = link.Position();
    }
    monitor.Stop();
}

namespace {

void Count(NameCounts& counts, const std::string& name) {
    const auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& entry) { return entry.first == name; });
    if (it == counts.end())
        counts.emplace_back(name, 1);
    else
        ++it->second;
}

} // namespace

RecordingTimes ReadRecordingTimes(KStreamMonitor& monitor, KRecordedComm& link, KMessageReader& reader) {
    RecordingTimes times;
    FrameRecording(monitor, link, "Scan", [&](const StreamMessage& message) {
        const KMessageFacts facts = reader.Read(message);
        ++times.messages;
        Count(times.names, facts.name);
        if (facts.time == KMessageFacts::Time::None) return;
        Count(times.timeNames, facts.name);
        if (facts.time == KMessageFacts::Time::Full) {
            if (!times.gotFull) times.first = facts.gps;
            times.last = facts.gps;
            times.gotFull = true;
            if (std::find(times.scales.begin(), times.scales.end(), facts.told) == times.scales.end())
                times.scales.push_back(facts.told);
        } else {
            if (!times.gotOfWeek) times.firstOfWeek = facts.gps;
            times.lastOfWeek = facts.gps;
            times.gotOfWeek = true;
        }
    });
    return times;
}
