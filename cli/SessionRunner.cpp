#include "cli/SessionRunner.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/ReceiverChoice.h"
#include "cli/StatusLine.h"
#include "cli/StopRequest.h"
#include "comm/KConsole.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "log/DebugTrace.h"
#include "receivers/KReceiver.h"
#include "time/KClock.h"

namespace {

constexpr int32_t kLoopMs = 50;
constexpr int32_t kDeviceProbeMs = 250;

std::atomic<bool> openFailed{false};

// Set by whichever thread of the session first finds the device gone.
std::atomic<bool> deviceGone{false};
std::mutex goneLock;
std::string goneDevice;

void OnDeviceGone(const std::string& device) {
    {
        std::lock_guard<std::mutex> guard(goneLock);
        goneDevice = device;
    }
    deviceGone.store(true);
}

// What was last said about a failed open: a session retries at every rate, and a reopen that
// fails once mostly fails again the same way.
std::mutex printedLock;
std::string printedFailure;

void PrintOpenFailure(const KOpenError& error) {
    // Reopens of a device that has gone fail as a matter of course; the user hears of it once.
    if (deviceGone.load()) return;
    openFailed.store(true);
    std::string line = "velinor: " + PrintableText(OpenFailureText(error));
    if (!error.remedy.empty()) line += "\n  " + PrintableText(error.remedy);
    {
        std::lock_guard<std::mutex> guard(printedLock);
        if (line == printedFailure) return;
        printedFailure = line;
    }
    std::fprintf(stderr, "\n%s\n", line.c_str());
}

void ForgetPrintedFailure() {
    std::lock_guard<std::mutex> guard(printedLock);
    printedFailure.clear();
}

struct RunState {
    StatusLine* status = nullptr;
    std::atomic<int32_t> answeredBaud{0};  // the last rate the receiver answered at
    std::atomic<bool> portOpened{false};   // a link of the session has opened the port
};

// The session's link (serial or network), telling the command line once it has opened.
template <typename Link>
class KNoticed : public Link {
public:
    explicit KNoticed(std::atomic<bool>& openedFlag) : opened(openedFlag) {}
    bool Open(int32_t mode) override {
        const bool ok = Link::Open(mode);
        if (ok) opened.store(true);
        return ok;
    }

private:
    std::atomic<bool>& opened;
};

void OnStatus(void* user, int32_t kind, int32_t baud, int32_t value) {
    auto* run = static_cast<RunState*>(user);
    // Monitoring is reported only at a rate where the receiver has just answered.
    if (kind == kStatusMonitoring) run->answeredBaud.store(baud);
    run->status->Report(kind, baud, value);
}

enum class Ending { Confirmed, WorkerEnded, TimedOut, Interrupted, DeviceGone };

// Whether `device` is there again and can be opened: a path that merely exists may still be
// settling (udev, or the program behind a pseudo-terminal), and COM ports are no files.
bool DeviceOpens(const std::string& device, int32_t baud) {
    const std::unique_ptr<KSerialComm> probe = CreatePortLink(device);
    probe->DevicePath = device;
    probe->BaudRate = baud;
    if (!probe->Open(0)) return false;
    probe->Close();
    return true;
}

} // namespace

std::string SaveOutcomeText(int32_t type, int32_t baud, SaveOutcome outcome) {
    const std::string rate = std::to_string(baud) + " baud";
    switch (outcome) {
    case SaveOutcome::Saved: return "Rate saved: the receiver starts at " + rate + " after a power cycle";
    case SaveOutcome::Failed:
        return "Warning: the receiver runs at " + rate +
               " but did not confirm saving it; after a power cycle it may start at its old rate";
    case SaveOutcome::NotSupported: break;
    }
    const KCatalogueType* row = FindCatalogueType(type);
    const KReceiverFamily* family = FamilyOfType(type);
    const std::string how = family && family->unsavedRateNote
                                ? family->unsavedRateNote
                                : "whether it keeps " + rate + " after a power cycle is up to the receiver";
    return std::string(row ? row->displayName : "This receiver") + " has no way to save the rate from here: " + how;
}

std::string OpenFailureText(const KOpenError& error) {
    std::string text = error.text;
    if (!error.device.empty()) text += ": " + error.device;
    if (!error.reason.empty()) text += ": " + error.reason;
    return text;
}

