#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "monitors/KStreamMonitor.h"
#include "time/KGPSTime.h"

class KComm;

// A GNSS receiver as the session drives it, whatever its protocol: silence it, ping it, change
// its rate, ask its time. Each family owns one stream monitor of its protocol.
class KReceiver {
public:
    explicit KReceiver(bool readerThread);
    virtual ~KReceiver();
    KReceiver(const KReceiver&) = delete;
    KReceiver& operator=(const KReceiver&) = delete;

    virtual bool StopAllBroadcast(int32_t settleMs);
    virtual bool QueryTime(KGPSTime& time);
    virtual bool Ping(int32_t timeoutMs);
    virtual bool ChangeBaud(int32_t baud);
    virtual bool ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                              bool& weekUnknown) = 0;
    virtual void Reset() = 0;
    virtual void OnDetach() = 0;

    // Binds to a link under a client name and starts the monitor there (when the link is open).
    bool Attach(KComm* link, const char* clientName);
    // Stops the monitor (its reader thread has ended when this returns) and forgets the name.
    bool Detach();

    const char* ClientName() const { return clientName.c_str(); }
    KStreamMonitor* Monitor() const { return monitor.get(); }
    KComm* Link() const { return link; }
    bool RunsReaderThread() const { return runReaderThread; }

protected:
    // The reply wait every family uses: takes queued messages, returns the first that `match`
    // accepts and deletes the others; while the queue is empty and the budget is not spent,
    // sleeps 100 ms. A budget of B ms looks at the queue B/100 + 1 times.
    std::unique_ptr<StreamMessage> WaitForReply(
        const std::function<bool(const StreamMessage&)>& match, int32_t budgetMs);

    std::string clientName;
    KComm* link = nullptr;
    std::unique_ptr<KStreamMonitor> monitor;  // created by the family's constructor

private:
    bool runReaderThread;
};
