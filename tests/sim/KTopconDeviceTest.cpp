// The simulated Topcon receiver seen from the host's port; its output is cut into GREIS messages
// and checked by the test's own reader, never by the product.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/KBaudRates.h"
#include "sim/KSimWorld.h"
#include "sim/KTopconDevice.h"
#include "sim/KVirtualClock.h"
#include "support/TopconFrames.h"
#include "time/KClock.h"

namespace {

constexpr int64_t kWall = 1245240000;  // 2009-06-17 12:00:00 UTC
constexpr int64_t kGpsEpoch = 315964800;

uint64_t Little(const std::string& s, size_t at, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return value;
}

// A host port on a world with one Topcon receiver, on a virtual clock that the world follows.
struct Rig {
    explicit Rig(uint32_t baud, const KSimDeviceOptions& options = {}) {
        world = std::make_unique<KSimWorld>(KTopconDevice::Create(11, baud, options));
        world->HostOpen(baud);
        hook = clock.AddTickHook([this](int64_t ms) { world->AdvanceTo(ms * 1000000); });
    }
    ~Rig() { clock.RemoveTickHook(hook); }
    // Sends `text`, runs `ms` and returns everything received meanwhile.
    std::string Exchange(const std::string& text, int64_t ms) {
        world->HostWrite(text.data(), text.size());
        clock.Advance(ms);
        std::string received;
        char chunk[4096];
        for (size_t n; (n = world->HostRead(chunk, sizeof chunk)) > 0;) received.append(chunk, n);
        return received;
    }
    template <typename F> auto Device(F f) {
        return world->WithDevice([&](KSimDevice& d) { return f(dynamic_cast<KTopconDevice&>(d)); });
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

// Each period: ~~, GT, rM, PO and || with their checks, telling the GPS time they are sent at.
TEST(KTopconDevice, StreamsCheckedTimeMessagesUntilAllOutputIsOff) {
    Rig rig(19200);
    const std::string out = rig.Exchange("", 2500);
    const char* ids[] = {"~~", "GT", "rM", "PO", "||"};
    size_t at = 0;
    for (int64_t round = 1; round <= 2; ++round) {
        const int64_t towMs = ((kWall - kGpsEpoch + 18) % 604800 + round) * 1000;
        const uint64_t week = static_cast<uint64_t>((kWall - kGpsEpoch + 18) / 604800);
        for (const char* id : ids) {
            ASSERT_LE(at + 5, out.size());
            const size_t length = std::stoul(out.substr(at + 2, 3), nullptr, 16);
            const std::string m = out.substr(at, 5 + length);
            ASSERT_EQ(m.substr(0, 2), id);
            ASSERT_EQ(out.at(at + m.size()), '\n') << id;
            at += m.size() + 1;
            const Bytes bytes(m.begin(), m.end());
            if (m.starts_with("rM")) {
                EXPECT_EQ(Little(m, m.size() - 2, 2), GrilCrc16(Bytes(bytes.begin(), bytes.end() - 2)));
                EXPECT_EQ(Little(m, 7, 2), week % 1024);
                EXPECT_EQ(Little(m, 9, 4), static_cast<uint64_t>(towMs));
                continue;
            }
            EXPECT_EQ(static_cast<uint8_t>(m.back()), GrilChecksum8(Bytes(bytes.begin(), bytes.end() - 1))) << id;
            // Receiver time: milliseconds of the day; GPS time: of the week, and the week.
            if (m.starts_with("~~")) EXPECT_EQ(Little(m, 5, 4), static_cast<uint64_t>(towMs % 86400000));
            else if (m.starts_with("GT")) EXPECT_EQ(Little(m, 5, 6), static_cast<uint64_t>(towMs) | week << 32);
            else EXPECT_EQ(m.size(), m.starts_with("PO") ? 35u : 6u);
        }
    }
    EXPECT_EQ(at, out.size());
    EXPECT_EQ(rig.Exchange("%ALLOFF%dm\n", 100), "RE008%ALLOFF%\r\n");
    EXPECT_EQ(rig.Exchange("", 3000), "");
    EXPECT_FALSE(rig.Device([](KTopconDevice& d) { return d.Streaming(); }));
}

TEST(KTopconDevice, AnswersIdentifiedCommandsAndReportsErrors) {
    const std::string longest = "%" + std::string(254, 'x') + "%";
    const struct {
        KSimDeviceOptions options;
        std::string request, reply;
    } cases[] = {
        {Quiet(), "%GRILPING%\n", "RE00A%GRILPING%\r\n"},
        {Quiet(), "%%\r", "RE002%%\r\n"},
        {Quiet(), "\r\n\n\r", ""},
        {Quiet(), "dm\n", ""},  // obeyed, unanswered without an identifier
        {Quiet(), "%a%dm,/dev/ser/b\n", "RE003%a%\r\n"},
        {Quiet(), "%b%set,/par/dev/ser/c/rate,4800\n", "RE003%b%\r\n"},  // another port's
        {Quiet(), "dm,/dev/ser/e\n", "ER005error\r\n"},
        {Quiet(), "set,/par/cur/term/rate,230400\n", "ER005error\r\n"},
        {Quiet(), "set,/par/cur/term/rate,96OO\n", "ER005error\r\n"},
        {Quiet(), "%c%print,/par/rcv/id\n", "ER008%c%error\r\n"},
        {Quiet(), "%open dm\n", "ER005error\r\n"},
        {Quiet(), longest + "\n", "RE100" + longest + "\r\n"},
        {Quiet(), "%" + longest + "\n", ""},  // longer than a command can be
        {Quiet([](auto& o) { o.refusesRateChange = true; }), "%r%set,/par/cur/term/rate,19200\n",
         "ER008%r%error\r\n"},
        {Quiet([](auto& o) { o.wrongAcknowledgements = true; }), "%GRILPING%\n", "ER00A%GRILPING%\r\n"},
        {Quiet([](auto& o) { o.missesFirstTry = true; }), "%GRILPING%\n%GRILPING%\n%GRILPING%\n",
         "RE00A%GRILPING%\r\n"},
    };
    for (const auto& c : cases) {
        Rig rig(9600, c.options);
        EXPECT_EQ(rig.Exchange(c.request, 1000), c.reply) << c.request;
        EXPECT_EQ(rig.Device([](KTopconDevice& d) { return d.Baud(); }), 9600u) << c.request;
    }
}

TEST(KTopconDevice, IsCabledOnlyToASerialPortATopconHas) {
    for (const auto& [port, cabled] :
         {std::pair{"", true}, {"a", true}, {"d", true}, {"e", false}, {"A", false}, {"ab", false}})
        EXPECT_EQ(KTopconDevice::Create(11, 9600, Quiet([p = port](auto& o) { o.receiverPort = p; })) != nullptr,
                  cabled) << port;
    EXPECT_FALSE(KTopconDevice::Create(10, 9600, {}));
}

TEST(KTopconDevice, SwitchesOnceItsReplyHasLeftAndAnswersAtEveryRate) {
    Rig rig(9600, Quiet());
    bool identified = false;
    for (const int32_t rate : kBaudRates) {
        const auto to = static_cast<uint32_t>(rate);
        // With an identifier the reply goes out at the old rate; without one there is none.
        identified = !identified;
        const std::string set = "set,/par/cur/term/rate," + std::to_string(to) + "\n";
        EXPECT_EQ(rig.Exchange(identified ? "%s%" + set : set, 600), identified ? "RE003%s%\r\n" : "") << to;
        EXPECT_EQ(rig.Device([](KTopconDevice& d) { return d.Baud(); }), to);
        rig.world->HostOpen(to);
        EXPECT_EQ(rig.Exchange("%GRILPING%\n", 600), "RE00A%GRILPING%\r\n") << to;
    }
}

} // namespace
