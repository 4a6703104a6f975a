#include "receivers/KReceiver.h"

#include <cstdarg>
#include <cstdio>

#include "comm/KComm.h"

#include "time/KClock.h"

namespace {
constexpr int32_t kPollMs = 100;
}

KReceiver::KReceiver(bool readerThread) : clientName("?"), runReaderThread(readerThread) {}

KReceiver::~KReceiver() = default;

bool KReceiver::StopAllBroadcast(int32_t) { return false; }
bool KReceiver::QueryTime(KGPSTime&) { return false; }
bool KReceiver::Ping(int32_t) { return false; }
bool KReceiver::ChangeBaud(int32_t) { return false; }
SaveOutcome KReceiver::SaveSettings(int32_t) { return SaveOutcome::NotSupported; }

bool KReceiver::Attach(KComm* newLink, const char* name) {
    link = newLink;
    clientName = name ? name : "";
    if (monitor) monitor->Start(link, runReaderThread, clientName.c_str());
    Reset();
    return true;
}

bool KReceiver::Detach() {
    OnDetach();
    if (monitor) monitor->Stop();
    clientName = "?";
    return true;
}

bool KReceiver::SendText(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (!link || length <= 0 || static_cast<size_t>(length) >= sizeof text) return false;
    return link->Write(text, static_cast<uint32_t>(length));
}

std::unique_ptr<StreamMessage> KReceiver::WaitForReply(
    const std::function<bool(const StreamMessage&)>& match, int32_t budgetMs) {
    return WaitForVerdict(
        [&match](const StreamMessage& message) { return match(message) ? Verdict::Take : Verdict::Discard; },
        budgetMs);
}

std::unique_ptr<StreamMessage> KReceiver::WaitForVerdict(
    const std::function<Verdict(const StreamMessage&)>& judge, int32_t budgetMs) {
    if (!monitor) return nullptr;
    int64_t spent = 0;  // 64 bits: a budget near the 32-bit limit must not wrap the count
    for (;;) {
        while (std::unique_ptr<StreamMessage> message = monitor->PopMessage()) {
            switch (judge(*message)) {
            case Verdict::Take: return message;
            case Verdict::Fail: return nullptr;
            case Verdict::Discard: break;
            }
        }
        if (spent >= budgetMs) return nullptr;
        KClock::Current().Sleep(kPollMs);
        spent += kPollMs;
    }
}

void KReceiver::ClearTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last, bool& weekUnknown) {
    gotFirst = false;
    gotLast = false;
    first = KGPSTime(KGPSTime::kGpsEpoch);
    last = KGPSTime(KGPSTime::kGpsEpoch);
    weekUnknown = true;
}

bool KReceiver::ScanRecording(int32_t limit, const std::function<bool(const StreamMessage&)>& first,
                              const bool& gotFirst, const std::function<void(const StreamMessage&)>& last) {
    if (!monitor || !link) return false;
    int32_t counted = 0;
    monitor->boundedScan = true;
    for (;;) {
        if (!monitor->ReadStep() && monitor->MessageCount() == 0) break;
        const std::unique_ptr<StreamMessage> message = monitor->PopMessage();
        if (!message) continue;
        ++counted;
        if (first(*message) || counted > limit) break;
    }
    monitor->boundedScan = false;
    if (counted == 0) return false;
    if (!gotFirst) return true;
    if (!link->Seek(-kScanLimit, 2)) return true;
    for (;;) {
        const bool progressed = monitor->ReadStep();
        while (const std::unique_ptr<StreamMessage> message = monitor->PopMessage()) last(*message);
        if (!progressed && monitor->MessageCount() == 0) break;
    }
    return true;
}
