// The simulated Ashtech receiver seen from the host's port; what comes back is cut into lines
// by the test's own reader (the binary PBN response by its fixed length), never by the product.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/KAshtechDevice.h"
#include "sim/KSimWorld.h"
#include "sim/KVirtualClock.h"
#include "time/KClock.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int64_t kWall = 1245240000;  // 2009-06-17 12:00:00 UTC
constexpr int64_t kGpsEpoch = 315964800;
const std::string kAck = "$PASHR,ACK*3D\r\n";
const std::string kNak = "$PASHR,NAK*30\r\n";

std::string WithChecksum(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    char check[8];
    std::snprintf(check, sizeof check, "*%02X\r\n", sum);
    return "$" + body + check;
}

bool NmeaChecked(const std::string& line) {
    const size_t star = line.find('*');
    return star != std::string::npos && line == WithChecksum(line.substr(1, star - 1));
}

bool WordSumChecked(const std::string& pbn) {
    unsigned sum = 0;
    auto word = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(pbn[i]) << 8 | static_cast<uint8_t>(pbn[i + 1])); };
    for (size_t i = 11; i < 65; i += 2) sum += word(i);
    return pbn.size() == 69 && (sum & 0xFFFF) == word(65) && pbn.substr(67) == "\r\n";
}

// A host port on a world with one Ashtech receiver, on a virtual clock that the world follows.
struct Rig {
    Rig(int32_t type, uint32_t baud, KSimDeviceOptions options = {}) {
        options.gpsLeapSeconds = 0;
        auto device = KAshtechDevice::Create(type, baud, options);
        EXPECT_TRUE(device);
        world = std::make_unique<KSimWorld>(std::move(device));
        world->HostOpen(baud);
        hook = clock.AddTickHook([this](int64_t ms) { world->AdvanceTo(ms * 1000000); });
    }
    ~Rig() { clock.RemoveTickHook(hook); }
    void Send(const std::string& text) { world->HostWrite(text.data(), text.size()); }
    // Runs `ms` and returns the whole lines received: "$" to CR LF, or the 69 bytes of a PBN.
    Lines Run(int64_t ms) {
        clock.Advance(ms);
        char chunk[4096];
        for (size_t n; (n = world->HostRead(chunk, sizeof chunk)) > 0;) pending.append(chunk, n);
        Lines lines;
        for (;;) {
            const size_t start = pending.find('$');
            if (start == std::string::npos) break;
            const size_t end = pending.compare(start, 10, "$PASHR,PBN") == 0 ? start + 69
                                                                               : pending.find("\r\n", start) + 2;
            if (end < 2 || end > pending.size()) break;
            lines.push_back(pending.substr(start, end - start));
            pending.erase(0, end);
        }
        return lines;
    }
    template <typename F>
    auto Device(F f) {
        return world->WithDevice([&](KSimDevice& d) { return f(dynamic_cast<KAshtechDevice&>(d)); });
    }
    uint32_t Baud() { return world->WithDevice([](KSimDevice& d) { return d.Baud(); }); }

    KVirtualClock clock{kWall};
    KScopedClock scope{clock};
    std::unique_ptr<KSimWorld> world;
    std::string pending;
    int32_t hook = 0;
};

KSimDeviceOptions Quiet(const std::string& port = "") {
    KSimDeviceOptions options;
    options.streaming = false;
    options.receiverPort = port;
    return options;
}

TEST(KAshtechDevice, IsCabledOnlyToAPortAnAshtechHas) {
    for (const char* port : {"A", "C", "E"}) EXPECT_TRUE(KAshtechDevice::Create(3, 9600, Quiet(port))) << port;
    for (const char* port : {"F", "a", "AB", "1"}) EXPECT_FALSE(KAshtechDevice::Create(3, 9600, Quiet(port))) << port;
    EXPECT_FALSE(KAshtechDevice::Create(4, 9600, {}));
}

TEST(KAshtechDevice, AcknowledgesTheSettingsItKnowsAndRefusesTheRest) {
    const std::pair<std::string, std::string> cases[] = {
        {"$PASHS,OUT,B\r\n", kAck},          {"$PASHS,NME,XDR,C,OFF\r\n", kAck},
        {"$PASHS,SPD,D,9\r\n", kAck},        {WithChecksum("PASHS,OUT,C"), kAck},
        {"$PASHS,OUT,F\r\n", kNak},          {"$PASHS,SPD,A,X\r\n", kNak},
        {"$PASHS,NME,GGA,A,ON\r\n", kNak},   {"$PASHS,NME,ABC,A,OFF\r\n", kNak},
        {"$PASHS,ELM,10\r\n", kNak},         {"$PASHS,OUT,C*00\r\n", kNak},
        {"$PASHQ,PRT*7F\r\n", kNak},         {"$PASHQ,RID\r\n", ""},
        {"$GPGGA,1,2*00\r\n", ""},         {"$PASHS,SPD,A,9\r\n", kNak},  // it refuses rate changes
    };
    KSimDeviceOptions refusing = Quiet();
    refusing.refusesRateChange = true;
    Rig rig(1, 9600, refusing);
    for (const auto& [request, answer] : cases) {
        rig.Send(request);
        EXPECT_EQ(rig.Run(500), answer.empty() ? Lines{} : Lines{answer}) << request;
    }
    EXPECT_EQ(rig.Baud(), 9600u);  // neither port D's rate nor a refused one
}

