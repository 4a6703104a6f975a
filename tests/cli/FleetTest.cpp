// A fleet file as it is read, and `velinor fleet` against simulated receivers on pseudo-terminals
// (real time, generous bounds).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/FleetFile.h"
#include "support/TempDir.h"
#ifndef _WIN32
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "comm/KSerialComm.h"
#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "support/ChildProgram.h"
#include "support/ProgramRun.h"
#endif

namespace {

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& text) {
    std::ofstream(dir.File(name), std::ios::binary) << text;
    return dir.File(name);
}

TEST(FleetFile, ReadsTypesPortsAndRatesAndSaysWhichLineIsWrong) {
    TempDir dir;
    const std::string a = WriteFile(dir, "a", "");
    const std::string b = WriteFile(dir, "b", "");
#ifndef _WIN32
    const std::string alias = dir.File("by-id-a");
    ASSERT_EQ(::symlink(a.c_str(), alias.c_str()), 0);
#else
    const std::string alias = a;
#endif
    const FleetFile good = ReadFleet("# the base stations\n\n15 " + a + " 115200   # roof\n\"Leica GMX900\" " + b +
                                     " 38400\n  Septentrio rfc2217://ts-1:4001 921600\n");
    ASSERT_TRUE(good.error.empty()) << good.error;
    ASSERT_EQ(good.entries.size(), 3u);
    EXPECT_EQ(good.entries[0].line, 3);
    EXPECT_EQ(good.entries[0].type, 15);
    EXPECT_EQ(good.entries[0].port.devicePath, a);
    EXPECT_EQ(good.entries[0].baud, 115200);
    EXPECT_EQ(good.entries[1].type, 5);
    EXPECT_EQ(good.entries[2].port.devicePath, "rfc2217://ts-1:4001");
    EXPECT_EQ(good.entries[2].baud, 921600);
    EXPECT_TRUE(good.portProblems.empty());

    struct Bad {
        std::string text;
        std::string error;
    };
    const std::vector<Bad> bad = {
        {"15 " + a, "line 1: expected TYPE PORT RATE"},
        {"\n\"Leica GMX900 " + a + " 9600", "line 2: a double quote is not closed"},
        {"NoSuchMaker " + a + " 9600", "line 1: "},
        {"5 " + a + " 921600", "line 1: the rate must be one of 1200 2400"},
        {"15 " + a + " fast", "line 1: the rate must be one of"},
        {"15 socket://ts-1:23 9600", "line 1: socket://ts-1:23 is a raw TCP port"},
        {"15 rfc2217://ts-1 9600", "line 1: 'rfc2217://ts-1' has no port number"},
        {"15 " + a + " 9600\n9 " + alias + " 9600", "line 2: " + alias + " is named twice (also on line 1)"},
        {"15 rfc2217://TS-1:4001 9600\n9 rfc2217://ts-1:4001 9600", "line 2: rfc2217://ts-1:4001 is named twice"},
        {"# nothing but comments\n", "the file names no receiver"},
    };
    for (const Bad& c : bad) {
        SCOPED_TRACE(c.text);
        const FleetFile fleet = ReadFleet(c.text);
        EXPECT_EQ(fleet.error.rfind(c.error, 0), 0u) << fleet.error;
    }

    // A device not there now is the port's problem, not the file's: the others still run.
    const FleetFile missing = ReadFleet("15 " + a + " 9600\n15 " + dir.File("gone") + " 9600\n");
    EXPECT_TRUE(missing.error.empty()) << missing.error;
    ASSERT_EQ(missing.portProblems.size(), 1u);
    EXPECT_EQ(missing.portProblems[0].rfind("line 2: " + dir.File("gone"), 0), 0u) << missing.portProblems[0];
    EXPECT_EQ(missing.entries.size(), 2u);
}

#ifndef _WIN32
// Receivers of `types` at rates they are not told, each on a pseudo-terminal of its own.
struct SimulatedFleet {
    explicit SimulatedFleet(const std::vector<std::pair<int32_t, int32_t>>& types, bool silent = false) {
        KSimDeviceOptions options;
        options.silent = silent;
        for (const auto& [type, baud] : types) {
            std::string error;
            auto device = KSimFactory::CreateDevice(type, baud, options, error);
            simulators.push_back(std::make_unique<KPtySimulator>(std::move(device)));
            started = simulators.back()->Start(error) && started;
        }
    }
    uint32_t Baud(size_t i) { return simulators[i]->World().WithDevice([](KSimDevice& d) { return d.Baud(); }); }
    std::vector<std::unique_ptr<KPtySimulator>> simulators;
    bool started = true;
};

TEST(FleetEndToEnd, BringsEveryReceiverToItsRateAtOnceAndTellsOfAPortThatIsNotThere) {
    SimulatedFleet fleet({{15, 38400}, {9, 19200}, {11, 9600}});
    ASSERT_TRUE(fleet.started);
    TempDir dir;
    const std::string file =
        WriteFile(dir, "fleet", "15 " + fleet.simulators[0]->SlavePath() + " 115200\n\"Novatel/Sokkia\" " +
                                    fleet.simulators[1]->SlavePath() + " 57600\nTopcon " +
                                    fleet.simulators[2]->SlavePath() + " 38400\n13 " + dir.File("absent") + " 9600\n");
    const ProgramRun run = RunVelinor("fleet " + file + " --json --timeout 150", dir.Path());
    EXPECT_EQ(run.exitCode, 3) << run.Both();  // the absent one could not be used
    const nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.out;
    ASSERT_EQ(document["receivers"].size(), 4u);
    const std::vector<std::string> outcomes = {"confirmed", "confirmed", "confirmed", "port-error"};
    for (size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(document["receivers"][i]["outcome"], outcomes[i]) << document["receivers"][i].dump();
        EXPECT_EQ(document["receivers"][i]["line"], static_cast<int>(i) + 1);
    }
    EXPECT_EQ(document["confirmed"], 3);
    EXPECT_NE(run.err.find("line 4: " + dir.File("absent")), std::string::npos) << run.err;
    const std::vector<uint32_t> wanted = {115200, 57600, 38400};
    for (size_t i = 0; i < wanted.size(); ++i) EXPECT_EQ(fleet.Baud(i), wanted[i]);
}

TEST(FleetEndToEnd, CtrlCStopsEverySessionAndTheirPortsAreFreeAtOnce) {
    // Silent receivers: never confirmed, the sessions detect for ever.
    SimulatedFleet fleet({{9, 19200}, {15, 9600}}, true);
    ASSERT_TRUE(fleet.started);
    TempDir dir;
    const std::string file = WriteFile(dir, "fleet", "9 " + fleet.simulators[0]->SlavePath() + " 57600\n15 " +
                                                         fleet.simulators[1]->SlavePath() + " 115200\n");
    ChildProgram run({"fleet", file}, dir.Path());
    ASSERT_FALSE(run.FirstLine(60000).empty()) << run.Output();
    EXPECT_EQ(run.Interrupt(60000), 130) << run.Output();
    EXPECT_NE(run.StandardOutput().find("Stopped; receiver not confirmed at 57600 baud"), std::string::npos)
        << run.Output();
    // Given back: another program opens each port at once.
    for (auto& simulator : fleet.simulators) {
        KSerialComm link;
        link.DevicePath = simulator->SlavePath();
        EXPECT_TRUE(link.Open(0)) << link.LastOpenError().reason;
        link.Close();
    }
}
#endif

} // namespace
