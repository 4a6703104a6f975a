// `velinor frame`: the program over recorded streams.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/FramerHarness.h"
#include "support/LeicaFrames.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "time/KGPSTime.h"

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
    const Bytes first = leica::Frame(Hex("85 00 00 00 07 01 00 00"));
    const Bytes second = leica::Frame(Hex("FC FA 82 0A 00"));
    const Bytes stream = Concat({Hex("00 11 22"), first, leica::WithBadChecksum(leica::Frame(Hex("50 01 02"))), second});
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

TEST(FrameCommand, StandardInputIsReadAsAPipe) {
    TempDir dir;
    const Bytes first = leica::Frame(Hex("85 00 00 00 07 01 00 00"));
    const Bytes stream = Concat({Hex("00 11"), first, first});
    std::ofstream(dir.File("capture.lb2"), std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                                     static_cast<std::streamsize>(stream.size()));
    const ProgramRun run = RunVelinor("frame --protocol lb2 -", "", dir.Path(), "", dir.File("capture.lb2"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Line(first) + Line(first));
}

// Nothing that is no recording passes for an empty one, and a stream error log asked for and not
// written is no clean run: both are said, with exit 3.
TEST(FrameCommand, RefusesWhatItCannotReadOrLog) {
    TempDir dir;
    std::ofstream(dir.File("capture.lb2"), std::ios::binary) << std::string(100, 'x');
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const ProgramRun device = Frame("--protocol lb2 /dev/zero", dir);
    EXPECT_EQ(device.exitCode, 3);
    EXPECT_NE(device.err.find("/dev/zero: is a character device, not a recording file: give a recording file, or - "
                              "to read standard input; for a live port, use 'velinor identify --port /dev/zero'"),
              std::string::npos)
        << device.err;
    for (const char* other : {"fifo", "."}) {
        const ProgramRun run = Frame(std::string("--protocol lb2 ") + other, dir);
        EXPECT_EQ(run.exitCode, 3) << other;
        EXPECT_NE(run.err.find("not a recording file"), std::string::npos) << run.err;
    }

    // The log's name this month, taken over by a link, a FIFO or a folder; or a folder that may
    // not be written (as another user than root, who may write anywhere).
    const bool root = ::geteuid() == 0;
    const std::string launcher = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    enum Plant { Link, Fifo, Folder, ReadOnlyFolder };
    for (const Plant plant : {Link, Fifo, Folder, ReadOnlyFolder}) {
        SCOPED_TRACE(plant);
        TempDir work;
        ASSERT_EQ(::chmod(work.Path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(dir.File("capture.lb2").c_str(), 0644), 0);
        const std::string log = work.File("QuorvexStreamErrors_Frame_" + std::to_string(KGPSTime().GetYear()) + "_" +
                                          (KGPSTime().GetMonth() < 10 ? "0" : "") + std::to_string(KGPSTime().GetMonth()) +
                                          ".log");
        if (plant == Link) std::filesystem::create_symlink(dir.File("elsewhere.log"), log);
        if (plant == Fifo) {
            ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
        }
        if (plant == Folder) std::filesystem::create_directory(log);
        if (plant == ReadOnlyFolder) {
            ASSERT_EQ(::chmod(work.Path().c_str(), 0555), 0);
        }
        const ProgramRun run = RunVelinor("frame --protocol lb2 --stream-errors '" + dir.File("capture.lb2") + "'", "",
                                          work.Path(), plant == ReadOnlyFolder ? launcher : "");
        EXPECT_EQ(run.exitCode, 3) << run.Both();
        EXPECT_NE(run.err.find("cannot write the stream error log ./QuorvexStreamErrors_Frame_"), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out, "") << "refused before framing";
        EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere.log")));
        ::chmod(work.Path().c_str(), 0755);
    }
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
