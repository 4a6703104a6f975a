// The Topcon receiver against scripted GRIL replies and against the simulated receiver, and its
// time scan over recordings; every wait runs in virtual time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "receivers/KTopconReceiver.h"
#include "sim/KTopconDevice.h"
#include "support/ReceiverRig.h"
#include "support/TimeSpanScan.h"
#include "support/TopconFrames.h"

namespace {

constexpr int64_t kNever = -1;
const std::string kPing = "%GRILPING%\n";

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes Reply(const std::string& body) { return WithCrLf(TopconMessage("RE", body)); }
std::string Sent(ScriptedReceiverRig& rig) {
    const Bytes bytes = rig.Written();
    return {bytes.begin(), bytes.end()};
}

// Output that answers nothing: a checked position message and its line end.
Bytes Position() { return Concat({TopconChecked("PO", Bytes(29, 0x41)), {'\n'}}); }

TEST(TopconReceiver, WritesItsCommandTextsByteForByte) {
    ScriptedReceiverRig rig;
    const auto receiver = KTopconReceiver::Create(11, false);
    EXPECT_EQ(KTopconReceiver::Create(12, false), nullptr);
    rig.Use(*receiver);
    EXPECT_EQ(Sent(rig), "");  // a serial link gets no blank lines
    for (const auto& [baud, text] : {std::pair{57600, "set,/par/cur/term/rate,57600\n"},
                                     {115200, "set,/par/cur/term/rate,115200\n"}, {-300, ""}, {0, ""}}) {
        EXPECT_EQ(receiver->ChangeBaud(baud), *text != '\0') << baud;
        EXPECT_EQ(Sent(rig), text);
    }
    EXPECT_EQ(rig.clock.NowMs(), 0);  // at once, nothing awaited
    EXPECT_FALSE(receiver->Ping(0));
    EXPECT_EQ(Sent(rig), "%GRILPING%\n%GRILPING%\n");
    EXPECT_FALSE(receiver->StopAllBroadcast(0));
    EXPECT_EQ(Sent(rig), "%ALLOFF%dm\n");
    rig.link.linkType = KTopconReceiver::kBlankLineLinkType;
    rig.Use(*receiver);
    EXPECT_EQ(Sent(rig), "\r\n\r\n");
}

using Operation = std::function<bool(KReceiver&)>;
Operation Ping(int32_t timeoutMs) {
    return [timeoutMs](KReceiver& r) { return r.Ping(timeoutMs); };
}
Operation Stop(int32_t settleMs) {
    return [settleMs](KReceiver& r) { return r.StopAllBroadcast(settleMs); };
}

// Replies at a virtual time (0: queued before the operation); output 25 ms ahead of them and
// 50 ms after them.
TEST(TopconReceiver, PingTriesTwiceForHalfItsTimeoutStopWaitsFiveSecondsThenSettles) {
    const std::string stop = "%ALLOFF%dm\n";
    const Bytes ping = Reply("%GRILPING%"), allOff = Reply("%ALLOFF%");
    // Thirteen bytes whose successor is not CR or LF: delivered without line end, one byte short
    // of the identifier. Then other replies, an error, a lower-case "re", a shifted identifier.
    const Bytes noAnswers = Concat({Ascii("RE008%GRILPING%"), allOff, WithCrLf(TopconMessage("ER", "%GRILPING%")),
                                    WithCrLf(TopconMessage("re", "%GRILPING%")), Reply("% GRILPING%")});
    const struct {
        Operation operation;
        Bytes reply;
        int64_t replyAt;
        bool ok;
        int64_t ms;
        std::string sent;
        int32_t left;  // messages still queued: output after the answer, found at the same look
    } cases[] = {
        // Each try looks at 0, 100, ..., 500 ms of its own.
        {Ping(1000), {}, kNever, false, 1000, kPing + kPing, 0},
        {Ping(1000), ping, 500, true, 500, kPing, 0},
        {Ping(1000), ping, 550, true, 600, kPing + kPing, 1},
        {Ping(1000), ping, 1000, true, 1000, kPing + kPing, 0},
        {Ping(1000), ping, 1050, false, 1000, kPing + kPing, 0},
        // Budgets of 0: one look per try; a negative timeout has no time either.
        {Ping(1), ping, 0, true, 0, kPing, 0},
        {Ping(1), ping, 1, false, 0, kPing + kPing, 0},
        {Ping(3), ping, 150, true, 200, kPing + kPing, 1},
        {Ping(-4), ping, 1, false, 0, kPing + kPing, 0},
        // Only an "RE" message with the identifier at offset 6 answers, whatever follows it.
        {Ping(0), noAnswers, 0, false, 0, kPing + kPing, 0},
        {Ping(0), Concat({Position(), Reply("%GRILPING"), Position()}), 0, true, 0, kPing, 1},
        {Ping(0), Reply("%GRILPING%Javad"), 0, true, 0, kPing, 0},
        {Stop(2000), allOff, 300, true, 2300, stop, 0},
        {Stop(0), allOff, 300, true, 300, stop, 0},
        {Stop(100), allOff, 5000, true, 5100, stop, 0},
        {Stop(2000), allOff, 5050, false, 5000, stop, 0},
        {Stop(9000), {}, kNever, false, 5000, stop, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        ScriptedReceiverRig rig;
        KTopconReceiver receiver(false);
        rig.Use(receiver);
        if (c.replyAt == 0) rig.link.Feed(c.reply);
        rig.Pump();
        if (c.replyAt > 0) rig.ReplyAt(c.replyAt, c.reply);
        rig.ReplyAt(c.replyAt - 25, Position());
        rig.ReplyAt(c.replyAt + 50, Position());
        EXPECT_EQ(c.operation(receiver), c.ok) << i;
        EXPECT_EQ(rig.clock.NowMs(), c.ms) << i;
        EXPECT_EQ(Sent(rig), c.sent) << i;
        EXPECT_EQ(receiver.Monitor()->MessageCount(), c.left) << i;
    }
}

// --- Against the simulated receiver -------------------------------------------------------

KSimDeviceOptions With(const std::function<void(KSimDeviceOptions&)>& set) {
    KSimDeviceOptions options;
    set(options);
    return options;
}

// Each streams its output all along; each ping is looked for while output queues up.
TEST(TopconOverSimulator, EachReceiverIsPingedSilencedAndSwitchedAsItsFaultsAllow) {
    const struct {
        const char* name;
        KSimDeviceOptions options;
        bool pingOk;
        int64_t pingMs;
        bool stopOk, switches;
    } cases[] = {
        {"sound", {}, true, 100, true, true},
        {"silent", With([](auto& o) { o.silent = true; }), false, 1000, false, false},
        {"misses first tries", With([](auto& o) { o.missesFirstTry = true; }), true, 600, true, true},
        {"wrong acknowledgements", With([](auto& o) { o.wrongAcknowledgements = true; }), false, 1000, false, true},
        {"refuses rate changes", With([](auto& o) { o.refusesRateChange = true; }), true, 100, true, false},
    };
    for (const auto& c : cases) {
        SimReceiverRig rig(11, 19200, c.options);
        rig.OpenAt(19200);
        rig.clock.Sleep(1500);
        for (int i = 0; i < 2; ++i) {
            const int64_t start = rig.clock.NowMs();
            EXPECT_EQ(rig.Receiver().Ping(1000), c.pingOk) << c.name;
            EXPECT_EQ(rig.clock.NowMs() - start, c.pingMs) << c.name;
        }
        EXPECT_EQ(rig.Receiver().StopAllBroadcast(2000), c.stopOk) << c.name;
        EXPECT_EQ(rig.WithDevice<KTopconDevice>([](auto& d) { return d.Streaming(); }), c.options.silent) << c.name;
        EXPECT_TRUE(rig.Receiver().ChangeBaud(115200));  // unanswered, so never known to fail
        rig.clock.Sleep(250);
        EXPECT_EQ(rig.DeviceBaud(), c.switches ? 115200u : 19200u) << c.name;
        rig.OpenAt(115200);
        EXPECT_EQ(rig.Receiver().Ping(1000), c.switches && c.pingOk) << c.name;
    }
}

// --- ScanTimeSpan ------------------------------------------------------------------------

constexpr int64_t kGpsEpoch = 315964800;

// The raw measurement header: epoch count, week field, time of week in ms, flags, CRC.
Bytes Rm(uint16_t weekField, uint32_t towMs) {
    const uint64_t fields = 0x0102 | uint64_t{weekField} << 16 | uint64_t{towMs} << 32;
    Bytes payload;
    for (int i = 0; i < 8; ++i) payload.push_back(static_cast<uint8_t>(fields >> (8 * i)));
    payload.insert(payload.end(), {0, 0});
    return Concat({TopconChecked("rM", payload), {'\n'}});
}

// The time reply: week and seconds of week in their fixed fields (offsets 14 and 19).
Bytes TimeReply(const std::string& week, const std::string& seconds) {
    return Reply("%QVXTIME:" + week + "," + seconds + "%");
}

Bytes Positions(size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) out = Concat({out, Position()});
    return out;
}

template <typename Link = KRecordedComm>
TimeSpan Scan(const Bytes& stream) {
    Link link(stream);
    KTopconReceiver receiver(false);
    return ScanTimeSpanOf(receiver, link);
}

void ExpectTime(const KGPSTime& time, int64_t week, int64_t towMs, const std::string& what) {
    EXPECT_EQ(time.utc, kGpsEpoch + week * 604800 + towMs / 1000) << what;
    EXPECT_NEAR(time.nanoseconds, towMs % 1000 * 1000000, 1000) << what;
}

TEST(TopconScan, BuiltStreams) {
    const Bytes longTail = Concat({Rm(10, 1000), Rm(10, 2000), Positions(250)});
    ASSERT_GT(longTail.size(), 8192u + 18);
    const struct {
        const char* name;
        TimeSpan span;
        bool scanned, gotFirst, gotLast, weekUnknown;
        int64_t week, firstMs, lastMs;  // the week of both times
    } cases[] = {
        {"rM", Scan(Concat({Positions(2), Rm(507, 345678901), Positions(3), Rm(507, 345690250)})), true, true, true,
         true, 0, 345678901, 345690250},
        {"time reply, then rM", Scan(Concat({TimeReply("1531", "345600.25"), Rm(507, 345610500)})), true, true,
         true, false, 1531, 345600250, 345610500},
        {"week 0000 skipped", Scan(Concat({TimeReply("0000", "345600.25"), Rm(507, 345610500)})), true, true, true,
         true, 0, 345610500, 345610500},
        {"week fields that do not decode",
         Scan(Concat({Rm(0x2000 | 5, 1000), Rm(0x4000, 2000), Rm(0x8000 | 1024, 3000), Rm(1025, 4000),
                      Rm(0x7FF, 5000), Rm(1024, 7000), Rm(0x2001, 8000)})),
         true, true, true, true, 0, 7000, 7000},
        {"empty", Scan({}), false, false, false, true, 0, 0, 0},
        {"nothing framed", Scan(Repeat('\n', 300)), false, false, false, true, 0, 0, 0},
        {"no time message", Scan(Positions(3)), true, false, false, true, 0, 0, 0},
        {"time message 201", Scan(Concat({Positions(200), Rm(5, 5000)})), true, true, true, true, 0, 5000, 5000},
        {"time message 202", Scan(Concat({Positions(201), Rm(5, 5000)})), true, false, false, true, 0, 0, 0},
        {"no seek", Scan<UnseekableRecording>(Concat({Rm(5, 1000), Rm(5, 2000)})), true, true, false, true, 0,
         1000, 0},
        {"none in the last 8192 bytes", Scan(longTail), true, true, false, true, 0, 1000, 0},
        {"one in the last 8192 bytes", Scan(Concat({longTail, Rm(10, 9000)})), true, true, true, true, 0, 1000, 9000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.span.scanned, c.scanned) << c.name;
        EXPECT_EQ(c.span.gotFirst, c.gotFirst) << c.name;
        EXPECT_EQ(c.span.gotLast, c.gotLast) << c.name;
        EXPECT_EQ(c.span.weekUnknown, c.weekUnknown) << c.name;
        ExpectTime(c.span.first, c.gotFirst ? c.week : 0, c.firstMs, c.name);
        ExpectTime(c.span.last, c.gotLast ? c.week : 0, c.lastMs, c.name);
    }
}

// A recording that crosses a week's end ends in the next week, whether the first week came from
// a time reply or only modulo 1024 from an "rM" (then the span is right though the week is not
// known); the week counts on across the 1024 rollover too.
TEST(TopconScan, TheLastTimeCountsWeeksOnFromTheFirst) {
    const struct {
        const char* name;
        Bytes stream;
        int64_t firstWeek, firstMs, lastWeek, lastMs;
    } cases[] = {
        {"reply, then rM across the week's end",
         Concat({TimeReply("1531", "604790.00"), Rm(507, 604795000), Rm(508, 5000)}), 1531, 604790000, 1532, 5000},
        {"rM only, across the rollover", Concat({Rm(1023, 604795000), Rm(0, 5000)}), 0, 604795000, 1, 5000},
        {"rM only, a week back is no later time", Concat({Rm(5, 1000), Rm(4, 2000)}), 0, 1000, 0, 1000},
    };
    for (const auto& c : cases) {
        const TimeSpan span = Scan(c.stream);
        EXPECT_TRUE(span.gotFirst && span.gotLast) << c.name;
        ExpectTime(span.first, c.firstWeek, c.firstMs, c.name);
        ExpectTime(span.last, c.lastWeek, c.lastMs, c.name);
    }
}

// The test's own reading of a stream: where each "rM" message whose CRC holds starts, and its
// time of week; any QVXTIME reply counts too (with no time: none is expected in recordings).
std::vector<std::pair<size_t, int64_t>> TimeMessages(const Bytes& s) {
    std::vector<std::pair<size_t, int64_t>> found;
    for (size_t p = 0; p + 17 <= s.size(); ++p) {
        if (std::string(s.begin() + static_cast<long>(p), s.begin() + static_cast<long>(p) + 14) == "RE018%QVXTIME:")
            found.emplace_back(p, -1);
        if (s[p] != 'r' || s[p + 1] != 'M') continue;
        const std::string hex(s.begin() + static_cast<long>(p) + 2, s.begin() + static_cast<long>(p) + 5);
        if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) continue;
        const size_t end = p + 5 + std::stoul(hex, nullptr, 16);
        if (end > s.size() || end < p + 17) continue;
        const Bytes covered(s.begin() + static_cast<long>(p), s.begin() + static_cast<long>(end) - 2);
        if (GrilCrc16(covered) != (s[end - 2] | s[end - 1] << 8)) continue;
        if ((s[p + 8] & 0xE0) || (s[p + 7] | (s[p + 8] & 7) << 8) > 1024) continue;
        found.emplace_back(p, s[p + 9] | s[p + 10] << 8 | s[p + 11] << 16 | int64_t{s[p + 12]} << 24);
    }
    return found;
}

