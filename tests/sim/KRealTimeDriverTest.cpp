#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KRealTimeDriver.h"
#include "sim/KSimComm.h"
#include "sim/KSimLeicaParser.h"
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
    const std::vector<uint8_t> ping = KSimLeicaParser::Frame({0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00});
    ASSERT_TRUE(link.Write(ping.data(), static_cast<uint32_t>(ping.size())));
    KSimLeicaParser parser;
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

// A device that only wakes when told to, and counts its wakes.
class WakeAtDevice : public KSimDevice {
public:
    explicit WakeAtDevice(int64_t firstWakeNs) : wakeNs(firstWakeNs) {}
    void Attach(KSimDeviceLink*, int64_t) override {}
    void OnByte(int64_t, uint8_t) override {}
    int64_t NextWakeNs() const override { return wakeNs; }
    void Wake(int64_t) override {
        wakeNs = kNever;
        woken.store(true);
    }
    uint32_t Baud() const override { return 9600; }
    std::atomic<bool> woken{false};

private:
    int64_t wakeNs;
};

bool WaitFor(const std::function<bool()>& done) {
    // Generous: a loaded machine may hold the driver's thread back for seconds.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Idle mode: a quiet world costs a wake-up per longest sleep, not one per tick; a device's wake
// is still kept, and a poke ticks at once. (A slow machine only means fewer ticks, never more.)
TEST(KRealTimeDriver, IdleModeSleepsUntilTheNextEventOrAPoke) {
    auto owned = std::make_unique<WakeAtDevice>(300'000'000);
    WakeAtDevice& device = *owned;
    KSimWorld world(std::move(owned));
    KRealTimeDriver driver(world);
    std::atomic<int64_t> ticks{0};
    driver.SetTickHook([&](int64_t) { ticks.fetch_add(1); });
    driver.SetIdleUntilNextEvent(true, 100);
    ASSERT_TRUE(driver.Start());

    ASSERT_TRUE(WaitFor([&] { return device.woken.load(); }));
    EXPECT_GE(world.NowNs(), 300'000'000);
    // Up to the wake at 300 ms: at most one tick per 100 ms of sleep, plus the wake's own.
    EXPECT_LE(ticks.load(), 6);

    driver.Stop();

    // With nothing due for a minute, only a poke brings the next tick within the wait.
    KRealTimeDriver sleeper(world);
    std::atomic<int64_t> pokedTicks{0};
    sleeper.SetTickHook([&](int64_t) { pokedTicks.fetch_add(1); });
    sleeper.SetIdleUntilNextEvent(true, 60'000);
    ASSERT_TRUE(sleeper.Start());
    sleeper.Poke();
    EXPECT_TRUE(WaitFor([&] { return pokedTicks.load() > 0; }));
    sleeper.Stop();
}

} // namespace
