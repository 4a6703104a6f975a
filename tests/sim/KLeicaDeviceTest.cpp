#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KSimLeicaParser.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "time/KClock.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Model = KLeicaDevice::Model;
constexpr int64_t kMs = 1000000;

const Bytes kPing = {0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00};
const Bytes kStop1 = {0xFA, 0x94, 0x00, 0x00};
const Bytes kStop2 = {0x82, 0x00, 0x00, 0xFC, 0x00, 0x00, 0x00, 0x00};
const Bytes kControl4 = {0xDB, 0x00};
const Bytes kRs500Time = {0xFB, 0xFA, 0x07, 0x00, 0xC8, 0x01, 0x00, 0x00};
const Bytes kCrsTime = {0x82, 0x00, 0x00, 0xC8, 0x01, 0x00, 0x00, 0x00};
Bytes Rs500Baud(uint8_t code) { return {0xFA, 0x82, 0x00, code, 0x00, 0x08, 0x01, 0x00}; }
Bytes CrsBaud(uint8_t code) { return {0x80, 0x00, code, 0x00, 0xFF, 0xFF}; }

// A host port on a world with one Leica receiver; frames are read back with the simulator's
// own parser (the product's framer is not what is tested here).
struct Rig {
    explicit Rig(Model model, uint32_t baud, KSimDeviceOptions options = {}, KSimWorldOptions worldOptions = {}) {
        auto owned = std::make_unique<KLeicaDevice>(model, baud, options);
        device = owned.get();
        world = std::make_unique<KSimWorld>(std::move(owned), worldOptions);
        world->HostOpen(baud);
    }
    void Send(const Bytes& payload) {
        const Bytes frame = KSimLeicaParser::Frame(payload);
        ASSERT_TRUE(world->HostWrite(frame.data(), frame.size()));
    }
    // Runs `ms` and returns the payloads of the frames the host received (periodic position
    // output, payload 50 ..., left out unless asked for).
    std::vector<Bytes> Run(int64_t ms, bool withOutput = false) {
        world->AdvanceBy(ms * kMs);
        uint8_t buffer[4096];
        for (size_t n; (n = world->HostRead(buffer, sizeof buffer)) > 0;) {
            for (size_t i = 0; i < n; ++i) parser.Feed(buffer[i]);
            received += n;
        }
        std::vector<Bytes> frames;
        for (Bytes p; parser.Next(p);)
            if (withOutput || p.empty() || p[0] != 0x50) frames.push_back(p);
        return frames;
    }
    uint32_t DeviceBaud() {
        return world->WithDevice([](KSimDevice& d) { return d.Baud(); });
    }

    KLeicaDevice* device = nullptr;  // owned by the world; inspect under its lock
    std::unique_ptr<KSimWorld> world;
    KSimLeicaParser parser;
    size_t received = 0;
};

class LeicaDevice : public ::testing::Test {
protected:
    KVirtualClock clock{1700000000};  // 2023-11-14 22:13:20 UTC
    KScopedClock scoped{clock};
};

TEST(KSimLeicaParser, BuildsTheKnownFrames) {
    EXPECT_EQ(KSimLeicaParser::Frame(kPing), (Bytes{0x9C, 0xAE, 0x0C, 0x00, 0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00, 0x25, 0xFE}));
    EXPECT_EQ(KSimLeicaParser::Frame(kStop1), (Bytes{0x9C, 0xAE, 0x08, 0x00, 0xFA, 0x94, 0x00, 0x00, 0x6A, 0xFE}));
    EXPECT_EQ(KSimLeicaParser::Frame(kControl4), (Bytes{0x9C, 0xAE, 0x06, 0x00, 0xDB, 0x00, 0x1F, 0xFF}));
    EXPECT_EQ(KSimLeicaParser::Frame(CrsBaud(0x0A)), (Bytes{0x9C, 0xAE, 0x0A, 0x00, 0x80, 0x00, 0x0A, 0x00, 0xFF, 0xFF, 0x6E, 0xFD}));
    EXPECT_EQ(KSimLeicaParser::Frame(Rs500Baud(0x0A)),
              (Bytes{0x9C, 0xAE, 0x0C, 0x00, 0xFA, 0x82, 0x00, 0x0A, 0x00, 0x08, 0x01, 0x00, 0x65, 0xFE}));
}

