// What `set` and `time` do about the receiver's periodic output, as the user sees it: the last
// line says what became of it, and --restore-output is taken only where nothing needs putting
// back (no family's stop can be undone exactly), refused with the reason everywhere else.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "cli/OutputNote.h"
#include "families/KReceiverFamily.h"
#include "sim/KPtySimulator.h"
#include "families/KSimFactory.h"
#include "support/ProgramRun.h"
#include "support/PtyPair.h"

namespace {

std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const size_t begin = text.rfind('\n', end);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - (begin == std::string::npos ? 0 : begin + 1) + 1);
}

// Every family, both commands: the flag is refused before any port is looked at when the
// family's stop cannot be undone, and taken (so the missing port is what ends the run) when its
// output is left alone.
TEST(RestoreOutput, IsRefusedWithItsReasonExactlyWhereTheOutputIsStopped) {
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        SCOPED_TRACE(family.name);
        const KCatalogueType& type = family.types.front();
        if (family.output.stopped) {
            EXPECT_STRNE(family.output.turnOnAgain, "");
            EXPECT_STRNE(family.output.notRestorable, "");
        }
        const std::string receiver = " --receiver " + std::to_string(type.typeId) + " --baud " +
                                     std::to_string(type.rates.front()) + " --port /nonexistent/tty --restore-output";
        for (const char* command : {"set", "time"}) {
            const ProgramRun run = RunVelinor(command + receiver);
            if (family.output.stopped) {
                EXPECT_EQ(run.exitCode, 2) << run.Both();
                EXPECT_NE(run.err.find(family.output.notRestorable), std::string::npos) << run.err;
            } else {
                // time: a family without a time query says so first.
                const int expected = std::string(command) == "time" && !family.queriesTime ? 1 : 3;
                EXPECT_EQ(run.exitCode, expected) << run.Both();
            }
        }
    }
}

struct NoteCase {
    int32_t type;
    const char* arguments;  // PTY: the simulator's pseudo-terminal
    bool restore;
    int exitCode;
};

void PrintTo(const NoteCase& c, std::ostream* os) { *os << "type " << c.type << " " << c.arguments; }

class OutputNoteLine : public ::testing::TestWithParam<NoteCase> {};

// The note is the last line, once the receiver has been spoken to, whatever the outcome.
TEST_P(OutputNoteLine, EndsTheRunOnceTheReceiverWasSpokenTo) {
    const NoteCase c = GetParam();
    std::string error;
    KPtySimulator simulator(KSimFactory::CreateDevice(c.type, 19200, {}, error));
    ASSERT_TRUE(simulator.Start(error)) << error;
    std::string arguments = c.arguments;
    arguments.replace(arguments.find("PTY"), 3, simulator.SlavePath());
    const ProgramRun run = RunVelinor(arguments + (c.restore ? " --restore-output" : ""));
    simulator.Stop();
    EXPECT_EQ(run.exitCode, c.exitCode) << run.Both();
    const KReceiverFamily& family = *FamilyOfType(c.type);
    const std::string last = LastLine(run.out);
    if (family.output.stopped) {
        EXPECT_EQ(last, "Output: the receiver's periodic output was stopped and stays off; to turn it on again, " +
                            std::string(family.output.turnOnAgain) + ".")
            << run.Both();
    } else {
        EXPECT_EQ(last.rfind("Output: " + std::string(family.name) + " receivers are asked amid their periodic output, "
                             "so it was left as it was", 0),
                  0u)
            << run.Both();
        EXPECT_EQ(last.find("(nothing to restore)") != std::string::npos, c.restore) << last;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Simulated, OutputNoteLine,
    ::testing::Values(NoteCase{8, "time --receiver 8 --baud 19200 --port PTY", false, 0},
                      NoteCase{6, "set --receiver 6 --baud 19200 --last-baud 19200 --until-confirmed --timeout 60 --port PTY",
                               false, 0},
                      NoteCase{15, "time --receiver 15 --baud 19200 --port PTY", true, 0},
                      NoteCase{17, "set --receiver 17 --baud 19200 --last-baud 19200 --until-confirmed --timeout 60 --port PTY",
                               true, 0}),
    [](const ::testing::TestParamInfo<NoteCase>& param) { return "case" + std::to_string(param.index); });

// A port that never opened heard nothing from the program: nothing is said about its output.
TEST(OutputNote, IsNotSaidWhenThePortNeverOpened) {
    for (const char* command : {"set --receiver 8 --baud 9600 --port /dev/null", "time --receiver 8 --baud 9600 --port /dev/null"}) {
        const ProgramRun run = RunVelinor(command);
        EXPECT_EQ(run.exitCode, 3) << run.Both();
        EXPECT_EQ(run.out.find("Output: "), std::string::npos) << run.out;
    }
}

// identify on a port where nothing talks: the families whose output set and time leave off are
// named with the way to turn it on again, and listening only is told to ask.
TEST(OutputNote, IdentifyHearingNothingNamesTheSilencedFamiliesAndTheirRemedies) {
    const std::string hint = SilencedOutputHint(true);
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        const bool named = hint.find(std::string("  ") + family.name + ": ") != std::string::npos;
        EXPECT_EQ(named, family.output.stopped) << family.name;
        if (family.output.stopped) {
            EXPECT_NE(hint.find(family.output.turnOnAgain), std::string::npos) << family.name;
        }
    }
    EXPECT_NE(hint.find("without --listen-only"), std::string::npos);
    EXPECT_EQ(SilencedOutputHint(false).find("--listen-only"), std::string::npos);

    PtyPair pty;
    const ProgramRun run = RunVelinor("identify --listen-only --port " + pty.SlavePath());
    EXPECT_EQ(run.exitCode, 1) << run.Both();
    EXPECT_NE(run.out.find(hint), std::string::npos) << run.out;
}

} // namespace
#endif
