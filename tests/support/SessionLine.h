#pragma once
// A simulated receiver on a line in virtual time, for anything that runs baud sessions: the
// session's sleeps advance the simulated world and pump the receiver's monitor (receivers run
// without reader threads), so every wait happens in no wall time and in the same order every run.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "session/KBaudSession.h"
#include "sim/KSimComm.h"
#include "sim/KSimReceiverDevice.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "support/ReceiverRig.h"

// The session's link to the simulated line. The session deletes its link right before its
// receiver (and after detaching it), so the link's end is where the line stops pumping the
// receiver's monitor.
class RigLink : public KSimComm {
public:
    RigLink(KSimWorld& line, std::atomic<KReceiver*>& tracker) : KSimComm(line), slot(tracker) {}
    ~RigLink() override { slot.store(nullptr); }

private:
    std::atomic<KReceiver*>& slot;
};

class SessionLine {
public:
    // A simulated receiver of `type` at `deviceBaud`; `world` may be replaced before a session
    // starts.
    SessionLine(int32_t type, uint32_t deviceBaud, const KSimDeviceOptions& options = {}) {
        std::string error;
        world = KSimFactory::CreateWorld(type, static_cast<int32_t>(deviceBaud), options, {}, error);
        EXPECT_NE(world, nullptr) << error;
        hook = clock.AddTickHook([this](int64_t nowMs) {
            if (world) world->AdvanceTo(nowMs * 1000000);
            PumpMonitor(current.load());
        });
    }
    ~SessionLine() { clock.RemoveTickHook(hook); }
    SessionLine(const SessionLine&) = delete;
    SessionLine& operator=(const SessionLine&) = delete;

    // What a session needs to run on this line.
    KBaudSession::LinkFactory Links() {
        return [this]() -> std::unique_ptr<KSerialComm> {
            ++linksMade;
            return std::make_unique<RigLink>(*world, current);
        };
    }
    // The catalogue's receivers, without reader threads: the clock pumps their monitors.
    KBaudSession::ReceiverFactory Receivers() {
        return [this](int32_t t) -> std::unique_ptr<KReceiver> {
            const KReceiverFamily* family = FamilyOfType(t);
            if (!family) return nullptr;
            std::unique_ptr<KReceiver> receiver = family->createReceiver(t, false);
            current.store(receiver.get());
            return receiver;
        };
    }

    uint32_t DeviceBaud() { return world->WithDevice([](KSimDevice& d) { return d.Baud(); }); }
    std::vector<std::vector<uint8_t>> DeviceRequests() {
        return world->WithDevice(
            [](KSimDevice& d) { return dynamic_cast<KSimReceiverDevice&>(d).Requests(); });
    }

    KVirtualClock clock{1245240000, 5};
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    std::atomic<KReceiver*> current{nullptr};
    std::atomic<int> linksMade{0};

private:
    int32_t hook = 0;
};
