#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <vector>

#include "families/KSimFactory.h"
#include "sim/KSimTrimbleParser.h"
#include "sim/KSimWorld.h"
#include "sim/KTrimbleDevice.h"
#include "sim/KVirtualClock.h"
#include "support/FramerHarness.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kMs = 1000000;
const Bytes kAsk = Hex("02 00 4A 00 4A 03");
const Bytes kAck = {0x06};
const Bytes kNak = {0x15};

Bytes SetPort(uint8_t port, uint32_t baud) {
    Bytes data = {port};
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(baud >> shift));
    return KSimTrimbleParser::Packet(0x48, Concat({data, {8, 0, 1, 0, 0}}));
}

// A host port on a world with one simulated Trimble receiver. What the host receives is split
// here into packets (from STX, by their length byte) and single bytes (ACK, NAK).
struct Rig {
    explicit Rig(uint32_t baud, KSimDeviceOptions options = {}, int32_t type = 13) {
        std::string error;
        world = KSimFactory::CreateWorld(type, static_cast<int32_t>(baud), options, {}, error);
        EXPECT_TRUE(world) << error;
        world->HostOpen(baud);
    }
    void Send(const Bytes& bytes) { ASSERT_TRUE(world->HostWrite(bytes.data(), bytes.size())); }
    // Runs `ms`; what came back, raw-data records (type 0x57) left out unless asked for.
    std::vector<Bytes> Run(int64_t ms, bool withRecords = false) {
        world->AdvanceBy(ms * kMs);
        uint8_t buffer[4096];
        for (size_t n; (n = world->HostRead(buffer, sizeof buffer)) > 0;)
            pending.insert(pending.end(), buffer, buffer + n);
        std::vector<Bytes> out;
        size_t i = 0;
        while (i < pending.size()) {
            const size_t left = pending.size() - i;
            const size_t size = pending[i] != 0x02 ? 1 : left >= 4 ? pending[i + 3] + 6u : SIZE_MAX;
            if (size > left) break;
            const auto from = pending.begin() + static_cast<std::ptrdiff_t>(i);
            const Bytes item(from, from + static_cast<std::ptrdiff_t>(size));
            if (withRecords || item.size() < 3 || item[2] != 0x57) out.push_back(item);
            i += size;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i));
        return out;
    }
    uint32_t DeviceBaud() {
        return world->WithDevice([](KSimDevice& d) { return d.Baud(); });
    }

    std::unique_ptr<KSimWorld> world;
    Bytes pending;
};

class TrimbleDevice : public ::testing::Test {
protected:
    KVirtualClock clock{1700000000};  // 2023-11-14 22:13:20 UTC
    KScopedClock scoped{clock};
};

TEST(KSimTrimbleParser, BuildsAndFindsPacketsWhateverSurroundsThem) {
    EXPECT_EQ(KSimTrimbleParser::Packet(0x4A, {}), kAsk);
    EXPECT_EQ(ToHex(SetPort(3, 115200)), "02 00 48 0A 03 00 01 C2 00 08 00 01 00 00 21 03");

    KSimTrimbleParser parser;
    Bytes badSum = SetPort(1, 9600);
    badSum[14] ^= 1;
    Bytes noEtx = kAsk;
    noEtx[5] = 0x13;
    // An STX with an absurd length, a lone ENQ, damaged packets, an ENQ inside a packet.
    const Bytes enqInside = KSimTrimbleParser::Packet(0x40, {0x05, 0x02});
    parser.Feed(Concat({Hex("02 00 4A FF 05"), kAsk, badSum, noEtx, Hex("05"), enqInside, kAsk}));
    std::vector<Bytes> found;
    for (Bytes p; parser.Next(p);) found.push_back(p);
    EXPECT_EQ(found, (std::vector<Bytes>{kAsk, {0x05}, enqInside, kAsk}));
    EXPECT_EQ(parser.Rejected(), 2u);
}

