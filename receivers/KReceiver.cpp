#include "receivers/KReceiver.h"

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

std::unique_ptr<StreamMessage> KReceiver::WaitForReply(
    const std::function<bool(const StreamMessage&)>& match, int32_t budgetMs) {
    if (!monitor) return nullptr;
    int32_t spent = 0;
    for (;;) {
        while (std::unique_ptr<StreamMessage> message = monitor->PopMessage()) {
            if (match(*message)) return message;
        }
        if (spent >= budgetMs) return nullptr;
        KClock::Current().Sleep(kPollMs);
        spent += kPollMs;
    }
}
