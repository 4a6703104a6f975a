// The doctor's checks that read the process table, on fake tables.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comm/KPortCheckup.h"
#include "support/TempDir.h"

namespace {

// A process table of programs by pid, and the kernel's character drivers.
void Write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(PortCheckup, NamesEachRunningProgramThatTakesSerialDevicesWithItsRemedy) {
    const struct {
        std::vector<std::string> programs;
        std::vector<std::string> expected;  // a word of each note's message, in order
    } cases[] = {
        {{"bash", "sshd"}, {}},
        {{"ModemManager"}, {"ModemManager"}},
        {{"gpsd", "brltty", "ModemManager", "bash"}, {"ModemManager", "brltty", "gpsd"}},
    };
    for (const auto& c : cases) {
        TempDir proc("velinor-proc");
        int pid = 100;
        for (const std::string& program : c.programs) Write(proc.File(std::to_string(pid++) + "/comm"), program + "\n");
        const std::vector<KPortFinding> findings = KPortCheckup::CheckSystem(proc.Path());
        if (c.expected.empty()) {
            ASSERT_EQ(findings.size(), 1u);
            EXPECT_EQ(findings[0].status, KPortFinding::Ok);
            continue;
        }
        ASSERT_EQ(findings.size(), c.expected.size());
        for (size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].status, KPortFinding::Note);
            EXPECT_NE(findings[i].message.find(c.expected[i]), std::string::npos) << findings[i].message;
            EXPECT_NE(findings[i].remedy.find("systemctl stop"), std::string::npos) << findings[i].remedy;
        }
    }
}

TEST(PortCheckup, TellsASerialDeviceFromAnotherCharacterDeviceByItsDriver) {
    // The drivers of major 1 (/dev/null's) as the kernel lists them; several may share it.
    const struct {
        const char* drivers;
        const char* driver;  // the one named
        bool serial;
    } cases[] = {
        {"  1 mem\n", "mem", false},
        {"  1 /dev/tty\n  1 /dev/console\n", "/dev/tty", false},
        {"  1 ttyUSB\n", "ttyUSB", true},
        {"  1 pts\n", "pts", true},
        {"  1 /dev/vc/0\n  1 tty\n  1 ttyS\n", "ttyS", true},
    };
    for (const auto& c : cases) {
        TempDir proc("velinor-proc");
        Write(proc.File("devices"), std::string("Character devices:\n") + c.drivers +
                                        "  4 tty\n\nBlock devices:\n  1 ramdisk\n");
        const std::vector<KPortFinding> findings = KPortCheckup::CheckDevice("/dev/null", {}, proc.Path());
        ASSERT_FALSE(findings.empty());
        EXPECT_EQ(findings[0].check, "device");
        EXPECT_EQ(findings[0].status == KPortFinding::Ok, c.serial) << c.driver << ": " << findings[0].message;
        EXPECT_NE(findings[0].message.find(c.driver), std::string::npos) << findings[0].message;
    }
}

} // namespace
#endif
