// The simulated u-blox on its own: requests from the host side of a simulated line, answers cut
// by the simulator's own UBX reader and told as "class/id" lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/KSimUbxParser.h"
#include "sim/KSimWorld.h"
#include "sim/KUbloxDevice.h"
#include "sim/KVirtualClock.h"
#include "support/FramerHarness.h"
#include "support/UbloxFrames.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kMs = 1000000;

struct Rig {
    Rig(uint32_t baud, int32_t generation, int32_t uart, bool streaming = false, KSimDeviceOptions options = {}) {
        options.streaming = streaming;
        world = std::make_unique<KSimWorld>(std::make_unique<KUbloxDevice>(baud, generation, uart, options));
        world->HostOpen(baud);
    }
    void Send(const Bytes& frame) { ASSERT_TRUE(world->HostWrite(frame.data(), frame.size())); }
    // "0A04" for MON-VER, "0501 068A" for an ACK of VALSET (the acknowledged class and id after
    // an ACK or NAK), and "$" for each NMEA sentence.
    std::vector<std::string> Run(int64_t ms) {
        world->AdvanceBy(ms * kMs);
        std::vector<std::string> lines;
        uint8_t buffer[4096];
        for (size_t n; (n = world->HostRead(buffer, sizeof buffer)) > 0;) {
            for (size_t i = 0; i < n; ++i) {
                parser.Feed(buffer[i]);
                if (buffer[i] == '$') lines.push_back("$");
                for (Bytes m; parser.Next(m);) lines.push_back(Line(m));
            }
        }
        return lines;
    }
    std::string Line(const Bytes& m) {
        messages.push_back(m);
        char line[16];
        std::snprintf(line, sizeof line, "%02X%02X", m[2], m[3]);
        std::string text = line;
        if (m[2] == 0x05 && m.size() >= 10) {
            std::snprintf(line, sizeof line, " %02X%02X", m[6], m[7]);
            text += line;
        }
        return text;
    }
    uint32_t DeviceBaud() { return world->WithDevice([](KSimDevice& d) { return d.Baud(); }); }
    template <typename F>
    auto Device(F f) {
        return world->WithDevice([&](KSimDevice& d) { return f(dynamic_cast<KUbloxDevice&>(d)); });
    }

    std::unique_ptr<KSimWorld> world;
    KSimUbxParser parser;
    std::vector<Bytes> messages;
};

class UbloxDevice : public ::testing::Test {
protected:
    KVirtualClock clock{1700000000};
    KScopedClock scoped{clock};
};

Bytes Valset(uint8_t layers, uint32_t key, uint32_t rate) {
    return UbxFrame(0x06, 0x8A, Concat({{0x00, layers, 0x00, 0x00}, LE(key, 4), LE(rate, 4)}));
}
Bytes PrtSet(uint8_t port, uint32_t rate) {
    return UbxFrame(0x06, 0x00, Concat({{port, 0, 0, 0}, LE(0x8C0, 4), LE(rate, 4), LE(0x23, 2), LE(3, 2), Repeat(0, 4)}));
}

TEST_F(UbloxDevice, StreamsPvtAndNmeaEverySecondAndAnswersAmidIt) {
    Rig rig(38400, 9, 1, true);
    EXPECT_EQ(rig.Run(2500), (std::vector<std::string>{"0107", "$", "0107", "$"}));
    rig.Send(UbxFrame(0x0A, 0x04));
    EXPECT_EQ(rig.Run(1000), (std::vector<std::string>{"0A04", "0107", "$"}));
    EXPECT_TRUE(rig.Device([](KUbloxDevice& d) { return d.Streaming(); }));
}

