// The session's own rules (timeouts, counting of missed pings, the result of Stop) with a
// scripted receiver whose answers and timings the test decides.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <deque>

#include "comm/KSerialComm.h"
#include "session/SessionRig.h"

using ::testing::ElementsAre;

namespace {

struct PingCall {
    int32_t baud;
    int32_t timeoutMs;
    bool operator==(const PingCall& o) const { return baud == o.baud && timeoutMs == o.timeoutMs; }
};

// A port that always opens and carries nothing.
class OpenPort : public KSerialComm {
public:
    bool Open(int32_t) override {
        isOpen = true;
        return true;
    }
    bool Close() override {
        isOpen = false;
        return true;
    }
    bool Write(const void*, uint32_t) override { return true; }
    bool ReadExact(void*, uint32_t) override { return false; }
    int32_t ReadAvailable(void*, uint32_t) override { return 0; }
};

class ScriptedReceiver : public KReceiver {
public:
    ScriptedReceiver(std::deque<bool>& script, std::vector<PingCall>& pings, std::vector<int32_t>& rateChanges)
        : KReceiver(false), answers(script), calls(pings), changes(rateChanges) {}

    bool StopAllBroadcast(int32_t settleMs) override {
        KClock::Current().Sleep(settleMs);
        return true;
    }
    bool Ping(int32_t timeoutMs) override {
        calls.push_back({static_cast<KSerialComm*>(Link())->BaudRate, timeoutMs});
        const bool answer = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        KClock::Current().Sleep(answer ? 100 : timeoutMs);
        return answer;
    }
    bool ChangeBaud(int32_t baud) override {
        changes.push_back(baud);
        return true;
    }
    bool ScanTimeSpan(bool&, KGPSTime&, bool&, KGPSTime&, bool&) override { return false; }
    void Reset() override {}
    void OnDetach() override {}

private:
    std::deque<bool>& answers;
    std::vector<PingCall>& calls;
    std::vector<int32_t>& changes;
};

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        rig.session.SetLinkFactory([] { return std::make_unique<OpenPort>(); });
        rig.session.SetReceiverFactory([this](int32_t) -> std::unique_ptr<KReceiver> {
            return std::make_unique<ScriptedReceiver>(answers, calls, changes);
        });
    }
    SessionRig rig{7, 9600};
    std::deque<bool> answers;
    std::vector<PingCall> calls;
    std::vector<int32_t> changes;
};

TEST_F(Scripted, TrimbleTypesWaitThreeSecondsAtTheThreeSlowestRates) {
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() == 10; });
    ASSERT_TRUE(rig.session.Start(0, 9600, 0, 13));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(calls, ElementsAre(PingCall{9600, 2000}, PingCall{1200, 3000}, PingCall{2400, 3000},
                                   PingCall{4800, 3000}, PingCall{9600, 1000}, PingCall{19200, 1000},
                                   PingCall{38400, 1000}, PingCall{57600, 1000}, PingCall{115200, 1000},
                                   PingCall{1200, 3000}));
    EXPECT_TRUE(changes.empty());
}

TEST_F(Scripted, OtherTypesWaitOneSecondPerRate) {
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() == 3; });
    ASSERT_TRUE(rig.session.Start(0, 9600, 0, 11));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(calls, ElementsAre(PingCall{9600, 2000}, PingCall{1200, 1000}, PingCall{2400, 1000}));
}

TEST_F(Scripted, OneMissedMonitoringPingIsForgivenTwoInARowAreNot) {
    // Pinging answers; monitoring: yes, no, yes, no, no -> detection.
    answers = {true, true, false, true, false, false};
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.back().kind == 2; });
    ASSERT_TRUE(rig.session.Start(0, 19200, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 19200), R(1, 19200), R(1, 19200), R(1, 19200), R(1, 19200),
                                           R(1, 19200), R(2, 1200)));
    EXPECT_FALSE(rig.session.Stop());  // the second miss cleared the confirmation
}

TEST_F(Scripted, StopWithExactlyOneMissSinceTheLastAnswerStillConfirms) {
    answers = {true, true, false};  // the third report's ping (the one under way at the stop) misses
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() == 3; });
    ASSERT_TRUE(rig.session.Start(0, 19200, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_TRUE(rig.session.Stop());
}

TEST_F(Scripted, ARateFoundIsChangedToTheTargetAndPingedThere) {
    answers = {false, false, true, true};  // target silent, 1200 silent, 2400 answers, target answers
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.back().kind == 1; });
    ASSERT_TRUE(rig.session.Start(0, 115200, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(changes, ElementsAre(115200));
    EXPECT_THAT(calls, ElementsAre(PingCall{115200, 2000}, PingCall{1200, 1000}, PingCall{2400, 1000},
                                   PingCall{115200, 2000}, PingCall{115200, 1000}));
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 115200), R(2, 1200), R(2, 2400), R(0, 115200), R(1, 115200)));
}

TEST_F(Scripted, ALastKnownRateOutsideTheTableIsTreatedAsUnknown) {
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() == 3; });
    ASSERT_TRUE(rig.session.Start(0, 9600, 300, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 9600), R(2, 1200), R(2, 2400)));
}

TEST_F(Scripted, StepsArePacedBy250Milliseconds) {
    answers = {true, true, true, true};
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() == 4; });
    ASSERT_TRUE(rig.session.Start(0, 9600, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    const auto reports = rig.Reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].atMs, 2000);  // after the settle time of StopAllBroadcast
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_EQ(reports[i].atMs - reports[i - 1].atMs, 100 + 250);
}

} // namespace