std::string LineHintText(const KLineHint& hint, int32_t receiverType, const std::string& portText) {
    const std::string portShown = portText.empty() ? "PORT" : portText;
    const KReceiverFamily* own = FamilyOfType(receiverType);
    const std::string ownName = own ? own->name : "the chosen type";
    const std::string lookFurther =
        "'velinor identify --port " + portShown + "' and 'velinor doctor " + portShown + "'";
    const KReceiverFamily* heard = hint.family;
    if (!heard) {
        if (hint.bytes == 0) return "nothing answered and nothing was heard at any rate: try " + lookFurther;
        return "nothing answered, and the " + std::to_string(hint.bytes) +
               " bytes heard are no protocol known here: try " + lookFurther;
    }
    const std::string rate = std::to_string(hint.baud) + " baud";
    if (heard == own)
        return "this device speaks " + ownName + " at " + rate + " but does not answer its requests: try " + lookFurther;
    // The family's name when the receiver choice takes it for one of its types, else their ids.
    std::string choice;
    std::string unused;
    const int32_t byName = ChooseReceiver(heard->name, unused);
    if (byName && FamilyOfType(byName) == heard) {
        const std::string name = heard->name;
        choice = "--receiver " + (name.find(' ') == std::string::npos ? name : "\"" + name + "\"");
    } else {
        for (size_t i = 0; i < heard->types.size(); ++i) {
            const KCatalogueType& type = heard->types[i];
            choice += i == 0 ? "--receiver " : i + 1 == heard->types.size() ? " or " : ", ";
            choice += std::to_string(type.typeId) + " (" + type.displayName + ")";
        }
    }
    if (!heard->protocol.listeningProves)
        return std::string("this device sends ") + heard->protocol.name + " at " + rate +
               ", which many makers' receivers send, not " + ownName + ": if it is a " + heard->name + ", try " +
               choice + "; " + lookFurther + " tell more";
    return std::string("this device speaks ") + heard->name + " (" + heard->protocol.name + ") at " + rate + ", not " +
           ownName + ": try " + choice;
}

void TraceToConsole() {
    SetDebugTraceSink([](const std::string& text) { std::fputs(PrintableText(text, true).c_str(), stderr); });
}

void ReportOpenFailuresOnConsole() {
    ForgetPrintedFailure();
    KSerialComm::SetOpenFailureHandler(PrintOpenFailure);
}

namespace {
// Links are opened on the command's own thread, so the failure is here once Open has returned.
KOpenError keptOpenFailure;
void KeepOpenFailure(const KOpenError& error) { keptOpenFailure = error; }
} // namespace

void KeepOpenFailures() { KSerialComm::SetOpenFailureHandler(KeepOpenFailure); }

const KOpenError& LastOpenFailure() { return keptOpenFailure; }

std::unique_ptr<KReceiver> CreateCatalogueReceiver(int32_t type) {
    const KReceiverFamily* family = FamilyOfType(type);
    return family ? family->createReceiver(type, true) : nullptr;
}

void PrepareConsole(bool json, bool verbose) {
    if (verbose) TraceToConsole();
    if (json)
        KeepOpenFailures();
    else
        ReportOpenFailuresOnConsole();
    StopRequest::Catch();
}

namespace {

// One run of a plan, across the sessions it restarts when the device comes back.
struct PlanRun {
    const SessionPlan& plan;
    StatusLine& status;
    KClock& clock;
    int64_t started = 0;
    int64_t limitMs = 0;  // 0: no limit
    RunState state;
    int32_t lastKnownBaud = 0;
    bool saveSaid = false;
    bool openedSaid = false;

    bool TimeUp() const { return limitMs > 0 && clock.NowMs() - started >= limitMs; }
};

// Tells the plan once that the port has opened.
void SayOpened(PlanRun& run) {
    if (run.openedSaid || !run.state.portOpened.load()) return;
    run.openedSaid = true;
    if (run.plan.onPortOpened) run.plan.onPortOpened();
}

// Says once what the save asked for came to, as soon as it is known.
void SayWhatTheSaveCameTo(const KBaudSession& session, PlanRun& run) {
    const std::optional<SaveOutcome> outcome = session.SaveResult();
    if (run.saveSaid || !outcome) return;
    run.saveSaid = true;
    run.status.Note(SaveOutcomeText(run.plan.receiverType, run.plan.targetBaud, *outcome),
                    *outcome == SaveOutcome::Saved    ? StatusLine::Colour::Green
                    : *outcome == SaveOutcome::Failed ? StatusLine::Colour::Red
                                                      : StatusLine::Colour::Grey);
}

void ArmSession(KBaudSession& session, PlanRun& run) {
    if (run.plan.linkFactory) {
        session.SetLinkFactory(run.plan.linkFactory);
    } else {
        const std::string device = run.plan.port.devicePath;
        std::atomic<bool>& opened = run.state.portOpened;
        session.SetLinkFactory([device, &opened]() -> std::unique_ptr<KSerialComm> {
            std::unique_ptr<KSerialComm> link;
            if (IsNetworkPortName(device))
                link = std::make_unique<KNoticed<KNetworkComm>>(opened);
            else
                link = std::make_unique<KNoticed<KSerialComm>>(opened);
            link->DevicePath = device;
            return link;
        });
    }
    session.statusCallback = OnStatus;
    session.statusUser = &run.state;
    // Saved once: a session resumed after the device came back has nothing more to save.
    session.SetSaveRate(run.plan.saveRate && !run.saveSaid);
    const SessionPlan& plan = run.plan;
    StatusLine& status = run.status;
    session.SetHintHandler([&plan, &status](const KLineHint& hint) {
        status.Finish();
        std::fprintf(stderr, "velinor: %s\n",
                     PrintableText(LineHintText(hint, plan.receiverType, plan.port.display)).c_str());
    });
}

Ending Watch(KBaudSession& session, PlanRun& run) {
    while (!StopRequest::Requested()) {
        SayOpened(run);
        if (run.plan.untilConfirmed && session.IsConfirmed()) return Ending::Confirmed;
        if (deviceGone.load()) return Ending::DeviceGone;
        if (session.WorkerEnded()) return Ending::WorkerEnded;
        if (run.TimeUp()) return Ending::TimedOut;
        SayWhatTheSaveCameTo(session, run);
        run.clock.Sleep(kLoopMs);
    }
    return Ending::Interrupted;
}

// After the device went: waits for it to open again, until interrupted or out of time.
bool AwaitDevice(PlanRun& run, std::string& device) {
    {
        std::lock_guard<std::mutex> guard(goneLock);
        device = goneDevice;
    }
    run.status.Finish();
    std::fprintf(stderr, "velinor: device gone: %s (unplugged?); waiting for it to come back\n",
                 PrintableText(device).c_str());
    if (const int32_t answered = run.state.answeredBaud.load()) run.lastKnownBaud = answered;
    while (!StopRequest::Requested() && !run.TimeUp()) {
        if (DeviceOpens(device, run.lastKnownBaud != 0 ? run.lastKnownBaud : run.plan.targetBaud)) {
            std::fprintf(stderr, "velinor: %s is back; resuming\n", PrintableText(device).c_str());
            deviceGone.store(false);
            ForgetPrintedFailure();
            return true;
        }
        run.clock.Sleep(kDeviceProbeMs);
    }
    return false;
}

} // namespace

