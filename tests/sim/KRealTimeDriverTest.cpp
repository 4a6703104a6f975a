#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KRealTimeDriver.h"
#include "sim/KSimComm.h"
#include "sim/KSimLB2Parser.h"
#include "sim/KSimWorld.h"

namespace {

TEST(KRealTimeDriver, RunsTheWorldInRealTime) {
    KSimWorld world(std::make_unique<KLeicaDevice>(KLeicaDevice::Model::GMX900, 38400));
    KSimComm link(world);
    link.BaudRate = 38400;
    ASSERT_TRUE(link.Open(0));
    KRealTimeDriver driver(world);
    std::atomic<int64_t> ticks{0};
    driver.SetTickHook([&](int64_t) { ticks.fetch_add(1); });
    ASSERT_TRUE(driver.Start());
    EXPECT_FALSE(driver.Start());

    const auto start = std::chrono::steady_clock::now();
    const std::vector<uint8_t> ping = KSimLB2Parser::Frame({0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00});
    ASSERT_TRUE(link.Write(ping.data(), static_cast<uint32_t>(ping.size())));
    KSimLB2Parser parser;
    bool answered = false;
    while (!answered && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        uint8_t buffer[64];
        const int32_t n = link.ReadAvailable(buffer, sizeof buffer);
        for (int32_t i = 0; i < n; ++i) parser.Feed(buffer[i]);
        for (std::vector<uint8_t> p; parser.Next(p);) answered = answered || p[0] == 0x85;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(answered);
    driver.Stop();
    EXPECT_FALSE(driver.Running());
    const int64_t stopped = world.NowNs();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(ticks.load(), 0);
    // The world's time followed the wall: never ahead of it.
    EXPECT_LE(static_cast<double>(stopped) / 1e9, elapsed + 0.1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(world.NowNs(), stopped);  // nothing runs after Stop
    link.Close();
}

} // namespace