// No recording carries a time message of this family; with one put before each and one after
// (behind a run of line ends longer than any message, so that a hunt started in the recording's
// binary data has found its feet again), the scan finds both across the recording's messages.
TEST(TopconScan, RealRecordingsWithAndWithoutTimeMessages) {
    const std::filesystem::path folder = std::filesystem::path(VELINOR_CAPTURES) / "topcon";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no captures at " << folder;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string file = entry.path().filename().string();
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes recording((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ++files;
        ASSERT_TRUE(TimeMessages(recording).empty()) << file;
        const TimeSpan plain = Scan(recording);
        EXPECT_TRUE(plain.scanned) << file;
        EXPECT_FALSE(plain.gotFirst || plain.gotLast) << file;

        const Bytes spliced = Concat({Rm(600, 86400250), recording, Repeat('\n', 4200), Rm(600, 90000500)});
        const auto times = TimeMessages(spliced);
        ASSERT_EQ(times.size(), 2u) << file;
        ASSERT_GE(times.back().first + 8192, spliced.size());
        const TimeSpan span = Scan(spliced);
        EXPECT_TRUE(span.gotFirst && span.gotLast) << file;
        ExpectTime(span.first, 0, times.front().second, file);
        ExpectTime(span.last, 0, times.back().second, file);
    }
    EXPECT_EQ(files, 7u);
}

// Two and a half minutes of the simulated receiver's output, as a recording.
TEST(TopconScan, TheSimulatedReceiversOutputTellsItsFirstAndLastTime) {
    SimReceiverRig rig(11, 115200);
    rig.link->BaudRate = 115200;
    ASSERT_TRUE(rig.link->Open(0));  // the receiver stays detached: the bytes are kept here
    rig.clock.Sleep(150500);  // 150 rounds, the last one wholly on the line
    Bytes recording(200000);
    recording.resize(static_cast<size_t>(rig.link->ReadAvailable(recording.data(), 200000)));
    const auto times = TimeMessages(recording);
    ASSERT_EQ(times.size(), 150u);
    const TimeSpan span = Scan(recording);
    ExpectTime(span.first, 0, times.front().second, "first");
    ExpectTime(span.last, 0, times.back().second, "last");
}

} // namespace
