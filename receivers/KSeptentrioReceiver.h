#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "receivers/KMessageReader.h"
#include "receivers/KReceiver.h"

// Septentrio receivers (PolaRx, AsteRx, mosaic) over their ASCII command line. Every command is
// answered "$R:" (a set, get or exe command), "$R;" (a listing) or "$R?" (an error), with the
// command echoed, the reply lines and the prompt of the connection it came in on ("COM2>"):
// that prompt tells which port the PC is cabled to. Bytes heard at a wrong rate stay in the
// receiver's command line, so each command is preceded by a line end, and sent once the answer
// to that has come (commands sent between prompts are discarded). The ping asks for the
// receiver's capabilities, which changes nothing. The output (SBF, NMEA) is left as found:
// replies are never broken up by it. The time is not asked for (no cheap query answers it on
// every firmware); recorded SBF tells it.
class KSeptentrioReceiver : public KReceiver {
public:
    explicit KSeptentrioReceiver(bool readerThread = true);
    ~KSeptentrioReceiver() override;

    // Sends nothing: the output stays as found.
    bool StopAllBroadcast(int32_t settleMs) override;
    // The line end's answer, then the capabilities' answer, both within `timeoutMs`; learns the
    // port from the prompt.
    bool Ping(int32_t timeoutMs) override;
    // Sets the rate of the port the PC is on (learnt by a ping when not yet known), nothing else
    // there and no other port, and waits up to 2000 ms for the answer: false when it refuses,
    // true when it agrees or says nothing (it may have answered at the new rate).
    bool ChangeBaud(int32_t baud) override;
    // The first and last time in SBF block headers (time of week in ms, full week number).
    bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                      bool& weekUnknown) override;
    void Reset() override {}
    void OnDetach() override {}
    // Copies the current configuration, the rate just set included, to the boot one: Saved once
    // the receiver agreed, else Failed. Everything else set since boot is kept too.
    SaveOutcome SaveSettings(int32_t baud) override;

    // Makes the current configuration the one the receiver boots with; true once it said done.
    bool SaveConfigurationToBoot(int32_t replyMs);

    // The port (1 to 4) the last prompt named, 0 before any.
    int32_t Port() const { return port; }

    static std::span<const int32_t> Rates();
    // The receiver of catalogue type 17; nullptr otherwise.
    static std::unique_ptr<KReceiver> Create(int32_t typeId, bool runReaderThread);
    // The reader of this family's recorded messages (names and times).
    static std::unique_ptr<KMessageReader> CreateMessageReader();

private:
    // Ends whatever the command line holds and waits for the answer; false without one.
    bool ClearLine(int32_t budgetMs);
    // Clears the line, sends `command` and waits for its "$R:" answer (a "$R?" ends the wait).
    bool Command(const std::string& command, int32_t budgetMs);

    int32_t port = 0;
};
