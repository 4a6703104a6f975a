// Ctrl-C and termination requests reaching a command that has a port open, as a shell or a
// service manager sends them: the program ends with the shell's code and leaves the port as it
// found it (no lock file, the line's settings back, free for the next program at once). The port
// is a pseudo-terminal that nothing answers on, so every command is caught mid-way; each is
// signalled once its output (or the bytes it sends) shows it is where the row says.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <signal.h>
#include <termios.h>

#include <filesystem>
#include <string>
#include <vector>

#include "comm/KSerialComm.h"
#include "comm/posix/KUucpLock.h"
#include "support/ChildProgram.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace {

constexpr int32_t kReachedBoundMs = 90000;  // identify asks only after listening at every rate
constexpr int32_t kEndBoundMs = 30000;

enum class Sign { ErrorLine, OutputLine, BytesSent };

struct Row {
    const char* name;
    std::vector<std::string> arguments;  // "PORT" stands for the pseudo-terminal
    Sign sign;
    const char* text;    // the line looked for (ErrorLine, OutputLine)
    size_t bytes;        // what it sends first (BytesSent)
    int signal;
    int exitCode;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

bool SameLine(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

class StopSignalEndToEnd : public ::testing::TestWithParam<Row> {};

TEST_P(StopSignalEndToEnd, EndsWithTheShellsCodeAndLeavesThePortAsFound) {
    const Row& row = GetParam();
    PtyPair pty;
    TempDir config;
    const termios before = pty.SlaveSettings();
    std::vector<std::string> arguments = row.arguments;
    for (std::string& word : arguments)
        if (word == "PORT") word = pty.SlavePath();
    ChildProgram program(arguments, config.Path());

    bool reached = false;
    switch (row.sign) {
    case Sign::ErrorLine: reached = program.WaitForError(row.text, kReachedBoundMs); break;
    case Sign::OutputLine: reached = program.WaitForOutput(row.text, kReachedBoundMs); break;
    case Sign::BytesSent: reached = pty.Receive(row.bytes, kReachedBoundMs).size() == row.bytes; break;
    }
    ASSERT_TRUE(reached) << program.Output();
    ASSERT_TRUE(program.Running()) << program.Output();

    EXPECT_EQ(program.Signal(row.signal, kEndBoundMs), row.exitCode) << program.Output();
    const std::string lock = KUucpLock::Folder() + "/" + KUucpLock::FileName(pty.SlavePath());
    EXPECT_FALSE(std::filesystem::exists(lock)) << lock;
    EXPECT_TRUE(SameLine(pty.SlaveSettings(), before));
    KSerialComm next;
    next.DevicePath = pty.SlavePath();
    next.BaudRate = 9600;
    EXPECT_TRUE(next.Open(0)) << "the port is not free again";
    next.Close();
}

const std::vector<std::string> kIdentify{"identify", "--port", "PORT"};
const std::vector<std::string> kListenOnly{"identify", "--listen-only", "--port", "PORT"};
const std::vector<std::string> kDoctor{"doctor", "PORT"};
// NavCom: its stop request is the first 14 bytes, and its settle and time query follow.
const std::vector<std::string> kTime{"time", "--receiver", "8", "--port", "PORT", "--baud", "9600"};
const std::vector<std::string> kSet{"set", "--receiver", "8", "--port", "PORT", "--baud", "9600", "--last-baud", "0"};

INSTANTIATE_TEST_SUITE_P(
    Commands, StopSignalEndToEnd,
    ::testing::Values(Row{"identify listening, Ctrl-C", kListenOnly, Sign::ErrorLine, "listening at 9600", 0, SIGINT, 130},
                      Row{"identify listening, terminated", kListenOnly, Sign::ErrorLine, "listening at", 0, SIGTERM, 143},
                      Row{"identify asking, Ctrl-C", kIdentify, Sign::ErrorLine, "asking at", 0, SIGINT, 130},
                      Row{"doctor listening, Ctrl-C", kDoctor, Sign::ErrorLine, "listening on", 0, SIGINT, 130},
                      Row{"doctor listening, terminated", kDoctor, Sign::ErrorLine, "listening on", 0, SIGTERM, 143},
                      Row{"time asking, Ctrl-C", kTime, Sign::BytesSent, "", 14, SIGINT, 130},
                      Row{"time asking, terminated", kTime, Sign::BytesSent, "", 14, SIGTERM, 143},
                      // Ctrl-C is how a session ends: its code says where it got to.
                      Row{"set detecting, Ctrl-C", kSet, Sign::OutputLine, "Auto-detecting", 0, SIGINT, 1},
                      Row{"set detecting, terminated", kSet, Sign::OutputLine, "Auto-detecting", 0, SIGTERM, 143}),
    [](const ::testing::TestParamInfo<Row>& param) { return "row" + std::to_string(param.index); });

// The simulator holds no port of the user's, but ends the same way.
TEST(StopSignalSimulator, EndsOnCtrlCAsMeantAndSaysATerminationRequestInItsCode) {
    TempDir config;
    for (const auto& [signal, exitCode] : {std::pair{SIGINT, 0}, std::pair{SIGTERM, 143}}) {
        ChildProgram simulator({"sim", "--receiver", "8", "--baud", "9600"}, config.Path());
        ASSERT_FALSE(simulator.FirstLine(kEndBoundMs).empty()) << simulator.Output();
        EXPECT_EQ(simulator.Signal(signal, kEndBoundMs), exitCode) << simulator.Output();
    }
}

} // namespace
#endif
