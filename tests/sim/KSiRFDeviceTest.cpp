#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <string>
#include <vector>

#include "sim/KSiRFDevice.h"
#include "sim/KSimSiRFParser.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "support/FramerHarness.h"
#include "support/SiRFFrames.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kMs = 1000000;
using sirf::BigEndian;

using sirf::ReadBigEndian;
Bytes MessageRate(uint8_t mode, uint8_t id, uint8_t rate) { return sirf::Frame({0xA6, mode, id, rate, 0, 0, 0, 0}); }
Bytes SerialPort(uint32_t baud, uint8_t dataBits = 8) { return sirf::Frame(Concat({{0x86}, BigEndian(baud, 4), {dataBits, 1, 0, 0}})); }

// A host port on a world with one SiRF receiver. What comes back is cut into packets by the
// simulator's own reader (the product's framer is not what is tested here). Each message is
// told by its ID, acknowledgements by their whole payload ("0B 84").
struct Rig {
    explicit Rig(uint32_t baud, bool streaming = false, KSimDeviceOptions options = {}) {
        options.streaming = streaming;
        world = std::make_unique<KSimWorld>(std::make_unique<KSiRFDevice>(baud, options));
        world->HostOpen(baud);
    }
    void Send(const Bytes& packet) { ASSERT_TRUE(world->HostWrite(packet.data(), packet.size())); }
    std::string Run(int64_t ms) {
        world->AdvanceBy(ms * kMs);
        uint8_t buffer[4096];
        for (size_t n; (n = world->HostRead(buffer, sizeof buffer)) > 0;)
            for (size_t i = 0; i < n; ++i) parser.Feed(buffer[i]);
        std::string told;
        for (Bytes p; parser.Next(p);) {
            EXPECT_TRUE(sirf::IsValid(p));
            payloads.emplace_back(p.begin() + 4, p.end() - 4);
            const Bytes& payload = payloads.back();
            const bool ack = payload[0] == 0x0B || payload[0] == 0x0C;
            told += (told.empty() ? "" : ", ") + ToHex(ack ? payload : Bytes{payload[0]});
        }
        return told;
    }
    uint32_t Baud() { return world->WithDevice([](KSimDevice& d) { return d.Baud(); }); }

    std::unique_ptr<KSimWorld> world;
    KSimSiRFParser parser;
    std::vector<Bytes> payloads;  // of every message received
};

class SiRFDevice : public ::testing::Test {
protected:
    KVirtualClock clock{1700000000};  // 2023-11-14 22:13:20 UTC: GPS week 2288, 252818 s
    KScopedClock scoped{clock};
};

TEST(KSimSiRFParser, FindsIntactPacketsWhateverComesBeforeOrAround) {
    const Bytes ping = sirf::Frame({0x84, 0x00}), poll = sirf::Frame({0x90, 0x00});
    Bytes highBit = sirf::Frame({0x42});
    highBit[5] |= 0x80;  // checksum word 80 42 for a payload summing to 42
    const Bytes stream = Concat({
        sirf::Header(1000),                 // a start whose length points far ahead
        ping,                               // found all the same, by its end
        sirf::WithBadChecksum(poll), sirf::WithBadEnd(poll),
        Hex("A0 A2 00 00 00 00 B0 B3"),     // no message ID
        highBit,                            // a checksum word with bit 15 set
        sirf::FrameOfSize(1025),            // longer than the receiver's input buffer
        Hex("A0"), Hex("A2 00 02 90 00 00 90 B0 B3"),
        sirf::FrameOfSize(1024),
    });
    KSimSiRFParser parser;
    std::vector<Bytes> found;
    for (uint8_t byte : stream) {
        parser.Feed(byte);
        for (Bytes p; parser.Next(p);) found.push_back(p);
    }
    EXPECT_EQ(found, (std::vector<Bytes>{ping, poll, sirf::FrameOfSize(1024)}));
}

