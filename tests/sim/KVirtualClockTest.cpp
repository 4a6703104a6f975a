#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KSimComm.h"
#include "sim/KSimLeicaParser.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "time/KClock.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(KVirtualClock, SleepAdvancesInSlicesAndCallsHooksAfterEach) {
    KVirtualClock clock(1000, 5);
    std::vector<int64_t> seen;
    clock.AddTickHook([&](int64_t now) { seen.push_back(now); });
    EXPECT_EQ(clock.NowMs(), 0);
    clock.Sleep(12);
    EXPECT_EQ(clock.NowMs(), 12);
    EXPECT_EQ(seen, (std::vector<int64_t>{5, 10, 12}));
    clock.Sleep(0);  // no time passes, but the world gets a look
    EXPECT_EQ(seen.back(), 12);
    EXPECT_EQ(seen.size(), 4u);
    clock.Sleep(-3);
    EXPECT_EQ(clock.NowMs(), 12);
}

TEST(KVirtualClock, WallSecondsIsTheBasePlusVirtualSeconds) {
    KVirtualClock clock(1700000000);
    EXPECT_EQ(clock.WallSeconds(), 1700000000);
    clock.Advance(999);
    EXPECT_EQ(clock.WallSeconds(), 1700000000);
    clock.Advance(1);
    EXPECT_EQ(clock.WallSeconds(), 1700000001);
    clock.SetWallBase(315964800);
    EXPECT_EQ(clock.WallSeconds(), 315964801);
    {
        KScopedClock scoped(clock);
        EXPECT_EQ(KClock::Current().NowMs(), 1000);
        KClock::Current().Sleep(250);
    }
    EXPECT_EQ(clock.NowMs(), 1250);
}

TEST(KVirtualClock, RemovedHooksAreNotCalledAndHooksMaySleep) {
    KVirtualClock clock(0, 10);
    int first = 0, second = 0;
    const int32_t a = clock.AddTickHook([&](int64_t) { ++first; });
    clock.AddTickHook([&](int64_t) {
        ++second;
        clock.Sleep(1);  // no recursion into the hooks: time just moves on
    });
    clock.Sleep(20);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(clock.NowMs(), 22);
    clock.RemoveTickHook(a);
    clock.Sleep(10);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 3);
}

// A host that pings a streaming receiver at every rate for 5 s each, in virtual time, the
// way the baud session's detection pass does; returns every byte the host read, with its time.
std::vector<std::pair<int64_t, uint8_t>> DetectionPass(KVirtualClock& clock) {
    KSimWorld world(std::make_unique<KLeicaDevice>(KLeicaDevice::Model::GMX900, 57600));
    KSimComm link(world);
    std::vector<std::pair<int64_t, uint8_t>> log;
    const int32_t hook = clock.AddTickHook([&](int64_t now) {
        world.AdvanceTo(now * 1000000);
        uint8_t b;
        while (link.ReadExact(&b, 1)) log.emplace_back(now, b);
    });
    const Bytes ping = KSimLeicaParser::Frame({0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00});
    for (int32_t baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        link.Close();
        link.BaudRate = baud;
        link.Open(0);
        link.Write(ping.data(), static_cast<uint32_t>(ping.size()));
        for (int i = 0; i < 50; ++i) KClock::Current().Sleep(100);
    }
    link.Close();
    clock.RemoveTickHook(hook);
    return log;
}

TEST(KVirtualClock, RunsASimulatedReceiverDeterministically) {
    KVirtualClock first(1700000000), second(1700000000);
    std::vector<std::pair<int64_t, uint8_t>> a, b;
    {
        KScopedClock scoped(first);
        a = DetectionPass(first);
    }
    {
        KScopedClock scoped(second);
        b = DetectionPass(second);
    }
    EXPECT_EQ(first.NowMs(), 40000);
    EXPECT_EQ(a, b);
    // At 57600 the host reads the ping's answer and five position frames; elsewhere garbage.
    KSimLeicaParser parser;
    for (auto& [time, byte] : a)
        if (time > 30000 && time <= 35000) parser.Feed(byte);
    int answers = 0, positions = 0;
    for (Bytes p; parser.Next(p);) {
        if (p[0] == 0x85) ++answers;
        if (p[0] == 0x50) ++positions;
    }
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(positions, 5);
    EXPECT_GT(std::count_if(a.begin(), a.end(), [](auto& e) { return e.first <= 30000; }), 0);
}

TEST(KVirtualClock, WorkerSleepsWhileAnotherThreadWatches) {
    KVirtualClock clock(0, 1);
    std::atomic<int64_t> lastHook{0};
    clock.AddTickHook([&](int64_t now) { lastHook.store(now); });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i) clock.Sleep(1);
        done.store(true);
    });
    int64_t previous = 0;
    int added = 0;
    while (!done.load()) {
        const int64_t now = clock.NowMs();
        EXPECT_GE(now, previous);
        previous = now;
        if (added < 50) clock.RemoveTickHook(clock.AddTickHook([](int64_t) {})), ++added;
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(clock.NowMs(), 2000);
    EXPECT_EQ(lastHook.load(), 2000);
}

} // namespace
