#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KSimComm.h"
#include "sim/KSimLeicaParser.h"
#include "sim/KSimWorld.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kMs = 1000000;
const Bytes kPing = {0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00};

std::unique_ptr<KSimWorld> MakeWorld(uint32_t baud, bool streaming = false) {
    KSimDeviceOptions options;
    options.streaming = streaming;
    return std::make_unique<KSimWorld>(std::make_unique<KLeicaDevice>(KLeicaDevice::Model::CRS1000, baud, options));
}

// The reply to one ping, 14 bytes at 115200: arrives well within 10 ms.
void Ping(KSerialComm& link, KSimWorld& world) {
    const Bytes frame = KSimLeicaParser::Frame(kPing);
    ASSERT_TRUE(link.Write(frame.data(), static_cast<uint32_t>(frame.size())));
    world.AdvanceBy(10 * kMs);
}

TEST(KSimComm, RunsWhereAKSerialCommIsExpected) {
    auto world = MakeWorld(115200);
    std::unique_ptr<KSerialComm> link = std::make_unique<KSimComm>(*world);
    link->PortNumber = 3;
    link->BaudRate = 115200;
    EXPECT_FALSE(link->IsOpen());
    ASSERT_TRUE(link->Open(0));
    EXPECT_TRUE(link->IsOpen());
    EXPECT_EQ(world->HostBaud(), 115200u);
    Ping(*link, *world);
    uint8_t reply[14];
    ASSERT_TRUE(link->ReadExact(reply, sizeof reply));
    EXPECT_EQ(reply[0], 0x9C);
    EXPECT_EQ(reply[4], 0x85);
    EXPECT_TRUE(link->Close());
    EXPECT_FALSE(link->IsOpen());
    EXPECT_FALSE(world->HostIsOpen());
}

TEST(KSimComm, ReadExactIsAllOrNothing) {
    auto world = MakeWorld(115200);
    KSimComm link(*world);
    link.BaudRate = 115200;
    ASSERT_TRUE(link.Open(0));
    Ping(link, *world);
    uint8_t buffer[16] = {};
    EXPECT_FALSE(link.ReadExact(buffer, 15));  // 14 waiting: nothing taken
    EXPECT_FALSE(link.ReadExact(buffer, 0));
    EXPECT_EQ(link.ReadAvailable(buffer, 0), 0);
    ASSERT_TRUE(link.ReadExact(buffer, 4));
    EXPECT_EQ(buffer[0], 0x9C);
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 10);
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);
    EXPECT_FALSE(link.Write(buffer, 0));
}

TEST(KSimComm, OpenUsesBaudRateAndReopeningPurges) {
    auto world = MakeWorld(9600);
    KSimComm link(*world);
    link.BaudRate = 19200;
    ASSERT_TRUE(link.Open(0));
    Ping(link, *world);  // garbage to a 9600 device: no answer
    world->AdvanceBy(100 * kMs);
    uint8_t buffer[64];
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);

    link.BaudRate = 9600;
    EXPECT_TRUE(link.Open(0));  // already open: nothing changes, the rate included
    EXPECT_EQ(world->HostBaud(), 19200u);
    link.Close();
    ASSERT_TRUE(link.Open(0));
    EXPECT_EQ(world->HostBaud(), 9600u);
    Ping(link, *world);
    world->AdvanceBy(30 * kMs);
    EXPECT_GT(world->HostReadable(), 0u);
    // Closing and opening again drops what was waiting.
    link.Close();
    ASSERT_TRUE(link.Open(0));
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);
}

TEST(KSimComm, ClosedLinkFailsAndLosesWhatArrives) {
    auto world = MakeWorld(115200);
    KSimComm link(*world);
    link.BaudRate = 115200;
    uint8_t buffer[16] = {};
    EXPECT_FALSE(link.Write(buffer, 4));
    EXPECT_FALSE(link.ReadExact(buffer, 1));
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);
    EXPECT_TRUE(link.Close());

    ASSERT_TRUE(link.Open(0));
    const Bytes frame = KSimLeicaParser::Frame(kPing);
    ASSERT_TRUE(link.Write(frame.data(), static_cast<uint32_t>(frame.size())));
    link.Close();  // the reply arrives while closed
    world->AdvanceBy(20 * kMs);
    EXPECT_EQ(world->HostBytesLost(), 14u);
    ASSERT_TRUE(link.Open(0));
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);
}

TEST(KSimComm, RefusesARateOfZero) {
    auto world = MakeWorld(9600);
    KSimComm link(*world);
    link.BaudRate = 0;
    EXPECT_FALSE(link.Open(0));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.LastOpenError().kind, KOpenError::Settings);
    EXPECT_EQ(link.LastOpenError().text, "Unable to initialize COM Port to requested settings");
    char name[16];
    link.GetPortName(name, sizeof name);
    EXPECT_STREQ(name, "SIM");
}

} // namespace
