#pragma once
// A baud session in virtual time over a simulated line (support/SessionLine.h), with the
// reports it made and the virtual times it made them at.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "session/KBaudSession.h"
#include "support/SessionLine.h"

struct StatusReport {
    int64_t atMs;
    int32_t kind;
    int32_t baud;
    int32_t value;
    bool operator==(const StatusReport& o) const { return kind == o.kind && baud == o.baud && value == o.value; }
};

inline void PrintTo(const StatusReport& r, std::ostream* os) {
    *os << "{" << r.atMs << " ms: kind " << r.kind << ", " << r.baud << ", " << r.value << "}";
}

class SessionRig : public SessionLine {
public:
    // A simulated receiver of `type` at `deviceBaud`; `world` may be replaced before Start.
    SessionRig(int32_t type, uint32_t deviceBaud, const KSimDeviceOptions& options = {})
        : SessionLine(type, deviceBaud, options) {
        session.SetLinkFactory(Links());
        session.SetReceiverFactory(Receivers());
        session.statusCallback = &SessionRig::OnStatus;
        session.statusUser = this;
    }

    ~SessionRig() { session.Release(); }

    // Calls `stopWhen` on the worker after each report; when it answers true the session is
    // asked to stop right there, at that virtual time.
    void StopWhen(std::function<bool(const std::vector<StatusReport>&)> predicate) { stopWhen = std::move(predicate); }

    // Waits (real time, generously) until the worker has ended; false if it never does.
    bool WaitForWorker() {
        for (int i = 0; i < 6000 && !session.WorkerEnded(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return session.WorkerEnded();
    }

    std::vector<StatusReport> Reports() {
        std::lock_guard<std::mutex> guard(lock);
        return reports;
    }

    KBaudSession session;

private:
    static void OnStatus(void* user, int32_t kind, int32_t baud, int32_t value) {
        auto* rig = static_cast<SessionRig*>(user);
        std::lock_guard<std::mutex> guard(rig->lock);
        rig->reports.push_back({rig->clock.NowMs(), kind, baud, value});
        if (rig->stopWhen && rig->stopWhen(rig->reports)) rig->session.RequestStop();
    }

    std::mutex lock;
    std::vector<StatusReport> reports;
    std::function<bool(const std::vector<StatusReport>&)> stopWhen;
};

inline StatusReport R(int32_t kind, int32_t baud) { return {0, kind, baud, kind == 1 ? 1 : 0}; }
