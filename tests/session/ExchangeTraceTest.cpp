// --verbose shows the exchange with the receiver: every command the session's receiver writes,
// and the reply or the silence that followed, whatever the family.
#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "log/DebugTrace.h"
#include "session/SessionRig.h"

namespace {

// The session's link, keeping what was written through it.
class RecordingLink : public RigLink {
public:
    RecordingLink(KSimWorld& line, std::atomic<KReceiver*>& tracker, std::vector<std::vector<uint8_t>>& into)
        : RigLink(line, tracker), writes(into) {}
    bool Write(const void* data, uint32_t length) override {
        const auto* bytes = static_cast<const uint8_t*>(data);
        writes.emplace_back(bytes, bytes + length);
        return RigLink::Write(data, length);
    }

private:
    std::vector<std::vector<uint8_t>>& writes;
};

struct TraceCase {
    const char* name;
    int32_t type;
    uint32_t deviceBaud;
    int32_t target;
    bool streaming;
    // A line the trace holds once the first ping at the target is over.
    const char* expected;
};

class ExchangeTrace : public ::testing::TestWithParam<TraceCase> {};

TEST_P(ExchangeTrace, ShowsEveryCommandWrittenAndWhatCameBack) {
    const TraceCase c = GetParam();
    KSimDeviceOptions options;
    options.streaming = c.streaming;
    SessionRig rig(c.type, c.deviceBaud, options);
    std::vector<std::vector<uint8_t>> writes;
    rig.session.SetLinkFactory([&]() -> std::unique_ptr<KSerialComm> {
        return std::make_unique<RecordingLink>(*rig.world, rig.current, writes);
    });
    std::mutex lock;
    std::vector<std::string> lines;
    SetDebugTraceSink([&](const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(text);
    });
    // The first ping at the target is over with the report that follows it.
    rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() >= 2; });
    ASSERT_TRUE(rig.session.Start(0, c.target, 0, c.type));
    ASSERT_TRUE(rig.WaitForWorker());
    rig.session.Stop();
    SetDebugTraceSink(nullptr);

    const std::regex sent(R"(^ *\d+\.\d{3} s  Trevask > (.*)\n$)");
    std::vector<std::string> sentDumps;
    bool found = false;
    for (const std::string& line : lines) {
        std::smatch match;
        if (std::regex_match(line, match, sent)) sentDumps.push_back(match[1]);
        if (line.find(c.expected) != std::string::npos) found = true;
    }
    // Each write in order, as the trace dumps bytes: none missed, none made up.
    std::vector<std::string> written;
    for (const auto& w : writes) written.push_back(TraceBytesText(w.data(), w.size()));
    EXPECT_FALSE(written.empty());
    EXPECT_EQ(sentDumps, written);
    std::string all;
    for (const std::string& line : lines) all += line;
    EXPECT_TRUE(found) << "no \"" << c.expected << "\" in:\n" << all;
}

INSTANTIATE_TEST_SUITE_P(
    Families, ExchangeTrace,
    ::testing::Values(TraceCase{"SiRFAnswers", 10, 9600, 9600, true, "Trevask < reply after "},
                      TraceCase{"TopconAnswers", 11, 115200, 115200, true, "Trevask < reply after "},
                      TraceCase{"LeicaAnswers", 7, 19200, 19200, false, "Trevask < reply after "},
                      TraceCase{"NovatelAnswers", 9, 57600, 57600, true, "Trevask < reply after "},
                      // Silent at another rate: silence; talking there, bytes no reply was made of.
                      TraceCase{"LeicaElsewhere", 7, 2400, 57600, false, "Trevask < nothing heard in 2000 ms\n"},
                      TraceCase{"SiRFElsewhere", 10, 4800, 115200, true, "Trevask < no reply in 2000 ms ("}),
    [](const ::testing::TestParamInfo<TraceCase>& param) { return std::string(param.param.name); });

} // namespace
