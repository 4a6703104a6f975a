// The simulated Septentrio receiver seen from the host's port: its command line, the answers
// with the prompt of its port, and its SBF output, read by the test itself.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/KSeptentrioDevice.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kWall = 1245240000;  // 2009-06-17 12:00:00 UTC: GPS week 1536

struct Rig {
    Rig(uint32_t baud, const KSimDeviceOptions& options) {
        world = std::make_unique<KSimWorld>(KSeptentrioDevice::Create(17, baud, options));
        world->HostOpen(baud);
        hook = clock.AddTickHook([this](int64_t ms) { world->AdvanceTo(ms * 1000000); });
    }
    ~Rig() { clock.RemoveTickHook(hook); }
    std::string Exchange(const std::string& text, int64_t ms) {
        world->HostWrite(text.data(), text.size());
        clock.Advance(ms);
        std::string received;
        char chunk[4096];
        for (size_t n; (n = world->HostRead(chunk, sizeof chunk)) > 0;) received.append(chunk, n);
        return received;
    }
    template <typename F> auto Device(F f) {
        return world->WithDevice([&](KSimDevice& d) { return f(dynamic_cast<KSeptentrioDevice&>(d)); });
    }

    KVirtualClock clock{kWall};
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    int32_t hook = 0;
};

KSimDeviceOptions Quiet(const std::string& port = "", const std::function<void(KSimDeviceOptions&)>& set = {}) {
    KSimDeviceOptions options;
    options.streaming = false;
    options.receiverPort = port;
    if (set) set(options);
    return options;
}

std::string Settings(int port, uint32_t baud) {
    return "  COMSettings, COM" + std::to_string(port) + ", baud" + std::to_string(baud) + ", bits8, No, bit1, none\r\n";
}

TEST(KSeptentrioDevice, AnswersEachCommandLineWithThePromptOfItsPort) {
    const std::string caps = "  ReceiverCapabilities, GPSL1CA+GPSL2C+GALE1BC, COM1+COM2+COM3+COM4\r\n";
    const struct {
        const char* name;
        KSimDeviceOptions options;
        std::string lines;
        std::string answers;
        uint32_t baudAfter;
    } cases[] = {
        {"empty line", Quiet(), "\r\n", "\r\nCOM1>", 9600},
        {"capabilities, long and short", Quiet("COM3"), "getReceiverCapabilities\r",
         "$R: getReceiverCapabilities\r\n" + caps + "COM3>", 9600},
        {"LF alone ends a line too", Quiet("4"), "grc\n", "$R: grc\r\n" + caps + "COM4>", 9600},
        {"its own rate", Quiet("COM2"), "scs, COM2, baud921600\r\n",
         "$R: scs, COM2, baud921600\r\n" + Settings(2, 9600) + "COM2>", 921600},
        {"another port's rate", Quiet("COM2"), "setCOMSettings, com1, baud1200, bits8\r\n",
         "$R: setCOMSettings, com1, baud1200, bits8\r\n" + Settings(1, 1200) + "COM2>", 9600},
        {"a rate it lacks", Quiet(), "scs, COM1, baud14400\r\n",
         "$R? scs, COM1, baud14400: Argument 'Rate' is invalid!\r\nCOM1>", 9600},
        {"refused", Quiet("", [](auto& o) { o.refusesRateChange = true; }), "scs, COM1, baud115200\r\n",
         "$R? scs, COM1, baud115200: Argument 'Rate' could not be handled!\r\nCOM1>", 9600},
        {"a port it lacks", Quiet(), "scs, COM5, baud115200\r\n", "$R? scs, COM5, baud115200: Invalid command!\r\nCOM1>",
         9600},
        {"settings", Quiet(), "gcs, COM3\r\n", "$R: gcs, COM3\r\n" + Settings(3, 9600) + "COM1>", 9600},
        {"save", Quiet(), "eccf, Current, Boot\r\n", "$R: eccf, Current, Boot\r\n  CopyConfigFile, Current, Boot\r\nCOM1>",
         9600},
        // Bytes before the command stay in the line.
        {"garbage before a command", Quiet(), "\x91xgrc\r\n", "$R? \x91xgrc: Invalid command!\r\nCOM1>", 9600},
        {"a second command before the first's prompt", Quiet(), "grc\r\ngcs, COM1\r\n",
         "$R: grc\r\n" + caps + "COM1>$R? ASCII commands between prompts were discarded!\r\nCOM1>", 9600},
        {"prompts naming the next port", Quiet("COM4", [](auto& o) { o.wrongAcknowledgements = true; }), "\r",
         "\r\nCOM1>", 9600},
        {"silent", Quiet("", [](auto& o) { o.silent = true; }), "grc\r\n", "", 9600},
    };
    for (const auto& c : cases) {
        Rig rig(9600, c.options);
        EXPECT_EQ(rig.Exchange(c.lines, 500), c.answers) << c.name;
        EXPECT_EQ(rig.Device([](auto& d) { return d.Baud(); }), c.baudAfter) << c.name;
    }
    EXPECT_FALSE(KSeptentrioDevice::Create(17, 14400, {}));
    EXPECT_FALSE(KSeptentrioDevice::Create(16, 9600, {}));
    EXPECT_FALSE(KSeptentrioDevice::Create(17, 9600, Quiet("COM5")));
    EXPECT_FALSE(KSeptentrioDevice::Create(17, 9600, Quiet("A")));
}

// Each second a ReceiverTime and an EndOfPVT block, "$@", CRC, ID, length, then the GPS time.
TEST(KSeptentrioDevice, StreamsSbfBlocksTellingTheTime) {
    KSimDeviceOptions options;
    Rig rig(115200, options);
    const std::string out = rig.Exchange("", 2100);
    ASSERT_EQ(out.size(), 80u);
    const int64_t towMs = (3 * 86400 + 12 * 3600 + 18) * int64_t{1000};
    size_t at = 0;
    for (int64_t round = 1; round <= 2; ++round)
        for (uint16_t id : {5914, 5921}) {
            auto u = [&](size_t i) { return static_cast<uint8_t>(out[at + i]); };
            ASSERT_EQ(out.substr(at, 2), "$@");
            EXPECT_EQ(u(4) | u(5) << 8, id);
            const size_t length = u(6) | u(7) << 8;
            EXPECT_EQ(length, id == 5914 ? 24u : 16u);
            uint16_t crc = 0;
            for (size_t i = 4; i < length; ++i) {
                crc = static_cast<uint16_t>(crc ^ u(i) << 8);
                for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
            }
            EXPECT_EQ(crc, u(2) | u(3) << 8);
            EXPECT_EQ(u(8) | u(9) << 8 | u(10) << 16 | int64_t{u(11)} << 24, towMs + round * 1000);
            EXPECT_EQ(u(12) | u(13) << 8, 1536);
            at += length;
        }
}

} // namespace
