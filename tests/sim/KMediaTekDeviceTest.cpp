// The simulated MediaTek receiver seen from the host's port: what it answers to each PMTK
// command, and its output, read by the test itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/KMediaTekDevice.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kWall = 1245240000;  // 2009-06-17 12:00:00 UTC

std::string Sentence(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    char check[8];
    std::snprintf(check, sizeof check, "*%02X\r\n", sum);
    return "$" + body + check;
}

struct Rig {
    explicit Rig(uint32_t baud, const KSimDeviceOptions& options) {
        world = std::make_unique<KSimWorld>(KMediaTekDevice::Create(16, baud, options));
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
        return world->WithDevice([&](KSimDevice& d) { return f(dynamic_cast<KMediaTekDevice&>(d)); });
    }

    KVirtualClock clock{kWall};
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    int32_t hook = 0;
};

KSimDeviceOptions Quiet(const std::function<void(KSimDeviceOptions&)>& set = [](KSimDeviceOptions&) {}) {
    KSimDeviceOptions options;
    options.streaming = false;
    set(options);
    return options;
}

const std::string kAllOff = "PMTK314,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";

TEST(KMediaTekDevice, AnswersEachCommandAsTheChipsetsDo) {
    const std::string firmware = Sentence(std::string("PMTK705,") + KMediaTekDevice::kFirmware);
    const struct {
        const char* name;
        KSimDeviceOptions options;
        std::string request;
        std::string reply;
        uint32_t baudAfter;
    } cases[] = {
        {"firmware query", Quiet(), Sentence("PMTK605"), firmware + Sentence("PMTK001,605,3"), 9600},
        {"rate change, unanswered", Quiet(), Sentence("PMTK251,921600"), "", 921600},
        {"rate change to 14400", Quiet(), Sentence("PMTK251,14400"), "", 14400},
        {"a rate it lacks", Quiet(), Sentence("PMTK251,2400"), Sentence("PMTK001,251,1"), 9600},
        {"a rate that is no number", Quiet(), Sentence("PMTK251,96OO"), Sentence("PMTK001,251,1"), 9600},
        {"refused", Quiet([](auto& o) { o.refusesRateChange = true; }), Sentence("PMTK251,115200"),
         Sentence("PMTK001,251,2"), 9600},
        {"wrong acknowledgements", Quiet([](auto& o) { o.wrongAcknowledgements = true; }), Sentence("PMTK605"),
         Sentence("PMTK001,604,3"), 9600},
        {"output off", Quiet(), Sentence(kAllOff), Sentence("PMTK001,314,3"), 9600},
        {"output with a field too many", Quiet(), Sentence(kAllOff + ",0"), Sentence("PMTK001,314,0"), 9600},
        {"wrong check", Quiet(), "$PMTK605*30\r\n", Sentence("PMTK001,605,0"), 9600},
        {"no check", Quiet(), "$PMTK251,115200\r\n", Sentence("PMTK001,251,0"), 9600},
        {"unknown command", Quiet(), Sentence("PMTK220,100"), Sentence("PMTK001,220,1"), 9600},
        {"no command number", Quiet(), Sentence("PMTKX"), "", 9600},
        {"plain NMEA", Quiet(), Sentence("GPGGA,1"), "", 9600},
        {"LF alone", Quiet(), Sentence("PMTK605").substr(0, 11) + "\n", "", 9600},
        {"a new start drops the line", Quiet(), "$PMTK6" + Sentence("PMTK605"), firmware + Sentence("PMTK001,605,3"),
         9600},
        {"silent", Quiet([](auto& o) { o.silent = true; }), Sentence("PMTK605"), "", 9600},
    };
    for (const auto& c : cases) {
        Rig rig(9600, c.options);
        EXPECT_EQ(rig.Exchange(c.request, 300), c.reply) << c.name;
        EXPECT_EQ(rig.Device([](auto& d) { return d.Baud(); }), c.baudAfter) << c.name;
    }
}

// RMC, VTG, GGA, GSA and GSV each second by default; PMTK314 picks sentences, -1 restores the
// defaults, and all off stays off.
TEST(KMediaTekDevice, StreamsTheSentencesThatAreOn) {
    KSimDeviceOptions options;
    Rig rig(115200, options);
    auto kinds = [](const std::string& out) {
        std::string found;
        for (size_t at = out.find('$'); at != std::string::npos; at = out.find('$', at + 1))
            found += out.substr(at + 1, out.find(',', at) - at - 1) + " ";
        return found;
    };
    std::string out = rig.Exchange("", 1100);
    EXPECT_EQ(kinds(out), "GPRMC GPVTG GPGGA GPGSA GPGSV ");
    EXPECT_NE(out.find("$GPRMC,120001.000,A,"), std::string::npos);
    EXPECT_NE(out.find(",170609,"), std::string::npos);
    out = rig.Exchange(Sentence("PMTK314,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5,1"), 1000);
    EXPECT_EQ(kinds(out), "PMTK001 GPRMC GPZDA PMTKCHN ");
    EXPECT_NE(out.find("$GPZDA,120002.000,17,06,2009,,*"), std::string::npos);
    out = rig.Exchange(Sentence("PMTK314,-1"), 1000);
    EXPECT_EQ(kinds(out), "PMTK001 GPRMC GPVTG GPGGA GPGSA GPGSV ");
    out = rig.Exchange(Sentence(kAllOff), 3000);
    EXPECT_EQ(out, Sentence("PMTK001,314,3"));
    EXPECT_FALSE(rig.Device([](auto& d) { return d.Streaming(); }));
    EXPECT_EQ(rig.Exchange(Sentence("PMTK314,-1"), 3000), Sentence("PMTK001,314,3"));
}

TEST(KMediaTekDevice, RunsOnlyAtTheChipsetsRatesOnItsOnePort) {
    EXPECT_TRUE(KMediaTekDevice::Create(16, 14400, {}));
    EXPECT_FALSE(KMediaTekDevice::Create(16, 2400, {}));
    EXPECT_FALSE(KMediaTekDevice::Create(15, 9600, {}));
    KSimDeviceOptions port;
    port.receiverPort = "B";
    EXPECT_FALSE(KMediaTekDevice::Create(16, 9600, port));
}

} // namespace
