#pragma once
// A baud session in virtual time over a simulated line: the worker's sleeps advance the
// simulated world and pump the receiver's monitor (receivers run without reader threads), so
// every wait of the session happens in no wall time and in the same order every run.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receivers/KReceiverFamily.h"
#include "session/KBaudSession.h"
#include "sim/KSimComm.h"
#include "sim/KSimFactory.h"
#include "sim/KSimReceiverDevice.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "support/ReceiverRig.h"

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

// The session's link to the simulated line. The session deletes its link right before its
// receiver (and after detaching it), so the link's end is where the rig stops pumping the
// receiver's monitor.
class RigLink : public KSimComm {
public:
    RigLink(KSimWorld& line, std::atomic<KReceiver*>& tracker) : KSimComm(line), slot(tracker) {}
    ~RigLink() override { slot.store(nullptr); }

private:
    std::atomic<KReceiver*>& slot;
};

class SessionRig {
public:
    // A simulated receiver of `type` at `deviceBaud`; `world` may be replaced before Start.
    SessionRig(int32_t type, uint32_t deviceBaud, const KSimDeviceOptions& options = {}) {
        std::string error;
        world = KSimFactory::CreateWorld(type, static_cast<int32_t>(deviceBaud), options, {}, error);
        EXPECT_NE(world, nullptr) << error;
        hook = clock.AddTickHook([this](int64_t nowMs) {
            if (world) world->AdvanceTo(nowMs * 1000000);
            PumpMonitor(current.load());
        });
        session.SetLinkFactory([this]() -> std::unique_ptr<KSerialComm> {
            ++linksMade;
            return std::make_unique<RigLink>(*world, current);
        });
        // The catalogue's receivers, without reader threads: the clock pumps their monitors.
        session.SetReceiverFactory([this](int32_t t) -> std::unique_ptr<KReceiver> {
            const KReceiverFamily* family = FamilyOfType(t);
            if (!family) return nullptr;
            std::unique_ptr<KReceiver> receiver = family->createReceiver(t, false);
            current.store(receiver.get());
            return receiver;
        });
        session.statusCallback = &SessionRig::OnStatus;
        session.statusUser = this;
    }

    ~SessionRig() {
        session.Release();
        clock.RemoveTickHook(hook);
    }

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

    uint32_t DeviceBaud() { return world->WithDevice([](KSimDevice& d) { return d.Baud(); }); }
    std::vector<std::vector<uint8_t>> DeviceRequests() {
        return world->WithDevice([](KSimDevice& d) { return dynamic_cast<KSimReceiverDevice&>(d).Requests(); });
    }

    KVirtualClock clock{1245240000, 5};
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    std::atomic<KReceiver*> current{nullptr};
    std::atomic<int> linksMade{0};
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
    int32_t hook = 0;
};

inline StatusReport R(int32_t kind, int32_t baud) { return {0, kind, baud, kind == 1 ? 1 : 0}; }
