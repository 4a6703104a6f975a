#include "session/KBaudSession.h"

#include "comm/KBaudRates.h"

#include <chrono>
#include <system_error>

#include "comm/KSerialComm.h"
#include "log/Logs.h"
#include "receivers/KReceiver.h"
#include "session/KReceiverIdentifier.h"
#include "time/KClock.h"

namespace {
constexpr int32_t kStepPauseMs = 250;
constexpr int32_t kSettleMs = 2000;
constexpr int32_t kPingingMs = 2000;
constexpr int32_t kMonitoringMs = 1000;
constexpr int32_t kStopWaitMs = 10000;

enum State : int32_t { Pinging = 0, Monitoring = 1, Detecting = 2 };
} // namespace

KBaudSession::KBaudSession()
    : linkFactory([] { return std::make_unique<KSerialComm>(); }),
      receiverFactory([](int32_t type) { return CreateReceiver(type); }) {}

KBaudSession::~KBaudSession() { Release(); }

bool KBaudSession::Start(int32_t port, int32_t target, int32_t lastKnown, int32_t type) {
    if (running || workerThread.joinable()) return false;
    receiverType = type;
    // A type outside the catalogue (a test's own receiver) gets the usual rates and timings.
    const KCatalogueType* row = FindCatalogueType(type);
    catalogueType = row ? *row : KCatalogueType{};
    portNumber = port;
    targetBaud = target;
    // A rate outside the table would make the first pass skip every entry forever.
    lastKnownBaud = catalogueType.RunsAt(lastKnown) ? lastKnown : 0;
    currentBaud = target;
    saveDone = false;
    saveResult.store(-1);
    {
        std::lock_guard<std::mutex> guard(endLock);
        workerEnded = false;
    }
    // Cleared here rather than by the worker, so a Stop that comes before the worker has even
    // begun is not lost.
    stopRequested.store(false);
    try {
        workerThread = std::thread(&KBaudSession::WorkerMain, this);
    } catch (const std::system_error&) {
        return false;
    }
    running = true;
    return true;
}

bool KBaudSession::Stop() {
    if (!running) return false;
    if (workerThread.joinable()) {
        stopRequested.store(true);
        std::unique_lock<std::mutex> lock(endLock);
        if (!endSignal.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return workerEnded; }))
            SixSigmaLog("KBaudSession::Stop, worker still running after %d ms", kStopWaitMs);
        lock.unlock();
        // The worker uses this object's fields, link and receiver until it returns: wait it out.
        workerThread.join();
    }
    const bool confirmed = baudConfirmed.load();
    running = false;
    return confirmed;
}

void KBaudSession::Release() {
    if (workerThread.joinable()) Stop();
}

std::optional<SaveOutcome> KBaudSession::SaveResult() const {
    const int32_t result = saveResult.load();
    if (result < 0) return std::nullopt;
    return static_cast<SaveOutcome>(result);
}

bool KBaudSession::WorkerEnded() {
    std::lock_guard<std::mutex> guard(endLock);
    return workerEnded;
}

void KBaudSession::WorkerMain() {
    if (Prepare()) {
        while (!stopRequested.load()) {
            Step();
            KClock::Current().Sleep(kStepPauseMs);
        }
        Teardown();
    }
    std::lock_guard<std::mutex> guard(endLock);
    workerEnded = true;
    endSignal.notify_all();
}

bool KBaudSession::Prepare() {
    state = Pinging;
    baudConfirmed.store(false);
    failedPings = 0;
    hintGiven = false;

    link = linkFactory();
    if (!link) return false;
    link->PortNumber = portNumber;
    link->BaudRate = targetBaud;
    if (!link->Open(0)) {
        link.reset();
        return false;
    }
    receiver = receiverFactory(receiverType);
    if (!receiver) {
        link->Close();
        link.reset();
        return false;
    }
    if (!receiver->Attach(link.get(), kClientName)) {
        link->Close();
        link.reset();
        receiver.reset();
        return false;
    }
    receiver->StopAllBroadcast(kSettleMs);
    return true;
}

