// `velinor frame`: the program over recorded streams.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/FramerHarness.h"
#include "support/LB2Frames.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

ProgramRun Frame(const std::string& arguments, const TempDir& dir) {
    return RunVelinor("frame " + arguments, "", dir.Path());
}

std::string Line(const Bytes& message) {
    std::string hex = ToHex(message);
    std::string compact;
    for (char c : hex)
        if (c != ' ') compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::to_string(message.size()) + " " + compact + "\n";
}

TEST(FrameCommand, PrintsEachMessageAsLengthAndLowerCaseHexWithASummary) {
    TempDir dir;
    const Bytes first = lb2::Frame(Hex("85 00 00 00 07 01 00 00"));
    const Bytes second = lb2::Frame(Hex("FC FA 82 0A 00"));
    const Bytes stream = Concat({Hex("00 11 22"), first, lb2::WithBadChecksum(lb2::Frame(Hex("50 01 02"))), second});
    std::ofstream(dir.File("capture.lb2"), std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                                     static_cast<std::streamsize>(stream.size()));
    const ProgramRun run = Frame("--protocol lb2 capture.lb2", dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Line(first) + Line(second));
    // The junk skipped, the bad checksum, the rewind tried and given up: counted even without
    // a log file, which is written only when asked for.
    EXPECT_NE(run.err.find("2 messages, " + std::to_string(first.size() + second.size()) + " bytes, 4 errors"),
              std::string::npos)
        << run.err;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().filename().string().rfind("QuorvexStreamErrors_", 0), 0u);

    const ProgramRun logged = Frame("--protocol lb2 --stream-errors capture.lb2", dir);
    EXPECT_EQ(logged.out, run.out);
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        found |= entry.path().filename().string().rfind("QuorvexStreamErrors_Frame_", 0) == 0;
    EXPECT_TRUE(found);
}

TEST(FrameCommand, FramesARealCapture) {
    const std::string captures = VELINOR_CAPTURES;
    if (!std::ifstream(captures + "/SOURCES.md").good()) GTEST_SKIP() << "no captures folder at " << captures;
    TempDir dir;
    const ProgramRun run = Frame("--protocol novatel '" + captures + "/novatel/edie_bestsats.BIN'", dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 900);  // 900 BESTSATSB logs
    EXPECT_NE(run.err.find("900 messages, 331136 bytes, 0 errors"), std::string::npos) << run.err;
}

TEST(FrameCommand, UsageAndFileErrors) {
    TempDir dir;
    EXPECT_EQ(Frame("--protocol garmin x.bin", dir).exitCode, 2);
    EXPECT_EQ(Frame("x.bin", dir).exitCode, 2);
    EXPECT_EQ(Frame("--protocol lb2", dir).exitCode, 2);
    const ProgramRun missing = Frame("--protocol lb2 nonexistent.bin", dir);
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("nonexistent.bin"), std::string::npos);
}

} // namespace
#endif
