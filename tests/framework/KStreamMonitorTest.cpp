#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/KMemoryComm.h"
#include "log/Logs.h"
#include "monitors/KStreamMonitor.h"
#include "support/EndlessComm.h"
#include "support/LogCapture.h"
#include "time/KClock.h"
#include "time/KGPSTime.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Bytes = std::vector<uint8_t>;

// Polls a condition that another thread will make true; the bound only turns a hang into a
// failure and is never reached by a passing run.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A virtual clock safe to share with the reader thread. Sleeps return at once (after letting
// other threads run) and are recorded.
class FakeClock : public KClock {
public:
    void Sleep(int32_t ms) override {
        {
            std::lock_guard<std::mutex> guard(lock);
            sleeps.push_back(ms);
            if (onSleep) onSleep(ms);
        }
        now += ms;
        std::this_thread::yield();
    }
    int64_t NowMs() override { return now.load(); }
    int64_t WallSeconds() override { return KGPSTime::UTCFromYMDHMS(2007, 1, 6, 14, 5, 9); }

    std::vector<int32_t> Sleeps() {
        std::lock_guard<std::mutex> guard(lock);
        return sleeps;
    }
    size_t SleepCount() {
        std::lock_guard<std::mutex> guard(lock);
        return sleeps.size();
    }

    std::atomic<int64_t> now{1000};
    std::function<void(int32_t)> onSleep;  // set before the reader starts

private:
    std::mutex lock;
    std::vector<int32_t> sleeps;
};

// A toy protocol: 'S', a length byte, that many payload bytes. Other bytes are skipped with a
// stream error line, as a real framer's hunt would.
class TestFramer : public KStreamMonitor {
public:
    ~TestFramer() override { Stop(); }

    bool ReadStep() override {
        steps++;
        {
            std::lock_guard<std::mutex> guard(threadLock);
            stepThreads.insert(std::this_thread::get_id());
        }
        const bool progress = Step();
        if (onStep) onStep(progress);
        return progress;
    }
    void ResetFramer() override {
        resets++;
        state = 0;
        count = 0;
    }

    KComm* Link() const { return link; }
    size_t StepThreadCount() {
        std::lock_guard<std::mutex> guard(threadLock);
        return stepThreads.size();
    }

    std::atomic<int> steps{0};
    std::atomic<int> resets{0};
    std::function<void(bool)> onStep;  // set before the reader starts

private:
    bool Step() {
        switch (state) {
        case 0: {
            uint8_t byte;
            if (!Read(&byte, 1)) return false;
            if (byte == 'S') {
                buffer[0] = byte;
                count = 1;
                state = 1;
            } else {
                StreamErrorLog(this, "Test - skipped %02X", byte);
            }
            return true;
        }
        case 1:
            if (!Read(&buffer[1], 1)) return false;
            count = 2;
            if (buffer[1] == 0) return Deliver();
            state = 2;
            return true;
        default:
            if (!Read(&buffer[2], buffer[1])) return false;
            count = 2 + buffer[1];
            return Deliver();
        }
    }
    bool Deliver() {
        PushMessage(std::make_unique<StreamMessage>(buffer, count));
        state = 0;
        count = 0;
        return true;
    }

    uint8_t buffer[2 + 255] = {};
    int32_t count = 0;
    std::mutex threadLock;
    std::set<std::thread::id> stepThreads;
};

Bytes Concat2(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Frame(const std::string& payload) {
    Bytes out(2 + payload.size());
    out[0] = 'S';
    out[1] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), out.begin() + 2);
    return out;
}

std::string Text(const StreamMessage& message) {
    return std::string(reinterpret_cast<const char*>(message.data.get()), static_cast<size_t>(message.length));
}

std::unique_ptr<StreamMessage> Numbered(uint32_t n) {
    uint8_t bytes[4];
    std::memcpy(bytes, &n, 4);
    return std::make_unique<StreamMessage>(bytes, 4);
}

uint32_t Number(const StreamMessage& message) {
    uint32_t n = 0;
    std::memcpy(&n, message.data.get(), 4);
    return n;
}

// Runs ReadStep on the calling thread until it answers false.
void Drain(KStreamMonitor& monitor) {
    for (int guard = 0; monitor.ReadStep(); ++guard) ASSERT_LT(guard, 100000);
}

std::vector<std::string> PopAll(KStreamMonitor& monitor) {
    std::vector<std::string> out;
    while (auto message = monitor.PopMessage()) out.push_back(Text(*message));
    return out;
}

