#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/KNovatelDevice.h"
#include "sim/KSimNovatelParser.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "support/FramerHarness.h"
#include "support/NovatelFrames.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kMs = 1000000;

// Host commands, built by the tests' own Novatel log builder.
Bytes Command(uint16_t id, const Bytes& payload) {
    NovatelHeader header;
    header.messageId = id;
    header.portAddress = 0xC0;
    return NovatelLog(payload, header);
}
Bytes LogRequest(uint16_t log, uint32_t trigger = 4, uint32_t port = 0xC0) {
    return Command(1, Concat({LE(port, 4), LE(log, 2), {0, 0}, LE(trigger, 4), Repeat(0, 20)}));
}
Bytes Com(uint32_t port, uint32_t baud, uint32_t parity = 0, uint32_t dataBits = 8) {
    Bytes payload;
    for (uint32_t field : {port, baud, parity, dataBits, 1u, 0u, 0u, 1u}) payload = Concat({payload, LE(field, 4)});
    return Command(4, payload);
}
Bytes UnlogAll(uint32_t port) { return Command(38, Concat({LE(port, 4), LE(0, 4)})); }

// A host port on a world with one Novatel receiver. What comes back is cut into messages by the
// simulator's own reader (the product's framer is not what is tested here) and told as
// "ID: response N" or "ID: log" lines.
struct Rig {
    explicit Rig(uint32_t baud, bool streaming = false, KSimDeviceOptions options = {}) {
        options.streaming = streaming;
        world = std::make_unique<KSimWorld>(std::make_unique<KNovatelDevice>(baud, options));
        world->HostOpen(baud);
    }
    void Send(const Bytes& command) { ASSERT_TRUE(world->HostWrite(command.data(), command.size())); }
    std::vector<std::string> Run(int64_t ms) {
        world->AdvanceBy(ms * kMs);
        uint8_t buffer[4096];
        for (size_t n; (n = world->HostRead(buffer, sizeof buffer)) > 0;)
            for (size_t i = 0; i < n; ++i) parser.Feed(buffer[i]);
        std::vector<std::string> lines;
        for (Bytes m; parser.Next(m);) {
            EXPECT_EQ(NovatelCrc32(m), 0u);
            messages.push_back(m);
            const std::string id = std::to_string(ReadLE(m, 4, 2));
            lines.push_back(m[6] == 0x80 ? id + ": response " + std::to_string(ReadLE(m, 28, 4)) : id + ": log");
        }
        return lines;
    }
    uint32_t DeviceBaud() {
        return world->WithDevice([](KSimDevice& d) { return d.Baud(); });
    }

    std::unique_ptr<KSimWorld> world;
    KSimNovatelParser parser;
    std::vector<Bytes> messages;  // every message received
};

class NovatelDevice : public ::testing::Test {
protected:
    // 2023-11-14 22:13:20 UTC: GPS week 2288, 252818 s of week with 18 leap seconds.
    KVirtualClock clock{1700000000};
    KScopedClock scoped{clock};
};

TEST(KSimNovatelParser, FindsIntactCommandsInGarbageWithItsOwnCrc) {
    // The published CRC-32 check value (initial value and final inversion all ones), then ours.
    const auto* check = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(KSimNovatelParser::Crc32(check, 9, 0xFFFFFFFFu) ^ 0xFFFFFFFFu, 0xCBF43926u);
    EXPECT_EQ(KSimNovatelParser::Crc32(check, 9), 0x2DFD2D88u);

    const Bytes ping = LogRequest(37), stop = UnlogAll(8);
    const Bytes stream = Concat({
        Hex("AA 44 12 10 26 00 00 C0 08 00"),  // a header shorter than the standard one
        Hex("AA 44 12 1C 26 00 00 C0 FF FF"),  // longer than any command
        Hex("AA 44"),                          // a sync cut short
        Hex("AA 44 12 1C 26 00 00 C0 40 00"), ping,  // a long candidate, and a whole command inside it
        NovatelWithBadCrc(stop), Hex("12 AA 44"), stop,
    });
    KSimNovatelParser parser;
    std::vector<Bytes> found;
    for (uint8_t byte : stream) {
        parser.Feed(byte);
        for (Bytes m; parser.Next(m);) found.push_back(m);
    }
    EXPECT_EQ(found, (std::vector<Bytes>{ping, stop}));
    EXPECT_EQ(parser.Rejected(), 1u);
}

