#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/KNavComDevice.h"
#include "sim/KSimNavComParser.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "support/FramerHarness.h"
#include "support/NavComFrames.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kMs = 1000000;

Bytes OutputRequest(uint8_t wanted) { return navcom::Frame(0x20, {0x04, 0x00, wanted, 0x02, 0x00, 0x00}); }
Bytes PortSettings(uint8_t code, uint8_t odd) { return navcom::Frame(0x11, {0x04, code, 0x00, odd, 0x00, 0x00}); }

// A host port on a world with one NavCom receiver. What comes back is cut into packets by the
// simulator's own reader (the product's framer is not what is tested here) and told as
// "ID: payload" lines.
struct Rig {
    explicit Rig(uint32_t baud, bool streaming = false, KSimDeviceOptions options = {}) {
        options.streaming = streaming;
        auto owned = std::make_unique<KNavComDevice>(baud, options);
        device = owned.get();
        world = std::make_unique<KSimWorld>(std::move(owned));
        world->HostOpen(baud);
    }
    void Send(const Bytes& packet) { ASSERT_TRUE(world->HostWrite(packet.data(), packet.size())); }
    std::vector<std::string> Run(int64_t ms) {
        world->AdvanceBy(ms * kMs);
        uint8_t buffer[4096];
        for (size_t n; (n = world->HostRead(buffer, sizeof buffer)) > 0;)
            for (size_t i = 0; i < n; ++i) parser.Feed(buffer[i]);
        std::vector<std::string> messages;
        for (Bytes p; parser.Next(p);) {
            EXPECT_TRUE(navcom::IsValid(p));
            payloads.emplace_back(p.begin() + 6, p.end() - 2);
            messages.push_back(ToHex({p[3]}) + ": " + ToHex(payloads.back()));
        }
        return messages;
    }
    uint32_t DeviceBaud() {
        return world->WithDevice([](KSimDevice& d) { return d.Baud(); });
    }

    KNavComDevice* device = nullptr;  // owned by the world; inspect under its lock
    std::unique_ptr<KSimWorld> world;
    KSimNavComParser parser;
    std::vector<Bytes> payloads;  // of every message received
};

class NavComDevice : public ::testing::Test {
protected:
    KVirtualClock clock{1700000000};  // 2023-11-14 22:13:20 UTC: GPS week 2288, 252818 s
    KScopedClock scoped{clock};
};

TEST(KSimNavComParser, FindsIntactPacketsInGarbage) {
    const Bytes ping = OutputRequest(0x11), stop = OutputRequest(0);
    const Bytes stream = Concat({
        Hex("02 99 66 20 FF FF"),        // a length beyond any packet
        Hex("02 99 66 20 02 00"),        // a length without room for checksum and ETX
        Hex("02 99"),                    // a sync cut short
        Hex("02 99 66 20 40 00"), ping,  // a long candidate, and a whole packet inside it
        navcom::WithBadChecksum(stop), navcom::WithBadEtx(stop), Hex("66 02 99"), stop,
    });
    KSimNavComParser parser;
    std::vector<Bytes> found;
    for (uint8_t byte : stream) {
        parser.Feed(byte);
        for (Bytes p; parser.Next(p);) found.push_back(p);
    }
    EXPECT_EQ(found, (std::vector<Bytes>{ping, stop}));
    EXPECT_EQ(parser.Rejected(), 2u);
}

TEST_F(NavComDevice, StreamsItsTimeEverySecondUntilAskedForMessageZero) {
    Rig rig(115200, true);
    const auto output = rig.Run(3500);
    ASSERT_EQ(output.size(), 3u);
    for (const Bytes& p : rig.payloads) {
        // Sent at whole seconds of the world's time line while the virtual wall clock stood
        // still: the seconds are the wall clock's, the milliseconds the time line's.
        EXPECT_EQ(ReadLE(p, 0, 2), 2288u);
        EXPECT_EQ(ReadLE(p, 2, 4), 252818000u);
    }
    rig.Send(OutputRequest(0));
    EXPECT_EQ(rig.Run(100), std::vector<std::string>{"06: 20 00"});
    EXPECT_TRUE(rig.Run(5000).empty());
}

TEST_F(NavComDevice, AnswersWhatItKnowsAndRefusesTheRest) {
    const struct {
        Bytes request;
        std::vector<std::string> answers;
        bool refusesRateChange = false;
    } cases[] = {
        {OutputRequest(0x11), {"06: 20 00", "11: 04 0C 00 0D 00 00"}},  // 57600: speed code 12
        {OutputRequest(0x55), {"15: 20 01"}},
        {navcom::Frame(0x20, {0x04, 0x00}), {"15: 20 02"}},
        {navcom::Frame(0x42, {}), {"15: 42 01"}},
        {PortSettings(7, 7), {"15: 11 02"}},  // odd: not a speed code
        {PortSettings(16, 17), {"15: 11 02"}},
        {PortSettings(6, 6), {"15: 11 02"}},  // the two copies disagree
        {navcom::Frame(0x11, {0x04, 0x06}), {"15: 11 02"}},
        {PortSettings(14, 15), {"15: 11 03"}, true},
    };
    for (const auto& c : cases) {
        KSimDeviceOptions options;
        options.refusesRateChange = c.refusesRateChange;
        Rig rig(57600, false, options);
        rig.Send(c.request);
        EXPECT_EQ(rig.Run(300), c.answers) << ToHex(c.request);
        EXPECT_EQ(rig.DeviceBaud(), 57600u);
    }
}

TEST_F(NavComDevice, AcknowledgesNewPortSettingsAtTheOldRateThenSwitches) {
    const uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (uint8_t i = 0; i < 8; ++i) {
        const uint32_t from = i == 3 ? 4800 : 9600;
        Rig rig(from);
        rig.Send(PortSettings(static_cast<uint8_t>(2 * i), static_cast<uint8_t>(2 * i + 1)));
        // The acknowledgement leaves 5 ms after the request (in at most 21 ms at 4800); the port
        // switches 100 ms after it started.
        rig.world->AdvanceTo(rig.world->HostWriteDoneNs() + 95 * kMs);
        EXPECT_EQ(rig.DeviceBaud(), from);
        EXPECT_EQ(rig.Run(20), std::vector<std::string>{"06: 11 00"});
        EXPECT_EQ(rig.DeviceBaud(), rates[i]);
    }

}

TEST(NavComDeviceFactory, MakesTypeEightOnItsOnePortOnly) {
    KSimDeviceOptions elsewhere;
    elsewhere.receiverPort = "2";
    EXPECT_TRUE(KNavComDevice::Create(8, 9600, {}));
    EXPECT_FALSE(KNavComDevice::Create(8, 9600, elsewhere));
    EXPECT_FALSE(KNavComDevice::Create(4, 9600, {}));
}

} // namespace