struct StreamMonitor : ::testing::Test {
    StreamMonitor() : scope(clock) { link.Open(0); }
    FakeClock clock;
    KScopedClock scope;
    KMemoryComm link;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// StreamMessage

TEST(StreamMessage, CopiesTheBytesAndStartsAtTheEpoch) {
    uint8_t bytes[] = {1, 2, 3};
    StreamMessage message(bytes, 3);
    bytes[0] = 9;
    ASSERT_EQ(message.length, 3);
    EXPECT_EQ(message.data[0], 1);
    EXPECT_EQ(message.data[2], 3);
    EXPECT_EQ(message.stamp.utc, KGPSTime::kGpsEpoch);
    EXPECT_EQ(message.stamp.nanoseconds, 0);
}

TEST(StreamMessage, WithoutBytesTheRecordIsEmpty) {
    const uint8_t byte = 7;
    for (const StreamMessage* m : {new StreamMessage(), new StreamMessage(nullptr, 5),
                                   new StreamMessage(&byte, 0), new StreamMessage(&byte, -3)}) {
        EXPECT_EQ(m->data, nullptr);
        EXPECT_EQ(m->length, 0);
        delete m;
    }
}

// ---------------------------------------------------------------------------------------------
// The queue

TEST(MonitorQueue, FirstInFirstOut) {
    TestFramer monitor;
    EXPECT_EQ(monitor.PopMessage(), nullptr);
    EXPECT_EQ(monitor.MessageCount(), 0);
    for (uint32_t i = 0; i < 5; ++i) monitor.PushMessage(Numbered(i));
    monitor.PushMessage(nullptr);  // ignored: it would read as an empty queue
    EXPECT_EQ(monitor.MessageCount(), 5);
    for (uint32_t i = 0; i < 5; ++i) {
        auto message = monitor.PopMessage();
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(Number(*message), i);
    }
    EXPECT_EQ(monitor.PopMessage(), nullptr);
    EXPECT_EQ(monitor.MessageCount(), 0);
}

TEST(MonitorQueue, BeyondFiftyThousandTheOldestAreDropped) {
    TestFramer monitor;
    for (uint32_t i = 0; i < 50000; ++i) monitor.PushMessage(Numbered(i));
    EXPECT_EQ(monitor.MessageCount(), 50000);
    monitor.PushMessage(Numbered(50000));  // the 50001st
    EXPECT_EQ(monitor.MessageCount(), 50000);
    for (uint32_t i = 50001; i < 50010; ++i) monitor.PushMessage(Numbered(i));
    EXPECT_EQ(monitor.MessageCount(), 50000);

    auto first = monitor.PopMessage();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Number(*first), 10u);
    uint32_t last = 0;
    int popped = 1;
    while (auto message = monitor.PopMessage()) {
        last = Number(*message);
        ++popped;
    }
    EXPECT_EQ(popped, 50000);
    EXPECT_EQ(last, 50009u);
}

TEST(MonitorQueue, FlushDeletesQueuedMessagesOnly) {
    TestFramer monitor;
    for (uint32_t i = 0; i < 3; ++i) monitor.PushMessage(Numbered(i));
    auto popped = monitor.PopMessage();
    monitor.FlushMessages();
    EXPECT_EQ(monitor.MessageCount(), 0);
    EXPECT_EQ(monitor.PopMessage(), nullptr);
    ASSERT_NE(popped, nullptr);
    EXPECT_EQ(Number(*popped), 0u);  // still whole: the receiver owns it
    monitor.PushMessage(Numbered(7));
    EXPECT_EQ(Number(*monitor.PopMessage()), 7u);
}

// ---------------------------------------------------------------------------------------------
// Start and Stop

TEST_F(StreamMonitor, StartResetsTheFramerAndKeepsLinkAndName) {
    TestFramer monitor;
    monitor.boundedScan = true;
    std::string name = "Trevask";
    monitor.Start(&link, false, name.c_str());
    name = "changed";  // the monitor keeps its own copy
    EXPECT_TRUE(monitor.IsStarted());
    EXPECT_FALSE(monitor.boundedScan);
    EXPECT_EQ(monitor.resets.load(), 1);
    EXPECT_EQ(monitor.Link(), &link);
    ASSERT_NE(monitor.ClientName(), nullptr);
    EXPECT_STREQ(monitor.ClientName(), "Trevask");
    link.Feed(Frame("abc"));
    Drain(monitor);
    EXPECT_THAT(PopAll(monitor), ElementsAre(std::string("S\x03" "abc")));
    monitor.Stop();
}