TEST(KAshtechDevice, StreamsCheckedOutputUntilSilencedOnItsOwnPort) {
    const struct {
        const char* command;
        Lines kinds;  // what a period still sends afterwards
    } cases[] = {
        {"$PASHS,OUT,A\r\n", {}},
        {"$PASHS,RAW,ALL,A,OFF\r\n", {}},
        {"$PASHS,NME,ALL,A,OFF\r\n", {}},
        {"$PASHS,NME,XDR,A,OFF\r\n", {"$GPGGA", "$PASHR,POS", "$PASHR,PBN"}},
        {"$PASHS,OUT,B\r\n", {"$GPGGA", "$PASHR,POS", "$GPXDR", "$PASHR,PBN"}},
        {"$PASHS,NME,ALL,C,OFF\r\n", {"$GPGGA", "$PASHR,POS", "$GPXDR", "$PASHR,PBN"}},
    };
    for (const auto& c : cases) {
        Rig rig(2, 19200);
        const Lines before = rig.Run(2500);
        ASSERT_EQ(before.size(), 8u);
        for (size_t i = 0; i < before.size(); ++i) {
            const std::string& line = before[i];
            if (line.rfind("$PASHR,PBN", 0) != 0) {
                EXPECT_TRUE(NmeaChecked(line)) << line;
                continue;
            }
            EXPECT_TRUE(WordSumChecked(line));
            // Sent at 1000 and 2000 ms: the GPS time of week in milliseconds, big-endian.
            uint32_t tow = 0;
            for (size_t b = 11; b < 15; ++b) tow = tow << 8 | static_cast<uint8_t>(line[b]);
            EXPECT_EQ(tow, ((kWall - kGpsEpoch) % 604800 + 1 + static_cast<int64_t>(i / 4)) * 1000);
        }
        rig.Send(c.command);
        EXPECT_EQ(rig.Run(100), Lines{kAck});
        Lines kinds;
        for (const std::string& line : rig.Run(1000)) kinds.push_back(line.substr(0, line.rfind("$PASHR,", 0) == 0 ? 10 : 6));
        EXPECT_EQ(kinds, c.kinds) << c.command;
        EXPECT_EQ(rig.Device([](KAshtechDevice& d) { return d.Streaming(); }), !c.kinds.empty());
    }
}

TEST(KAshtechDevice, SwitchesToTheRateOfItsSpeedCodeOnceTheAckHasLeft) {
    const uint32_t rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int code = 0; code < 10; ++code) {
        Rig rig(3, 9600, Quiet());
        rig.Send("$PASHS,SPD,A," + std::to_string(code) + "\r\n");
        EXPECT_EQ(rig.Run(100), Lines{kAck}) << code;
        EXPECT_EQ(rig.Baud(), rates[code]);
        rig.world->HostOpen(rates[code]);
        rig.Send("$PASHQ,PRT\r\n");
        EXPECT_EQ(rig.Run(2000), Lines{WithChecksum("PASHR,PRT,A," + std::to_string(code))});
    }
}

TEST(KAshtechDevice, ReadsRequestsFromDollarToCrLfAtItsOwnRateOnly) {
    Rig rig(2, 4800, Quiet());
    rig.Send("xx$PASHQ,P$PASHQ,PRT\r\n" + ("$" + std::string(100, 'A') + "\r\n") + "$PASHQ,PRT\n$PASHQ,PRT\r\n");
    EXPECT_EQ(rig.Run(1000).size(), 2u);
    rig.world->HostOpen(9600);  // garbled at the receiver: no request, no answer
    rig.Send("$PASHQ,PRT\r\n");
    EXPECT_TRUE(rig.Run(1000).empty());
    const std::string query = "$PASHQ,PRT\r\n";
    EXPECT_EQ(rig.Device([](KAshtechDevice& d) { return d.Requests(); }),
              std::vector<std::vector<uint8_t>>(2, std::vector<uint8_t>(query.begin(), query.end())));
}

} // namespace
