#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>

#include "session/KBaudSession.h"
#include "session/SessionRig.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

bool IsRateChange(const std::vector<uint8_t>& payload) {
    return (payload.size() >= 2 && payload[0] == 0xFA && payload[1] == 0x82) ||
           (payload.size() >= 2 && payload[0] == 0x80 && payload[1] == 0x00);
}

size_t CountKind(const std::vector<StatusReport>& reports, int32_t kind) {
    return static_cast<size_t>(std::count_if(reports.begin(), reports.end(), [&](const StatusReport& r) { return r.kind == kind; }));
}

// ---------------------------------------------------------------------------------------------
// Over a simulated Leica receiver

TEST(KBaudSession, AReceiverAlreadyAtTheTargetIsMonitoredAndNeverSentARateChange) {
    SessionRig rig(7, 115200);
    rig.StopWhen([](const std::vector<StatusReport>& r) { return CountKind(r, 1) == 4; });
    ASSERT_TRUE(rig.session.Start(0, 115200, 115200, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    const auto reports = rig.Reports();
    EXPECT_THAT(reports, ElementsAre(R(0, 115200), R(1, 115200), R(1, 115200), R(1, 115200), R(1, 115200)));
    // Each monitoring step lasts its ping (at most 1000 ms) and the 250 ms pause.
    for (size_t i = 2; i < reports.size(); ++i) EXPECT_LE(reports[i].atMs - reports[i - 1].atMs, 1250);
    EXPECT_TRUE(rig.session.Stop());
    for (const auto& request : rig.DeviceRequests()) EXPECT_FALSE(IsRateChange(request));
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
    EXPECT_EQ(rig.current.load(), nullptr);  // the worker deleted its receiver
}

TEST(KBaudSession, LastKnownRateSkipsTheSlowerRatesOnTheFirstPass) {
    SessionRig rig(7, 9600);
    rig.StopWhen([](const std::vector<StatusReport>& r) { return CountKind(r, 1) == 1; });
    ASSERT_TRUE(rig.session.Start(0, 115200, 9600, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 115200), R(2, 9600), R(0, 115200), R(1, 115200)));
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
    // The stop came with the monitoring report; the ping already under way still answered.
    EXPECT_TRUE(rig.session.Stop());
}

TEST(KBaudSession, AWrongLastKnownRateCostsOnePassThenDetectionStartsAt1200) {
    SessionRig rig(6, 2400);
    rig.StopWhen([](const std::vector<StatusReport>& r) { return CountKind(r, 1) == 2; });
    ASSERT_TRUE(rig.session.Start(0, 57600, 19200, 6));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 57600), R(2, 19200), R(2, 38400), R(2, 57600), R(2, 115200),
                                           R(2, 1200), R(2, 2400), R(0, 57600), R(1, 57600), R(1, 57600)));
    EXPECT_TRUE(rig.session.Stop());
    EXPECT_EQ(rig.DeviceBaud(), 57600u);
}

TEST(KBaudSession, AReceiverThatFallsBackIsDetectedAgainFrom1200AfterTwoMissedPings) {
    KSimDeviceOptions options;
    options.revertAfterMs = 4000;  // goes back to 4800 a while after switching
    SessionRig rig(4, 4800, options);
    rig.StopWhen([](const std::vector<StatusReport>& r) {
        return r.size() >= 2 && r.back().kind == 1 && CountKind(r, 0) == 3;
    });
    ASSERT_TRUE(rig.session.Start(0, 38400, 0, 4));
    ASSERT_TRUE(rig.WaitForWorker());
    const auto reports = rig.Reports();
    // Found at 4800, switched, monitored, lost: the next report after the monitoring ones is
    // detection at 1200, a full pass.
    const auto firstDetect = std::find(reports.begin(), reports.end(), R(2, 4800));
    ASSERT_NE(firstDetect, reports.end());
    const auto lost = std::find_if(firstDetect, reports.end(), [](const StatusReport& r) { return r.kind == 1; });
    ASSERT_NE(lost, reports.end());
    const auto again = std::find_if(lost, reports.end(), [](const StatusReport& r) { return r.kind == 2; });
    ASSERT_NE(again, reports.end());
    EXPECT_EQ(*again, R(2, 1200));
    EXPECT_GE(std::count(lost, again, R(1, 38400)), 2);
    EXPECT_EQ(rig.DeviceBaud(), 38400u);  // found again at 4800 and switched once more
}

