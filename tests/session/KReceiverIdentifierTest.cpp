// Identification in virtual time against the simulated receiver of every family: found by
// listening while it talks (nothing sent), by asking once silenced, nothing claimed in noise or
// plain NMEA, and real recordings recognised as their protocol.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "comm/KBaudRates.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "session/KReceiverIdentifier.h"
#include "support/AshtechFrames.h"
#include "support/SessionLine.h"

namespace {

struct Identified {
    KReceiverIdentifier::Result result;
    uint64_t bytesSent = 0;      // what reached the line from the host
    uint32_t deviceBaud = 0;     // the device's rate afterwards
};

Identified Identify(int32_t type, uint32_t baud, const KSimDeviceOptions& options) {
    SessionLine line(type, baud, options);
    KReceiverIdentifier identifier(line.Links(), line.Receivers());
    Identified out;
    out.result = identifier.Run(0, "", {});
    out.bytesSent = line.world->HostBytesWritten();
    out.deviceBaud = line.DeviceBaud();
    return out;
}

// A full detection pass of the session for `type`: every rate's ping waited out.
int32_t DetectionPassMs(int32_t type) {
    int32_t total = 0;
    const KCatalogueType* row = FindCatalogueType(type);
    for (int32_t baud : row->rates) total += row->timings.DetectPingMs(baud);
    return total;
}

// Each family's first type, at a common and an unusual rate it can run at.
struct Case {
    const KReceiverFamily* family;
    int32_t type;
    uint32_t baud;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        const int32_t type = family.types.front().typeId;
        const std::vector<uint32_t> rates = KSimFactory::Rates(type);
        for (uint32_t baud : {9600u, 57600u, 1200u})
            if (std::find(rates.begin(), rates.end(), baud) != rates.end()) cases.push_back({&family, type, baud});
    }
    return cases;
}

std::string CaseName(const Case& c) {
    return std::string(c.family->name) + " at " + std::to_string(c.baud);
}

TEST(ReceiverIdentifier, FindsEveryTalkingFamilyByListeningWithoutSendingAByte) {
    for (const Case& c : Cases()) {
        const Identified run = Identify(c.type, c.baud, {});
        SCOPED_TRACE(CaseName(c));
        ASSERT_TRUE(run.result.found);
        // A MediaTek receiver talks plain NMEA, which proves nothing: only asking finds it, and
        // asking starts where the NMEA was heard, with the families that may send it.
        if (!c.family->protocol.listeningProves) {
            EXPECT_FALSE(run.result.byListening);
            EXPECT_EQ(run.result.family, c.family);
            EXPECT_EQ(run.result.baud, static_cast<int32_t>(c.baud));
            const auto heardAt = std::find_if(run.result.heard.begin(), run.result.heard.end(),
                                              [&](const auto& h) { return h.baud == static_cast<int32_t>(c.baud); });
            ASSERT_NE(heardAt, run.result.heard.end());
            EXPECT_LE(run.result.asked.size(), heardAt->checkedBy.size());
            for (const auto& asked : run.result.asked) EXPECT_EQ(asked.baud, static_cast<int32_t>(c.baud));
            continue;
        }
        EXPECT_TRUE(run.result.byListening);
        EXPECT_EQ(run.result.family, c.family);
        EXPECT_EQ(run.result.baud, static_cast<int32_t>(c.baud));
        EXPECT_GE(run.result.messages, 2u);
        EXPECT_EQ(run.bytesSent, 0u);
        EXPECT_TRUE(run.result.asked.empty());
        std::printf("| %-8s | %6u | listening | %5.1f s |                | detection pass %5.1f s |\n",
                    c.family->name, c.baud, run.result.listenMs / 1000.0, DetectionPassMs(c.type) / 1000.0);
    }
}

