// The u-blox receiver against the simulated u-blox of each generation, over a simulated line, in
// virtual time, the receiver streaming its output all along.
#include <gtest/gtest.h>

#include <string>

#include "receivers/KUbloxReceiver.h"
#include "sim/KUbloxDevice.h"
#include "support/ReceiverRig.h"

namespace {

constexpr int32_t kUblox = KUbloxReceiver::kTypeId;

KSimDeviceOptions Cabled(const std::string& port) {
    KSimDeviceOptions options;
    options.receiverPort = port;
    return options;
}

TEST(UbloxOverSimulator, EachGenerationMovesTheUartItIsCabledToAndNoOther) {
    const struct {
        const char* port;  // generation:UART
        int32_t generation;
        uint32_t from, to;
    } cases[] = {
        {"8:1", 8, 9600, 921600},   {"8:2", 8, 921600, 4800},  {"9:1", 9, 38400, 460800},
        {"9:2", 9, 115200, 921600}, {"10:1", 10, 4800, 230400}, {"20:1", 20, 921600, 57600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " from " + std::to_string(c.from) + " to " + std::to_string(c.to));
        SimReceiverRig rig(kUblox, c.from, Cabled(c.port));
        rig.OpenAt(static_cast<int32_t>(c.from));
        auto& receiver = rig.ReceiverAs<KUbloxReceiver>();
        EXPECT_TRUE(receiver.StopAllBroadcast(1000));
        ASSERT_TRUE(receiver.Ping(1000));
        EXPECT_EQ(receiver.Generation(), c.generation);
        ASSERT_TRUE(receiver.ChangeBaud(static_cast<int32_t>(c.to)));
        rig.clock.Sleep(250);
        EXPECT_EQ(rig.DeviceBaud(), c.to);
        rig.OpenAt(static_cast<int32_t>(c.to));
        EXPECT_TRUE(receiver.Ping(1000));
        EXPECT_TRUE(rig.WithDevice<KUbloxDevice>([](KUbloxDevice& d) { return d.Streaming(); }));
        EXPECT_EQ(rig.WithDevice<KUbloxDevice>([](KUbloxDevice& d) { return d.OtherUartBaud(); }), 9600u);
        // Made to survive a power cycle, at the new rate.
        EXPECT_TRUE(receiver.SaveRate(static_cast<int32_t>(c.to)));
        EXPECT_EQ(rig.WithDevice<KUbloxDevice>([](KUbloxDevice& d) { return d.SavedBaud(); }), c.to);
        EXPECT_EQ(rig.DeviceBaud(), c.to);
    }
}

TEST(UbloxOverSimulator, FaultsEndInTheRightAnswer) {
    const struct {
        const char* name;
        KSimDeviceOptions options;
        bool pinged, changed, pingedAfter;
        uint32_t finalBaud;
    } cases[] = {
        {"refuses the rate", [] { auto o = Cabled("9:2"); o.refusesRateChange = true; return o; }(), true, false, false, 9600},
        {"u-blox 8 refuses the rate", [] { auto o = Cabled("8:1"); o.refusesRateChange = true; return o; }(), true, false, false, 9600},
        {"acknowledges wrongly", [] { auto o = Cabled("10:1"); o.wrongAcknowledgements = true; return o; }(), true, false, false, 9600},
        {"never switches", [] { auto o = Cabled("9:1"); o.neverSwitches = true; return o; }(), true, true, false, 9600},
        {"silent", [] { auto o = Cabled("8:2"); o.silent = true; return o; }(), false, false, false, 9600},
        {"slow", [] { auto o = Cabled("9:1"); o.replyDelayMs = 700; return o; }(), true, true, true, 115200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimReceiverRig rig(kUblox, 9600, c.options);
        rig.OpenAt(9600);
        EXPECT_EQ(rig.Receiver().Ping(1000), c.pinged);
        EXPECT_EQ(rig.Receiver().ChangeBaud(115200), c.changed);
        rig.clock.Sleep(1000);
        rig.OpenAt(115200);
        EXPECT_EQ(rig.Receiver().Ping(1000), c.pingedAfter);
        EXPECT_EQ(rig.DeviceBaud(), c.finalBaud);
    }
}

TEST(UbloxOverSimulator, PingFailsAtAnyOtherRate) {
    SimReceiverRig rig(kUblox, 57600, Cabled("9:1"));
    for (int32_t baud : {4800, 38400, 115200, 921600}) {
        rig.OpenAt(baud);
        EXPECT_FALSE(rig.Receiver().Ping(1000)) << baud;
    }
    rig.OpenAt(57600);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

} // namespace
