#include "receivers/KReceiver.h"

#include <cstdarg>
#include <cstdio>

#include "comm/KComm.h"
#include "log/DebugTrace.h"

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
    return Send(text, static_cast<uint32_t>(length));
}

bool KReceiver::Send(const void* data, uint32_t length) {
    const bool written = link != nullptr && link->Write(data, length);
    if (DebugTraceActive())
        DebugTrace("%s  %s > %s%s\n", DebugTraceStamp().c_str(), clientName.c_str(),
                   TraceBytesText(data, length).c_str(), written ? "" : " (write failed)");
    return written;
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
    const bool traced = DebugTraceActive();
    const uint64_t bytesBefore = traced ? monitor->BytesRead() : 0;
    uint64_t others = 0;
    int64_t spent = 0;  // 64 bits: a budget near the 32-bit limit must not wrap the count
    for (;;) {
        while (std::unique_ptr<StreamMessage> message = monitor->PopMessage()) {
            const Verdict verdict = judge(*message);
            if (verdict == Verdict::Discard) {
                ++others;
                continue;
            }
            if (traced)
                DebugTrace("%s  %s < %s after %lld ms: %s\n", DebugTraceStamp().c_str(), clientName.c_str(),
                           verdict == Verdict::Take ? "reply" : "refusal", static_cast<long long>(spent),
                           TraceBytesText(message->data.get(), static_cast<size_t>(message->length)).c_str());
            if (verdict == Verdict::Take) return message;
            return nullptr;
        }
        if (spent >= budgetMs) break;
        KClock::Current().Sleep(kPollMs);
        spent += kPollMs;
    }
    if (traced) {
        const uint64_t bytes = monitor->BytesRead() - bytesBefore;
        if (bytes == 0 && others == 0)
            DebugTrace("%s  %s < nothing heard in %lld ms\n", DebugTraceStamp().c_str(), clientName.c_str(),
                       static_cast<long long>(spent));
        else
            DebugTrace("%s  %s < no reply in %lld ms (%llu bytes heard, %llu other messages)\n",
                       DebugTraceStamp().c_str(), clientName.c_str(), static_cast<long long>(spent),
                       static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(others));
    }
    return nullptr;
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
