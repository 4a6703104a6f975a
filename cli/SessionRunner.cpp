#include "cli/SessionRunner.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/Commands.h"
#include "cli/StatusLine.h"
#include "comm/KConsole.h"
#include "comm/KSerialComm.h"

namespace {

std::atomic<bool> interrupted{false};
void OnInterrupt() { interrupted.store(true); }

std::atomic<bool> openFailed{false};

void PrintOpenFailure(const KOpenError& error) {
    openFailed.store(true);
    std::string line = "velinor: " + error.text;
    if (!error.device.empty()) line += ": " + error.device;
    if (!error.reason.empty()) line += ": " + error.reason;
    if (!error.remedy.empty()) line += "\n  " + error.remedy;
    std::fprintf(stderr, "\n%s\n", line.c_str());
}

void OnStatus(void* user, int32_t kind, int32_t baud, int32_t value) {
    static_cast<StatusLine*>(user)->Report(kind, baud, value);
}

} // namespace

void ReportOpenFailuresOnConsole() { KSerialComm::SetOpenFailureHandler(PrintOpenFailure); }

int RunSessionPlan(const SessionPlan& plan, StatusLine& status) {
    interrupted.store(false);
    openFailed.store(false);
    KConsole::OnInterrupt(OnInterrupt);
    ReportOpenFailuresOnConsole();

    KBaudSession session;
    if (plan.linkFactory) {
        session.SetLinkFactory(plan.linkFactory);
    } else if (!plan.port.devicePath.empty()) {
        const std::string device = plan.port.devicePath;
        session.SetLinkFactory([device] {
            auto link = std::make_unique<KSerialComm>();
            link->DevicePath = device;
            return link;
        });
    }
    session.statusCallback = OnStatus;
    session.statusUser = &status;
    status.Show("...Starting...", StatusLine::Colour::Red);
    if (!session.Start(plan.port.portNumber, plan.targetBaud, plan.lastKnownBaud, plan.receiverType)) {
        status.Finish();
        std::fprintf(stderr, "velinor: could not start the session\n");
        return kExitPortError;
    }

    const auto started = std::chrono::steady_clock::now();
    bool timedOut = false;
    bool prepareFailed = false;
    while (!interrupted.load()) {
        if (plan.untilConfirmed && session.IsConfirmed()) break;
        if (session.WorkerEnded()) {
            prepareFailed = true;
            break;
        }
        if (plan.timeoutSeconds > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= plan.timeoutSeconds) {
            timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (interrupted.load()) status.Show("Stopping...", StatusLine::Colour::Red);
    const bool confirmed = session.Stop();
    char text[96];
    if (prepareFailed) {
        status.Finish();
        if (!openFailed.load())
            std::fprintf(stderr, "velinor: COM Port Busy Or Not Installed: %s\n", plan.port.display.c_str());
        return kExitPortError;
    }
    if (confirmed) {
        std::snprintf(text, sizeof text, "Receiver confirmed at %d baud", plan.targetBaud);
        status.Show(text, StatusLine::Colour::Green);
    } else {
        std::snprintf(text, sizeof text, "%s; receiver not confirmed at %d baud",
                      timedOut ? "Timed out" : "Stopped", plan.targetBaud);
        status.Show(text, StatusLine::Colour::Grey);
    }
    status.Finish();
    return confirmed ? kExitConfirmed : kExitNotConfirmed;
}
