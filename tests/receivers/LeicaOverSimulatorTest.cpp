// The Leica receivers against the simulated receivers, over a simulated line, in virtual time.
#include <gtest/gtest.h>

#include "receivers/KLeicaCRS1000Receiver.h"
#include "receivers/KLeicaRS500Receiver.h"
#include "support/ReceiverRig.h"

namespace {

constexpr int32_t kCRS1000 = 4, kGMX900 = 5, kGPS1200 = 6, kSystem500 = 7;

TEST(LeicaOverSimulator, PingAnswersOnlyAtTheReceiversRate) {
    SimReceiverRig rig(kSystem500, 19200);
    rig.OpenAt(9600);
    EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));
    EXPECT_FALSE(rig.Receiver().Ping(1000));
    rig.OpenAt(38400);
    EXPECT_FALSE(rig.Receiver().Ping(1000));
    rig.OpenAt(19200);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

TEST(LeicaOverSimulator, RS500RateChangeIsAcknowledgedThenTheReceiverAnswersAtTheNewRate) {
    SimReceiverRig rig(kGPS1200, 4800);
    rig.OpenAt(4800);
    ASSERT_TRUE(rig.Receiver().Ping(1000));
    EXPECT_TRUE(rig.Receiver().ChangeBaud(115200));
    rig.clock.Sleep(250);
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
    rig.OpenAt(115200);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
    // A rate the receiver has no code for goes nowhere.
    EXPECT_FALSE(rig.Receiver().ChangeBaud(230400));
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
}

TEST(LeicaOverSimulator, ARefusedRS500RateChangeFailsAndTheReceiverStays) {
    KSimDeviceOptions options;
    options.refusesRateChange = true;
    SimReceiverRig rig(kSystem500, 9600, options);
    rig.OpenAt(9600);
    EXPECT_FALSE(rig.Receiver().ChangeBaud(57600));
    EXPECT_EQ(rig.DeviceBaud(), 9600u);
}

TEST(LeicaOverSimulator, CRS1000RateChangeNeedsNoAcknowledgement) {
    SimReceiverRig rig(kCRS1000, 2400);
    rig.OpenAt(2400);
    EXPECT_TRUE(rig.Receiver().ChangeBaud(57600));
    rig.clock.Sleep(250);
    EXPECT_EQ(rig.DeviceBaud(), 57600u);
    rig.OpenAt(57600);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

TEST(LeicaOverSimulator, OnlyTheGMX900AnswersControlCommandFour) {
    {
        SimReceiverRig rig(kGMX900, 9600);
        rig.OpenAt(9600);
        EXPECT_TRUE(rig.ReceiverAs<KLeicaCRS1000Receiver>().SendControlCommand(4, true));
    }
    SimReceiverRig rig(kCRS1000, 9600);
    rig.OpenAt(9600);
    const int64_t start = rig.clock.NowMs();
    EXPECT_FALSE(rig.ReceiverAs<KLeicaCRS1000Receiver>().SendControlCommand(4, true));
    EXPECT_EQ(rig.clock.NowMs() - start, 5000);
}

} // namespace
