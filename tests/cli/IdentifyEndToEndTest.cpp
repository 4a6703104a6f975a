// `velinor identify --json` over real pseudo-terminals, in real time: the simulated receiver of
// every family at a random rate, talking (found by listening, not a byte sent) and silenced
// (found by asking, its rate unchanged); plain NMEA and noise on the line (nothing found); and
// real recordings played at a rate (found as their protocol). The rows of a case run side by
// side, each within generous bounds.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "comm/KBaudRates.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "session/KReceiverIdentifier.h"
#include "sim/KPtySimulator.h"
#include "sim/KSimReplayDevice.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

struct Row {
    std::string name;
    std::unique_ptr<KSimDevice> device;
    std::string options;  // for velinor identify
    // Expected: the protocol found (empty: nothing), at which rate, by which method.
    std::string protocol;
    int32_t baud = 0;
    std::string method;
};

struct Seen {
    ProgramRun run;
    nlohmann::json document;
    uint64_t bytesFromHost = 0;
    uint32_t deviceBaudAfter = 0;
    std::string error;
};

Seen IdentifyOnPty(Row& row) {
    Seen seen;
    KPtySimulator simulator(std::move(row.device));
    if (!simulator.Start(seen.error)) return seen;
    TempDir config;
    seen.run = RunVelinor("identify --json --port " + simulator.SlavePath() + " " + row.options, config.Path());
    seen.document = nlohmann::json::parse(seen.run.out, nullptr, false);
    seen.bytesFromHost = simulator.BytesFromHost();
    seen.deviceBaudAfter = simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); });
    return seen;
}

void RunRows(std::vector<Row>& rows) {
    std::vector<Seen> seen(rows.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); ++i) threads.emplace_back([&, i] { seen[i] = IdentifyOnPty(rows[i]); });
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const Seen& s = seen[i];
        SCOPED_TRACE(row.name + "\n" + s.run.Both());
        ASSERT_TRUE(s.error.empty()) << s.error;
        ASSERT_FALSE(s.document.is_discarded());
        EXPECT_EQ(s.document["version"], 1);
        if (row.protocol.empty()) {
            EXPECT_EQ(s.run.exitCode, 1);
            EXPECT_EQ(s.document["found"], false);
            EXPECT_TRUE(s.document["protocol"].is_null());
            EXPECT_EQ(s.document["heard"].size(), KReceiverIdentifier::SearchOrder().size());
        } else {
            EXPECT_EQ(s.run.exitCode, 0);
            EXPECT_EQ(s.document["found"], true);
            EXPECT_EQ(s.document["protocol"], row.protocol);
            EXPECT_EQ(s.document["baud"], row.baud);
            EXPECT_EQ(s.document["method"], row.method);
            EXPECT_FALSE(s.document["types"].empty());
        }
        // Listening sends nothing; asking changes nothing.
        if (row.method != "asking") {
            EXPECT_EQ(s.bytesFromHost, 0u);
        }
        if (row.baud != 0) {
            EXPECT_EQ(s.deviceBaudAfter, static_cast<uint32_t>(row.baud));
        }
        std::printf("| %-34s | %-10s | %6s | %-9s | listen %5.1f s | ask %5.1f s |\n", row.name.c_str(),
                    s.document.value("protocol", nlohmann::json()).is_null() ? "-" : s.document["protocol"].get<std::string>().c_str(),
                    s.document["baud"].is_null() ? "-" : std::to_string(s.document["baud"].get<int>()).c_str(),
                    s.document["method"].is_null() ? "-" : s.document["method"].get<std::string>().c_str(),
                    s.document.value("listenMilliseconds", 0) / 1000.0, s.document.value("askMilliseconds", 0) / 1000.0);
    }
}

