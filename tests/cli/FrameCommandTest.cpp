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

#include <nlohmann/json.hpp>

#include "support/FramerHarness.h"
#include "support/LeicaFrames.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "time/KGPSTime.h"

namespace {

ProgramRun Frame(const std::string& arguments, const TempDir& dir) {
    return RunVelinor("frame " + arguments, "", dir.Path());
}

std::string CompactHex(const Bytes& message) {
    std::string compact;
    for (char c : ToHex(message))
        if (c != ' ') compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return compact;
}

// The line of --hex: length and bytes.
std::string Line(const Bytes& message) { return std::to_string(message.size()) + " " + CompactHex(message) + "\n"; }

// The line without it: name, length, time column, bytes.
std::string Described(const std::string& name, const std::string& time, const Bytes& message) {
    return name + " " + std::to_string(message.size()) + " " + time + " " + CompactHex(message) + "\n";
}

TEST(FrameCommand, PrintsEachMessageWithItsNameLengthTimeAndHexWithASummary) {
    TempDir dir;
    const Bytes first = leica::Frame(Hex("85 00 00 00 07 01 00 00"));
    const Bytes second = leica::Frame(Hex("FC FA 82 0A 00"));
    const Bytes stream = Concat({Hex("00 11 22"), first, leica::WithBadChecksum(leica::Frame(Hex("50 01 02"))), second});
    std::ofstream(dir.File("capture.lb2"), std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                                     static_cast<std::streamsize>(stream.size()));
    const ProgramRun run = Frame("--protocol lb2 --hex capture.lb2", dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Line(first) + Line(second));
    const ProgramRun described = Frame("--protocol lb2 capture.lb2", dir);
    EXPECT_EQ(described.out, Described("0x85", "-", first) + Described("0xfc", "-", second));
    EXPECT_EQ(described.err, run.err);
    // The junk skipped, the bad checksum, the rewind tried and given up: counted even without
    // a log file, which is written only when asked for.
    EXPECT_NE(run.err.find("2 messages, " + std::to_string(first.size() + second.size()) + " bytes, 4 errors"),
              std::string::npos)
        << run.err;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().filename().string().rfind("QuorvexStreamErrors_", 0), 0u);

    const ProgramRun logged = Frame("--protocol lb2 --hex --stream-errors capture.lb2", dir);
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

// --json: one object a line, each naming the message and its time as the text line does.
struct JsonFrameCase {
    const char* protocol;
    const char* file;
    const char* firstName;
    const char* firstTime;  // the first message's text time column
};

class FrameJsonOfACapture : public ::testing::TestWithParam<JsonFrameCase> {};

TEST_P(FrameJsonOfACapture, AgreesWithTheTextLines) {
    const JsonFrameCase c = GetParam();
    const std::string path = std::string(VELINOR_CAPTURES) + "/" + c.file;
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no capture at " << path;
    TempDir dir;
    const ProgramRun text = Frame(std::string("--protocol ") + c.protocol + " '" + path + "'", dir);
    const ProgramRun json = Frame(std::string("--protocol ") + c.protocol + " --json '" + path + "'", dir);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::istringstream textLines(text.out), jsonLines(json.out);
    std::string textLine, jsonLine;
    size_t lines = 0;
    while (std::getline(textLines, textLine) && std::getline(jsonLines, jsonLine)) {
        const auto object = nlohmann::json::parse(jsonLine);
        std::istringstream fields(textLine);
        std::string name, length, time, hex;
        fields >> name >> length >> time >> hex;
        EXPECT_EQ(object["name"], name);
        EXPECT_EQ(object["length"], std::stoi(length));
        EXPECT_EQ(object["hex"], hex);
        if (time == "-") EXPECT_TRUE(object["time"].is_null()) << jsonLine;
        else if (time.rfind("gps:", 0) == 0) EXPECT_EQ(object["time"]["gps"], time.substr(4)) << jsonLine;
        else EXPECT_TRUE(object["time"]["week"].is_null()) << jsonLine;
        if (lines++ == 0) {
            EXPECT_EQ(name, c.firstName);
            EXPECT_EQ(time, c.firstTime);
        }
    }
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), std::count(text.out.begin(), text.out.end(), '\n'));
    EXPECT_GT(lines, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, FrameJsonOfACapture,
    ::testing::Values(JsonFrameCase{"ubx", "ublox/gpsd_ublox-zed-f9p-rtk.bin", "NAV-PVT", "gps:2022-10-11T11:04:42.000"},
                      JsonFrameCase{"sirf", "sirf/gpsd_sirfstarv.bin", "0x43", "-"},
                      JsonFrameCase{"nmea", "mtk/gpsd_quectel-L70.bin", "GPZDA", "gps:2022-03-09T15:01:37.000"},
                      JsonFrameCase{"ashtech", "ashtech/gpsd_ac12_binary.bin", "POS", "-"}),
    [](const ::testing::TestParamInfo<JsonFrameCase>& param) { return std::string(param.param.protocol); });

TEST(FrameCommand, StandardInputIsReadAsAPipe) {
    TempDir dir;
    const Bytes first = leica::Frame(Hex("85 00 00 00 07 01 00 00"));
    const Bytes stream = Concat({Hex("00 11"), first, first});
    std::ofstream(dir.File("capture.lb2"), std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                                     static_cast<std::streamsize>(stream.size()));
    const ProgramRun run = RunVelinor("frame --protocol lb2 --hex -", "", dir.Path(), "", dir.File("capture.lb2"));
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
    EXPECT_EQ(Frame("--protocol lb2 --hex --json x.bin", dir).exitCode, 2);
    const ProgramRun missing = Frame("--protocol lb2 nonexistent.bin", dir);
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("nonexistent.bin"), std::string::npos);
}

} // namespace
#endif
