#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "PortLockProbe.h"
#include "comm/KPortRegistry.h"

namespace {

class PortRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        KPortRegistry::PortTable table;
        table[0] = KPortInfo{true, "/dev/ttyS0", "/dev/ttyS0"};
        table[2] = KPortInfo{true, "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"};
        table[23] = KPortInfo{true, "\\\\.\\COM24", "COM24"};
        KPortRegistry::InstallForTesting(table);
    }
    void TearDown() override { KPortRegistry::Teardown(); }
};

TEST_F(PortRegistry, PresenceWithinTheTwentyFourSlotsOnly) {
    KPortRegistry& registry = KPortRegistry::Instance();
    EXPECT_TRUE(registry.IsPresent(0));
    EXPECT_FALSE(registry.IsPresent(1));
    EXPECT_TRUE(registry.IsPresent(2));
    EXPECT_TRUE(registry.IsPresent(23));
    EXPECT_FALSE(registry.IsPresent(24));
    EXPECT_FALSE(registry.IsPresent(-1));
    EXPECT_FALSE(registry.LockPort(1));
    EXPECT_FALSE(registry.LockPort(24));
    EXPECT_FALSE(registry.LockPort(-5));
    EXPECT_FALSE(registry.UnlockPort(1));
    EXPECT_FALSE(registry.UnlockPort(24));
}

TEST_F(PortRegistry, NamesAndLookUpByDeviceOrLabel) {
    KPortRegistry& registry = KPortRegistry::Instance();
    EXPECT_EQ(registry.DevicePath(2), "/dev/ttyUSB0");
    EXPECT_EQ(registry.Label(2), "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    EXPECT_EQ(registry.DevicePath(1), "");
    EXPECT_EQ(registry.Label(30), "");
    EXPECT_EQ(registry.FindPort("/dev/ttyUSB0"), 2);
    EXPECT_EQ(registry.FindPort("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"), 2);
    EXPECT_EQ(registry.FindPort("COM24"), 23);
    EXPECT_EQ(registry.FindPort("/dev/ttyUSB1"), -1);
    EXPECT_EQ(registry.FindPort(""), -1);
}

TEST_F(PortRegistry, LockIsReentrantForItsHolderAndHeldAgainstOthers) {
    KPortRegistry& registry = KPortRegistry::Instance();
    ASSERT_TRUE(registry.LockPort(2));
    ASSERT_TRUE(registry.LockPort(2));
    auto other = std::async(std::launch::async, [&registry] {
        registry.LockPort(2);
        registry.UnlockPort(2);
        return true;
    });
    EXPECT_EQ(other.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_TRUE(registry.UnlockPort(2));
    EXPECT_EQ(other.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "one unlock of two locks still holds the port";
    EXPECT_FALSE(std::async(std::launch::async, [&registry] { return registry.UnlockPort(2); }).get())
        << "only the holder unlocks";
    EXPECT_TRUE(registry.UnlockPort(2));
    EXPECT_TRUE(other.get());
    EXPECT_FALSE(registry.UnlockPort(2)) << "no longer held";
    EXPECT_TRUE(LockableFromAnotherThread(0));
}

TEST_F(PortRegistry, TeardownEndsTheRegistry) {
    EXPECT_TRUE(KPortRegistry::Exists());
    KPortRegistry::Teardown();
    EXPECT_FALSE(KPortRegistry::Exists());
    KPortRegistry::Teardown();  // twice is harmless
    EXPECT_FALSE(KPortRegistry::Exists());
}

TEST(PortRegistryScan, TheMachinesScanOnlyListsSerialPorts) {
    KPortRegistry::Teardown();
    KPortRegistry& registry = KPortRegistry::Instance();
    for (int32_t port = 0; port < KPortRegistry::kPortCount; ++port) {
        if (!registry.IsPresent(port)) continue;
        const std::string device = registry.DevicePath(port);
        EXPECT_FALSE(device.empty());
        EXPECT_FALSE(registry.Label(port).empty());
#ifndef _WIN32
        EXPECT_EQ(device.rfind("/dev/tty", 0), 0u) << device;
        EXPECT_EQ(device.find("/dev/pts"), std::string::npos) << device;
#endif
    }
    KPortRegistry::Teardown();
}

} // namespace