TEST_F(StreamMonitor, StartTwiceDoesNothingTheSecondTime) {
    KMemoryComm other;
    other.Open(0);
    TestFramer monitor;
    monitor.Start(&link, true, "Trevask");
    monitor.Start(&other, true, "Other");
    EXPECT_EQ(monitor.resets.load(), 1);
    EXPECT_STREQ(monitor.ClientName(), "Trevask");
    EXPECT_EQ(monitor.Link(), &link);
    other.Feed(Frame("other"));
    link.Feed(Frame("mine"));
    ASSERT_TRUE(WaitUntil([&] { return monitor.MessageCount() == 1; }));
    // Let the reader go idle a few times: the other link's bytes are never read.
    const size_t sleeps = clock.SleepCount();
    ASSERT_TRUE(WaitUntil([&] { return clock.SleepCount() > sleeps + 3; }));
    EXPECT_EQ(other.Readable(), Frame("other").size());
    EXPECT_EQ(monitor.StepThreadCount(), 1u);
    EXPECT_THAT(PopAll(monitor), ElementsAre(std::string("S\x04" "mine")));
    monitor.Stop();
}

TEST_F(StreamMonitor, StartWithoutAnOpenLinkOrANameLeavesTheMonitorStopped) {
    KMemoryComm closed;
    TestFramer monitor;
    monitor.Start(&closed, true, "Trevask");
    monitor.Start(&link, true, nullptr);
    monitor.Start(nullptr, true, "Trevask");
    EXPECT_FALSE(monitor.IsStarted());
    EXPECT_EQ(monitor.ClientName(), nullptr);
    EXPECT_EQ(monitor.Link(), nullptr);
    EXPECT_EQ(monitor.resets.load(), 0);
    EXPECT_EQ(monitor.StepThreadCount(), 0u);

    // Stop then does nothing at all: the queue is left alone.
    monitor.PushMessage(Numbered(1));
    monitor.Stop();
    EXPECT_EQ(monitor.MessageCount(), 1);
    // A later start on an open link works.
    monitor.Start(&link, false, "Trevask");
    EXPECT_TRUE(monitor.IsStarted());
    monitor.Stop();
}

TEST_F(StreamMonitor, ReadStepOnAStoppedMonitorReadsNothing) {
    TestFramer monitor;
    link.Feed(Frame("abc"));
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 5u);
}

TEST_F(StreamMonitor, StopEmptiesTheQueueAndForgetsLinkAndName) {
    TestFramer monitor;
    monitor.Start(&link, true, "Trevask");
    link.Feed(Concat2(Frame("one"), Frame("two")));
    ASSERT_TRUE(WaitUntil([&] { return monitor.MessageCount() == 2; }));
    auto kept = monitor.PopMessage();
    monitor.Stop();
    EXPECT_FALSE(monitor.IsStarted());
    EXPECT_EQ(monitor.MessageCount(), 0);
    EXPECT_EQ(monitor.ClientName(), nullptr);
    EXPECT_EQ(monitor.Link(), nullptr);
    EXPECT_EQ(Text(*kept), std::string("S\x03" "one"));

    monitor.Stop();  // a second Stop does nothing
}

TEST_F(StreamMonitor, StopWithoutAReaderThread) {
    TestFramer monitor;
    monitor.Start(&link, false, "Trevask");
    link.Feed(Frame("x"));
    Drain(monitor);
    EXPECT_EQ(monitor.MessageCount(), 1);
    monitor.Stop();
    EXPECT_EQ(monitor.MessageCount(), 0);
    EXPECT_EQ(monitor.StepThreadCount(), 1u);  // only this thread ever stepped
}

TEST_F(StreamMonitor, ARestartBeginsWithAResetFramer) {
    LogCapture capture;
    TestFramer monitor;
    monitor.Start(&link, false, "Trevask");
    link.Feed(Bytes{'S', 5, 'a', 'b'});  // half a message
    Drain(monitor);
    monitor.Stop();
    EXPECT_EQ(link.Readable(), 2u);  // its payload was still awaited
    link.Feed(Bytes{'c', 'd', 'e'});
    link.Feed(Frame("ok"));

    monitor.Start(&link, false, "Trevask");
    EXPECT_EQ(monitor.resets.load(), 2);
    Drain(monitor);
    // The old half message is never completed: its tail is hunted through as noise.
    EXPECT_THAT(PopAll(monitor), ElementsAre(std::string("S\x02" "ok")));
    EXPECT_THAT(capture.StreamErrors(), ElementsAre("Test - skipped 61", "Test - skipped 62",
                                                    "Test - skipped 63", "Test - skipped 64",
                                                    "Test - skipped 65"));
    monitor.Stop();
}

