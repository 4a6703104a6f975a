// The u-blox receiver against scripted replies in virtual time, and over the real recordings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "comm/KRecordedComm.h"
#include "receivers/KUbloxReceiver.h"
#include "support/ReceiverRig.h"
#include "support/TimeSpanScan.h"
#include "support/UbloxFrames.h"

namespace {

// A MON-VER answer: software and hardware versions, then 30-character extensions.
Bytes MonVer(const std::vector<std::string>& extensions) {
    Bytes payload(40, 0);
    std::memcpy(payload.data(), "ROM CORE 3.01 (107888)", 22);
    std::memcpy(payload.data() + 30, "00080000", 8);
    for (const std::string& extension : extensions) {
        Bytes field(30, 0);
        std::memcpy(field.data(), extension.data(), extension.size());
        payload = Concat({payload, field});
    }
    return UbxFrame(0x0A, 0x04, payload);
}
Bytes Ack(uint8_t id) { return UbxFrame(0x05, 0x01, {0x06, id}); }
Bytes Nak(uint8_t id) { return UbxFrame(0x05, 0x00, {0x06, id}); }
// CFG-PRT as a receiver answers it: port, reserved, txReady, mode 8N1, 9600 baud, in and out
// protocol masks (UBX+NMEA+RTCM3 in, UBX+NMEA out), flags, reserved.
Bytes PrtPayload(uint8_t port) { return Hex("0" + std::to_string(port) + " 00 00 00 C0 08 00 00 80 25 00 00 23 00 03 00 00 00 00 00"); }
Bytes Prt(uint8_t port) { return UbxFrame(0x06, 0x00, PrtPayload(port)); }

const std::string kPingBytes = "B5 62 0A 04 00 00 0E 34";
const std::string kPortPollBytes = "B5 62 06 00 00 00 06 18";
// Periodic output the replies arrive amid: every wait must skip it.
const Bytes kOutput = Concat({UbxFrame(0x01, 0x07, Bytes(92, 0)), NmeaSentence("GNGGA,,,,,,0,00,99.99,,,,,,")});

struct Exchange {
    const char* name;
    std::string protocolVersion;  // the MON-VER extension, or empty for none
    Bytes portAnswer;             // to the CFG-PRT poll
    Bytes acknowledgement;        // to the rate change
    int32_t baud;
    bool result;
    int32_t generation;
    std::string written;  // after the ping
};

// The receiver pinged once and then asked to change its rate; replies come 50 and 150 ms after
// the change begins, amid periodic output.
TEST(UbloxReceiver, ChangesTheRateOfItsOwnPortOnlyPerGeneration) {
    auto frame = [](uint8_t id, const Bytes& payload) { return ToHex(UbxFrame(0x06, id, payload)); };
    auto valset = [&](const std::string& key, const std::string& rate) {
        return frame(0x8A, Hex("00 01 00 00 " + key + " " + rate));
    };
    const std::string uart1 = "01 00 52 40", uart2 = "01 00 53 40";
    // Port 2's settings with the rate replaced, mode and masks as polled.
    const std::string prt2At921600 = frame(0x00, Hex("02 00 00 00 C0 08 00 00 00 10 0E 00 23 00 03 00 00 00 00 00"));
    const std::string prt1At4800 = frame(0x00, Hex("01 00 00 00 C0 08 00 00 C0 12 00 00 23 00 03 00 00 00 00 00"));
    const Exchange cases[] = {
        {"u-blox 8, UART2", "PROTVER=18.00", Prt(2), Ack(0x00), 921600, true, 8, kPortPollBytes + " " + prt2At921600},
        {"u-blox 8, UART1, old firmware's text", "PROTVER 15.00", Prt(1), Ack(0x00), 4800, true, 8, kPortPollBytes + " " + prt1At4800},
        {"u-blox 8 without PROTVER", "", Prt(1), {}, 4800, true, 8, kPortPollBytes + " " + prt1At4800},
        {"generation 9, UART1", "PROTVER=27.31", Prt(1), Ack(0x8A), 115200, true, 9, kPortPollBytes + " " + valset(uart1, "00 C2 01 00")},
        {"generation 9, UART2", "PROTVER=32.01", Prt(2), Ack(0x8A), 460800, true, 9, kPortPollBytes + " " + valset(uart2, "00 08 07 00")},
        {"generation 10 refuses the poll", "PROTVER=34.10", Nak(0x00), Ack(0x8A), 230400, true, 10, kPortPollBytes + " " + valset(uart1, "00 84 03 00")},
        {"generation 20", "PROTVER=50.00", Nak(0x00), {}, 921600, true, 20, kPortPollBytes + " " + valset(uart1, "00 10 0E 00")},
        {"an acknowledgement of another message is none", "PROTVER=27.31", Prt(1), Ack(0x00), 9600, true, 9, kPortPollBytes + " " + valset(uart1, "80 25 00 00")},
        {"a refused rate change", "PROTVER=27.31", Prt(2), Nak(0x8A), 9600, false, 9, kPortPollBytes + " " + valset(uart2, "80 25 00 00")},
        {"u-blox 8 refused", "PROTVER=18.00", Prt(1), Nak(0x00), 9600, false, 8, kPortPollBytes + " " + frame(0x00, PrtPayload(1))},
        {"generation 9 refusing the poll leaves its port unknown", "PROTVER=27.31", Nak(0x00), {}, 9600, false, 9, kPortPollBytes},
        {"the cable on USB has no rate to set", "PROTVER=27.31", UbxFrame(0x06, 0x00, Hex("03 00 00 00 00 00 00 00 00 00 00 00 07 00 03 00 00 00 00 00")), {}, 9600, false, 9, kPortPollBytes},
        {"no answer to the poll", "PROTVER=18.00", {}, {}, 9600, false, 8, kPortPollBytes},
        {"a rate it does not have", "PROTVER=27.31", Prt(1), Ack(0x8A), 2400, false, 9, ""},
    };
    for (const Exchange& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedReceiverRig rig;
        KUbloxReceiver receiver(false);
        rig.Use(receiver);
        rig.ReplyAt(0, Concat({kOutput, MonVer(c.protocolVersion.empty() ? std::vector<std::string>{"FWVER=SPG 3.01"}
                                                                            : std::vector<std::string>{"FWVER=X", c.protocolVersion}),
                               kOutput}));
        ASSERT_TRUE(receiver.Ping(1000));
        EXPECT_EQ(ToHex(rig.Written()), kPingBytes);
        EXPECT_EQ(receiver.Generation(), c.generation);
        const int64_t start = rig.clock.NowMs();
        rig.ReplyAt(start + 50, Concat({kOutput, c.portAnswer, kOutput}));
        rig.ReplyAt(start + 150, Concat({kOutput, c.acknowledgement}));
        EXPECT_EQ(receiver.ChangeBaud(c.baud), c.result);
        EXPECT_EQ(ToHex(rig.Written()), c.written);
        // A missing acknowledgement costs its whole wait, never more.
        EXPECT_LE(rig.clock.NowMs() - start, 2200);
    }
}

TEST(UbloxReceiver, SavesTheRateToNonVolatileMemoryPerGeneration) {
    const struct {
        const char* name;
        std::string protocolVersion;
        Bytes portAnswer;
        Bytes acknowledgement;
        bool result;
        std::string written;
    } cases[] = {
        // VALSET of UART2's rate to the battery-backed and flash layers.
        {"generation 9, UART2", "PROTVER=27.31", Prt(2), Ack(0x8A), true,
         kPortPollBytes + " " + ToHex(UbxFrame(0x06, 0x8A, Hex("00 06 00 00 01 00 53 40 00 10 0E 00"))) },
        {"generation 10", "PROTVER=34.10", Nak(0x00), Ack(0x8A), true,
         kPortPollBytes + " " + ToHex(UbxFrame(0x06, 0x8A, Hex("00 06 00 00 01 00 52 40 00 10 0E 00")))},
        // CFG-CFG: nothing cleared, the port settings saved, nothing loaded, to BBR, flash, EEPROM and SPI flash.
        {"u-blox 8", "PROTVER=18.00", Ack(0x09), {}, true, "B5 62 06 09 0D 00 00 00 00 00 01 00 00 00 00 00 00 00 17 34 D9"},
        {"u-blox 8 refused", "PROTVER=18.00", Nak(0x09), {}, false, "B5 62 06 09 0D 00 00 00 00 00 01 00 00 00 00 00 00 00 17 34 D9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedReceiverRig rig;
        KUbloxReceiver receiver(false);
        rig.Use(receiver);
        rig.ReplyAt(0, MonVer({c.protocolVersion}));
        ASSERT_TRUE(receiver.Ping(1000));
        rig.Written();
        const int64_t start = rig.clock.NowMs();
        rig.ReplyAt(start + 50, c.portAnswer);
        rig.ReplyAt(start + 150, c.acknowledgement);
        EXPECT_EQ(receiver.SaveRate(921600), c.result);
        EXPECT_EQ(ToHex(rig.Written()), c.written);
    }
}

// NAV-TIMEGPS: iTOW, fTOW, week, leap seconds, validity, accuracy.
Bytes TimeGps(uint32_t itow, int32_t ftow, uint16_t week, uint8_t valid) {
    return UbxFrame(0x01, 0x20, Concat({LE(itow, 4), LE(static_cast<uint32_t>(ftow), 4), LE(week, 2), {18, valid}, LE(20, 4)}));
}

TEST(UbloxReceiver, QueryTimeTakesOnlyAValidTimeGpsAnswer) {
    const struct {
        const char* name;
        Bytes reply;
        std::optional<std::string> time;
    } cases[] = {
        {"valid", TimeGps(302400250, 500000, 1536, 0x07), At(1536, 302400250)},
        {"week not valid", TimeGps(302400250, 0, 1536, 0x01), std::nullopt},
        {"another message", UbxFrame(0x01, 0x07, Bytes(92, 0)), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedReceiverRig rig;
        KUbloxReceiver receiver(false);
        rig.Use(receiver);
        rig.ReplyAt(100, Concat({kOutput, c.reply}));
        KGPSTime time(400000000);
        EXPECT_EQ(receiver.QueryTime(time), c.time.has_value());
        EXPECT_EQ(ToHex(rig.Written()), "B5 62 01 20 00 00 21 64");
        if (c.time) EXPECT_EQ(At(time).substr(0, 14), c.time->substr(0, 14));
        else EXPECT_EQ(time, KGPSTime(400000000));
    }
}

TEST(UbloxReceiver, StopAllBroadcastLeavesTheOutputAlone) {
    ScriptedReceiverRig rig;
    KUbloxReceiver receiver(false);
    rig.Use(receiver);
    rig.ReplyAt(0, kOutput);
    rig.clock.Sleep(200);
    ASSERT_GT(receiver.Monitor()->MessageCount(), 0);
    EXPECT_TRUE(receiver.StopAllBroadcast(1000));
    EXPECT_TRUE(rig.Written().empty());
    EXPECT_EQ(receiver.Monitor()->MessageCount(), 0);
}

TEST(UbloxReceiver, ProtocolVersionNamesTheGeneration) {
    const struct {
        std::vector<std::string> extensions;
        int32_t protocol;
        int32_t generation;
    } cases[] = {
        {{"FWVER=SPG 3.01", "PROTVER=18.00", "GPS;GLO;GAL;BDS"}, 18, 8},
        {{"PROTVER 15.00"}, 15, 8},
        {{"FWVER=HPG 1.32", "PROTVER=27.31", "MOD=ZED-F9P"}, 27, 9},
        {{"PROTVER=33.40"}, 33, 9},
        {{"PROTVER=34.10"}, 34, 10},
        {{"PROTVER=50.00"}, 50, 20},
        {{"PROTVER="}, 0, 8},
        {{}, 0, 8},
    };
    for (const auto& c : cases) {
        const Bytes frame = MonVer(c.extensions);
        const int32_t protocol = KUbloxReceiver::ProtocolOfVersion(frame.data() + 6, frame.size() - 8);
        EXPECT_EQ(protocol, c.protocol) << c.extensions.size();
        EXPECT_EQ(KUbloxReceiver::GenerationOfProtocol(protocol), c.generation) << protocol;
    }
}

// Seconds since 1970 and milliseconds, as "s.mmm".
std::string Ms(const KGPSTime& time) {
    const auto ms = static_cast<int64_t>(std::llround(time.nanoseconds / 1e6));
    char text[32];
    std::snprintf(text, sizeof text, "%d.%03d", time.utc + static_cast<int32_t>(ms / 1000), static_cast<int32_t>(ms % 1000));
    return text;
}

// The first and last time of each recording, read off by a plain walk over its checked frames:
// RXM-RAWX first in the NEO-M8T's, NAV-PVT first in the ZED-F9s' (its UTC date 18 leap seconds
// behind), NAV-TIMEGPS last everywhere. The NMEA-only recordings give no UBX message at all.
TEST(UbloxScan, FirstAndLastTimeOfTheRealRecordings) {
    const std::filesystem::path dir = std::filesystem::path(VELINOR_CAPTURES) / "ublox";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << dir << " not available";
    const struct {
        const char* file;
        bool scanned;
        std::string first, last;
    } cases[] = {
        {"gpsd_ublox-neo-m8t.bin", true, "1540500963.992", "1540501002.000"},
        {"gpsd_ublox-x20p.bin", true, "1772911992.000", "1772912020.000"},
        {"gpsd_ublox-zed-f9p-rtk.bin", true, "1665486282.000", "1665486291.000"},
        {"gpsd_ublox-zed-f9t-rtcm3.bin", true, "1571300027.000", "1571300052.000"},
        {"gpsd_ublox-8.bin", false, "", ""},
        {"gpsd_ublox-neo-m9n-nmea.bin", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::ifstream in(dir / c.file, std::ios::binary);
        ASSERT_TRUE(in);
        KRecordedComm link(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
        KUbloxReceiver receiver(false);
        const TimeSpan span = ScanTimeSpanOf(receiver, link);
        EXPECT_EQ(span.scanned, c.scanned);
        EXPECT_EQ(span.gotFirst, c.scanned);
        EXPECT_EQ(span.gotLast, c.scanned);
        if (!c.scanned) continue;
        EXPECT_FALSE(span.weekUnknown);
        EXPECT_EQ(Ms(span.first), c.first);
        EXPECT_EQ(Ms(span.last), c.last);
    }
}

} // namespace