TEST(KBaudSession, GMX900WaitsFiveSecondsPerRateAndPausesAfterItsControlCommand) {
    SessionRig rig(5, 9600);
    rig.StopWhen([](const std::vector<StatusReport>& r) { return CountKind(r, 1) == 1; });
    ASSERT_TRUE(rig.session.Start(0, 115200, 0, 5));
    ASSERT_TRUE(rig.WaitForWorker());
    const auto reports = rig.Reports();
    ASSERT_THAT(reports, ElementsAre(R(0, 115200), R(2, 1200), R(2, 2400), R(2, 4800), R(2, 9600), R(0, 115200),
                                     R(1, 115200)));
    // Failed detection pings take their 5000 ms each (plus the reopen).
    for (size_t i = 2; i <= 4; ++i) EXPECT_EQ(reports[i].atMs - reports[i - 1].atMs, 5000) << i;
    // After the rate answered at 9600: the rate change, control command 4 (its reply cannot
    // come back at the old rate once the receiver has switched: 5000 ms), the 2000 ms pause,
    // then the ping at the new rate.
    EXPECT_GE(reports[5].atMs - reports[4].atMs, 2000 + 5000);
    const auto requests = rig.DeviceRequests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), IsRateChange));
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
}

TEST(KBaudSession, StopDuringDetectionTriesNoFurtherRateAndCleansUp) {
    SessionRig rig(7, 57600);
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.back() == R(2, 4800); });
    ASSERT_TRUE(rig.session.Start(0, 115200, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 115200), R(2, 1200), R(2, 2400), R(2, 4800)));
    EXPECT_FALSE(rig.session.Stop());
    EXPECT_EQ(rig.current.load(), nullptr);
    EXPECT_FALSE(rig.world->HostIsOpen());  // the link was closed
    EXPECT_EQ(rig.DeviceBaud(), 57600u);
}

TEST(KBaudSession, StartWhileRunningIsRefused) {
    SessionRig rig(7, 115200);
    rig.StopWhen([](const std::vector<StatusReport>& r) { return CountKind(r, 1) == 1; });
    ASSERT_TRUE(rig.session.Start(0, 115200, 0, 7));
    EXPECT_FALSE(rig.session.Start(0, 9600, 0, 6));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_THAT(rig.Reports(), ElementsAre(R(0, 115200), R(1, 115200)));
    // Still refused after the worker ended, until Stop.
    EXPECT_FALSE(rig.session.Start(0, 9600, 0, 6));
    rig.session.Stop();
    EXPECT_FALSE(rig.session.Stop());  // idle now
}

TEST(KBaudSession, UnknownTypesEndTheWorkerWithoutAReport) {
    for (int32_t type : {0, 99}) {
        SessionRig rig(7, 9600);
        ASSERT_TRUE(rig.session.Start(0, 9600, 0, type));
        ASSERT_TRUE(rig.WaitForWorker());
        EXPECT_TRUE(rig.Reports().empty());
        EXPECT_FALSE(rig.session.Stop());
        EXPECT_FALSE(rig.world->HostIsOpen());
    }
}

TEST(KBaudSession, APortThatFailsToOpenEndsTheWorkerSilently) {
    SessionRig rig(7, 9600);
    rig.session.SetLinkFactory([&]() -> std::unique_ptr<KSerialComm> {
        auto link = std::make_unique<KSerialComm>();
        link->DevicePath = "/nonexistent/velinor-test-port";
        return link;
    });
    KSerialComm::SetOpenFailureHandler([](const KOpenError&) {});
    ASSERT_TRUE(rig.session.Start(3, 9600, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    KSerialComm::SetOpenFailureHandler(nullptr);
    EXPECT_TRUE(rig.Reports().empty());
    EXPECT_EQ(rig.current.load(), nullptr);
    EXPECT_FALSE(rig.session.Stop());
}

TEST(KBaudSession, StopRightAfterStartIsNotLost) {
    SessionRig rig(7, 9600);
    ASSERT_TRUE(rig.session.Start(0, 115200, 0, 7));
    // Stop returns whatever the worker had reached by then (in virtual time it may already be
    // monitoring), and never waits for a worker that missed the request.
    rig.session.Stop();
    EXPECT_TRUE(rig.session.WorkerEnded());
    EXPECT_FALSE(rig.session.IsRunning());
    // And the session can run again afterwards.
    rig.StopWhen([](const std::vector<StatusReport>& r) { return !r.empty(); });
    ASSERT_TRUE(rig.session.Start(0, 9600, 0, 7));
    ASSERT_TRUE(rig.WaitForWorker());
    rig.session.Stop();
}

} // namespace
