#pragma once
#include <cstdint>
#include <string_view>

#include "monitors/KStreamMonitor.h"

// Frames NMEA 0183 sentences: "$", printable text, "*" and two hex digits of the XOR of the
// bytes between, then LF (a CR before it is optional: some receivers end lines with LF alone).
// A "$" always starts a sentence afresh and any byte outside printable ASCII drops the one being
// read, so binary noise never swallows the sentence that follows it. A sentence whose check
// fails, that has none, or that runs past kMaxSentence is dropped and told as a stream error.
class KMediaTekStreamMonitor : public KStreamMonitor {
public:
    // From "$" to LF. NMEA's own limit is 82; proprietary sentences (MediaTek's channel
    // status) run to about 200.
    static constexpr uint32_t kMaxSentence = 512;

    KMediaTekStreamMonitor();
    ~KMediaTekStreamMonitor() override;

    bool ReadStep() override;
    void ResetFramer() override;

    // Standard sentences are sent by any GNSS receiver, and MediaTek's own appear unasked:
    // only the answer to its firmware query ("$PMTK705,") proves a MediaTek receiver.
    bool ProvesProtocol(const StreamMessage& message) const override;

    // The XOR of `body` (the text between "$" and "*").
    static uint8_t Checksum(std::string_view body);
    // Whether `size` bytes from "$" form a whole sentence whose check holds.
    static bool SentenceHolds(const uint8_t* sentence, uint32_t size);

    uint32_t HeldBytes() const { return count; }

private:
    enum : int32_t { kHunt = 1, kSentence = 2 };

    // Takes one byte; true when it completed a sentence (delivered or dropped).
    bool Take(uint8_t byte);
    void Finish();

    uint8_t buffer[kMaxSentence];
    uint32_t count = 0;
};