TEST(KSimLeicaParser, FindsFramesInGarbageAndRejectsBadChecksums) {
    KSimLeicaParser parser;
    Bytes stream = {0x9C, 0x9C, 0xAE, 0xFF, 0x0F, 0x01};  // a sync with an absurd length first
    const Bytes ping = KSimLeicaParser::Frame(kPing);
    stream.insert(stream.end(), ping.begin(), ping.end());
    Bytes bad = KSimLeicaParser::Frame(kStop1);
    bad[5] ^= 1;
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), ping.begin(), ping.end());
    parser.Feed(stream);
    Bytes p;
    ASSERT_TRUE(parser.Next(p));
    EXPECT_EQ(p, kPing);
    ASSERT_TRUE(parser.Next(p));
    EXPECT_EQ(p, kPing);
    EXPECT_FALSE(parser.Next(p));
    EXPECT_EQ(parser.Rejected(), 1u);
}

TEST_F(LeicaDevice, AnswersThePingAtItsRateOnly) {
    for (Model model : {Model::CRS1000, Model::GMX900, Model::GPS1200, Model::System500}) {
        Rig rig(model, 9600);
        rig.Send(kPing);
        auto frames = rig.Run(100);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0][0], 0x85);

        // The same request at the wrong rate reaches the device as garbage: no answer.
        rig.world->HostOpen(19200);
        rig.Send(kPing);
        EXPECT_TRUE(rig.Run(500).empty());
        EXPECT_EQ(rig.world->WithDevice([&](KSimDevice&) { return rig.device->Requests().size(); }), 1u);
    }
}

TEST_F(LeicaDevice, StreamsPositionsUntilEitherStopCommand) {
    for (const Bytes& stop : {kStop1, kStop2}) {
        Rig rig(Model::GMX900, 115200);
        auto output = rig.Run(3500, true);
        EXPECT_EQ(output.size(), 3u);
        for (const Bytes& p : output) {
            EXPECT_EQ(p[0], 0x50);
            EXPECT_EQ(p.size(), 34u);
        }
        rig.Send(stop);
        rig.Run(100, true);
        EXPECT_TRUE(rig.Run(5000, true).empty());
        // Still answering after being silenced.
        rig.Send(kPing);
        EXPECT_EQ(rig.Run(100).size(), 1u);
    }
}

TEST_F(LeicaDevice, Rs500AcknowledgesThenSwitchesOnceTheAckHasLeft) {
    for (Model model : {Model::GPS1200, Model::System500}) {
        KSimDeviceOptions options;
        options.streaming = false;
        Rig rig(model, 9600, options);
        rig.Send(Rs500Baud(0x0A));
        const int64_t requestEnd = rig.world->HostWriteDoneNs();
        // The request's last stop bit is sampled half a bit before its end; the ack (a 11-byte
        // frame, 11458333 ns at 9600) starts 5 ms later.
        const int64_t ackStart = requestEnd - 52083 + 5 * kMs;
        const int64_t ackEnd = ackStart + 11 * 1041666;
        rig.world->AdvanceTo(ackEnd - 1000);
        EXPECT_EQ(rig.DeviceBaud(), 9600u);
        rig.world->AdvanceTo(ackEnd + 1000);
        EXPECT_EQ(rig.DeviceBaud(), 115200u);
        auto frames = rig.Run(10);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], (Bytes{0xFC, 0xFA, 0x82, 0x0A, 0x00}));

        rig.Send(kPing);  // still 9600 on the host side: not understood
        EXPECT_TRUE(rig.Run(200).empty());
        rig.world->HostOpen(115200);
        rig.Send(kPing);
        ASSERT_EQ(rig.Run(100).size(), 1u);
    }
}

TEST_F(LeicaDevice, Rs500ReachesTheSlowRatesAndRefusesUnknownCodes) {
    KSimDeviceOptions options;
    options.streaming = false;
    Rig rig(Model::System500, 2400, options);
    rig.Send(Rs500Baud(0x0B));
    auto frames = rig.Run(300);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0xFC, 0xFA, 0x81, 0x0B, 0x00}));
    EXPECT_EQ(rig.DeviceBaud(), 2400u);

    rig.Send(Rs500Baud(0x00));
    EXPECT_EQ(rig.Run(300).size(), 1u);
    EXPECT_EQ(rig.DeviceBaud(), 150u);
    rig.world->HostOpen(150);
    rig.Send(kPing);
    EXPECT_EQ(rig.Run(3000).size(), 1u);  // 14 + 12 bytes at 150 baud take 1.7 s
}