TEST(ReceiverIdentifier, FindsEverySilencedFamilyByAskingAndChangesNothing) {
    KSimDeviceOptions silenced;
    silenced.streaming = false;
    for (const Case& c : Cases()) {
        const Identified run = Identify(c.type, c.baud, silenced);
        SCOPED_TRACE(CaseName(c));
        ASSERT_TRUE(run.result.found);
        EXPECT_FALSE(run.result.byListening);
        EXPECT_EQ(run.result.family, c.family);
        EXPECT_EQ(run.result.baud, static_cast<int32_t>(c.baud));
        // Every rate was listened at first, and the device still runs where it ran.
        EXPECT_EQ(run.result.heard.size(), KReceiverIdentifier::SearchOrder().size());
        EXPECT_EQ(run.deviceBaud, c.baud);
        ASSERT_FALSE(run.result.asked.empty());
        EXPECT_TRUE(run.result.asked.back().answered);
        std::printf("| %-8s | %6u | asking    | %5.1f s | + %5.1f s heard | detection pass %5.1f s |\n",
                    c.family->name, c.baud, run.result.askMs / 1000.0, run.result.listenMs / 1000.0,
                    DetectionPassMs(c.type) / 1000.0);
    }
}

TEST(ReceiverIdentifier, ASilentLineIsAskedAtEveryRateOfEveryFamilyAndNothingIsFound) {
    KSimDeviceOptions dead;
    dead.silent = true;
    dead.streaming = false;
    const Identified run = Identify(6, 9600, dead);
    EXPECT_FALSE(run.result.found);
    EXPECT_FALSE(run.result.portFailed);
    // Each family at every rate its first type runs at that this system can set.
    size_t asks = 0;
    for (const KReceiverFamily& family : ReceiverFamilies())
        for (int32_t rate : family.types.front().rates) asks += SystemSetsRate(rate) ? 1 : 0;
    EXPECT_EQ(run.result.asked.size(), asks);
    EXPECT_EQ(run.deviceBaud, 9600u);
    // Where nothing at all arrives, each rate is given up after the quiet time, not listened
    // at for the full time (which is longer still at slow rates).
    const KReceiverIdentifier::Options defaults;
    ASSERT_EQ(run.result.heard.size(), KReceiverIdentifier::SearchOrder().size());
    for (const KReceiverIdentifier::Heard& heard : run.result.heard) {
        SCOPED_TRACE(heard.baud);
        EXPECT_GE(heard.listenedMs, defaults.listenQuietMs);
        EXPECT_LT(heard.listenedMs, defaults.listenQuietMs + 100);
    }
}

// Recognise alone, on bytes made here.
std::string NmeaSentence(const std::string& body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", NmeaChecksum(body));
    return "$" + body + tail;
}

TEST(ReceiverIdentifier, ClaimsNothingInPlainNmeaOrNoise) {
    std::string nmea;
    for (int second = 0; second < 30; ++second) {
        const std::string t = "1234" + std::to_string(10 + second) + ".00";
        nmea += NmeaSentence("GPGGA," + t + ",4717.1150,N,00833.9140,E,1,08,0.9,545.4,M,46.9,M,,");
        nmea += NmeaSentence("GPRMC," + t + ",A,4717.1150,N,00833.9140,E,0.0,0.0,091226,,,A");
        nmea += NmeaSentence("GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00");
        nmea += NmeaSentence("GPXDR,C,21.5,C,AIR,P,0.9651,B,BARO");
        nmea += NmeaSentence("GPZDA," + t + ",09,12,2026,00,00");
    }
    KReceiverIdentifier::Heard heard;
    EXPECT_EQ(KReceiverIdentifier::Recognise(std::vector<uint8_t>(nmea.begin(), nmea.end()), heard), nullptr);
    // Yet the sentences' checks held: the line runs at this rate, and the families that talk
    // plain NMEA framed them.
    EXPECT_EQ(heard.checkedMessages, 150u);
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (family.protocol.listeningProves) continue;
        EXPECT_NE(std::find(heard.checkedBy.begin(), heard.checkedBy.end(), &family), heard.checkedBy.end())
            << family.name;
    }

    std::mt19937 random(20261209);
    for (int trial = 0; trial < 60; ++trial) {
        // About what 2.5 s of a line at 115200 baud brings.
        std::vector<uint8_t> noise(28800);
        for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
        const KReceiverFamily* claimed = KReceiverIdentifier::Recognise(noise, heard);
        EXPECT_EQ(claimed, nullptr) << "trial " << trial << ": " << claimed->name;
        EXPECT_TRUE(heard.checkedBy.empty()) << "trial " << trial << ": " << heard.checkedBy.front()->name;
        if (claimed || !heard.checkedBy.empty()) break;
    }
}