TEST_F(StreamMonitor, ARestartedReaderThreadFramesAgain) {
    TestFramer monitor;
    for (int round = 0; round < 5; ++round) {
        monitor.Start(&link, true, "Trevask");
        link.Feed(Frame("r" + std::to_string(round)));
        ASSERT_TRUE(WaitUntil([&] { return monitor.MessageCount() == 1; }));
        EXPECT_THAT(PopAll(monitor), ElementsAre("S\x02r" + std::to_string(round)));
        monitor.Stop();
    }
    EXPECT_EQ(monitor.resets.load(), 5);
}

TEST_F(StreamMonitor, DestroyingAStartedMonitorEndsItsThread) {
    auto monitor = std::make_unique<TestFramer>();
    monitor->Start(&link, true, "Trevask");
    link.Feed(Frame("left in the queue"));
    ASSERT_TRUE(WaitUntil([&] { return monitor->MessageCount() == 1; }));
    monitor.reset();  // the queued message goes with it
    link.Feed(Frame("nobody reads this"));
    EXPECT_EQ(link.Readable(), 19u);
}

// ---------------------------------------------------------------------------------------------
// The reader thread

TEST_F(StreamMonitor, TheReaderDeliversMessagesInOrderWhileTheReceiverPops) {
    constexpr uint32_t kMessages = 20000;
    TestFramer monitor;
    Bytes stream;
    for (uint32_t i = 0; i < kMessages; ++i) {
        const uint8_t frame[] = {'S', 2, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        stream.insert(stream.end(), frame, frame + 4);
    }
    monitor.Start(&link, true, "Trevask");
    link.Feed(stream);
    uint32_t next = 0;
    ASSERT_TRUE(WaitUntil([&] {
        while (auto message = monitor.PopMessage()) {
            EXPECT_EQ(message->length, 4);
            const uint32_t n = (uint32_t{message->data[2]} << 8) | message->data[3];
            EXPECT_EQ(n, next & 0xFFFF);
            ++next;
        }
        return next == kMessages;
    }));
    monitor.Stop();
    EXPECT_EQ(next, kMessages);
}

TEST_F(StreamMonitor, TheReaderSleepsTwentyMillisecondsThroughTheClockAfterAnIdleStep) {
    // One record of every step result and every sleep, in the order they happened.
    std::mutex lock;
    std::vector<std::string> events;
    clock.onSleep = [&](int32_t ms) {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back("sleep " + std::to_string(ms));
    };
    TestFramer monitor;
    monitor.onStep = [&](bool progress) {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(progress ? "busy" : "idle");
    };
    link.Feed(Concat2(Frame("ab"), Bytes{'x'}));
    monitor.Start(&link, true, "Trevask");
    ASSERT_TRUE(WaitUntil([&] { return clock.SleepCount() >= 5; }));
    monitor.Stop();

    std::vector<std::string> seen;
    {
        std::lock_guard<std::mutex> guard(lock);
        seen = events;
    }
    // Five busy steps (S, length, payload, x) drain the link without a pause...
    ASSERT_GE(seen.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(seen.begin(), seen.begin() + 5),
                ElementsAre("busy", "busy", "busy", "busy", "idle"));
    // ...then every idle step is followed by one 20 ms sleep, and nothing else sleeps.
    for (size_t i = 4; i < seen.size(); ++i) {
        if (i % 2 == 0) EXPECT_EQ(seen[i], "idle") << i;
        else EXPECT_EQ(seen[i], "sleep 20") << i;
    }
    for (int32_t ms : clock.Sleeps()) EXPECT_EQ(ms, 20);
}

TEST_F(StreamMonitor, TheClientNameReachesTheStreamErrorLog) {
    LogCapture capture;
    TestFramer monitor;
    monitor.Start(&link, true, "Trevask");
    link.Feed(Bytes{'x', 'y'});
    ASSERT_TRUE(WaitUntil([&] { return capture.StreamErrors().size() == 2; }));
    monitor.Stop();
    const auto path = std::filesystem::path(capture.Directory()) / "QuorvexStreamErrors_Trevask_2007_01.log";
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        // The local stamp in front depends on the machine's time zone.
        const size_t gps = line.find(" (GPS ");
        lines.push_back(gps == std::string::npos ? line : line.substr(gps));
    }
    EXPECT_THAT(lines, ElementsAre(" (GPS 2007/01/06 14:05:09) +> Trevask +> Test - skipped 78",
                                   " (GPS 2007/01/06 14:05:09) +> Trevask +> Test - skipped 79"));
}

