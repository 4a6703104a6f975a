// What is on the line, told by the velinor program itself over pseudo-terminals: `velinor watch`
// and the hint of `velinor set` for a receiver of another type. Real time, with generous bounds.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "support/ChildProgram.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

std::unique_ptr<KPtySimulator> Simulate(int32_t type, int32_t baud, bool streaming) {
    KSimDeviceOptions options;
    options.streaming = streaming;
    std::string error;
    auto device = KSimFactory::CreateDevice(type, baud, options, error);
    EXPECT_NE(device, nullptr) << error;
    if (!device) return nullptr;
    auto simulator = std::make_unique<KPtySimulator>(std::move(device));
    EXPECT_TRUE(simulator->Start(error)) << error;
    return simulator;
}

struct WatchRow {
    const char* name;
    int32_t type;
    int32_t deviceBaud;
    bool streaming;
    std::string options;  // after --port PTY
    int exitCode;
    const char* protocol;  // heard first; nullptr when none
    bool searched;
};

class WatchEndToEnd : public ::testing::TestWithParam<WatchRow> {};

TEST_P(WatchEndToEnd, TellsWhatTheDeviceSends) {
    const WatchRow row = GetParam();
    auto simulator = Simulate(row.type, row.deviceBaud, row.streaming);
    ASSERT_NE(simulator, nullptr);
    TempDir config;
    const ProgramRun run = RunVelinor("watch --json --port " + simulator->SlavePath() + " " + row.options, config.Path());
    simulator->Stop();
    EXPECT_EQ(run.exitCode, row.exitCode) << run.Both();
    const nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(document.is_object()) << run.Both();
    EXPECT_EQ(document["heard"], row.protocol != nullptr) << run.out;
    EXPECT_EQ(document["searched"], row.searched) << run.out;
    if (!row.protocol) return;
    EXPECT_EQ(document["baud"], row.deviceBaud) << run.out;
    ASSERT_FALSE(document["protocols"].empty()) << run.out;
    EXPECT_EQ(document["protocols"][0]["protocol"], row.protocol) << run.out;
    EXPECT_GE(document["protocols"][0]["count"].get<int>(), 2) << run.out;
    EXPECT_FALSE(document["protocols"][0]["messages"].empty()) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, WatchEndToEnd,
    ::testing::Values(WatchRow{"SearchesTheRateOfATalkingReceiver", 10, 38400, true, "--seconds 3", 0, "sirf", true},
                      WatchRow{"WatchesAtTheRateGiven", 11, 19200, true, "--baud 19200 --seconds 3", 0, "topcon", false},
                      WatchRow{"ASilentReceiverIsNothingHeard", 10, 38400, false, "--baud 38400 --seconds 2", 1,
                               nullptr, false}),
    [](const ::testing::TestParamInfo<WatchRow>& param) { return std::string(param.param.name); });

TEST(WatchEndToEnd, RefusesWrongCommandLinesAndMissingPorts) {
    struct Row {
        std::string arguments;
        int exitCode;
    };
    const std::vector<Row> rows = {
        {"watch", 2},
        {"watch --port /dev/null --baud fast", 2},
        {"watch --port /dev/null --seconds 0", 2},
        {"watch --port /dev/velinor-no-such-port --baud 9600", 3},
    };
    TempDir config;
    for (const Row& row : rows) {
        const ProgramRun run = RunVelinor(row.arguments, config.Path());
        EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments << "\n" << run.Both();
    }
}

// Ctrl-C ends the watch cleanly: the table is printed and the exit code says what was heard.
TEST(WatchEndToEnd, CtrlCStopsCleanlyWithTheTable) {
    auto simulator = Simulate(10, 38400, true);
    ASSERT_NE(simulator, nullptr);
    TempDir config;
    ChildProgram watch({"watch", "--port", simulator->SlavePath(), "--baud", "38400"}, config.Path());
    EXPECT_NE(watch.FirstLine(60000), "") << watch.Output();
    const std::optional<int> code = watch.Interrupt(60000);
    ASSERT_TRUE(code.has_value()) << watch.Output();
    EXPECT_TRUE(*code == 0 || *code == 1) << *code << "\n" << watch.Output();
    EXPECT_NE(watch.StandardOutput().find(" at 38400 baud: "), std::string::npos) << watch.Output();
    simulator->Stop();
}

// A SiRF session against a Topcon receiver: after a whole unanswered pass, the program says
// what the line carries and which type to try.
TEST(LineHintEndToEnd, SetForTheWrongTypeNamesTheReceiverOnTheLine) {
    auto simulator = Simulate(11, 9600, true);
    ASSERT_NE(simulator, nullptr);
    TempDir config;
    ChildProgram set({"set", "--receiver", "SiRF", "--port", simulator->SlavePath(), "--baud", "9600", "--last-baud",
                      "0", "--timeout", "240"},
                     config.Path());
    EXPECT_TRUE(set.WaitForError("velinor: this device speaks Topcon (topcon) at 9600 baud, not SiRF: try --receiver "
                                 "Topcon\n",
                                 200000))
        << set.Output();
    EXPECT_EQ(set.Interrupt(60000), 1) << set.Output();
    simulator->Stop();
}

} // namespace
#endif
