// `velinor set --save`: what the user is told of a save, and the program itself against simulated
// receivers behind real pseudo-terminals (real time, generous bounds).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/SessionRunner.h"
#include "cli/StatusLine.h"
#include "receivers/KReceiver.h"
#include "support/TempDir.h"
#ifndef _WIN32
#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "support/ProgramRun.h"
#endif

namespace {

TEST(SetSave, WhatEachOutcomeSays) {
    const struct {
        int32_t type;
        SaveOutcome outcome;
        const char* text;
    } cases[] = {
        {15, SaveOutcome::Saved, "Rate saved: the receiver starts at 115200 baud after a power cycle"},
        {17, SaveOutcome::Failed,
         "Warning: the receiver runs at 115200 baud but did not confirm saving it; after a power cycle it may "
         "start at its old rate"},
        {5, SaveOutcome::NotSupported,
         "Leica GMX900 has no way to save the rate from here: whether it keeps 115200 baud after a power cycle "
         "is up to the receiver"},
        {16, SaveOutcome::NotSupported,
         "MediaTek/Quectel has no way to save the rate from here: PMTK251 has no save of its own: many MediaTek "
         "firmwares keep the rate while the module has backup power, and a full cold start or standby takes it "
         "back to the default"},
    };
    for (const auto& c : cases) EXPECT_EQ(SaveOutcomeText(c.type, 115200, c.outcome), c.text);
}

// A note stays in view: on a terminal it ends the live line, and the next status is drawn below.
TEST(SetSave, ANoteIsALineOfItsOwn) {
    for (const bool live : {true, false}) {
        SCOPED_TRACE(live ? "live" : "plain");
        TempDir dir;
        const std::string path = dir.File("out.txt");
        std::FILE* out = std::fopen(path.c_str(), "w");
        ASSERT_NE(out, nullptr);
        {
            StatusLine status(out, live, false);
            status.Report(1, 9600, 1);
            status.Note("Rate saved", StatusLine::Colour::Green);
            status.Report(1, 9600, 1);
            status.Finish();
        }
        std::fclose(out);
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        const size_t note = s.find("Rate saved");
        ASSERT_NE(note, std::string::npos) << s;
        EXPECT_NE(s.find('\n', note), std::string::npos);
        // Live, the monitoring line is drawn again after the note; plain, it is not repeated.
        EXPECT_EQ(s.find("Monitoring receiver at 9600 baud", note) != std::string::npos, live) << s;
        EXPECT_EQ(s.back(), '\n');
    }
}

#ifndef _WIN32
struct EndToEndCase {
    const char* name;
    int32_t type;
    const char* receiverPort;
    bool refusesSave;
    const char* flags;
    const char* said;  // nullptr: nothing about saving
    uint32_t savedBaud;
};

TEST(SetSave, TheProgramSavesOnlyWhenAskedAndAFailedSaveStillExitsZero) {
    const EndToEndCase cases[] = {
        {"u-blox 9 saved", 15, "9:1", false, "--save", "Rate saved: the receiver starts at 115200 baud", 115200},
        {"u-blox 9 not asked", 15, "9:1", false, "", nullptr, 0},
        {"Septentrio refusing", 17, "COM1", true, "--save", "Warning: the receiver runs at 115200 baud", 0},
        {"Leica cannot", 7, "", false, "--save", "Leica System 500 has no way to save the rate from here", 0},
    };
    for (const EndToEndCase& c : cases) {
        SCOPED_TRACE(c.name);
        KSimDeviceOptions options;
        options.receiverPort = c.receiverPort;
        options.refusesSave = c.refusesSave;
        std::string error;
        auto device = KSimFactory::CreateDevice(c.type, 38400, options, error);
        ASSERT_NE(device, nullptr) << error;
        KPtySimulator simulator(std::move(device));
        ASSERT_TRUE(simulator.Start(error)) << error;
        TempDir config;
        const ProgramRun run = RunVelinor("set --receiver " + std::to_string(c.type) + " --port " +
                                              simulator.SlavePath() + " --baud 115200 --last-baud 38400 " + c.flags +
                                              " --until-confirmed --timeout 150",
                                          config.Path());
        EXPECT_EQ(run.exitCode, 0) << run.Both();
        EXPECT_NE(run.out.find("Receiver confirmed at 115200 baud"), std::string::npos) << run.Both();
        if (c.said) {
            // Said before the session's last line.
            const size_t at = run.out.find(c.said);
            EXPECT_NE(at, std::string::npos) << run.Both();
            EXPECT_LT(at, run.out.find("Receiver confirmed at")) << run.Both();
        } else {
            EXPECT_EQ(run.Both().find("save"), std::string::npos) << run.Both();
        }
        EXPECT_EQ(simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); }), 115200u);
        EXPECT_EQ(simulator.World().WithDevice([](KSimDevice& d) { return d.SavedBaud(); }), c.savedBaud);
        simulator.Stop();
    }
}

TEST(SetSave, HelpTellsOfIt) {
    const ProgramRun run = RunVelinor("set --help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("--save"), std::string::npos) << run.out;
}
#endif

} // namespace