// Asking starts at the rates where checked messages were heard, the busiest first and there the
// families that framed them; every other rate follows in search order, and nothing twice.
TEST(ReceiverIdentifier, AsksFirstWhereCheckedMessagesWereHeard) {
    // Any two families will do; the last ones, so that registry order alone would not put them first.
    const auto& families = ReceiverFamilies();
    ASSERT_GE(families.size(), 3u);
    const KReceiverFamily* last = &families[families.size() - 1];
    const KReceiverFamily* nextToLast = &families[families.size() - 2];
    auto heardAt = [](int32_t baud, uint64_t checked, std::vector<const KReceiverFamily*> by) {
        KReceiverIdentifier::Heard h;
        h.baud = baud;
        h.checkedMessages = checked;
        h.checkedBy = std::move(by);
        return h;
    };
    const std::vector<int32_t> rates = {9600, 115200, 4800};
    const struct {
        const char* name;
        std::vector<KReceiverIdentifier::Heard> heard;
        std::vector<int32_t> bauds;
        std::vector<const KReceiverFamily*> firstFamilies;  // at the first rate
    } rows[] = {
        {"nothing heard", {}, {9600, 115200, 4800}, {}},
        {"one checked message is luck", {heardAt(4800, 1, {})}, {9600, 115200, 4800}, {}},
        {"NMEA at 4800", {heardAt(4800, 12, {last, nextToLast})}, {4800, 9600, 115200}, {last, nextToLast}},
        {"busiest first", {heardAt(9600, 3, {nextToLast}), heardAt(4800, 9, {last})}, {4800, 9600, 115200}, {last}},
        {"a rate outside the search", {heardAt(57600, 9, {last})}, {9600, 115200, 4800}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto steps = KReceiverIdentifier::AskOrder(rates, row.heard);
        std::vector<int32_t> bauds;
        for (const auto& step : steps) {
            bauds.push_back(step.baud);
            EXPECT_EQ(step.families.size(), ReceiverFamilies().size());  // every family once
        }
        EXPECT_EQ(bauds, row.bauds);
        ASSERT_FALSE(steps.empty());
        if (row.firstFamilies.empty()) {
            EXPECT_EQ(steps.front().families.front(), &ReceiverFamilies().front());
        } else {
            EXPECT_TRUE(std::equal(row.firstFamilies.begin(), row.firstFamilies.end(), steps.front().families.begin()));
        }
    }
}

// Real recordings, framed as if heard on a line: each is recognised as its protocol.
TEST(ReceiverIdentifier, RecognisesRealRecordingsAsTheirProtocol) {
    const struct {
        const char* file;
        const char* protocol;
    } recordings[] = {
        {"ashtech/gpsd_rst39.bin", "ashtech"},       {"navcom/gpsd_navcom.bin", "navcom"},
        {"novatel/edie_bestsats.BIN", "novatel"},    {"sirf/gpsd_sirfstarv.bin", "sirf"},
        {"topcon/gpsd_greis-def.bin", "topcon"},
    };
    for (const auto& r : recordings) {
        std::ifstream in(std::string(VELINOR_CAPTURES) + "/" + r.file, std::ios::binary);
        if (!in) GTEST_SKIP() << "no recordings beside the project (" << VELINOR_CAPTURES << ")";
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        KReceiverIdentifier::Heard heard;
        const KReceiverFamily* family = KReceiverIdentifier::Recognise(bytes, heard);
        ASSERT_NE(family, nullptr) << r.file;
        EXPECT_STREQ(family->protocol.name, r.protocol) << r.file;
    }
}

} // namespace
