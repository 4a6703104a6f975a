// `velinor scan`: the program over recorded streams, for every family.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "families/KReceiverFamily.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

const std::string kCaptures = VELINOR_CAPTURES;

// One recording per family that has one (the families' own tests check the times found; here
// the program's report of them). No Topcon recording carries the time messages its scan reads.
struct Recording {
    int32_t type;
    const char* file;
    // Whether the recording holds a message the family reads a time from (the public SiRF
    // recordings carry none: their times are in messages the SiRF scan does not read).
    bool timed = true;
};

class ScanOfARecording : public ::testing::TestWithParam<Recording> {};

TEST_P(ScanOfARecording, ReportsFirstAndLastTimesAndTheMessagesFramed) {
    const Recording r = GetParam();
    if (!FamilyOfType(r.type)) GTEST_SKIP() << "type " << r.type << " is not supported in this build";
    const std::string path = kCaptures + "/" + r.file;
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no capture at " << path;
    const ProgramRun run = RunVelinor("scan --receiver " + std::to_string(r.type) + " '" + path + "'");
    EXPECT_EQ(run.exitCode, 0) << run.Both();
    EXPECT_NE(run.out.find("messages framed: "), std::string::npos) << run.out;
    if (!r.timed) {
        EXPECT_NE(run.out.find("\nNo time-tagged message in the first part of the recording.\n"), std::string::npos)
            << run.out;
        return;
    }
    EXPECT_NE(run.out.find("\nfirst: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nlast:  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nGPS week: "), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Captures, ScanOfARecording,
                         ::testing::Values(Recording{1, "ashtech/gpsd_ac12_binary.bin"},
                                           Recording{8, "navcom/gpsd_navcom.bin"},
                                           Recording{9, "novatel/rtklib_oemv_200911218.gps"},
                                           Recording{10, "sirf/gpsd_sirf2.bin", false},
                                           Recording{11, "topcon/gpsd_greis-raw-2m.bin", false}),
                         [](const ::testing::TestParamInfo<Recording>& param) {
                             return "type" + std::to_string(param.param.type);
                         });

// Through a pipe the scan finds what it finds in the file, keeping only the last 8 KiB as it
// reads; only the name differs.
TEST(ScanCommand, StandardInputScansAsTheFileDoes) {
    const std::string path = kCaptures + "/novatel/rtklib_oemv_200911218.gps";
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no capture at " << path;
    const ProgramRun file = RunVelinor("scan --receiver 9 '" + path + "'");
    const ProgramRun piped = RunVelinor("scan --receiver 9 -", "", "", "", path);
    EXPECT_EQ(piped.exitCode, 0) << piped.Both();
    ASSERT_EQ(file.out.rfind(path + ": ", 0), 0u) << file.out;
    EXPECT_EQ("-: " + file.out.substr(path.size() + 2), piped.out);
    EXPECT_NE(piped.out.find("\nlast:  GPS week"), std::string::npos) << piped.out;

    const ProgramRun device = RunVelinor("scan --receiver 9 /dev/zero");
    EXPECT_EQ(device.exitCode, 3);
    EXPECT_NE(device.err.find("is a character device, not a recording file"), std::string::npos) << device.err;
}

TEST(ScanCommand, SaysWhatItCannotDo) {
    TempDir dir;
    // A family without a time scan says so plainly.
    const ProgramRun leica = RunVelinor("scan --receiver 5 '" + dir.File("none.bin") + "'");
    EXPECT_EQ(leica.exitCode, 1);
    EXPECT_NE(leica.out.find("Leica GMX900 receivers have no time scan"), std::string::npos) << leica.out;

    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (!family.scansTime) continue;
        const std::string type = std::to_string(family.types.front().typeId);
        const ProgramRun missing = RunVelinor("scan --receiver " + type + " '" + dir.File("none.bin") + "'");
        EXPECT_EQ(missing.exitCode, 3) << family.name << missing.Both();
        EXPECT_NE(missing.err.find("none.bin"), std::string::npos) << missing.err;

        std::ofstream(dir.File("noise.bin"), std::ios::binary) << std::string(20000, 'x');
        const ProgramRun noise = RunVelinor("scan --receiver " + type + " '" + dir.File("noise.bin") + "'");
        EXPECT_EQ(noise.exitCode, 1) << family.name << noise.Both();
        EXPECT_NE(noise.out.find("message was framed"), std::string::npos) << noise.out;
    }
    EXPECT_EQ(RunVelinor("scan --receiver 8").exitCode, 2);
    EXPECT_EQ(RunVelinor("scan x.bin").exitCode, 2);
}

} // namespace
#endif
