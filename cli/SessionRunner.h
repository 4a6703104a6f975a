#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cli/PortChoice.h"
#include "comm/KOpenError.h"
#include "session/KBaudSession.h"

class StatusLine;

// One baud session as the command line runs it: started, shown live, ended by Ctrl-C or a
// termination request (see StopRequest.h), by confirmation (when asked) or by a time limit.
struct SessionPlan {
    int32_t receiverType = 0;
    int32_t targetBaud = 0;
    int32_t lastKnownBaud = 0;
    PortChoice port;
    bool untilConfirmed = false;
    double timeoutSeconds = 0;  // 0: no limit
    // Ask the receiver to keep the rate over a power cycle once it is confirmed (--save).
    bool saveRate = false;
    // Replaces the serial link (the demo's simulated line); empty for a real port.
    KBaudSession::LinkFactory linkFactory;
    // Called once, on the calling thread, once the session's link has opened the port (never for
    // a replaced link).
    std::function<void()> onPortOpened;
};

// How a session run ended.
struct SessionOutcome {
    enum Kind {
        Confirmed,     // the receiver answers at the wanted rate
        NotConfirmed,  // stopped or timed out before it did
        StartFailed,   // the session could not start
        PortFailed,    // the port could not be opened
        DeviceLost,    // the device went and did not come back before the time limit
    };
    Kind kind = NotConfirmed;
    bool timedOut = false;
    bool openFailureSaid = false;  // the open failure was reported with its reason as it happened
    std::string device;            // the device that went
};

// Runs the plan to its end, showing its progress on `status` as it goes.
SessionOutcome RunSessionPlan(const SessionPlan& plan, StatusLine& status);
// Says how it ended and answers the exit code (see Commands.h); 143 after a termination request
// (Ctrl-C ends it with the code of where it got to). A failed save does not change it: the
// receiver does run at the rate; it is said as a warning while the session runs.
int PrintSessionEnding(const SessionOutcome& outcome, const SessionPlan& plan, StatusLine& status);

// What a save of `baud` on a receiver of catalogue `type` came to, as the status line says it.
std::string SaveOutcomeText(int32_t type, int32_t baud, SaveOutcome outcome);
// What to tell the user about the line after a whole detection pass for `receiverType` went
// unanswered: the protocol heard and the type to try instead, or where to look next.
std::string LineHintText(const KLineHint& hint, int32_t receiverType, const std::string& portShown);

// Routes the receivers' trace lines to standard error (--verbose), what they quote of the
// receiver's bytes escaped.
void TraceToConsole();

// Routes open failures of serial links to standard error with the device, reason and remedy;
// a failure just like the one said last is not said again (a session retries at every rate).
void ReportOpenFailuresOnConsole();
// Keeps open failures instead, for a --json document that reports them itself: the last one is
// LastOpenFailure().
void KeepOpenFailures();
const KOpenError& LastOpenFailure();
// What a command that opens a port sets up first: the trace when `verbose`, open failures kept
// for a `json` document or said on the console, and Ctrl-C and SIGTERM caught so that the
// command can give the port back before it ends.
void PrepareConsole(bool json, bool verbose);

// A receiver of catalogue `type` with its reader thread, as the command line drives one; none for
// a type no family serves.
std::unique_ptr<KReceiver> CreateCatalogueReceiver(int32_t type);

// "COM Port Busy Or Not Installed: /dev/ttyUSB0: Device or resource busy": the failure, the
// device and the reason, as far as known (the remedy is not part of it).
std::string OpenFailureText(const KOpenError& error);
