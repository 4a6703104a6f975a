#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// MediaTek chipsets and the modules built on them (Quectel L70/L80, GlobalTop and others) over
// their NMEA-style PMTK commands: "$PMTKnnn,...*hh" CR LF. The ping asks for the firmware
// release (PMTK605), answered by PMTK705. The rate change (PMTK251) is unanswered on many
// firmwares, so it is proved only by a ping at the new rate. The receiver's NMEA output is left
// as it was found: the firmware query is answered amid it, so silencing buys nothing.
class KMediaTekReceiver : public KReceiver {
public:
    explicit KMediaTekReceiver(bool readerThread = true);
    ~KMediaTekReceiver() override;

    // Sends nothing: the output stays as found (SilenceOutput turns it off when wanted).
    bool StopAllBroadcast(int32_t settleMs) override;
    // One firmware query, its answer awaited for `timeoutMs`; a refusal ends the wait at once.
    bool Ping(int32_t timeoutMs) override;
    // Only the rates the chipsets have; nothing is awaited.
    bool ChangeBaud(int32_t baud) override;
    // The first and last UTC date and time of RMC (with valid data) and ZDA sentences, made GPS
    // time with the leap seconds of their date.
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override {}
    void OnDetach() override {}

    // Turns every NMEA sentence off (PMTK314 with all rates 0) and waits for its
    // acknowledgement for `replyMs`.
    bool SilenceOutput(int32_t replyMs);

    // "$" + body + "*hh" CR LF.
    static std::string Command(const std::string& body);
    static std::span<const int32_t> Rates();
    // The receiver of catalogue type 16; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();
};