TEST_F(LeicaDevice, Crs1000SwitchesWithoutAcknowledgement) {
    for (Model model : {Model::CRS1000, Model::GMX900}) {
        KSimDeviceOptions options;
        options.streaming = false;
        Rig rig(model, 4800, options);
        rig.Send(CrsBaud(0x08));
        EXPECT_TRUE(rig.Run(100).empty());
        EXPECT_EQ(rig.DeviceBaud(), 38400u);
        rig.world->HostOpen(38400);
        rig.Send(kPing);
        EXPECT_EQ(rig.Run(100).size(), 1u);
        // Codes below 3 are not CRS1000 rates.
        rig.Send(CrsBaud(0x01));
        rig.Run(100);
        EXPECT_EQ(rig.DeviceBaud(), 38400u);
    }
}

TEST_F(LeicaDevice, Crs1000SwitchWaitsForOutputOnTheWire) {
    KSimDeviceOptions options;
    options.outputPeriodMs = 50;  // a position frame (40 bytes, 333 ms at 1200) is always going out
    Rig rig(Model::CRS1000, 1200, options);
    rig.Run(60);
    rig.Send(CrsBaud(0x0A));
    rig.Run(200);
    EXPECT_EQ(rig.DeviceBaud(), 1200u);  // the position frame has not finished yet
    rig.Run(500);
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
}

TEST_F(LeicaDevice, EachFamilyIgnoresTheOthersCommands) {
    KSimDeviceOptions options;
    options.streaming = false;
    Rig crs(Model::CRS1000, 9600, options);
    crs.Send(Rs500Baud(0x0A));
    crs.Send(kRs500Time);
    crs.Send(kControl4);  // control command 4 is the GMX900's alone
    EXPECT_TRUE(crs.Run(500).empty());
    EXPECT_EQ(crs.DeviceBaud(), 9600u);

    Rig rs(Model::GPS1200, 9600, options);
    rs.Send(CrsBaud(0x0A));
    rs.Send(kCrsTime);
    rs.Send(kControl4);
    EXPECT_TRUE(rs.Run(500).empty());
    EXPECT_EQ(rs.DeviceBaud(), 9600u);
}

TEST_F(LeicaDevice, Gmx900AnswersControlCommandFour) {
    Rig rig(Model::GMX900, 57600);
    rig.Send(kControl4);
    auto frames = rig.Run(100);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], 0xFF);
    EXPECT_EQ(frames[0][1], 0xDB);
}

TEST_F(LeicaDevice, Rs500TimeIsTheCalendarOfTheClock) {
    KSimDeviceOptions options;
    options.streaming = false;
    Rig rig(Model::System500, 9600, options);
    clock.Advance(1234);  // virtual wall time 22:13:21; the world's own time line is at 0
    rig.world->AdvanceTo(420 * kMs);
    rig.Send(kRs500Time);
    auto frames = rig.Run(100);
    ASSERT_EQ(frames.size(), 1u);
    const Bytes frame = KSimLeicaParser::Frame(frames[0]);
    ASSERT_GE(frame.size(), 13u);
    EXPECT_EQ(frame[4], 0xFA);
    EXPECT_EQ(frame[5], 0x07);
    EXPECT_EQ(frame[6], 22);   // hour
    EXPECT_EQ(frame[7], 13);   // minute
    EXPECT_EQ(frame[8], 21);   // second
    EXPECT_LT(frame[9], 100);  // hundredths
    EXPECT_EQ(frame[10], 14);  // day
    EXPECT_EQ(frame[11], 11);  // month
    EXPECT_EQ(frame[12], 23);  // year
}

