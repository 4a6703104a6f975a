#include "support/ReceiverRig.h"

#include <gtest/gtest.h>

#include <string>

#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "sim/KSimReceiverDevice.h"

void PumpMonitor(KReceiver* receiver) {
    if (!receiver) return;
    KStreamMonitor* monitor = receiver->Monitor();
    if (monitor && monitor->IsStarted())
        while (monitor->ReadStep()) {
        }
}

ScriptedReceiverRig::ScriptedReceiverRig(int64_t wallSeconds) : clock(wallSeconds) {
    link.Open(0);
    hook = clock.AddTickHook([this](int64_t now) {
        for (auto it = replies.begin(); it != replies.end() && it->first <= now; it = replies.erase(it))
            link.Feed(it->second);
        Pump();
    });
}

// The receivers used belong to the test and may be gone by now: they are not touched.
ScriptedReceiverRig::~ScriptedReceiverRig() { clock.RemoveTickHook(hook); }

void ScriptedReceiverRig::Use(KReceiver& receiver) {
    if (current && current != &receiver) current->Detach();
    current = &receiver;
    receiver.Attach(&link, "Trevask");
}

void ScriptedReceiverRig::ReplyAt(int64_t ms, const Bytes& bytes) { replies.emplace(ms, bytes); }

Bytes ScriptedReceiverRig::Written() { return link.TakeWritten(); }

SimReceiverRig::SimReceiverRig(int32_t typeId, uint32_t deviceBaud, const KSimDeviceOptions& options,
                               const KSimWorldOptions& line, int64_t wallSeconds)
    : clock(wallSeconds) {
    std::string error;
    world = KSimFactory::CreateWorld(typeId, static_cast<int32_t>(deviceBaud), options, line, error);
    if (!world) {
        ADD_FAILURE() << error;
        return;
    }
    link = std::make_unique<KSimComm>(*world);
    const KReceiverFamily* family = FamilyOfType(typeId);
    receiver = family->createReceiver(typeId, false);
    hook = clock.AddTickHook([this](int64_t nowMs) {
        world->AdvanceTo(nowMs * 1000000);
        PumpMonitor(receiver.get());
    });
}

SimReceiverRig::~SimReceiverRig() {
    clock.RemoveTickHook(hook);
    if (receiver) receiver->Detach();
    if (link) link->Close();
}

void SimReceiverRig::OpenAt(int32_t baud) {
    receiver->Detach();
    link->Close();
    link->BaudRate = baud;
    ASSERT_TRUE(link->Open(0));
    receiver->Attach(link.get(), "Trevask");
}

uint32_t SimReceiverRig::DeviceBaud() {
    return world->WithDevice([](KSimDevice& d) { return d.Baud(); });
}

std::vector<Bytes> SimReceiverRig::DeviceRequests() {
    return world->WithDevice([](KSimDevice& d) { return dynamic_cast<KSimReceiverDevice&>(d).Requests(); });
}