TEST_F(UbloxDevice, AnswersEachRequestAsItsGenerationDoes) {
    const uint32_t uart1 = 0x40520001, uart2 = 0x40530001;
    const struct {
        const char* name;
        int32_t generation, uart;
        Bytes request;
        std::vector<std::string> lines;
        uint32_t baudAfter, otherAfter, savedAfter;
    } cases[] = {
        {"MON-VER", 8, 2, UbxFrame(0x0A, 0x04), {"0A04"}, 9600, 9600, 0},
        {"NAV-TIMEGPS", 20, 1, UbxFrame(0x01, 0x20), {"0120"}, 9600, 9600, 0},
        {"CFG-PRT poll, u-blox 8", 8, 2, UbxFrame(0x06, 0x00), {"0600"}, 9600, 9600, 0},
        {"CFG-PRT poll, generation 10", 10, 1, UbxFrame(0x06, 0x00), {"0500 0600"}, 9600, 9600, 0},
        {"CFG-PRT set of its UART", 8, 2, PrtSet(2, 115200), {"0501 0600"}, 115200, 9600, 0},
        {"CFG-PRT set of the other UART", 9, 1, PrtSet(2, 57600), {"0501 0600"}, 9600, 57600, 0},
        {"CFG-PRT set, generation 20", 20, 1, PrtSet(1, 57600), {"0500 0600"}, 9600, 9600, 0},
        {"VALSET of its UART in RAM", 9, 2, Valset(0x01, uart2, 921600), {"0501 068A"}, 921600, 9600, 0},
        {"VALSET of the other UART", 9, 2, Valset(0x07, uart1, 921600), {"0501 068A"}, 9600, 921600, 0},
        {"VALSET to BBR and flash only", 10, 1, Valset(0x06, uart1, 230400), {"0501 068A"}, 9600, 9600, 230400},
        {"VALSET of a UART it lacks", 10, 1, Valset(0x01, uart2, 230400), {"0500 068A"}, 9600, 9600, 0},
        {"VALSET of a rate it lacks", 9, 1, Valset(0x01, uart1, 1200), {"0500 068A"}, 9600, 9600, 0},
        {"VALSET to u-blox 8", 8, 1, Valset(0x01, uart1, 115200), {"0500 068A"}, 9600, 9600, 0},
        {"CFG-CFG", 8, 1, UbxFrame(0x06, 0x09, Concat({LE(0, 4), LE(1, 4), LE(0, 4), {0x17}})), {"0501 0609"}, 9600, 9600, 9600},
        {"a poll it does not know", 9, 1, UbxFrame(0x0A, 0x09), {}, 9600, 9600, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(9600, c.generation, c.uart);
        // Garbage around the request hides nothing.
        rig.Send(Concat({{0xB5, 0x62, 0x06}, NmeaSentence("GPTXT,x"), c.request, {0xB5}}));
        EXPECT_EQ(rig.Run(500), c.lines);
        EXPECT_EQ(rig.DeviceBaud(), c.baudAfter);
        EXPECT_EQ(rig.Device([](KUbloxDevice& d) { return d.OtherUartBaud(); }), c.otherAfter);
        EXPECT_EQ(rig.Device([](KUbloxDevice& d) { return d.SavedBaud(); }), c.savedAfter);
    }
}

TEST_F(UbloxDevice, PortSettingsAndVersionSayWhatTheHostReads) {
    Rig rig(19200, 8, 2);
    rig.Send(UbxFrame(0x06, 0x00));
    rig.Send(UbxFrame(0x06, 0x00, {0x01}));
    rig.Send(UbxFrame(0x0A, 0x04));
    rig.Run(500);
    ASSERT_EQ(rig.messages.size(), 3u);
    // Its own port at its rate, the other at 9600: 8N1, UBX+NMEA+RTCM 3 in, UBX+NMEA out.
    EXPECT_EQ(ToHex(rig.messages[0]), ToHex(UbxFrame(0x06, 0x00, Hex("02 00 00 00 C0 08 00 00 00 4B 00 00 23 00 03 00 00 00 00 00"))));
    EXPECT_EQ(ToHex(rig.messages[1]), ToHex(UbxFrame(0x06, 0x00, Hex("01 00 00 00 C0 08 00 00 80 25 00 00 23 00 03 00 00 00 00 00"))));
    const std::string version(rig.messages[2].begin() + 6, rig.messages[2].end() - 2);
    EXPECT_NE(version.find("PROTVER=18.00"), std::string::npos);
    EXPECT_EQ(version.size(), 40u + 3 * 30u);
}

TEST_F(UbloxDevice, CreateReadsGenerationAndUartFromTheReceiverPort) {
    const struct {
        const char* port;
        bool made;
        int32_t generation, uart;
    } cases[] = {{"", true, 9, 1}, {"2", true, 9, 2}, {"8:2", true, 8, 2}, {"10:1", true, 10, 1}, {"20:1", true, 20, 1},
                 {"10:2", false, 0, 0}, {"7:1", false, 0, 0}, {"3", false, 0, 0}, {"9:", false, 0, 0}};
    for (const auto& c : cases) {
        KSimDeviceOptions options;
        options.receiverPort = c.port;
        const auto device = KUbloxDevice::Create(15, 9600, options);
        ASSERT_EQ(device != nullptr, c.made) << c.port;
        if (!device) continue;
        const auto& ublox = dynamic_cast<const KUbloxDevice&>(*device);
        EXPECT_EQ(ublox.Generation(), c.generation) << c.port;
        EXPECT_EQ(ublox.Uart(), c.uart) << c.port;
    }
    EXPECT_EQ(KUbloxDevice::Create(9, 9600, {}), nullptr);
}

} // namespace