TEST_F(SiRFDevice, StreamsItsThreeMessagesEachAtItsRateUntilEveryOneIsOff) {
    Rig rig(115200, true);
    EXPECT_EQ(rig.Run(2500), "07, 02, 1C, 07, 02, 1C");
    // Sent at whole seconds of the world's time line while the virtual wall clock stood still:
    // the seconds are the wall clock's, the milliseconds the time line's.
    EXPECT_EQ(ReadBigEndian(&rig.payloads[0][1], 2), 2288u);
    EXPECT_EQ(ReadBigEndian(&rig.payloads[0][16], 4), 252818000u);  // estimated GPS time, ms
    for (size_t i : {2, 5}) {
        const Bytes& measurement = rig.payloads[i];
        ASSERT_EQ(measurement.size(), 56u);
        EXPECT_EQ(measurement[1], i / 3);  // channel after channel
        EXPECT_EQ(std::bit_cast<double>(ReadBigEndian(&measurement[11], 4) << 32 | ReadBigEndian(&measurement[7], 4)), 252818.0);
    }

    rig.Send(MessageRate(0, 0x02, 0));
    rig.Send(MessageRate(0, 0x07, 2));  // every other second
    EXPECT_EQ(rig.Run(1000), "0B A6, 0B A6, 07, 1C");
    EXPECT_EQ(rig.Run(2000), "1C, 07, 1C");
    rig.Send(MessageRate(2, 0, 0));  // all of them off
    EXPECT_EQ(rig.Run(5000), "0B A6");
    EXPECT_FALSE(rig.world->WithDevice([](KSimDevice& d) { return dynamic_cast<KSiRFDevice&>(d).Streaming(); }));
}

// At low rates what does not fit into a quarter of a second is left out, so answers and rate
// switches are never held up for long behind periodic output.
TEST_F(SiRFDevice, OutputFitsAQuarterPeriodAtTheRateOfThePort) {
    const std::pair<uint32_t, const char*> cases[] = {
        {1200, "07, 07"}, {2400, "07, 07"}, {4800, "07, 02, 07, 02"}, {9600, "07, 02, 1C, 07, 02, 1C"}};
    for (const auto& [baud, told] : cases) {
        Rig rig(baud, true);
        EXPECT_EQ(rig.Run(2900), told) << baud;
    }
}

TEST_F(SiRFDevice, AnswersWhatItKnowsAndRefusesTheRest) {
    const struct {
        Bytes request;
        std::string answers;
        uint32_t baudAfter = 57600;
        bool refusesRateChange = false, wrongAcknowledgements = false;
    } cases[] = {
        {sirf::Frame({0x84, 0x00}), "0B 84, 06"},
        {sirf::Frame({0x84, 0x00}), "0B 85, 06", 57600, false, true},
        {sirf::Frame({0x84, 0x00, 0x00}), "0C 84"},
        {sirf::Frame({0x90, 0x00}), "0B 90, 07"},
        {MessageRate(1, 0x1C, 0), "0B A6, 1C"},
        {MessageRate(1, 0x29, 0), "0B A6"},  // a message it does not send
        {MessageRate(0, 0x07, 31), "0C A6"},
        {MessageRate(3, 0x07, 0), "0C A6"},
        {sirf::Frame({0xA6, 0, 0x07, 0}), "0C A6"},
        {SerialPort(9600), "", 9600},  // switches without a word
        {SerialPort(14400), "0C 86"},
        {SerialPort(9600, 7), "0C 86"},
        {SerialPort(9600), "0C 86", 57600, true},
        {sirf::Frame({0x42}), "0C 42"},
    };
    for (const auto& c : cases) {
        KSimDeviceOptions options;
        options.refusesRateChange = c.refusesRateChange;
        options.wrongAcknowledgements = c.wrongAcknowledgements;
        Rig rig(57600, false, options);
        rig.Send(c.request);
        EXPECT_EQ(rig.Run(300), c.answers) << ToHex(c.request);
        EXPECT_EQ(rig.Baud(), c.baudAfter) << ToHex(c.request);
    }
    Rig rig(57600);
    rig.Send(sirf::Frame({0x84, 0x00}));
    rig.Run(300);
    const std::string version = KSiRFDevice::kVersion;
    EXPECT_EQ(rig.payloads.back(), Concat({{0x06}, Bytes(version.begin(), version.end())}));
}

TEST(SiRFDeviceFactory, MakesTypeTenOnItsFirstPortOnly) {
    KSimDeviceOptions elsewhere;
    elsewhere.receiverPort = "B";
    EXPECT_TRUE(KSiRFDevice::Create(10, 9600, {}));
    EXPECT_FALSE(KSiRFDevice::Create(10, 9600, elsewhere));
    EXPECT_FALSE(KSiRFDevice::Create(9, 9600, {}));
}

} // namespace
