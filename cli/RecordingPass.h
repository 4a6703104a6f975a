#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comm/KRecordedComm.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"

// Frames a whole recording on the calling thread (no reader thread), handing each message to
// `onMessage` in stream order. The link must be open; the monitor is started under `clientName`
// and stopped again.
void FrameRecording(KStreamMonitor& monitor, KRecordedComm& link, const char* clientName,
                    const std::function<void(const StreamMessage&)>& onMessage);

// Names in the order they first came, each with how often it came.
using NameCounts = std::vector<std::pair<std::string, uint64_t>>;

// What a pass over a recording found out about its times.
struct RecordingTimes {
    uint64_t messages = 0;
    NameCounts names;      // every message framed, by name
    NameCounts timeNames;  // the messages a time was read from
    // The first and last full times (a week and time of week, or a date), and the scales the
    // stream told them in; else the first and last times of week of a stream that never told
    // its week.
    bool gotFull = false, gotOfWeek = false;
    KGPSTime first{KGPSTime::kGpsEpoch}, last{KGPSTime::kGpsEpoch};
    KGPSTime firstOfWeek{KGPSTime::kGpsEpoch}, lastOfWeek{KGPSTime::kGpsEpoch};
    std::vector<KTimeScale> scales;  // the scales the full times were told in, each once

    bool Found() const { return gotFull || gotOfWeek; }
};

// Reads every message of the recording with the family's reader.
RecordingTimes ReadRecordingTimes(KStreamMonitor& monitor, KRecordedComm& link, KMessageReader& reader);