// ---------------------------------------------------------------------------------------------
// Stop against a busy reader

namespace {

// A hunt that never finds a start: only the stop signal ends its step.
class EndlessHunter : public KStreamMonitor {
public:
    ~EndlessHunter() override { Stop(); }
    bool ReadStep() override {
        inStep = true;
        uint8_t byte;
        for (;;) {
            if (!Read(&byte, 1)) break;
            if (StopSignalled()) break;
        }
        inStep = false;
        return false;
    }
    void ResetFramer() override {}
    std::atomic<bool> inStep{false};
};

// A step that does not end until the test lets it.
class SlowFramer : public KStreamMonitor {
public:
    ~SlowFramer() override { Stop(); }
    bool ReadStep() override {
        entered = true;
        while (!release) {
            if (StopSignalled()) stopSeen = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        finished = true;
        return false;
    }
    void ResetFramer() override {}
    std::atomic<bool> entered{false}, stopSeen{false}, release{false}, finished{false};
};

} // namespace

// An unplugged adapter behind a link that would still hand out bytes if asked.
class GoneComm : public EndlessComm {
public:
    bool DeviceGone() const override { return true; }
};

TEST_F(StreamMonitor, TheReaderIdlesWithoutReadingOnceTheDeviceHasGone) {
    GoneComm gone;
    EndlessHunter monitor;
    monitor.Start(&gone, true, "Trevask");
    // A second of virtual time in idle sleeps, and not one byte asked for.
    ASSERT_TRUE(WaitUntil([&] { return clock.SleepCount() >= 50; }));
    monitor.Stop();
    EXPECT_EQ(gone.bytes.load(), 0u);
    for (int32_t ms : clock.Sleeps()) EXPECT_EQ(ms, KStreamMonitor::kIdleSleepMs);
}

TEST_F(StreamMonitor, StopEndsALongHuntAfterItsNextByte) {
    EndlessComm endless;
    EndlessHunter monitor;
    monitor.Start(&endless, true, "Trevask");
    ASSERT_TRUE(WaitUntil([&] { return endless.bytes.load() > 10000; }));
    monitor.Stop();  // would never return if the hunt missed the stop signal
    EXPECT_FALSE(monitor.inStep.load());
    const uint64_t after = endless.bytes.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(endless.bytes.load(), after);  // nothing reads the link any more
}

TEST_F(StreamMonitor, TheReaderNeverOutlivesStopEvenWhenAStepIsSlow) {
    LogCapture capture;
    SlowFramer monitor;
    monitor.Start(&link, true, "Trevask");
    ASSERT_TRUE(WaitUntil([&] { return monitor.entered.load(); }));
    std::thread releaser([&] {
        WaitUntil([&] { return monitor.stopSeen.load(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        monitor.release = true;
    });
    monitor.Stop();
    const bool finishedBeforeReturn = monitor.finished.load();
    releaser.join();
    EXPECT_TRUE(finishedBeforeReturn);
    EXPECT_THAT(capture.TextLog(), IsEmpty());  // well within the stop wait
}

TEST_F(StreamMonitor, AReaderStillBusyAfterTheStopWaitIsReportedAndStillWaitedFor) {
    LogCapture capture;
    SlowFramer monitor;
    monitor.Start(&link, true, "Trevask");
    ASSERT_TRUE(WaitUntil([&] { return monitor.entered.load(); }));
    std::thread helper([&] {
        WaitUntil([&] { return monitor.stopSeen.load(); });
        clock.now += KStreamMonitor::kStopWaitMs;  // ten seconds pass on the process clock
        WaitUntil([&] { return !capture.TextLog().empty(); });
        monitor.release = true;
    });
    monitor.Stop();
    const bool finishedBeforeReturn = monitor.finished.load();
    helper.join();
    EXPECT_TRUE(finishedBeforeReturn);
    EXPECT_THAT(capture.TextLog(),
                ElementsAre("KStreamMonitor::Stop, reader thread of Trevask still running after 10000 ms"));
}
