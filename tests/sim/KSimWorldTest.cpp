#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KSimLeicaParser.h"
#include "sim/KSimReplayDevice.h"
#include "sim/KSimWorld.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kMs = 1000000;
const Bytes kPingFrame = KSimLeicaParser::Frame({0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00});

std::unique_ptr<KSimWorld> MakeWorld(uint32_t baud, bool streaming, KSimWorldOptions options = {}) {
    KSimDeviceOptions device;
    device.streaming = streaming;
    return std::make_unique<KSimWorld>(std::make_unique<KLeicaDevice>(KLeicaDevice::Model::CRS1000, baud, device),
                                       options);
}

size_t Requests(KSimWorld& world) {
    return world.WithDevice([](KSimDevice& d) { return static_cast<KLeicaDevice&>(d).Requests().size(); });
}

TEST(KSimWorld, RequestReachesTheDeviceWhenItsLastStopBitIsSampled) {
    auto world = MakeWorld(9600, false);
    ASSERT_TRUE(world->HostOpen(9600));
    world->AdvanceTo(3 * kMs);
    ASSERT_TRUE(world->HostWrite(kPingFrame.data(), kPingFrame.size()));
    EXPECT_EQ(world->HostWriteDoneNs(), 3 * kMs + 14 * 1041666);
    const int64_t lastStopSample = 3 * kMs + 13 * 1041666 + 989583;
    world->AdvanceTo(lastStopSample - 1);
    EXPECT_EQ(Requests(*world), 0u);
    world->AdvanceTo(lastStopSample);
    EXPECT_EQ(Requests(*world), 1u);
    // The reply (14 bytes) starts 5 ms later and is whole once its last stop bit is sampled.
    world->AdvanceTo(lastStopSample + 5 * kMs + 13 * 1041666 + 989583 - 1);
    EXPECT_EQ(world->HostReadable(), 13u);
    world->AdvanceBy(1);
    EXPECT_EQ(world->HostReadable(), 14u);
    world->AdvanceTo(0);  // time never runs backwards
    EXPECT_EQ(world->NowNs(), lastStopSample + 5 * kMs + 13 * 1041666 + 989583);
}

TEST(KSimWorld, HostFramingErrorPolicyAppliesToWhatTheHostReads) {
    KSimWorldOptions options;
    options.hostFramingErrors = KUartLine::FramingErrorPolicy::DeliverNul;
    auto world = MakeWorld(9600, true, options);
    ASSERT_TRUE(world->HostOpen(19200));  // twice the receiver's rate: low stop bits galore
    world->AdvanceTo(3500 * kMs);
    std::vector<uint8_t> bytes(world->HostReadable());
    ASSERT_FALSE(bytes.empty());
    world->HostRead(bytes.data(), bytes.size());
    EXPECT_GT(world->HostFramingErrors(), 0u);
    EXPECT_GE(static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), 0)), world->HostFramingErrors());

    options.hostFramingErrors = KUartLine::FramingErrorPolicy::Drop;
    auto dropping = MakeWorld(9600, true, options);
    dropping->HostOpen(19200);
    dropping->AdvanceTo(3500 * kMs);
    EXPECT_EQ(dropping->HostReadable() + dropping->HostFramingErrors(), bytes.size());
}

TEST(KSimWorld, BreakFromTheHostIsNoRequest) {
    auto world = MakeWorld(9600, false);
    world->HostOpen(9600);
    ASSERT_TRUE(world->HostSendBreak(100 * kMs));
    world->AdvanceBy(110 * kMs);
    ASSERT_TRUE(world->HostWrite(kPingFrame.data(), kPingFrame.size()));
    world->AdvanceBy(100 * kMs);
    EXPECT_EQ(Requests(*world), 1u);
    EXPECT_EQ(world->HostReadable(), 14u);
    world->HostClose();
    EXPECT_FALSE(world->HostSendBreak(kMs));
    EXPECT_FALSE(world->HostWrite(kPingFrame.data(), kPingFrame.size()));
}

TEST(KSimWorld, HostQueueHoldsWhatTheDriverWould) {
    KSimWorldOptions options;
    options.hostQueueCapacity = 10;
    auto world = MakeWorld(115200, false, options);
    world->HostOpen(115200);
    world->HostWrite(kPingFrame.data(), kPingFrame.size());
    world->AdvanceBy(20 * kMs);
    EXPECT_EQ(world->HostReadable(), 10u);
    EXPECT_EQ(world->HostBytesLost(), 4u);
}

TEST(KSimWorld, ReaderAndDriverThreadsMeetSafely) {
    auto world = MakeWorld(115200, true);
    world->HostOpen(115200);
    std::atomic<bool> done{false};
    std::atomic<size_t> read{0};
    std::thread reader([&] {
        uint8_t b[16];
        while (!done.load())
            if (world->HostReadExact(b, 4)) read.fetch_add(4);
    });
    for (int i = 0; i < 2000; ++i) {
        if (i % 100 == 0) world->HostWrite(kPingFrame.data(), kPingFrame.size());
        world->AdvanceBy(kMs);
    }
    // Let the reader take what is left (it may have started late on a loaded machine).
    for (int i = 0; i < 2000 && world->HostReadable() >= 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    done.store(true);
    reader.join();
    // Twenty answers and one position frame, read four bytes at a time.
    EXPECT_EQ(read.load(), 20u * 14 + 40);
}

// A recording plays back to back and starts over at its end, so a listener that comes late or
// stays long hears the stream as a receiver would keep sending it.
TEST(KSimWorld, AReplayedRecordingStartsOverAtItsEnd) {
    Bytes recording(150);
    for (size_t i = 0; i < recording.size(); ++i) recording[i] = static_cast<uint8_t>(i);
    KSimWorld world(std::make_unique<KSimReplayDevice>(recording, 115200u, "counting"));
    ASSERT_TRUE(world.HostOpen(115200));
    world.AdvanceTo(100 * kMs);  // about 1150 bytes at 115200 baud: the recording over seven times
    Bytes heard(world.HostReadable());
    ASSERT_GT(heard.size(), 3 * recording.size());
    world.HostRead(heard.data(), heard.size());
    for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(heard[i], recording[i % recording.size()]) << i;
}

} // namespace
