// The families' message readers: what each message is called and the time it carries, with the
// week or date an earlier message of the stream told where the message itself has none.
#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <string>
#include <vector>

#include "families/KReceiverFamily.h"
#include "receivers/KMessageReader.h"
#include "support/AshtechFrames.h"
#include "support/FramerHarness.h"
#include "support/LeicaFrames.h"
#include "support/NavComFrames.h"
#include "support/NovatelFrames.h"
#include "support/SiRFFrames.h"
#include "support/TopconFrames.h"
#include "support/TrimbleFrames.h"
#include "support/UbloxFrames.h"

namespace {

using Time = KMessageFacts::Time;

Bytes Le(uint64_t value, int bytes) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

Bytes Be(uint64_t value, int bytes) { return sirf::BigEndian(value, bytes); }

Bytes Padded(Bytes bytes, size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

// What the last message of a stream should say. A Full time is given as GPS week and seconds;
// a time of week alone as seconds (week 0).
struct ReaderCase {
    const char* what;
    const char* protocol;
    std::vector<Bytes> stream;
    const char* name;
    Time time;
    uint32_t week = 0;
    double secondsOfWeek = 0;
    KTimeScale told = KTimeScale::Gps;
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.what; }

class MessageReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(MessageReader, NamesTheMessageAndReadsItsTime) {
    const ReaderCase& c = GetParam();
    const std::unique_ptr<KMessageReader> reader = CreateMessageReader(c.protocol);
    ASSERT_NE(reader, nullptr) << c.protocol;
    KMessageFacts facts;
    for (const Bytes& bytes : c.stream) facts = reader->Read(StreamMessage(bytes.data(), static_cast<int32_t>(bytes.size())));
    EXPECT_EQ(facts.name, c.name);
    ASSERT_EQ(facts.time, c.time);
    if (c.time == Time::None) return;
    EXPECT_EQ(facts.gps.GetGPSWeek(), c.week);
    EXPECT_NEAR(facts.gps.GetSecondsOfWeek(), c.secondsOfWeek, 1e-6);
    EXPECT_EQ(facts.told, c.told);
}

// 2020-01-01 00:00:00 UTC is a Wednesday of GPS week 2086, 18 leap seconds behind GPS time.
constexpr uint32_t kWeek2020 = 2086;
constexpr double kNewYear2020 = 3 * 86400 + 18;

Bytes NavSol(uint32_t towMs, uint16_t week, uint8_t flags) {
    return UbxFrame(0x01, 0x06, Padded(Concat({Le(towMs, 4), Le(0, 4), Le(week, 2), {3, flags}}), 52));
}

Bytes NavTimeUtc(uint8_t valid) {
    return UbxFrame(0x01, 0x21, Concat({Le(0, 4), Le(0, 4), Le(0, 4), Le(2020, 2), {1, 1, 0, 0, 0, valid}}));
}

// SiRF 0x29 with its navigation valid and a fix, a week and time of week (ms), no UTC date.
Bytes Geodetic(uint16_t week, uint32_t towMs) {
    return sirf::Frame(Padded(Concat({{0x29}, Be(0, 2), Be(0x0004, 2), Be(week, 2), Be(towMs, 4)}), 91));
}

// SiRF 0x02: mode 1 (the fix), a week modulo 1024 and hundredths of seconds of week.
Bytes Measured(uint8_t mode1, uint16_t week, uint32_t towHundredths) {
    Bytes payload = Padded({0x02}, 41);
    payload[19] = mode1;
    const Bytes fields = Concat({Be(week, 2), Be(towHundredths, 4)});
    std::copy(fields.begin(), fields.end(), payload.begin() + 22);
    return sirf::Frame(payload);
}

Bytes ReceiverDate(uint16_t year, uint8_t month, uint8_t day, uint8_t base) {
    return TopconMessage("RD", Concat({Le(year, 2), {month, day, base, 0}}));
}
Bytes ReceiverTime(uint32_t ms) { return TopconMessage("~~", Concat({Le(ms, 4), {0}})); }

// A Trimble GPS ephemeris (RETSVDATA type 1): its week and the time of week it was sent.
Bytes Ephemeris(uint16_t week, uint32_t sent) {
    return TrimblePacket(0x55, Padded(Concat({{0x01, 0x12}, Be(week, 2), Be(0, 4), Be(sent, 4)}), 0xB0));
}
// A raw-data record's first page with the milliseconds of the week.
Bytes RawData(double ms) {
    return TrimblePacket(0x57, Padded(Concat({{0x00, 0x12, 0x00, 0x00}, Be(std::bit_cast<uint64_t>(ms), 8)}), 40));
}

Bytes Sbf(uint16_t number, uint32_t towMs, uint16_t week) {
    return Padded(Concat({{'$', '@', 0, 0}, Le(number, 2), Le(24, 2), Le(towMs, 4), Le(week, 2)}), 24);
}

NovatelHeader TimeStatus(uint8_t status) {
    NovatelHeader header;
    header.messageId = 101;
    header.timeStatus = status;
    header.week = 2000;
    header.milliseconds = 1500;
    return header;
}

INSTANTIATE_TEST_SUITE_P(
    Families, MessageReader,
    ::testing::Values(
        ReaderCase{"NAV-SOL with week and time valid", "ubx", {NavSol(100000000, 2000, 0x0C)}, "NAV-SOL", Time::Full,
                   2000, 100000},
        ReaderCase{"NAV-SOL with only its time of week valid", "ubx", {NavSol(100000000, 2000, 0x08)}, "NAV-SOL",
                   Time::OfWeek, 0, 100000},
        ReaderCase{"NAV-TIMEUTC valid, in UTC", "ubx", {NavTimeUtc(0x07)}, "NAV-TIMEUTC", Time::Full, kWeek2020,
                   kNewYear2020, KTimeScale::Utc},
        ReaderCase{"NAV-TIMEUTC whose UTC is not valid", "ubx", {NavTimeUtc(0x03)}, "NAV-TIMEUTC", Time::None},
        ReaderCase{"an unknown UBX message by class and id", "ubx", {UbxFrame(0x01, 0x5D, Bytes(8))}, "NAV-0x5d",
                   Time::None},
        ReaderCase{"RMC with valid data", "nmea", {NmeaSentence("GNRMC,120000.00,A,,,,,,,010120,,,A")}, "GNRMC",
                   Time::Full, kWeek2020, kNewYear2020 + 43200, KTimeScale::Utc},
        ReaderCase{"RMC without a fix", "nmea", {NmeaSentence("GPRMC,120000.00,V,,,,,,,010120,,,N")}, "GPRMC", Time::None},
        ReaderCase{"ZDA", "nmea", {NmeaSentence("GPZDA,000001.50,01,01,2020,00,00")}, "GPZDA", Time::Full, kWeek2020,
                   kNewYear2020 + 1.5, KTimeScale::Utc},
        ReaderCase{"SiRF 0x02 without a fix", "sirf", {Measured(0, 52, 100)}, "0x02", Time::None},
        ReaderCase{"SiRF 0x02 alone: a week modulo 1024", "sirf", {Measured(4, 52, 12345600)}, "0x02", Time::OfWeek, 0,
                   123456},
        ReaderCase{"SiRF 0x02 after 0x29 told the full week", "sirf", {Geodetic(2100, 123000000), Measured(4, 52, 12345600)},
                   "0x02", Time::Full, 2100, 123456},
        ReaderCase{"GREIS ~~ on the date RD told", "topcon", {ReceiverDate(2020, 1, 1, 0), ReceiverTime(86399000)}, "~~",
                   Time::Full, kWeek2020, 3 * 86400 + 86399},
        ReaderCase{"GREIS ~~ past midnight", "topcon",
                   {ReceiverDate(2020, 1, 1, 0), ReceiverTime(86399000), ReceiverTime(1000)}, "~~", Time::Full,
                   kWeek2020, 4 * 86400 + 1},
        ReaderCase{"GREIS ~~ on a UTC base", "topcon", {ReceiverDate(2020, 1, 1, 1), ReceiverTime(0)}, "~~", Time::Full,
                   kWeek2020, kNewYear2020, KTimeScale::Utc},
        ReaderCase{"GREIS ~~ on a GLONASS base, three hours ahead of UTC", "topcon",
                   {ReceiverDate(2020, 1, 1, 2), ReceiverTime(3 * 3600000)}, "~~", Time::Full, kWeek2020, kNewYear2020,
                   KTimeScale::Utc},
        ReaderCase{"GREIS ~~ without a date", "topcon", {ReceiverTime(1000)}, "~~", Time::None},
        ReaderCase{"GREIS GT after a full time", "topcon",
                   {ReceiverDate(2020, 1, 1, 0), ReceiverTime(1000), TopconMessage("GT", Concat({Le(259202000, 4), Le(kWeek2020 % 1024, 2), {0}}))},
                   "GT", Time::Full, kWeek2020, 259202},
        ReaderCase{"a Trimble record in the week of the ephemeris before it", "trimble",
                   {Ephemeris(1799, 547218), RawData(550375000.0)}, "0x57", Time::Full, 1799, 550375},
        ReaderCase{"a Trimble record just past the ephemeris' week end", "trimble",
                   {Ephemeris(1799, 604790), RawData(5000.0)}, "0x57", Time::Full, 1800, 5},
        ReaderCase{"a Trimble record alone", "trimble", {RawData(5000.0)}, "0x57", Time::OfWeek, 0, 5},
        ReaderCase{"a Novatel log header", "novatel", {NovatelLog(Bytes(8), TimeStatus(180))}, "TIME", Time::Full, 2000, 1.5},
        ReaderCase{"a Novatel log whose time is UNKNOWN", "novatel", {NovatelLog(Bytes(8), TimeStatus(20))}, "TIME",
                   Time::None},
        ReaderCase{"an SBF block header", "sbf", {Sbf(4007, 1500, 2000)}, "PVTGeodetic", Time::Full, 2000, 1.5},
        ReaderCase{"an SBF block with do-not-use time", "sbf", {Sbf(4090, 0xFFFFFFFF, 65535)}, "block4090", Time::None},
        ReaderCase{"a NavCom PVT block", "navcom", {navcom::Frame(0xB1, Padded(Concat({Le(1410, 2), Le(123624000, 4)}), 80))},
                   "0xb1", Time::Full, 1410, 123624},
        ReaderCase{"an Ashtech GBN", "ashtech", {AshtechFixed("GBN", Padded(Concat({Le(1400, 2), Le(2000, 4)}), 36))},
                   "GBN", Time::Full, 1400, 2},
        ReaderCase{"an Ashtech PBN", "ashtech", {AshtechFixed("PBN", Padded(Be(7000, 4), 54))}, "PBN", Time::OfWeek, 0, 7},
        // The System 500's calendar answer: 12:00:00.50 on 2020-01-01, UTC.
        ReaderCase{"a Leica time answer with a date", "lb2", {leica::Frame(Hex("FA 07 0C 00 00 32 01 01 14"))}, "0xfa07",
                   Time::Full, kWeek2020, kNewYear2020 + 43200.5, KTimeScale::Utc},
        ReaderCase{"a Leica time answer with tenths of the week", "lb2", {leica::Frame(Hex("01 0A 00 00"))}, "0x01",
                   Time::OfWeek, 0, 1},
        ReaderCase{"a Leica ping answer", "lb2", {leica::Frame(Hex("85 00 00 00"))}, "0x85", Time::None}),
    [](const ::testing::TestParamInfo<ReaderCase>& param) { return "case" + std::to_string(param.index); });

// Every family's row has a reader, and a reader that names the messages it reads times from.
TEST(MessageReaders, EveryFamilyHasOne) {
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        ASSERT_NE(family.protocol.createReader, nullptr) << family.name;
        EXPECT_FALSE(family.protocol.createReader()->TimeMessages().empty()) << family.name;
    }
}

// Whatever bytes come, a reader answers without reading past the message.
TEST(MessageReaders, ShortAndEmptyMessagesCarryNoTime) {
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        const auto reader = family.protocol.createReader();
        for (size_t length = 0; length < 24; ++length) {
            const Bytes bytes(length, 0xFF);
            const KMessageFacts facts = reader->Read(StreamMessage(bytes.data(), static_cast<int32_t>(length)));
            EXPECT_NE(facts.time, Time::Full) << family.name << " length " << length;
        }
    }
}

} // namespace