TEST_F(TrimbleDevice, AnswersTheOptionsRequestWithThePortItIsCabledTo) {
    for (const auto& [option, port] : {std::pair{"", 1}, {"4", 4}, {"18", 18}, {"0", 0}, {"255", 255}}) {
        KSimDeviceOptions options;
        options.receiverPort = option;
        Rig rig(9600, options);
        rig.Send(kAsk);
        const auto replies = rig.Run(100);
        ASSERT_EQ(replies.size(), 1u) << option;
        ASSERT_GE(replies[0].size(), 11u);
        EXPECT_EQ(replies[0][2], 0x4B);
        EXPECT_EQ(replies[0][10], port);
    }
    for (const char* odd : {"A", "-1", "1x", "256", " 1", "1000"}) {
        KSimDeviceOptions options;
        options.receiverPort = odd;
        EXPECT_FALSE(KTrimbleDevice::Create(12, 9600, options)) << odd;
    }
    EXPECT_FALSE(KTrimbleDevice::Create(11, 9600, {}));
}

TEST_F(TrimbleDevice, StreamsRawDataRecordsThatTellTheGpsTimeAndNeverStops) {
    Rig rig(115200);
    for (const Bytes& request : {KSimTrimbleParser::Packet(0x40, {}), kAsk, SetPort(1, 4800)})
        rig.Send(request);
    rig.Run(100);
    rig.world->HostOpen(4800);  // switched: its records go on at the new rate
    const auto records = rig.Run(5200, true);
    ASSERT_EQ(records.size(), 5u);
    for (const Bytes& r : records) {
        ASSERT_GE(r.size(), 30u);
        EXPECT_EQ(r[2], 0x57);
        EXPECT_EQ(r[4], 0);
        EXPECT_EQ(r[5] >> 4, 1);
        uint64_t bits = 0;
        for (int i = 8; i < 16; ++i) bits = bits << 8 | r[static_cast<size_t>(i)];
        // 1700000000 UTC + 18 s is GPS week 2288, Tuesday 22:13:38: 252818 s of the week; each
        // record goes out at a whole second of the world's time line.
        EXPECT_EQ(std::bit_cast<double>(bits), 252818000.0);
    }
}

TEST_F(TrimbleDevice, SwitchesItsOwnPortAfterAcknowledgingAndRefusesWhatItCannotDo) {
    struct Case {
        const char* name;
        Bytes request;
        Bytes reply;
        uint32_t baudAfter;
        KSimDeviceOptions options;
    };
    KSimDeviceOptions refusing, notSwitching, onPort2;
    refusing.refusesRateChange = true;
    notSwitching.neverSwitches = true;
    onPort2.receiverPort = "2";
    const Case cases[] = {
        {"own port", SetPort(1, 57600), kAck, 57600, {}},
        {"another port", SetPort(1, 57600), kAck, 9600, onPort2},
        {"a rate it cannot run at", SetPort(1, 230400), kNak, 9600, {}},
        {"refusing", SetPort(1, 57600), kNak, 9600, refusing},
        {"never switching", SetPort(1, 57600), kAck, 9600, notSwitching},
        {"settings cut short", KSimTrimbleParser::Packet(0x48, {1, 0, 0, 0xE1, 0}), kNak, 9600, {}},
        {"an unknown packet", KSimTrimbleParser::Packet(0x40, {}), kNak, 9600, {}},
        {"a lone ENQ", {0x05}, kAck, 9600, {}},
    };
    for (const Case& c : cases) {
        Rig rig(9600, c.options);
        rig.Send(c.request);
        EXPECT_EQ(rig.Run(100), std::vector<Bytes>{c.reply}) << c.name;
        EXPECT_EQ(rig.DeviceBaud(), c.baudAfter) << c.name;
        rig.world->HostOpen(c.baudAfter);
        rig.Send(kAsk);
        EXPECT_EQ(rig.Run(100).size(), 1u) << c.name;  // answers at the rate it runs at
    }
}

} // namespace