void KBaudSession::Teardown() {
    receiver->Detach();
    link->Close();
    link.reset();
    receiver.reset();
}

void KBaudSession::Step() {
    switch (state) {
    case Pinging:
        Report(kStatusPinging, currentBaud, 0);
        state = receiver->Ping(kPingingMs) ? Monitoring : Detecting;
        break;
    case Monitoring:
        Report(kStatusMonitoring, currentBaud, 1);
        if (receiver->Ping(kMonitoringMs)) {
            baudConfirmed.store(true);
            failedPings = 0;
            // In the step that confirmed the rate, so that a stop asked for on the confirmation
            // comes after the save.
            if (saveRate && !saveDone) {
                saveDone = true;
                saveResult.store(static_cast<int32_t>(receiver->SaveSettings(targetBaud)));
            }
        } else {
            ++failedPings;
        }
        if (failedPings >= 2) {
            failedPings = 0;
            baudConfirmed.store(false);
            state = Detecting;
        }
        break;
    case Detecting: {
        const int32_t found = Detect();
        if (found == 0) break;
        receiver->ChangeBaud(targetBaud);
        receiver->AfterRateChange();
        if (catalogueType.timings.pauseAfterChangeMs > 0) KClock::Current().Sleep(catalogueType.timings.pauseAfterChangeMs);
        Reopen(targetBaud);
        currentBaud = targetBaud;
        state = Pinging;
        break;
    }
    default:
        break;
    }
}

int32_t KBaudSession::Detect() {
    // The first pass may start at the last known rate; only one that tried them all tells.
    const bool wholePass = lastKnownBaud == 0;
    for (const int32_t entry : catalogueType.rates) {
        if (stopRequested.load()) return 0;
        if (lastKnownBaud != 0) {
            if (entry != lastKnownBaud) continue;
            lastKnownBaud = 0;
        }
        if (!SystemSetsRate(entry)) continue;  // the port could not be opened at it
        Reopen(entry);
        Report(kStatusDetecting, entry, 0);
        if (receiver->Ping(catalogueType.timings.DetectPingMs(entry))) return entry;
    }
    if (wholePass && hintHandler && !hintGiven && !stopRequested.load()) {
        hintGiven = true;
        ListenForHint();
    }
    return 0;
}

void KBaudSession::ListenForHint() {
    KReceiverIdentifier::Options options;
    options.listenMs = kHintListenMs;
    options.listenBytes = 0;
    options.listenQuietMs = kHintQuietMs;
    KClock& clock = KClock::Current();
    const int64_t start = clock.NowMs();
    KLineHint hint;
    // The receiver's monitor would take the bytes: it stays detached while the line is heard.
    receiver->Detach();
    for (const int32_t rate : catalogueType.rates) {
        if (stopRequested.load()) break;
        if (!SystemSetsRate(rate) || !link->Reopen(rate)) continue;
        KReceiverIdentifier::Heard heard;
        const KReceiverFamily* family = KReceiverIdentifier::ListenOn(*link, rate, options, heard,
                                                                      [this] { return stopRequested.load(); });
        hint.bytes += heard.bytes;
        if (family) {
            hint.family = family;
            hint.baud = rate;
            break;
        }
    }
    receiver->Attach(link.get(), kClientName);
    hint.listenedMs = static_cast<int32_t>(clock.NowMs() - start);
    if (!stopRequested.load()) hintHandler(hint);
}

bool KBaudSession::Reopen(int32_t baud) {
    receiver->Detach();
    // The port stays claimed across the change: closed even for a moment, it could be taken by
    // another program waiting for it.
    link->Reopen(baud);
    return receiver->Attach(link.get(), kClientName);
}

void KBaudSession::Report(int32_t kind, int32_t baud, int32_t value) {
    // Once a stop is asked for, no new report starts: an owner blocked in Stop may be the very
    // thread a report would wait on.
    if (statusCallback && !stopRequested.load()) statusCallback(statusUser, kind, baud, value);
}