SessionOutcome RunSessionPlan(const SessionPlan& plan, StatusLine& status) {
    openFailed.store(false);
    deviceGone.store(false);
    StopRequest::Catch();
    ReportOpenFailuresOnConsole();
    KSerialComm::SetDeviceGoneHandler(OnDeviceGone);

    PlanRun run{plan, status, KClock::Current(), 0, 0, {}, plan.lastKnownBaud, false, false};
    run.started = run.clock.NowMs();
    run.limitMs = plan.timeoutSeconds > 0 ? std::llround(plan.timeoutSeconds * 1000) : 0;
    run.state.status = &status;
    for (;;) {
        KBaudSession session;
        ArmSession(session, run);
        status.Show("...Starting...", StatusLine::Colour::Red);
        if (!session.Start(plan.port.portNumber, plan.targetBaud, run.lastKnownBaud, plan.receiverType))
            return {SessionOutcome::StartFailed, false, false, ""};
        Ending ending = Watch(session, run);
        if (ending == Ending::Interrupted) status.Show("Stopping...", StatusLine::Colour::Red);
        const bool confirmed = session.Stop();
        // A save under way when the loop ended is over now.
        SayWhatTheSaveCameTo(session, run);
        SayOpened(run);
        // The device can go while the worker gives up on a failed first open.
        if (ending == Ending::WorkerEnded && deviceGone.load()) ending = Ending::DeviceGone;
        SessionOutcome outcome;
        if (ending == Ending::DeviceGone) {
            if (AwaitDevice(run, outcome.device)) continue;
            outcome.kind = StopRequest::Requested() ? SessionOutcome::NotConfirmed : SessionOutcome::DeviceLost;
        } else if (ending == Ending::WorkerEnded) {
            outcome.kind = SessionOutcome::PortFailed;
            outcome.openFailureSaid = openFailed.load();
        } else {
            outcome.kind = confirmed ? SessionOutcome::Confirmed : SessionOutcome::NotConfirmed;
            outcome.timedOut = ending == Ending::TimedOut;
        }
        return outcome;
    }
}

int PrintSessionEnding(const SessionOutcome& outcome, const SessionPlan& plan, StatusLine& status) {
    char text[96];
    switch (outcome.kind) {
    case SessionOutcome::StartFailed:
        status.Finish();
        std::fprintf(stderr, "velinor: could not start the session\n");
        return kExitPortError;
    case SessionOutcome::DeviceLost:
        std::fprintf(stderr, "velinor: %s did not come back before the timeout\n", PrintableText(outcome.device).c_str());
        return kExitPortError;
    case SessionOutcome::PortFailed:
        status.Finish();
        if (!outcome.openFailureSaid)
            std::fprintf(stderr, "velinor: COM Port Busy Or Not Installed: %s\n", PrintableText(plan.port.display).c_str());
        return kExitPortError;
    case SessionOutcome::Confirmed:
        std::snprintf(text, sizeof text, "Receiver confirmed at %d baud", plan.targetBaud);
        status.Show(text, StatusLine::Colour::Green);
        break;
    case SessionOutcome::NotConfirmed:
        std::snprintf(text, sizeof text, "%s; receiver not confirmed at %d baud",
                      outcome.timedOut ? "Timed out" : "Stopped", plan.targetBaud);
        status.Show(text, StatusLine::Colour::Grey);
        break;
    }
    status.Finish();
    // Ctrl-C is how a session that runs until stopped ends, and its code says where it got to; a
    // termination request is not an answer, whatever it cut short.
    if (StopRequest::Terminated()) return StopRequest::ExitCode();
    return outcome.kind == SessionOutcome::Confirmed ? kExitConfirmed : kExitNotConfirmed;
}
