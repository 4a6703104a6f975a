#pragma once
// Receivers in virtual time, two ways: against scripted replies on a memory link, and against
// the simulated receiver of their family over a simulated line. In both, every slice of a sleep
// delivers what is due and pumps the receiver's monitor as its reader thread would, so reply
// waits of seconds run deterministically and in no wall time.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "comm/KMemoryComm.h"
#include "receivers/KReceiver.h"
#include "sim/KSimComm.h"
#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "support/FramerHarness.h"
#include "time/KClock.h"

// 2009-06-17 (a Wednesday) 12:00:00 UTC.
inline constexpr int64_t kRigWallSeconds = 1245240000;

// Runs a receiver's monitor the way its reader thread would, until it has nothing more.
void PumpMonitor(KReceiver* receiver);

// A receiver on a memory link: replies arrive at chosen virtual times; what it writes is kept.
class ScriptedReceiverRig {
public:
    explicit ScriptedReceiverRig(int64_t wallSeconds = kRigWallSeconds);
    ~ScriptedReceiverRig();
    ScriptedReceiverRig(const ScriptedReceiverRig&) = delete;
    ScriptedReceiverRig& operator=(const ScriptedReceiverRig&) = delete;

    // Attaches the receiver (owned by the test, kept alive while the clock runs) to the link
    // under the session's client name.
    void Use(KReceiver& receiver);
    // `bytes` arrive on the link at virtual time `ms` (at once when that time has passed).
    void ReplyAt(int64_t ms, const Bytes& bytes);
    // Everything the receiver wrote since the last call.
    Bytes Written();
    void Pump() { PumpMonitor(current); }

    KVirtualClock clock;
    KScopedClock scope{clock};
    KMemoryComm link;

private:
    std::multimap<int64_t, Bytes> replies;
    KReceiver* current = nullptr;
    int32_t hook = 0;
};

// The receiver of a catalogue type (without a reader thread) against its family's simulated
// receiver, which starts at `deviceBaud`.
class SimReceiverRig {
public:
    SimReceiverRig(int32_t typeId, uint32_t deviceBaud, const KSimDeviceOptions& options = {},
                   const KSimWorldOptions& line = {}, int64_t wallSeconds = kRigWallSeconds);
    ~SimReceiverRig();
    SimReceiverRig(const SimReceiverRig&) = delete;
    SimReceiverRig& operator=(const SimReceiverRig&) = delete;

    // As the session does at each rate: detach, close, reopen the host's port at `baud`, attach.
    void OpenAt(int32_t baud);
    KReceiver& Receiver() { return *receiver; }
    template <typename T>
    T& ReceiverAs() {
        return dynamic_cast<T&>(*receiver);
    }
    uint32_t DeviceBaud();
    // Every request the simulated receiver took in, oldest first.
    std::vector<Bytes> DeviceRequests();
    // Calls `f(Device&)` under the world's lock.
    template <typename Device, typename F>
    decltype(auto) WithDevice(F&& f) {
        return world->WithDevice([&](KSimDevice& d) -> decltype(auto) { return f(dynamic_cast<Device&>(d)); });
    }

    KVirtualClock clock;
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    std::unique_ptr<KSimComm> link;
    std::unique_ptr<KReceiver> receiver;

private:
    int32_t hook = 0;
};
