// After the first whole unanswered detection pass, the session listens once at the type's rates
// and says what the line carries: another family, its own family that does not answer, bytes of
// nothing known, or nothing at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "comm/KBaudRates.h"
#include "session/SessionRig.h"

namespace {

struct HintCase {
    const char* name;
    int32_t deviceType;
    uint32_t deviceBaud;
    bool streaming;
    bool silent;
    int32_t sessionType;
    int32_t lastKnownBaud;
    const char* heardFamily;  // nullptr: none
    bool bytesHeard;
};

size_t SettableRates(int32_t type) {
    size_t n = 0;
    for (int32_t rate : FindCatalogueType(type)->rates) n += SystemSetsRate(rate) ? 1 : 0;
    return n;
}

class LineHint : public ::testing::TestWithParam<HintCase> {};

TEST_P(LineHint, NamesWhatTheLineCarriesOnceAfterAWholeUnansweredPass) {
    const HintCase c = GetParam();
    KSimDeviceOptions options;
    options.streaming = c.streaming;
    options.silent = c.silent;
    SessionRig rig(c.deviceType, c.deviceBaud, options);
    std::mutex lock;
    std::vector<KLineHint> hints;
    int64_t hintAtMs = 0;
    rig.session.SetHintHandler([&](const KLineHint& hint) {
        std::lock_guard<std::mutex> guard(lock);
        hints.push_back(hint);
        hintAtMs = rig.clock.NowMs();
    });
    const size_t rates = SettableRates(c.sessionType);
    // Three passes after the partial one: the hint must not come again.
    rig.StopWhen([rates](const std::vector<StatusReport>& r) {
        return static_cast<size_t>(std::count_if(r.begin(), r.end(), [](const StatusReport& s) { return s.kind == 2; })) >=
               4 * rates;
    });
    ASSERT_TRUE(rig.session.Start(0, 115200, c.lastKnownBaud, c.sessionType));
    ASSERT_TRUE(rig.WaitForWorker());
    rig.session.Stop();

    ASSERT_EQ(hints.size(), 1u);
    const KLineHint& hint = hints.front();
    if (c.heardFamily) {
        ASSERT_NE(hint.family, nullptr);
        EXPECT_STREQ(hint.family->name, c.heardFamily);
        EXPECT_EQ(hint.baud, static_cast<int32_t>(c.deviceBaud));
    } else {
        EXPECT_EQ(hint.family, nullptr);
    }
    EXPECT_EQ(hint.bytes > 0, c.bytesHeard);
    // At most the bound at each rate; a protocol heard ends the listening early.
    EXPECT_LE(hint.listenedMs, static_cast<int32_t>(rates) * (KBaudSession::kHintListenMs + 100));
    // Not before a whole pass: the first pass from a last known rate tries only some rates.
    const auto reports = rig.Reports();
    size_t detectingBefore = 0;
    for (const StatusReport& r : reports) detectingBefore += r.kind == 2 && r.atMs < hintAtMs ? 1 : 0;
    size_t partial = 0;
    if (c.lastKnownBaud != 0) {
        const auto all = FindCatalogueType(c.sessionType)->rates;
        bool reached = false;
        for (int32_t rate : all) {
            reached = reached || rate == c.lastKnownBaud;
            partial += reached && SystemSetsRate(rate) ? 1 : 0;
        }
    }
    EXPECT_EQ(detectingBefore, partial + rates);
    std::printf("%s: whole pass and hint done %.1f s after the start, listening %.1f s\n", c.name,
                hintAtMs / 1000.0 - reports.front().atMs / 1000.0, hint.listenedMs / 1000.0);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, LineHint,
    ::testing::Values(HintCase{"TopconForSiRF", 11, 9600, true, false, 10, 0, "Topcon", true},
                      HintCase{"SiRFForNovatelAfterAPartialPass", 10, 38400, true, false, 9, 57600, "SiRF", true},
                      HintCase{"LeicaThatNeverAnswers", 7, 19200, true, true, 7, 0, "Leica", true},
                      HintCase{"SilentTopconForSiRF", 11, 9600, false, true, 10, 0, nullptr, false}),
    [](const ::testing::TestParamInfo<HintCase>& param) { return std::string(param.param.name); });

} // namespace
