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
    const struct {
        const char* driver;  // of major 1, /dev/null's
        bool serial;
    } cases[] = {{"mem", false}, {"misc", false}, {"ttyS", true}, {"ttyUSB", true}, {"pts", true}};
    for (const auto& c : cases) {
        TempDir proc("velinor-proc");
        Write(proc.File("devices"), std::string("Character devices:\n  1 ") + c.driver +
                                        "\n  4 tty\n\nBlock devices:\n  1 ramdisk\n");
        const std::vector<KPortFinding> findings = KPortCheckup::CheckDevice("/dev/null", {}, proc.Path());
        ASSERT_FALSE(findings.empty());
        EXPECT_EQ(findings[0].check, "device");
        EXPECT_EQ(findings[0].status == KPortFinding::Ok, c.serial) << c.driver << ": " << findings[0].message;
        EXPECT_NE(findings[0].message.find(c.driver), std::string::npos) << findings[0].message;
    }
}

} // namespace
#endif
