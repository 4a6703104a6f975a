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

// Every recording, read by the family it comes from: where the first time comes from and what
// it says, or that there is none and why (exit 1). A time of week without its week shows as
// seconds "of an unknown GPS week".
struct Recording {
    int32_t type;
    const char* file;
    int exitCode;
    const char* first;        // the start of the first time's text; the reason when there is none
    const char* firstSource;  // the first message the scan read a time from
};

void PrintTo(const Recording& r, std::ostream* os) { *os << r.file << " as type " << r.type; }

class ScanOfARecording : public ::testing::TestWithParam<Recording> {};

TEST_P(ScanOfARecording, FindsTheTimesItsMessagesCarry) {
    const Recording r = GetParam();
    if (!FamilyOfType(r.type)) GTEST_SKIP() << "type " << r.type << " is not supported in this build";
    const std::string path = kCaptures + "/" + r.file;
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no capture at " << path;
    const ProgramRun run = RunVelinor("scan --receiver " + std::to_string(r.type) + " '" + path + "'");
    EXPECT_EQ(run.exitCode, r.exitCode) << run.Both();
    if (r.exitCode != 0) {
        EXPECT_NE(run.out.find(r.first), std::string::npos) << run.out;
        return;
    }
    EXPECT_NE(run.out.find("\nfirst: " + std::string(r.first)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nlast:  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\ntime messages: " + std::string(r.firstSource) + " ("), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Captures, ScanOfARecording,
    ::testing::Values(
        Recording{1, "ashtech/gpsd_ac12_binary.bin", 0, "66944.000 s of an unknown GPS week", "PBN"},
        // OxTS lines: "$PASHR," then a time of day, no date and no Ashtech time message.
        Recording{1, "ashtech/gpsd_rst39.bin", 1, "No time in the recording: looked for GBN, PBN; found 204132.000 (1)", ""},
        Recording{16, "mtk/gpsd_mtk-3301.bin", 0, "GPS week 1493, 548090.000 s of week, 2008/08/23 08:14:50.000 GPS = "
                                                  "2008/08/23 08:14:36.000 UTC", "GPRMC"},
        Recording{16, "mtk/gpsd_mtk-3329.bin", 0, "GPS week 1624, 123702.000", "GPRMC"},
        Recording{16, "mtk/gpsd_quectel-L70.bin", 0, "GPS week 2200, 313297.000", "GPZDA"},
        // A u-blox that speaks NMEA only is read as NMEA.
        Recording{16, "ublox/gpsd_ublox-8.bin", 0, "GPS week 1931", "GNRMC"},
        Recording{16, "ublox/gpsd_ublox-neo-m9n-nmea.bin", 0, "GPS week 2113, 599883.000", "GNRMC"},
        // The OxTS unit's NMEA, which the Ashtech framer leaves alone.
        Recording{16, "ashtech/gpsd_rst39.bin", 0, "GPS week 1780, 333708.000", "GPRMC"},
        Recording{8, "navcom/gpsd_navcom.bin", 0, "GPS week 1410, 123624.000", "0xb0"},
        Recording{9, "novatel/edie_BESTUTMBIN.GPS", 0, "GPS week 2237, 269471.000", "BESTUTM"},
        Recording{9, "novatel/edie_advanceddecoder_alllogs.BIN", 0, "GPS week 1860, 201726.281", "LOG"},
        Recording{9, "novatel/edie_bestpos.bin", 0, "GPS week 2000, 202512.000", "BESTPOS"},
        Recording{9, "novatel/edie_bestsats.BIN", 0, "GPS week 1983, 319810.000", "BESTSATS"},
        Recording{9, "novatel/edie_binary_sync_error.BIN", 1, "No Novatel message was framed.", ""},
        Recording{9, "novatel/rtklib_oemv_200911218.gps", 0, "GPS week 1562, 515220.000", "RANGECMP"},
        // Old firmware counts the week modulo 1024 and leaves the UTC fields empty.
        Recording{10, "sirf/gpsd_bu303-moving.bin", 0, "398102.280 s of an unknown GPS week", "0x02"},
        Recording{10, "sirf/gpsd_bu303b-nofix.bin", 1,
                  "No time in the recording: looked for 0x02, 0x29, 0x34, 0x07, 0xfa, 0x1c; found 0x1b (6)", ""},
        // The first times, before the fix, are the receiver's guess and are not taken.
        Recording{10, "sirf/gpsd_sirf2.bin", 0, "GPS week 2187, 419870.000", "0x02"},
        Recording{10, "sirf/gpsd_sirfstarv.bin", 0, "GPS week 2050, 267453.000", "0x02"},
        Recording{10, "sirf/gpsd_ublox-sirf1.bin", 0, "551186.990 s of an unknown GPS week", "0x02"},
        // "GT" counts its week modulo 1024; "~~" takes its date from "RD".
        Recording{11, "topcon/gpsd_greis-binary.bin", 0, "531317.500 s of an unknown GPS week", "GT"},
        Recording{11, "topcon/gpsd_greis-def.bin", 0, "GPS week 1994, 504121.000", "~~"},
        Recording{11, "topcon/gpsd_greis-raw-2m.bin", 0, "7211.000 s of an unknown GPS week", "GT"},
        Recording{11, "topcon/gpsd_greis-test.bin", 0, "166973.750 s of an unknown GPS week", "GT"},
        Recording{11, "topcon/rtklib_javad_20110115.jps", 0, "GPS week 1618, 527204.000", "~~"},
        // Raw-data records carry a time of week; the ephemerides before them carry the week.
        Recording{12, "trimble/rtklib_rt17c_20140705.rt17", 0, "GPS week 1799, 550375.000", "0x57"},
        Recording{12, "trimble/rtklib_rt17e_20140705.rt17", 0, "GPS week 1799, 551832.000", "0x57"},
        Recording{15, "ublox/gpsd_ublox-8.bin", 1, "No u-blox message was framed.", ""},
        Recording{15, "ublox/gpsd_ublox-neo-m8t.bin", 0, "GPS week 2024, 420963.992", "RXM-RAWX"},
        Recording{15, "ublox/gpsd_ublox-x20p.bin", 0, "GPS week 2408, 588792.000", "NAV-TIMEGPS"},
        Recording{15, "ublox/gpsd_ublox-zed-f9p-rtk.bin", 0, "GPS week 2231, 212682.000", "NAV-PVT"},
        Recording{15, "ublox/gpsd_ublox-zed-f9t-rtcm3.bin", 0, "GPS week 2075, 375227.000", "NAV-PVT"}),
    [](const ::testing::TestParamInfo<Recording>& param) { return "case" + std::to_string(param.index); });

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

    // A folder is no readable file: said, with exit 3, never taken for a stream of some size.
    TempDir dir;
    const ProgramRun folder = RunVelinor("scan --receiver 9 '" + dir.Path() + "'");
    EXPECT_EQ(folder.exitCode, 3) << folder.Both();
    EXPECT_NE(folder.err.find("is a folder, not a recording file"), std::string::npos) << folder.err;

    const ProgramRun device = RunVelinor("scan --receiver 9 /dev/zero");
    EXPECT_EQ(device.exitCode, 3);
    EXPECT_NE(device.err.find("is a character device, not a recording file"), std::string::npos) << device.err;
}

TEST(ScanCommand, SaysWhatItCannotDo) {
    TempDir dir;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
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
