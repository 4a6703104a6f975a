// Whole sessions against a simulated Trimble receiver that never stops its raw-data output, for
// each of the three Trimble types, in virtual time.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>

#include "session/SessionRig.h"

using ::testing::ElementsAreArray;

namespace {

struct TrimbleSession {
    int32_t type;
    uint32_t deviceBaud;
    int32_t target;
};

constexpr int32_t kDetectBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

class TrimbleSessions : public ::testing::TestWithParam<TrimbleSession> {};

TEST_P(TrimbleSessions, DetectSlowlyAtTheThreeSlowestRatesThenSwitchAndConfirm) {
    const TrimbleSession& c = GetParam();
    SessionRig rig(c.type, c.deviceBaud);
    rig.StopWhen([](const std::vector<StatusReport>& r) {
        return std::count_if(r.begin(), r.end(), [](const StatusReport& s) { return s.kind == 1; }) == 2;
    });
    ASSERT_TRUE(rig.session.Start(0, c.target, 0, c.type));
    ASSERT_TRUE(rig.WaitForWorker());
    const std::vector<StatusReport> reports = rig.Reports();

    // Pinging at the target, one detection report per rate up to the receiver's, then pinging
    // and monitoring at the target.
    std::vector<StatusReport> expected = {R(0, c.target)};
    for (int32_t baud : kDetectBauds) {
        expected.push_back(R(2, baud));
        if (baud == static_cast<int32_t>(c.deviceBaud)) break;
    }
    for (StatusReport r : {R(0, c.target), R(1, c.target), R(1, c.target)}) expected.push_back(r);
    ASSERT_THAT(reports, ElementsAreArray(expected));

    // Each failed detection ping lasted its whole wait: the reports of consecutive rates are
    // that far apart.
    for (size_t i = 2; i < reports.size() && reports[i].kind == 2; ++i) {
        const int32_t waited = reports[i - 1].baud <= 4800 ? 3000 : 1000;
        EXPECT_EQ(reports[i].atMs - reports[i - 1].atMs, waited) << "after " << reports[i - 1].baud;
    }

    EXPECT_TRUE(rig.session.Stop());
    EXPECT_EQ(rig.DeviceBaud(), static_cast<uint32_t>(c.target));
}

INSTANTIATE_TEST_SUITE_P(EachType, TrimbleSessions,
                         ::testing::Values(TrimbleSession{12, 19200, 115200}, TrimbleSession{13, 57600, 4800},
                                           TrimbleSession{14, 115200, 9600}),
                         [](const auto& p) { return "Type" + std::to_string(p.param.type); });

} // namespace