TEST_F(LeicaDevice, Crs1000TimeIsGpsTimeOfWeekInTenths) {
    KSimDeviceOptions options;
    options.streaming = false;
    Rig rig(Model::CRS1000, 9600, options);
    rig.Send(kCrsTime);
    auto frames = rig.Run(100);
    ASSERT_EQ(frames.size(), 1u);
    const Bytes frame = KSimLeicaParser::Frame(frames[0]);
    EXPECT_EQ(frame[4], 0x01);
    const uint32_t tenths = frame[5] | (frame[6] << 8) | (frame[7] << 16);
    // 1700000000 UTC + 18 s is GPS week 2288, Tuesday 22:13:38: 252818 s of the week.
    EXPECT_EQ(tenths / 10, 252818u);
    EXPECT_EQ(frame[8] | (frame[9] << 8), 2288);
}

TEST_F(LeicaDevice, SilentDeviceNeverAnswersNorObeys) {
    KSimDeviceOptions options;
    options.silent = true;
    Rig rig(Model::GPS1200, 9600, options);
    rig.Send(kStop1);
    rig.Send(kPing);
    rig.Send(Rs500Baud(0x0A));
    auto frames = rig.Run(3100, true);
    for (const Bytes& p : frames) EXPECT_EQ(p[0], 0x50);  // only its periodic output
    EXPECT_EQ(frames.size(), 3u);
    EXPECT_EQ(rig.DeviceBaud(), 9600u);
    EXPECT_EQ(rig.world->WithDevice([&](KSimDevice&) { return rig.device->Requests().size(); }), 3u);
}

TEST_F(LeicaDevice, SlowDeviceAnswersAfterItsDelay) {
    KSimDeviceOptions options;
    options.replyDelayMs = 1500;
    Rig rig(Model::CRS1000, 115200, options);
    rig.Send(kPing);
    EXPECT_TRUE(rig.Run(1400).empty());
    EXPECT_EQ(rig.Run(200).size(), 1u);
}

TEST_F(LeicaDevice, NeverSwitchingDeviceAcknowledgesButStays) {
    KSimDeviceOptions options;
    options.neverSwitches = true;
    Rig rig(Model::System500, 9600, options);
    rig.Send(Rs500Baud(0x07));
    EXPECT_EQ(rig.Run(100).size(), 1u);
    EXPECT_EQ(rig.DeviceBaud(), 9600u);
    rig.Send(kPing);
    EXPECT_EQ(rig.Run(100).size(), 1u);
}

TEST_F(LeicaDevice, RevertingDeviceGoesBackAfterItsTimeEveryTimeOrOnlyOnce) {
    for (const bool once : {false, true}) {
        KSimDeviceOptions options;
        options.streaming = false;
        options.revertAfterMs = 2000;
        options.revertsOnce = once;
        Rig rig(Model::CRS1000, 9600, options);
        rig.Send(CrsBaud(0x07));
        rig.Run(100);
        EXPECT_EQ(rig.DeviceBaud(), 19200u) << once;
        rig.Run(1800);
        EXPECT_EQ(rig.DeviceBaud(), 19200u) << once;
        rig.Run(200);
        EXPECT_EQ(rig.DeviceBaud(), 9600u) << once;
        // Set again: a device that falls back only once keeps the rate now.
        rig.Send(CrsBaud(0x07));
        rig.Run(2200);
        EXPECT_EQ(rig.DeviceBaud(), once ? 19200u : 9600u) << once;
        EXPECT_EQ(rig.world->WithDevice([&](KSimDevice&) { return rig.device->RateSwitches(); }), once ? 3u : 4u);
    }
}

TEST_F(LeicaDevice, NoisyLineLosesSomeRequestsDeterministically) {
    auto answered = [](uint64_t seed) {
        KSimDeviceOptions options;
        options.streaming = false;
        KSimWorldOptions noisy;
        noisy.bitFlipProbability = 0.002;
        noisy.seed = seed;
        Rig rig(Model::GMX900, 9600, options, noisy);
        std::vector<bool> result;
        for (int i = 0; i < 100; ++i) {
            rig.Send(kPing);
            result.push_back(!rig.Run(100).empty());
        }
        return result;
    };
    const auto first = answered(3);
    EXPECT_EQ(first, answered(3));
    const auto count = std::count(first.begin(), first.end(), true);
    // Request and reply are 26 bytes, 260 bits: about half the exchanges see a flipped bit.
    EXPECT_GT(count, 20);
    EXPECT_LT(count, 90);
}

} // namespace
