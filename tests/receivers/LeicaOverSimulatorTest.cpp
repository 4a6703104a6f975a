// The Leica receivers against the simulated receivers, over a simulated line, in virtual time.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "receivers/KLeicaCRS1000Receiver.h"
#include "receivers/KLeicaRS500Receiver.h"
#include "sim/KLeicaDevice.h"
#include "sim/KSimComm.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"

namespace {

class LeicaOverSimulator : public ::testing::Test {
protected:
    void Build(KLeicaDevice::Model model, uint32_t deviceBaud) {
        KSimDeviceOptions options;
        options.gpsLeapSeconds = 0;  // the product's times carry no leap seconds either
        link.reset();  // the old link refers to the old world
        world = std::make_unique<KSimWorld>(std::make_unique<KLeicaDevice>(model, deviceBaud, options));
        link = std::make_unique<KSimComm>(*world);
        hook = clock.AddTickHook([this](int64_t nowMs) {
            world->AdvanceTo(nowMs * 1000000);
            if (receiver && receiver->Monitor()->IsStarted())
                while (receiver->Monitor()->ReadStep()) {
                }
        });
    }
    void TearDown() override {
        clock.RemoveTickHook(hook);
        if (receiver) receiver->Detach();
        if (link) link->Close();
    }
    // Opens the host side at `baud` and attaches the receiver, as the session does at each rate.
    void OpenAt(int32_t baud) {
        receiver->Detach();
        link->Close();
        link->BaudRate = baud;
        ASSERT_TRUE(link->Open(0));
        receiver->Attach(link.get(), "Trevask");
    }
    uint32_t DeviceBaud() { return world->WithDevice([](KSimDevice& d) { return d.Baud(); }); }

    KVirtualClock clock{1245240000, 5};  // 2009-06-17 12:00:00 UTC
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    std::unique_ptr<KSimComm> link;
    std::unique_ptr<KLeicaReceiver> receiver;
    int32_t hook = 0;
};

TEST_F(LeicaOverSimulator, PingAnswersOnlyAtTheReceiversRate) {
    Build(KLeicaDevice::Model::System500, 19200);
    receiver = std::make_unique<KLeicaRS500Receiver>(false);
    OpenAt(9600);
    EXPECT_TRUE(receiver->StopAllBroadcast(2000));
    EXPECT_FALSE(receiver->Ping(1000));
    OpenAt(38400);
    EXPECT_FALSE(receiver->Ping(1000));
    OpenAt(19200);
    EXPECT_TRUE(receiver->Ping(1000));
}

TEST_F(LeicaOverSimulator, RS500RateChangeIsAcknowledgedThenTheReceiverAnswersAtTheNewRate) {
    Build(KLeicaDevice::Model::GPS1200, 4800);
    receiver = std::make_unique<KLeicaRS500Receiver>(false);
    OpenAt(4800);
    ASSERT_TRUE(receiver->Ping(1000));
    EXPECT_TRUE(receiver->ChangeBaud(115200));
    clock.Sleep(250);
    EXPECT_EQ(DeviceBaud(), 115200u);
    OpenAt(115200);
    EXPECT_TRUE(receiver->Ping(1000));
    // A rate the receiver has no code for goes nowhere.
    EXPECT_FALSE(receiver->ChangeBaud(230400));
    EXPECT_EQ(DeviceBaud(), 115200u);
}

TEST_F(LeicaOverSimulator, CRS1000RateChangeNeedsNoAcknowledgement) {
    Build(KLeicaDevice::Model::CRS1000, 2400);
    receiver = std::make_unique<KLeicaCRS1000Receiver>(false);
    OpenAt(2400);
    EXPECT_TRUE(receiver->ChangeBaud(57600));
    clock.Sleep(250);
    EXPECT_EQ(DeviceBaud(), 57600u);
    OpenAt(57600);
    EXPECT_TRUE(receiver->Ping(1000));
}

TEST_F(LeicaOverSimulator, OnlyTheGMX900AnswersControlCommandFour) {
    Build(KLeicaDevice::Model::GMX900, 9600);
    receiver = std::make_unique<KLeicaCRS1000Receiver>(false);
    OpenAt(9600);
    EXPECT_TRUE(receiver->SendControlCommand(4, true));
    receiver->Detach();
    link->Close();
    TearDown();

    Build(KLeicaDevice::Model::CRS1000, 9600);
    receiver = std::make_unique<KLeicaCRS1000Receiver>(false);
    OpenAt(9600);
    const int64_t start = clock.NowMs();
    EXPECT_FALSE(receiver->SendControlCommand(4, true));
    EXPECT_EQ(clock.NowMs() - start, 5000);
}

TEST_F(LeicaOverSimulator, BothTimeQueriesReadTheReceiversClock) {
    Build(KLeicaDevice::Model::System500, 9600);
    receiver = std::make_unique<KLeicaRS500Receiver>(false);
    OpenAt(9600);
    KGPSTime calendar(0);
    ASSERT_TRUE(receiver->QueryTime(calendar));
    EXPECT_LE(std::abs(calendar.utc - KGPSTime().utc), 1);
    TearDown();

    Build(KLeicaDevice::Model::CRS1000, 9600);
    receiver = std::make_unique<KLeicaCRS1000Receiver>(false);
    OpenAt(9600);
    KGPSTime ofWeek(0);
    ASSERT_TRUE(receiver->QueryTime(ofWeek));
    const KGPSTime now;
    EXPECT_EQ(ofWeek.GetGPSWeek(), now.GetGPSWeek());
    EXPECT_NEAR(ofWeek.GetSecondsOfWeek(), now.GetSecondsOfWeek(), 1.0);
}

} // namespace
