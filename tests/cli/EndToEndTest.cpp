// The velinor program itself against simulated receivers behind real pseudo-terminals, opened by
// the real serial link. Real time, with generous bounds.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "sim/KLeicaDevice.h"
#include "sim/KPtySimulator.h"
#include "sim/KSimFactory.h"
#include "support/TempDir.h"

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

ProgramRun Velinor(const std::string& arguments, const std::string& configDir) {
    const std::string command = "XDG_CONFIG_HOME='" + configDir + "' '" VELINOR_PROGRAM "' " + arguments + " 2>&1";
    ProgramRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

struct Case {
    int32_t type;
    int32_t startBaud;
    int32_t target;
};

class EveryLeicaType : public ::testing::TestWithParam<Case> {};

TEST_P(EveryLeicaType, SetUntilConfirmedLeavesTheReceiverAtTheTarget) {
    const Case c = GetParam();
    std::string error;
    auto device = KSimFactory::CreateDevice(c.type, c.startBaud, {}, error);
    ASSERT_NE(device, nullptr) << error;
    KPtySimulator simulator(std::move(device));
    ASSERT_TRUE(simulator.Start(error)) << error;
    TempDir config;

    const ProgramRun run = Velinor("set --receiver " + std::to_string(c.type) + " --port " + simulator.SlavePath() +
                                " --baud " + std::to_string(c.target) + " --last-baud 0 --until-confirmed --timeout 120",
                            config.Path());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Receiver confirmed at " + std::to_string(c.target) + " baud"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Auto-detecting receiver baud:"), std::string::npos) << run.output;
    EXPECT_EQ(simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); }), static_cast<uint32_t>(c.target));
    EXPECT_EQ(simulator.HostBaud(), static_cast<uint32_t>(c.target));
    simulator.Stop();
}

INSTANTIATE_TEST_SUITE_P(Leica, EveryLeicaType,
                         ::testing::Values(Case{4, 9600, 115200}, Case{5, 2400, 57600}, Case{6, 19200, 4800},
                                           Case{7, 1200, 115200}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return "type" + std::to_string(param.param.type);
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
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("Timed out; receiver not confirmed at 115200 baud"), std::string::npos) << run.output;
    simulator.Stop();
}

TEST(EndToEnd, UsageAndPortErrorsHaveTheirOwnExitCodes) {
    TempDir config;
    EXPECT_EQ(Velinor("set --receiver 7 --port /dev/null --baud 300", config.Path()).exitCode, 2);
    EXPECT_EQ(Velinor("set --receiver nosuch --port /dev/null --baud 9600", config.Path()).exitCode, 2);
    EXPECT_EQ(Velinor("bogus", config.Path()).exitCode, 2);
    const ProgramRun missing = Velinor("set --receiver 7 --port /nonexistent/ttyX --baud 9600", config.Path());
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.output.find("no such device"), std::string::npos) << missing.output;
    // A device that exists but is no serial port: the open fails with the dialog's text and why.
    const ProgramRun notTty = Velinor("set --receiver 7 --port /dev/null --baud 9600 --timeout 5", config.Path());
    EXPECT_EQ(notTty.exitCode, 3) << notTty.output;
    EXPECT_NE(notTty.output.find("COM Port Busy Or Not Installed: /dev/null"), std::string::npos) << notTty.output;
    EXPECT_NE(notTty.output.find("not a serial device"), std::string::npos) << notTty.output;
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
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(first.output.find("Auto-detecting receiver baud:    1200"), std::string::npos) << first.output;
    // Remembered: receiver, device and rate; no option needed the second time.
    const ProgramRun second = Velinor("set --until-confirmed --timeout 60", config.Path());
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find("Leica GPS1200 on " + simulator.SlavePath()), std::string::npos) << second.output;
    EXPECT_EQ(second.output.find("Auto-detecting"), std::string::npos) << second.output;
    simulator.Stop();
}

} // namespace
#endif
