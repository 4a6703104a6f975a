// The velinor program itself against simulated receivers behind real pseudo-terminals, opened by
// the real serial link. Real time, with generous bounds.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

ProgramRun Velinor(const std::string& arguments, const std::string& configDir) {
    return RunVelinor(arguments, configDir);
}

struct Case {
    int32_t type;
    int32_t startBaud;
    int32_t target;
};

void PrintTo(const Case& c, std::ostream* os) { *os << "type " << c.type << " from " << c.startBaud << " to " << c.target; }

// Each type starts at a rate the session is not told; the streaming Trimble devices never stop
// talking, so they are found while they talk.
class EveryReceiverType : public ::testing::TestWithParam<Case> {};

TEST_P(EveryReceiverType, SetUntilConfirmedLeavesTheReceiverAtTheTarget) {
    const Case c = GetParam();
    if (!KSimFactory::IsSimulated(c.type)) GTEST_SKIP() << "type " << c.type << " is not simulated in this build";
    std::string error;
    auto device = KSimFactory::CreateDevice(c.type, c.startBaud, {}, error);
    ASSERT_NE(device, nullptr) << error;
    KPtySimulator simulator(std::move(device));
    ASSERT_TRUE(simulator.Start(error)) << error;
    const uint32_t lineBefore = simulator.HostBaud();
    TempDir config;

    const ProgramRun run = Velinor("set --receiver " + std::to_string(c.type) + " --port " + simulator.SlavePath() +
                                " --baud " + std::to_string(c.target) + " --last-baud 0 --until-confirmed --timeout 150",
                            config.Path());
    EXPECT_EQ(run.exitCode, 0) << run.Both();
    EXPECT_NE(run.Both().find("Receiver confirmed at " + std::to_string(c.target) + " baud"), std::string::npos)
        << run.Both();
    EXPECT_NE(run.Both().find("Auto-detecting receiver baud:"), std::string::npos) << run.Both();
    EXPECT_EQ(simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); }), static_cast<uint32_t>(c.target));
    // The line is given back as velinor found it (the simulator sees its rate a moment later,
    // seconds later on a busy machine: the wait ends as soon as it does).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (simulator.HostBaud() != lineBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(simulator.HostBaud(), lineBefore);
    simulator.Stop();
}

// Every type of the registry, each from another start to another target: the pairs in turn,
// or a type's slowest and fastest rates when it does not run at both of its pair.
std::vector<Case> EveryType() {
    constexpr std::array<std::array<int32_t, 2>, 14> kPairs = {{{4800, 115200}, {38400, 9600}, {1200, 57600},
        {9600, 115200}, {2400, 57600}, {19200, 4800}, {1200, 115200}, {57600, 19200}, {9600, 115200},
        {4800, 57600}, {115200, 9600}, {2400, 38400}, {38400, 115200}, {115200, 57600}}};
    std::vector<Case> cases;
    for (const KCatalogueType* type : CatalogueTypes()) {
        const auto& [start, target] = kPairs[cases.size() % kPairs.size()];
        if (type->RunsAt(start) && type->RunsAt(target))
            cases.push_back({type->typeId, start, target});
        else
            cases.push_back({type->typeId, type->rates.front(), type->rates.back()});
    }
    return cases;
}

std::vector<int32_t> EveryTypeId() {
    std::vector<int32_t> ids;
    for (const KCatalogueType* type : CatalogueTypes()) ids.push_back(type->typeId);
    return ids;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryReceiverType, ::testing::ValuesIn(EveryType()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return "type" + std::to_string(param.param.type);
                         });

// `velinor time` against each simulated type: families with a time query answer with the
// receiver's clock (the simulated receivers keep the computer's); the others say they cannot.
class TimeOfEveryType : public ::testing::TestWithParam<int32_t> {};

