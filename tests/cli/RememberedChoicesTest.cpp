// The settings file of the command line on a shared machine: several `set`s saving at once, a
// file that is far too large, and values that would break its lines.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/RememberedChoices.h"
#include "support/ProgramRun.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Writer `k`'s choices: every field says k, so a mixture of two writers shows.
RememberedChoices Choices(int k) {
    RememberedChoices c;
    c.receiverType = k + 1;
    c.portNumber = k;
    c.baud = 1200 << k;
    c.device = "/dev/ttyUSB" + std::to_string(k);
    c.portIdentity = "/dev/serial/by-id/usb-writer-" + std::to_string(k);
    return c;
}

// Which writer's choices `c` are, or -1 for a mixture.
int Writer(const RememberedChoices& c) {
    const int k = c.portNumber;
    const RememberedChoices whole = Choices(k);
    const bool same = c.receiverType == whole.receiverType && c.baud == whole.baud && c.device == whole.device &&
                      c.portIdentity == whole.portIdentity;
    return same ? k : -1;
}

size_t Count(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

int WaitFor(pid_t child) {
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RememberedChoicesFile, ProgramsSavingAtOnceLeaveOneWholeSetOfChoices) {
    TempDir dir;
    const std::string path = dir.File("velinor.ini");
    ASSERT_TRUE(Choices(0).Save(path));
    constexpr int kWriters = 6, kRounds = 40;
    std::vector<pid_t> children;
    for (int k = 0; k < kWriters; ++k) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int round = 0; round < kRounds; ++round)
                if (!Choices(k).Save(path)) ::_exit(2);
            ::_exit(0);
        }
        children.push_back(child);
    }
    // A reader meanwhile: every state it sees is one writer's.
    const pid_t reader = ::fork();
    if (reader == 0) {
        for (int round = 0; round < kWriters * kRounds; ++round) {
            const RememberedChoices seen = RememberedChoices::Load(path);
            if (!seen.found || Writer(seen) < 0) ::_exit(1);
        }
        ::_exit(0);
    }
    for (const pid_t child : children) EXPECT_EQ(WaitFor(child), 0) << "a save failed";
    EXPECT_EQ(WaitFor(reader), 0) << "a reader saw one writer's keys beside another's";

    const RememberedChoices last = RememberedChoices::Load(path);
    EXPECT_GE(Writer(last), 0);
    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(Count(text, "[BaudSet]"), 1u) << text;
    for (const char* key : {"LastRcvr=", "LastPort=", "LastBaud=", "LastDevice=", "LastPortName="})
        EXPECT_EQ(Count(text, key), 1u) << key << "\n" << text;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename(), "velinor.ini") << "a temporary file was left behind";
}

TEST(RememberedChoicesFile, AFileFarTooLargeIsRefusedUnreadAndLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("velinor.ini");
    {
        std::ofstream(path) << "[BaudSet]\nLastRcvr=11\n";
        // 100 MB that take no room: the size is what is refused, before any of it is read.
        ASSERT_EQ(::truncate(path.c_str(), 100 << 20), 0);
    }
    std::string problem;
    const RememberedChoices loaded = RememberedChoices::Load(path, &problem);
    EXPECT_FALSE(loaded.found);
    EXPECT_EQ(loaded.receiverType, 2);
    EXPECT_NE(problem.find(path + " is 104857600 bytes, too large for a settings file"), std::string::npos) << problem;
    problem.clear();
    EXPECT_FALSE(Choices(3).Save(path, &problem));
    EXPECT_NE(problem.find("too large"), std::string::npos) << problem;
    EXPECT_EQ(fs::file_size(path), 100u << 20);
}

TEST(RememberedChoicesFile, AValueWithALineBreakIsNotWrittenNorAnythingBesideIt) {
    TempDir dir;
    const std::string path = dir.File("velinor.ini");
    ASSERT_TRUE(Choices(1).Save(path));
    const std::string before = ReadWholeFile(path);
    for (const std::string& device :
         {std::string("/tmp/x\n[BaudSet]\nLastRcvr=9"), std::string("/tmp/x\rLastBaud=1"), std::string("/tmp/x\0y", 8)}) {
        RememberedChoices evil = Choices(2);
        evil.device = device;
        std::string problem;
        EXPECT_FALSE(evil.Save(path, &problem));
        EXPECT_NE(problem.find("LastDevice"), std::string::npos) << problem;
        EXPECT_NE(problem.find("line break"), std::string::npos) << problem;
        EXPECT_EQ(ReadWholeFile(path), before);
    }
}

TEST(RememberedChoicesFile, SetSaysWhyItRemembersNothing) {
    TempDir config, dir;
    PtyPair pty;
    fs::create_directories(config.Path() + "/velinor");
    const std::string settings = config.Path() + "/velinor/velinor.ini";

    // A device path with a line break, as a link to a real terminal: the session runs, nothing
    // is remembered, and the file keeps its one section.
    const std::string link = dir.File("gps\n[BaudSet]");
    fs::create_symlink(pty.SlavePath(), link);
    const ProgramRun odd = RunVelinor("set --receiver 6 --baud 9600 --timeout 1 --port '" + link + "'", config.Path());
    EXPECT_EQ(odd.exitCode, 1) << odd.Both();
    EXPECT_NE(odd.err.find("these choices are not remembered: the value of LastDevice (" + dir.Path() +
                           "/gps\\n[BaudSet]) holds a line break"),
              std::string::npos)
        << odd.err;
    EXPECT_FALSE(fs::exists(settings) && Count(ReadWholeFile(settings), "[BaudSet]") > 0) << ReadWholeFile(settings);

    std::ofstream(settings) << "[BaudSet]\nLastRcvr=6\n";
    ASSERT_EQ(::truncate(settings.c_str(), 100 << 20), 0);
    const ProgramRun large = RunVelinor("set --baud 9600 --port /dev/velinor-none", config.Path());
    EXPECT_EQ(large.exitCode, 2) << large.Both();  // no receiver known: the file was not read
    EXPECT_NE(large.err.find(settings + " is 104857600 bytes, too large for a settings file (at most 1048576); it is "
                                        "not read: the last choices are not known"),
              std::string::npos)
        << large.err;
}

// Only a port that opened becomes the default of the next run: a device that exists but is no
// terminal, and a silent terminal that does open, each after earlier choices were saved.
TEST(RememberedChoicesFile, SetRemembersAPortOnlyOnceItHasOpened) {
    PtyPair pty;
    const struct {
        std::string port;
        int exitCode;
        bool remembered;
    } rows[] = {{"/dev/null", 3, false}, {pty.SlavePath(), 1, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.port);
        TempDir config;
        fs::create_directories(config.Path() + "/velinor");
        const std::string settings = config.Path() + "/velinor/velinor.ini";
        ASSERT_TRUE(Choices(1).Save(settings));
        const ProgramRun run = RunVelinor("set --receiver 6 --baud 19200 --timeout 1 --port " + row.port, config.Path());
        EXPECT_EQ(run.exitCode, row.exitCode) << run.Both();
        const RememberedChoices now = RememberedChoices::Load(settings);
        if (row.remembered) {
            EXPECT_EQ(now.device, row.port);
            EXPECT_EQ(now.receiverType, 6);
            EXPECT_EQ(now.baud, 19200);
        } else {
            EXPECT_EQ(Writer(now), 1) << ReadWholeFile(settings);
        }
    }
}

} // namespace
#endif
