#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "log/Logs.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"
#include "time/KGPSTime.h"

class KComm;

// What asking a receiver to keep its rate over a power cycle came to.
enum class SaveOutcome : int32_t {
    Saved,         // the receiver said it saved it
    NotSupported,  // its protocol has no such request here; nothing was sent
    Failed,        // it refused, or did not say it saved it
};

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
    // The time scale QueryTime's answer is on: most receivers answer in GPS time.
    virtual KTimeScale TimeAnswerScale() const { return KTimeScale::Gps; }
    virtual bool Ping(int32_t timeoutMs);
    virtual bool ChangeBaud(int32_t baud);
    // What the receiver needs after its change-rate command, still at the old rate, before the
    // host reopens the port at the new one (most need nothing).
    virtual void AfterRateChange() {}
    // Makes `baud`, the rate the receiver answers at now, the one it starts at after a power
    // cycle, where its protocol has a way to; the others send nothing and answer NotSupported.
    virtual SaveOutcome SaveSettings(int32_t baud);
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
    // Writes a command to the link: every family's writes come through here, so that --verbose
    // shows each one. False when there is no link or the write failed.
    bool Send(const void* data, uint32_t length);

    // Writes a formatted text command, its characters only (no terminating zero); false when
    // nothing could be written (no link, too long, the write failed). A query may leave that to
    // its reply wait, but a command that is not answered must not be reported as sent.
    bool SendText(const char* format, ...) VELINOR_PRINTF(2, 3);

    // The one rule for rates before any family sends one: a rate is a positive number. Whether
    // the receiver supports it is the receiver's business.
    static bool IsRate(int32_t baud) { return baud > 0; }

    // The reply wait every family uses: takes queued messages, returns the first that `match`
    // accepts and deletes the others; while the queue is empty and the budget is not spent,
    // sleeps 100 ms. A budget of B ms looks at the queue B/100 + 1 times.
    std::unique_ptr<StreamMessage> WaitForReply(
        const std::function<bool(const StreamMessage&)>& match, int32_t budgetMs);

    // The same wait for protocols whose receiver can refuse: a message judged `Fail` (a negative
    // acknowledgement) ends the wait at once with none.
    enum class Verdict { Discard, Take, Fail };
    std::unique_ptr<StreamMessage> WaitForVerdict(
        const std::function<Verdict(const StreamMessage&)>& judge, int32_t budgetMs);

    // The outputs of ScanTimeSpan before anything is found: nothing got, both times the GPS
    // epoch, the week unknown.
    static void ClearTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last, bool& weekUnknown);

    // The common shape of ScanTimeSpan, for a link holding a recorded stream read by the calling
    // thread. First pass (a bounded scan): each message is counted and handed to `first`, until
    // `first` answers true or more than `limit` messages have been counted. Unless `gotFirst` is
    // then true, that is all. Otherwise the link seeks to the scan limit before its end and every
    // message from there to the end goes to `last`. False when the first pass counted nothing
    // (or there is no link or monitor); a link that cannot seek ends the scan after the first pass.
    bool ScanRecording(int32_t limit, const std::function<bool(const StreamMessage&)>& first,
                       const bool& gotFirst, const std::function<void(const StreamMessage&)>& last);

    std::string clientName;
    KComm* link = nullptr;
    std::unique_ptr<KStreamMonitor> monitor;  // created by the family's constructor

private:
    bool runReaderThread;
};
