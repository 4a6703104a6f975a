// On a machine shared with other users: names that others choose (a process's name, a USB
// adapter's strings, a link's name) reach the reader's terminal only escaped, and a port a login
// prompt listens on is left alone.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <string>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "comm/KPortRegistry.h"
#include "support/FakePortTree.h"
#include "support/HolderProcess.h"
#include "support/ProgramRun.h"
#include "support/PtyPair.h"

namespace {

// Retitles the terminal, breaks the line, and starts a C1 "clear screen": 13 bytes, within the
// 15 a process name holds.
const std::string kHostile = "\x1b]0;pwn\x07\n\xc2\x9b" "2J";
const std::string kShown = "\\e]0;pwn\\x07\\n\\xc2\\x9b2J";

// Whether `text` could drive a terminal: a control character other than a line break (ESC, BEL,
// CR among them), DEL, or a C1 control, alone or in UTF-8.
bool DrivesATerminal(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F || (c >= 0x80 && c <= 0x9F && (i == 0 || text[i - 1] != '\xc2')))
            return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return true;
    }
    return false;
}

// A process of another program, named `name`, with the pseudo-terminal's slave open as a getty
// has its line (session leader, controlling terminal), having written `prompt` to it.
std::unique_ptr<HolderProcess> Hold(PtyPair& pty, const std::string& name, const std::string& prompt = "") {
    const std::string device = pty.SlavePath();
    const int master = pty.Master();
    auto holder = std::make_unique<HolderProcess>(name, [device, master, prompt] {
        ::close(master);  // inherited: it is not the terminal's other end
        ::setsid();
        const int fd = ::open(device.c_str(), O_RDWR);
        if (fd >= 0 && !prompt.empty() && ::write(fd, prompt.data(), prompt.size()) < 0) return std::string("-1");
        return std::to_string(fd);
    });
    EXPECT_NE(holder->Said(), "-1");
    return holder;
}

TEST(SharedMachine, AProgramNamedWithEscapeSequencesIsShownEscapedByEveryCommand) {
    PtyPair pty;
    const auto holder = Hold(pty, kHostile);
    const std::string port = pty.SlavePath();
    const std::string pid = "(pid " + std::to_string(holder->Pid()) + ")";
    const struct {
        std::string arguments;
        int exitCode;
    } runs[] = {
        {"doctor " + port, 1},
        {"set --receiver 6 --port " + port + " --baud 9600 --until-confirmed --timeout 5", 3},
        {"identify --listen-only --port " + port, 3},
        {"time --receiver 6 --port " + port + " --baud 9600", 3},
    };
    std::vector<ProgramRun> seen(std::size(runs));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::size(runs); ++i)
        threads.emplace_back([&, i] { seen[i] = RunVelinor(runs[i].arguments); });
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < std::size(runs); ++i) {
        SCOPED_TRACE(runs[i].arguments + "\n" + seen[i].Both());
        EXPECT_EQ(seen[i].exitCode, runs[i].exitCode);
        EXPECT_NE(seen[i].Both().find(kShown + " " + pid), std::string::npos);
        EXPECT_FALSE(DrivesATerminal(seen[i].Both()));
    }

    // JSON escapes the name its own way, and a parser reads it back as it is.
    const ProgramRun json = RunVelinor("doctor --json " + port);
    const auto document = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << json.out;
    for (const char c : json.out) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << json.out;
    bool named = false;
    for (const auto& finding : document["findings"])
        named |= finding["message"].get<std::string>().find(kHostile + " " + pid) != std::string::npos;
    EXPECT_TRUE(named) << json.out;
}

TEST(SharedMachine, AdapterStringsAndLinkNamesFromTheSystemAreShownEscaped) {
    FakePortTree tree;
    tree.Device("ttyUSB0");
    tree.Hardware("ttyUSB0", "1-1",
                  {{"manufacturer", "\x1b[2J\x1b]0;owned\x07"}, {"product", "GPS\xc2\x9b" "31m"}, {"serial", "\xff\xfe"},
                   {"idVendor", "0403"}, {"idProduct", "6001"}},
                  "ftdi_sio", true);
    const std::string link = "usb-\x1b]2;x\x07\xc2\x9b" "2J-if00";
    tree.ById(link, "../../ttyUSB0");
    tree.Install();
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPorts({}), kExitConfirmed);
    const std::string text = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPorts({"--json"}), kExitConfirmed);
    const std::string json = testing::internal::GetCapturedStdout();
    KPortRegistry::Teardown();

    EXPECT_FALSE(DrivesATerminal(text)) << text;
    EXPECT_NE(text.find("/serial/by-id/usb-\\e]2;x\\x07\\xc2\\x9b2J-if00\n"), std::string::npos) << text;
    EXPECT_NE(text.find(", serial \\xff\\xfe, USB 0403:6001"), std::string::npos) << text;
    for (const char c : json) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << json;
    const auto document = nlohmann::json::parse(json, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << json;
    EXPECT_EQ(document["ports"][0]["stableName"], tree.Dev() + "/serial/by-id/" + link);
}

TEST(SharedMachine, IdentifyLeavesAPortWithALoginPromptOnItAlone) {
    // identify's requests hold ^C, ^D, ^\ and XON bytes and text lines: sent to a serial console,
    // they would be the console's input. A getty holding the line is a holder like any other.
    PtyPair pty;
    const auto getty = Hold(pty, "agetty", "receiver login: ");
    const ProgramRun run = RunVelinor("identify --port " + pty.SlavePath());
    EXPECT_EQ(run.exitCode, 3) << run.Both();
    EXPECT_NE(run.err.find("is open in agetty (pid " + std::to_string(getty->Pid()) + ")"), std::string::npos)
        << run.err;
    EXPECT_EQ(pty.Receive(4096, 200), "receiver login: ") << "nothing but the prompt reached the line";
}

TEST(SharedMachine, IdentifysHelpWarnsOffSerialConsoles) {
    const ProgramRun help = RunVelinor("identify --help");
    EXPECT_NE(help.out.find("serial console"), std::string::npos) << help.out;
}

} // namespace
#endif