TEST_F(NovatelDevice, SendsARangeLogEverySecondUntilAllItsLogsAreCleared) {
    Rig rig(115200, true);
    EXPECT_EQ(rig.Run(3500), std::vector<std::string>(3, "140: log"));
    for (const Bytes& m : rig.messages) {
        // Sent at whole seconds of the world's time line while the virtual wall clock stood
        // still: the seconds are the wall clock's, the milliseconds the time line's.
        EXPECT_EQ(ReadLE(m, 14, 2), 2288u);
        EXPECT_EQ(ReadLE(m, 16, 4), 252818000u);
        EXPECT_EQ(ReadLE(m, 28, 4), 2u);  // observations
    }
    rig.Send(UnlogAll(2));  // another port's logs
    EXPECT_EQ(rig.Run(1000), (std::vector<std::string>{"38: response 1", "140: log"}));
    rig.Send(UnlogAll(8));
    EXPECT_EQ(rig.Run(100), std::vector<std::string>{"38: response 1"});
    EXPECT_TRUE(rig.Run(5000).empty());
}

TEST_F(NovatelDevice, AnswersEveryCommandWithAResponseAndObeysOnlyWhatItCan) {
    const struct {
        Bytes command;
        std::vector<std::string> answers;
        void (*set)(KSimDeviceOptions&) = nullptr;
    } cases[] = {
        {LogRequest(37), {"1: response 1", "37: log"}},
        {LogRequest(101), {"1: response 1", "101: log"}},
        {LogRequest(140), {"1: response 1", "140: log"}},
        {LogRequest(37, 4, 0x40), {"1: response 1"}},  // the log goes to COM2
        {LogRequest(42), {"1: response 2"}},
        {LogRequest(37, 2), {"1: response 12"}},
        {Command(1, Repeat(0, 31)), {"1: response 9"}},
        {Com(6, 230400), {"4: response 11"}},
        {Com(6, 19200, 1), {"4: response 11"}},
        {Com(6, 19200, 0, 7), {"4: response 11"}},
        {Com(9, 19200), {"4: response 11"}},
        {Com(2, 19200), {"4: response 1"}},  // another port's settings
        {Com(1, 19200), {"4: response 5"}, [](KSimDeviceOptions& o) { o.refusesRateChange = true; }},
        {LogRequest(37), {"1: response 5"}, [](KSimDeviceOptions& o) { o.wrongAcknowledgements = true; }},
        {Command(7, {}), {"7: response 6"}},
        {NovatelWithByte(LogRequest(37), 6, 0x80), {}},  // a response is no command
    };
    for (const auto& c : cases) {
        KSimDeviceOptions options;
        if (c.set) c.set(options);
        Rig rig(57600, false, options);
        rig.Send(c.command);
        EXPECT_EQ(rig.Run(500), c.answers) << ToHex(c.command);
        EXPECT_EQ(rig.DeviceBaud(), 57600u) << ToHex(c.command);
    }
}

// The TIME log: dated like every message, and its payload tells UTC (2023-11-14 22:13:20 and the
// milliseconds of the minute) with the UTC offset -18 s.
TEST_F(NovatelDevice, TheTimeLogTellsItsClockInGpsTimeAndUtc) {
    Rig rig(38400);
    rig.world->AdvanceBy(250 * kMs);
    rig.Send(LogRequest(101));
    ASSERT_EQ(rig.Run(300), (std::vector<std::string>{"1: response 1", "101: log"}));
    const Bytes& log = rig.messages.back();
    const uint64_t ms = ReadLE(log, 16, 4);
    EXPECT_EQ(ms / 1000, 252818u);
    EXPECT_GT(ms % 1000, 250u);
    EXPECT_EQ(ToHex(Bytes(log.begin() + 28, log.end() - 4)),
              ToHex(Concat({Repeat(0, 20), Hex("00 00 00 00 00 00 32 C0"), LE(2023, 4), {11, 14, 22, 13},
                            LE(20000 + ms % 1000, 4), LE(1, 4)})));
}

TEST_F(NovatelDevice, AnswersARateChangeAtTheOldRateThenSwitches) {
    const uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (uint32_t rate : rates) {
        const uint32_t from = rate == 9600 ? 4800 : 9600;
        Rig rig(from);
        rig.Send(Com(6, rate));
        // The response is read whole by a host still at the old rate.
        EXPECT_EQ(rig.Run(300), std::vector<std::string>{"4: response 1"}) << rate;
        EXPECT_EQ(rig.DeviceBaud(), rate);
    }
}

} // namespace