TEST_P(TimeOfEveryType, AnswersOrSaysThereIsNoTimeQuery) {
    const int32_t type = GetParam();
    if (!KSimFactory::IsSimulated(type)) GTEST_SKIP() << "type " << type << " is not simulated in this build";
    std::string error;
    auto device = KSimFactory::CreateDevice(type, 19200, {}, error);
    ASSERT_NE(device, nullptr) << error;
    KPtySimulator simulator(std::move(device));
    ASSERT_TRUE(simulator.Start(error)) << error;
    TempDir config;
    const ProgramRun run =
        Velinor("time --receiver " + std::to_string(type) + " --port " + simulator.SlavePath() + " --baud 19200",
                config.Path());
    if (FamilyOfType(type)->queriesTime) {
        EXPECT_EQ(run.exitCode, 0) << run.Both();
        const std::string label = "receiver clock error: ";
        const size_t at = run.Both().find(label);
        ASSERT_NE(at, std::string::npos) << run.Both();
        // The leap seconds taken care of as the family answers (GPS time or UTC), give or take
        // the time the answer took.
        EXPECT_LT(std::abs(std::stod(run.Both().substr(at + label.size()))), 3.0) << run.Both();
    } else {
        EXPECT_EQ(run.exitCode, 1) << run.Both();
        EXPECT_NE(run.Both().find("cannot be asked their time"), std::string::npos) << run.Both();
    }
    EXPECT_EQ(simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); }), 19200u);  // no rate change
    simulator.Stop();
}

INSTANTIATE_TEST_SUITE_P(Catalogue, TimeOfEveryType, ::testing::ValuesIn(EveryTypeId()),
                         [](const ::testing::TestParamInfo<int32_t>& param) {
                             return "type" + std::to_string(param.param);
                         });

TEST(EndToEnd, ASilentReceiverIsNotConfirmedAndTheExitCodeSaysSo) {
    std::string error;
    KSimDeviceOptions options;
    options.silent = true;
    auto device = KSimFactory::CreateDevice(7, 9600, options, error);
    KPtySimulator simulator(std::move(device));
    ASSERT_TRUE(simulator.Start(error)) << error;
    TempDir config;
    const ProgramRun run = Velinor("set --receiver 7 --port " + simulator.SlavePath() +
                                " --baud 115200 --until-confirmed --timeout 4",
                            config.Path());
    EXPECT_EQ(run.exitCode, 1) << run.Both();
    EXPECT_NE(run.Both().find("Timed out; receiver not confirmed at 115200 baud"), std::string::npos) << run.Both();
    simulator.Stop();
}

TEST(EndToEnd, UsageAndPortErrorsHaveTheirOwnExitCodes) {
    TempDir config;
    EXPECT_EQ(Velinor("set --receiver 7 --port /dev/null --baud 300", config.Path()).exitCode, 2);
    EXPECT_EQ(Velinor("set --receiver nosuch --port /dev/null --baud 9600", config.Path()).exitCode, 2);
    EXPECT_EQ(Velinor("bogus", config.Path()).exitCode, 2);
    const ProgramRun missing = Velinor("set --receiver 7 --port /nonexistent/ttyX --baud 9600", config.Path());
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.Both().find("no such device"), std::string::npos) << missing.Both();
    // A device that exists but is no serial port: the open fails with the Windows text and why.
    const ProgramRun notTty = Velinor("set --receiver 7 --port /dev/null --baud 9600 --timeout 5", config.Path());
    EXPECT_EQ(notTty.exitCode, 3) << notTty.Both();
    EXPECT_NE(notTty.Both().find("COM Port Busy Or Not Installed: /dev/null"), std::string::npos) << notTty.Both();
    EXPECT_NE(notTty.Both().find("not a serial device"), std::string::npos) << notTty.Both();
}

TEST(EndToEnd, TheLastRateIsRememberedAndStartsTheNextFirstPass) {
    std::string error;
    auto device = KSimFactory::CreateDevice(6, 38400, {}, error);
    KPtySimulator simulator(std::move(device));
    ASSERT_TRUE(simulator.Start(error)) << error;
    TempDir config;
    // Told the receiver runs at 38400: the first pass starts there, no slower rate is tried.
    const ProgramRun first = Velinor("set --receiver 6 --port " + simulator.SlavePath() +
                                  " --baud 9600 --last-baud 38400 --until-confirmed --timeout 60",
                              config.Path());
    ASSERT_EQ(first.exitCode, 0) << first.Both();
    EXPECT_EQ(first.Both().find("Auto-detecting receiver baud:    1200"), std::string::npos) << first.Both();
    // Remembered: receiver, device and rate; no option needed the second time.
    const ProgramRun second = Velinor("set --until-confirmed --timeout 60", config.Path());
    EXPECT_EQ(second.exitCode, 0) << second.Both();
    EXPECT_NE(second.Both().find("Leica GPS1200 on " + simulator.SlavePath()), std::string::npos) << second.Both();
    EXPECT_EQ(second.Both().find("Auto-detecting"), std::string::npos) << second.Both();
    simulator.Stop();
}

} // namespace
#endif