// One row per family: its first type at a random rate it runs at and this system can set (the
// seed is printed).
std::vector<Row> FamilyRows(bool talking) {
    const unsigned seed = std::random_device{}();
    std::printf("rates drawn with seed %u\n", seed);
    std::mt19937 random(seed);
    std::vector<Row> rows;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        const int32_t type = family.types.front().typeId;
        std::vector<int32_t> rates;
        const std::vector<uint32_t> deviceRates = KSimFactory::Rates(type);
        for (int32_t rate : family.types.front().rates)
            if (SystemSetsRate(rate) &&
                std::find(deviceRates.begin(), deviceRates.end(), static_cast<uint32_t>(rate)) != deviceRates.end())
                rates.push_back(rate);
        const int32_t baud = rates[random() % rates.size()];
        KSimDeviceOptions options;
        options.streaming = talking;
        std::string error;
        // Plain NMEA proves nothing: a talking MediaTek receiver is found by asking too.
        const bool heard = talking && family.protocol.listeningProves;
        Row row{std::string(family.name) + (talking ? " talking" : " silenced") + " at " + std::to_string(baud),
                KSimFactory::CreateDevice(type, baud, options, error), "", family.protocol.name, baud,
                heard ? "listening" : "asking"};
        EXPECT_NE(row.device, nullptr) << error;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::unique_ptr<KSimDevice> Replay(std::vector<uint8_t> bytes, int32_t baud, const std::string& name) {
    return std::make_unique<KSimReplayDevice>(std::move(bytes), static_cast<uint32_t>(baud), name);
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(IdentifyEndToEnd, FindsEveryTalkingFamilyByListeningWithoutSendingAByte) {
    std::vector<Row> rows = FamilyRows(true);
    RunRows(rows);
}

TEST(IdentifyEndToEnd, FindsEverySilencedFamilyByAskingWithoutChangingItsRate) {
    std::vector<Row> rows = FamilyRows(false);
    RunRows(rows);
}

TEST(IdentifyEndToEnd, PlainNmeaAndNoiseIdentifyNothingAndRealRecordingsTheirProtocol) {
    std::string nmea;
    for (int i = 0; i < 20; ++i)
        nmea += "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4B\r\n"
                "$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*7A\r\n"
                "$GPXDR,C,21.5,C,AIR,P,0.9651,B,BARO*5E\r\n";
    std::mt19937 random(7);
    std::vector<uint8_t> noise(20000);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    std::vector<Row> rows;
    rows.push_back({"plain NMEA at 4800", Replay(Bytes(nmea), 4800, "nmea"), "--listen-only", "", 0, ""});
    rows.push_back({"noise at 115200", Replay(noise, 115200, "noise"), "--listen-only", "", 0, ""});
    const struct {
        const char* file;
        const char* protocol;
        int32_t baud;
    } recordings[] = {
        {"ashtech/gpsd_rst39.bin", "ashtech", 9600},     {"navcom/gpsd_navcom.bin", "navcom", 19200},
        {"novatel/edie_bestsats.BIN", "novatel", 115200}, {"sirf/gpsd_sirfstarv.bin", "sirf", 38400},
        {"topcon/gpsd_greis-def.bin", "topcon", 57600},   {"ublox/gpsd_ublox-zed-f9t-rtcm3.bin", "ubx", 115200},
    };
    for (const auto& r : recordings) {
        std::ifstream in(std::string(VELINOR_CAPTURES) + "/" + r.file, std::ios::binary);
        if (!in) continue;  // without the recordings, the NMEA and noise rows still run
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        rows.push_back({std::string(r.file) + " at " + std::to_string(r.baud), Replay(std::move(bytes), r.baud, r.file),
                        "--listen-only", r.protocol, r.baud, "listening"});
    }
    // A u-blox that sends NMEA only proves nothing by listening.
    std::ifstream nmeaOnly(std::string(VELINOR_CAPTURES) + "/ublox/gpsd_ublox-neo-m9n-nmea.bin", std::ios::binary);
    if (nmeaOnly)
        rows.push_back({"ublox/gpsd_ublox-neo-m9n-nmea.bin at 9600",
                        Replay(std::vector<uint8_t>((std::istreambuf_iterator<char>(nmeaOnly)), std::istreambuf_iterator<char>()),
                               9600, "m9n"),
                        "--listen-only", "", 0, ""});
    RunRows(rows);
}

} // namespace
#endif
