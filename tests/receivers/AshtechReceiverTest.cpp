// The Ashtech receiver against scripted replies and against the simulated receiver, and its
// time scan over recorded streams; every wait runs in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <utility>

#include "comm/KRecordedComm.h"
#include "families/KReceiverFamily.h"
#include "log/DebugTrace.h"
#include "receivers/KAshtechReceiver.h"
#include "sim/KAshtechDevice.h"
#include "support/AshtechFrames.h"
#include "support/ReceiverRig.h"
#include "support/TraceLines.h"

namespace {

using Lines = std::vector<std::string>;
const std::string kQuery = "$PASHQ,PRT\r\n";
const std::string kTry1 = "ASHTECH: Get Current Port failed on Try 1\n";
const std::string kTry2 = "ASHTECH: Get Current Port failed on Try 2\n";
const std::string kStopFail = "ASHTECH: Stop All Broadcast - GetPort FAIL\n";
const std::string kPingFail = "Ashtech Receiver: Ping failed ...\n";
const std::string kNoPort = "Ashtech Receiver::Change baud - could not get port...FAIL\n";
const std::string kNoCode = "Ashtech receiver:  Couldn't set baud - no command byte found... \n";


Bytes PortReply(char letter) {
    const std::string body = std::string("PASHR,PRT,") + letter + ",5";
    char check[3];
    std::snprintf(check, sizeof check, "%02X", NmeaChecksum(body));
    return Text("$" + body + "*" + check + "\r\n");
}

using Operation = std::function<bool(KReceiver&)>;
Operation Ping(int32_t timeoutMs) {
    return [timeoutMs](KReceiver& r) { return r.Ping(timeoutMs); };
}
Operation Stop(int32_t settleMs) {
    return [settleMs](KReceiver& r) { return r.StopAllBroadcast(settleMs); };
}
Operation Change(int32_t baud) {
    return [baud](KReceiver& r) { return r.ChangeBaud(baud); };
}

TEST(AshtechReceiver, EachOperationsTextsResultTimeAndTracesByWhenThePortReplyComes) {
    constexpr int64_t kNever = -1, kLate = 2050;  // the first wait looks last at 2000 ms
    const std::string query2 = kQuery + kQuery, stopA = "$PASHS,OUT,A\r\n$PASHS,NME,XDR,A,OFF\r\n";
    const struct {
        int32_t mode;
        char port;
        int64_t replyAt;
        Operation operation;
        bool ok;
        int64_t ms;
        std::string sent;
        Lines traces;
    } cases[] = {
        {3, 'A', 50, Ping(1000), true, 100, kQuery, {}},
        {3, 'B', 50, Stop(2000), true, 2100, kQuery + "$PASHS,OUT,B\r\n$PASHS,NME,XDR,B,OFF\r\n", {}},
        {1, 'C', 50, Stop(0), true, 100, kQuery + "$PASHS,RAW,ALL,C,OFF\r\n$PASHS,NME,XDR,C,OFF\r\n", {}},
        {2, 'D', 50, Stop(0), true, 100, kQuery + "$PASHS,NME,ALL,D,OFF\r\n$PASHS,NME,XDR,D,OFF\r\n", {}},
        {0, 'A', 50, Stop(2000), false, 100, kQuery, {}},
        {4, 'A', 50, Stop(2000), false, 100, kQuery, {}},
        {3, 'A', 50, Change(9600), true, 100, kQuery + "$PASHS,SPD,A,5\r\n", {}},
        {3, 'A', 50, Change(300), true, 100, kQuery + "$PASHS,SPD,A,0\r\n", {}},
        {3, 'A', 50, Change(115200), true, 100, kQuery + "$PASHS,SPD,A,9\r\n", {}},
        {3, 'A', 50, Change(230400), false, 100, kQuery, {kNoCode}},
        {3, 'E', 50, Ping(1000), false, 100, kQuery, {kPingFail}},
        {3, 'E', 50, Stop(2000), false, 100, kQuery, {kStopFail}},
        {3, 'E', 50, Change(9600), true, 100, kQuery + "$PASHS,SPD,E,5\r\n", {}},
        {3, 'A', kLate, Ping(1000), true, 2100, query2, {kTry1}},
        {3, 'A', kLate, Stop(0), true, 2100, query2 + stopA, {kTry1}},
        {3, 'A', kLate, Change(4800), true, 2100, query2 + "$PASHS,SPD,A,4\r\n", {kTry1}},
        {3, 'A', kNever, Ping(1000), false, 4000, query2, {kTry1, kTry2, kPingFail}},
        {3, 'A', kNever, Ping(2000), false, 4000, query2, {kTry1, kTry2, kPingFail}},
        {3, 'A', kNever, Stop(2000), false, 4000, query2, {kTry1, kTry2, kStopFail}},
        {3, 'A', kNever, Change(9600), false, 4000, query2, {kTry1, kTry2, kNoPort}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        TraceLines traces;
        ScriptedReceiverRig rig;
        KAshtechReceiver receiver(false, c.mode);
        rig.Use(receiver);
        rig.link.Feed(PortReply('E'));  // stale, from before the query
        rig.Pump();
        // Unrelated messages ahead of the reply are dropped by the wait, output while settling
        // by the settle: nothing is left for later.
        const Bytes unrelated = Concat({PashrLine("ACK*3D"), AshtechFixed("PBN", 7), GpxdrSentence("C,21.5,C,AIR")});
        if (c.replyAt != kNever) rig.ReplyAt(c.replyAt, Concat({unrelated, PortReply(c.port)}));
        rig.ReplyAt(900, PashrLine("POS,0,03,183530.00*20"));
        EXPECT_EQ(c.operation(receiver), c.ok) << i;
        EXPECT_EQ(rig.clock.NowMs(), c.ms) << i;
        const Bytes sent = rig.Written();
        EXPECT_EQ(std::string(sent.begin(), sent.end()), c.sent) << i;
        EXPECT_EQ(traces.Take(), c.traces) << i;
        EXPECT_EQ(receiver.Monitor()->MessageCount(), 0) << i;
    }
}

// The receiver's speed codes, from its command reference: a one-digit slip sends the receiver to
// a rate nobody listens at.
TEST(AshtechReceiver, EveryRateGoesOutAsItsOwnSpeedCodeAndNoOtherRateGoesOut) {
    const std::pair<int32_t, const char*> rates[] = {
        {300, "0"},   {600, "1"},   {1200, "2"},  {2400, "3"},  {4800, "4"},   {9600, "5"},
        {19200, "6"}, {38400, "7"}, {57600, "8"}, {115200, "9"}, {14400, nullptr}, {230400, nullptr},
        {0, nullptr}, {-300, nullptr}, {9601, nullptr},
    };
    for (const auto& [baud, code] : rates) {
        ScriptedReceiverRig rig;
        KAshtechReceiver receiver(false, 3);
        rig.Use(receiver);
        rig.ReplyAt(50, PortReply('C'));
        EXPECT_EQ(receiver.ChangeBaud(baud), code != nullptr) << baud;
        const Bytes sent = rig.Written();
        EXPECT_EQ(std::string(sent.begin(), sent.end()), kQuery + (code ? std::string("$PASHS,SPD,C,") + code + "\r\n" : ""))
            << baud;
    }
}

// A command that never went out is not reported as sent, though nothing acknowledges it.
TEST(AshtechReceiver, WritesThatFailFailTheStopAndTheChange) {
    for (const Operation& operation : {Stop(0), Change(9600)}) {
        ScriptedReceiverRig rig;
        KAshtechReceiver receiver(false, 3);
        rig.Use(receiver);
        rig.link.SetWritesFail(true);
        rig.ReplyAt(50, PortReply('A'));  // an answer to a query that went out earlier
        EXPECT_FALSE(operation(receiver));
    }
}

TEST(AshtechReceiver, TheCatalogueBuildsTypesOneToThreeWithAllOutputOff) {
    for (int32_t type : {1, 2, 3}) {
        const auto receiver = CreateReceiver(type);
        const auto* ashtech = dynamic_cast<KAshtechReceiver*>(receiver.get());
        ASSERT_NE(ashtech, nullptr) << type;
        EXPECT_EQ(ashtech->OutputModeUsed(), 3);
    }
}

// --- Against the simulated receiver -------------------------------------------------------

KSimDeviceOptions With(std::function<void(KSimDeviceOptions&)> set) {
    KSimDeviceOptions options;
    set(options);
    return options;
}

TEST(AshtechOverSimulator, ASilentReceiverCostsFourSecondsPerPingWhateverTheTimeout) {
    SimReceiverRig rig(2, 9600, With([](auto& o) { o.silent = true; }));
    rig.OpenAt(9600);
    for (int32_t timeout : {1000, 2000}) {
        const int64_t start = rig.clock.NowMs();
        EXPECT_FALSE(rig.Receiver().Ping(timeout));
        EXPECT_EQ(rig.clock.NowMs() - start, 4000) << timeout;
    }
    EXPECT_EQ(rig.DeviceRequests().size(), 4u);  // two queries per ping reached it
}

TEST(AshtechOverSimulator, FindsThePortHoweverTheReceiverAnswersAndSwitchesItsRate) {
    const struct {
        const char* port;
        bool missesFirstTry;
        int32_t baud;
        bool portValid;
        Lines traces;
    } cases[] = {{"", false, 300, true, {}},
                 {"D", true, 115200, true, {kTry1, kTry1, kTry1, kTry1}},
                 {"E", false, 19200, false, {kPingFail, kStopFail, kPingFail}}};
    for (const auto& c : cases) {
        TraceLines traces;
        SimReceiverRig rig(3, 9600, With([&](auto& o) {
                               o.receiverPort = c.port;
                               o.missesFirstTry = c.missesFirstTry;
                           }));
        rig.OpenAt(9600);
        rig.clock.Sleep(1500);  // periodic output queues up ahead of the port reply
        EXPECT_EQ(rig.Receiver().Ping(1000), c.portValid) << c.port;
        EXPECT_EQ(rig.Receiver().StopAllBroadcast(2000), c.portValid) << c.port;
        EXPECT_EQ(rig.WithDevice<KAshtechDevice>([](KAshtechDevice& d) { return d.Streaming(); }), !c.portValid);
        EXPECT_TRUE(rig.Receiver().ChangeBaud(c.baud)) << c.port;
        rig.clock.Sleep(250);
        EXPECT_EQ(rig.DeviceBaud(), static_cast<uint32_t>(c.baud));
        rig.OpenAt(c.baud);
        EXPECT_EQ(rig.Receiver().Ping(1000), c.portValid) << c.port;
        EXPECT_EQ(traces.Take(), c.traces) << c.port;
    }
}

// --- ScanTimeSpan ------------------------------------------------------------------------

// A recording that cannot seek, as the serial link.
class UnseekableRecording : public KRecordedComm {
public:
    using KRecordedComm::KRecordedComm;
    bool Seek(int32_t, int32_t) override { return false; }
};

struct Span {
    bool result = false, gotFirst = false, gotLast = false, weekUnknown = false;
    KGPSTime first{0}, last{0};
};

template <typename Link = KRecordedComm>
Span Scan(const Bytes& stream) {
    Link link(stream);
    link.Open(0);
    KAshtechReceiver receiver(false, 3);
    receiver.Attach(&link, "Scan");
    Span s;
    s.result = receiver.ScanTimeSpan(s.gotFirst, s.first, s.gotLast, s.last, s.weekUnknown);
    return s;
}

Bytes Pbn(uint32_t towMs) {
    Bytes body(54, 0x5A);
    for (size_t i = 0; i < 4; ++i) body[i] = static_cast<uint8_t>(towMs >> (24 - 8 * i));
    return AshtechFixed("PBN", body);
}

Bytes Gbn(uint16_t week, uint32_t towMs) {
    Bytes body(36, 0xA5);
    const uint64_t fields = week | uint64_t{towMs} << 16;  // both least significant byte first
    for (size_t i = 0; i < 6; ++i) body[i] = static_cast<uint8_t>(fields >> (8 * i));
    return AshtechFixed("GBN", body);
}

Bytes PosLines(size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) out = Concat({out, PashrLine("POS,0,03,183530.00,2037.76012,N*20")});
    return out;
}

// A time as the product keeps it, worked out from a week and milliseconds of week.
void ExpectTime(const KGPSTime& time, uint32_t week, int64_t towMs) {
    EXPECT_EQ(time.utc, KGPSTime::kGpsEpoch + static_cast<int64_t>(week) * 604800 + towMs / 1000);
    EXPECT_NEAR(time.nanoseconds, towMs % 1000 * 1000000, 1000);
}

TEST(AshtechScan, BuiltStreams) {
    const Bytes longTail = Concat({Pbn(1000), Pbn(2000), PosLines(250)});  // over 8192 bytes
    ASSERT_GT(longTail.size(), 8192u + 69);
    const struct {
        const char* name;
        Span span;
        bool result, gotFirst, gotLast, weekUnknown;
        uint32_t week;  // of both times
        int64_t firstMs, lastMs;
    } cases[] = {
        {"PBN", Scan(Concat({PosLines(2), Pbn(345678901), PosLines(3), Pbn(345690250)})), true, true, true, true,
         0, 345678901, 345690250},
        // GBN: whole seconds and a week; a GBN never gives the last time.
        {"GBN", Scan(Concat({Gbn(1531, 345678901), PosLines(2), Pbn(345680250), Gbn(1531, 345690000)})), true,
         true, true, false, 1531, 345678000, 345680250},
        // A GBN whose time of week is negative, or whose week is past any receiver's, is no time.
        {"GBN that is no time", Scan(Concat({Gbn(1531, 0xFFFFEC78), Gbn(0xFFFF, 1000), Pbn(5000)})), true, true,
         true, true, 0, 5000, 5000},
        {"empty", Scan({}), false, false, false, true, 0, 0, 0},
        {"nothing framed", Scan(Text("$GPGGA,1,2,3*00\r\nnoise")), false, false, false, true, 0, 0, 0},
        {"no time message", Scan(PosLines(3)), true, false, false, true, 0, 0, 0},
        {"time message 201", Scan(Concat({PosLines(200), Pbn(5000)})), true, true, true, true, 0, 5000, 5000},
        {"time message 202", Scan(Concat({PosLines(201), Pbn(5000)})), true, false, false, true, 0, 0, 0},
        {"no seek", Scan<UnseekableRecording>(Concat({Pbn(1000), Pbn(2000)})), true, true, false, true, 0, 1000, 0},
        {"none in the last 8192 bytes", Scan(longTail), true, true, false, true, 0, 1000, 0},
        {"one in the last 8192 bytes", Scan(Concat({longTail, Pbn(9000)})), true, true, true, true, 0, 1000, 9000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.span.result, c.result);
        EXPECT_EQ(c.span.gotFirst, c.gotFirst);
        EXPECT_EQ(c.span.gotLast, c.gotLast);
        EXPECT_EQ(c.span.weekUnknown, c.weekUnknown);
        ExpectTime(c.span.first, c.week, c.firstMs);
        ExpectTime(c.span.last, c.week, c.lastMs);
    }
}

// The captures read by a decoder of the test's own: every "$PASHR," response (fixed-length
// ones skipped whole), and where each PBN starts and its time of week. The last pass reads from
// 8192 bytes before the end.
TEST(AshtechScan, RealRecordingsGiveTheFirstAndLastPbnTime) {
    const std::filesystem::path folder = std::filesystem::path(VELINOR_CAPTURES) / "ashtech";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no captures at " << folder;
    for (const char* file : {"gpsd_ac12_binary.bin", "gpsd_rst39.bin"}) {
        std::ifstream in(folder / file, std::ios::binary);
        const Bytes s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t responses = 0;
        std::vector<std::pair<size_t, int64_t>> pbns;
        for (size_t p = 0; p + 11 <= s.size();) {
            const std::string head(s.begin() + static_cast<long>(p), s.begin() + static_cast<long>(p + 10));
            if (head.rfind("$PASHR,", 0) != 0) {
                ++p;
                continue;
            }
            ++responses;
            const size_t body = AshtechBodySize(head.substr(7));
            if (head == "$PASHR,PBN" && p + 69 <= s.size())
                pbns.emplace_back(p, (int64_t{s[p + 11]} << 24) | (s[p + 12] << 16) | (s[p + 13] << 8) | s[p + 14]);
            p += body ? body + 11 : 10;
        }
        const Span span = Scan(s);
        EXPECT_EQ(span.result, responses > 0) << file;
        EXPECT_EQ(span.gotFirst, !pbns.empty()) << file;
        if (pbns.empty()) continue;
        ASSERT_GT(pbns.size(), 1u);
        ExpectTime(span.first, 0, pbns.front().second);
        ASSERT_GE(pbns.back().first + 8192, s.size());
        ExpectTime(span.last, 0, pbns.back().second);
    }
}

} // namespace
