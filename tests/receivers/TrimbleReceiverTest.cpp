// The Trimble receiver against scripted packets and against the simulated receiver, in virtual
// time, and its time scan over recordings built here.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "comm/KRecordedComm.h"
#include "log/DebugTrace.h"
#include "receivers/KTrimbleReceiver.h"
#include "support/ReceiverRig.h"
#include "support/TrimbleFrames.h"
#include "support/TraceLines.h"

namespace {

constexpr int32_t kEpoch = 315964800;
const std::string kPing = "02 00 4A 00 4A 03";

// An options reply naming `port` at data byte 6 (packet offset 10).
Bytes OptionsReply(uint8_t port) { return TrimblePacket(0x4B, {0x00, 0x0A, 0x07, 0x01, 0x02, 0x09, port}); }

Bytes BigEndianDouble(double value) {
    Bytes out;
    const auto bits = std::bit_cast<uint64_t>(value);
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    return out;
}

// A raw-data record: record type, page byte, reply number, flags, time of week (ms), clock offset.
Bytes Record(double msOfWeek, uint8_t recordType = 0, uint8_t page = 0x11) {
    const Bytes head = {recordType, page, 0x01, 0x00};
    return TrimblePacket(0x57, Concat({head, BigEndianDouble(msOfWeek), BigEndianDouble(0.5)}));
}

// A week record: the second of week in the 7 characters at packet offset 38, the week in the 4 at 45.
Bytes WeekText(const std::string& second, const std::string& week) {
    const std::string text = std::string(34, 'x') + second + week;
    return TrimblePacket(0x0C, Bytes(text.begin(), text.end()));
}

bool IsTime(const KGPSTime& t, int64_t week, double second) {
    const double whole = std::floor(second);
    return t.utc == kEpoch + week * 604800 + static_cast<int64_t>(whole) &&
           std::abs(t.nanoseconds - (second - whole) * 1e9) < 1000;
}

class TrimbleReceiver : public ::testing::Test, protected ScriptedReceiverRig {
protected:
    void SetUp() override { Use(receiver); }
    KTrimbleReceiver receiver{false};
};

TEST_F(TrimbleReceiver, SendsThePacketsOfTheProtocolByteForByte) {
    receiver.Ping(0);
    EXPECT_EQ(ToHex(Written()), kPing);
    ReplyAt(0, OptionsReply(1));
    EXPECT_TRUE(receiver.ChangeBaud(9600));
    EXPECT_EQ(ToHex(Written()), kPing + " 02 00 48 0A 01 00 00 25 80 08 00 01 00 00 01 03");
    Use(receiver);
    ReplyAt(0, OptionsReply(3));
    EXPECT_TRUE(receiver.ChangeBaud(115200));
    EXPECT_EQ(ToHex(Written()), kPing + " 02 00 48 0A 03 00 01 C2 00 08 00 01 00 00 21 03");
}

TEST_F(TrimbleReceiver, PingLooksAtTheQueueEveryTenthOfASecondUpToItsBudget) {
    // Looks at 0, 100, ..., 1000 ms: an answer there is the eleventh look's; a later one is missed.
    for (const auto& [answerAt, answered] : {std::pair{-1, false}, {1000, true}, {1005, false}}) {
        const int64_t start = clock.NowMs();
        if (answerAt >= 0) ReplyAt(start + answerAt, OptionsReply(1));
        EXPECT_EQ(receiver.Ping(1000), answered) << answerAt;
        EXPECT_EQ(clock.NowMs() - start, 1000);
        EXPECT_EQ(ToHex(Written()), kPing);
        clock.Sleep(100);
        receiver.Monitor()->FlushMessages();
    }
}

TEST_F(TrimbleReceiver, AnOptionsReplyQueuedBehindOtherPacketsAnswersThePing) {
    link.Feed(Concat({Record(1000.0), TrimblePacketOfSize(20), OptionsReply(0), Record(2000.0)}));
    Pump();
    EXPECT_TRUE(receiver.Ping(1000));  // whatever port it names
    EXPECT_EQ(clock.NowMs(), 0);
    EXPECT_EQ(receiver.Monitor()->MessageCount(), 1);  // those before it were dropped
}

TEST_F(TrimbleReceiver, StopAllBroadcastNeedsASerialPortInTheReply) {
    TraceLines traces;
    for (const auto& [port, good] : {std::pair<uint8_t, bool>{0, false}, {1, true}, {4, true}, {5, false},
                                     {17, false}, {18, true}, {19, false}, {255, false}}) {
        Use(receiver);
        traces.Take();
        const int64_t start = clock.NowMs();
        ReplyAt(start + 300, OptionsReply(port));
        ReplyAt(start + 900, Record(5.0));  // output during the settle time is dropped
        EXPECT_EQ(receiver.StopAllBroadcast(2000), good) << int(port);
        EXPECT_EQ(receiver.ReceiverPort(), good ? port : 0u);
        EXPECT_EQ(clock.NowMs() - start, good ? 2300 : 300);
        EXPECT_EQ(traces.Take(), std::vector<std::string>(good ? 0 : 1, "TRIMBLE: Stop All Broadcast - GetPort FAIL\n"));
        EXPECT_EQ(receiver.Monitor()->MessageCount(), 0);
        Written();
    }
}

TEST_F(TrimbleReceiver, ThePortIsKnownUntilTheNextAttachment) {
    ReplyAt(0, OptionsReply(18));
    ASSERT_TRUE(receiver.StopAllBroadcast(0));
    Written();
    const int64_t known = clock.NowMs();
    EXPECT_TRUE(receiver.ChangeBaud(57600));  // at once, no new question
    EXPECT_EQ(clock.NowMs(), known);
    EXPECT_EQ(ToHex(Written()), "02 00 48 0A 12 00 00 E1 00 08 00 01 00 00 4E 03");

    Use(receiver);  // a new attachment forgets it: asked again, answered after 2500 ms
    ReplyAt(clock.NowMs() + 2500, OptionsReply(2));
    EXPECT_TRUE(receiver.ChangeBaud(57600));
    EXPECT_EQ(clock.NowMs() - known, 2500);
    EXPECT_EQ(Written()[10], 2);  // the port byte of the 0x48 after the question

    receiver.Detach();
    Use(receiver);  // no answer within 3000 ms: nothing more is sent
    const int64_t start = clock.NowMs();
    EXPECT_FALSE(receiver.ChangeBaud(57600));
    EXPECT_EQ(clock.NowMs() - start, 3000);
    EXPECT_EQ(ToHex(Written()), kPing);
}

TEST_F(TrimbleReceiver, RatesGoOutAsTheyAreButOnlyWhenTheyCanBeWritten) {
    ReplyAt(0, OptionsReply(1));
    ASSERT_TRUE(receiver.StopAllBroadcast(0));
    Written();
    for (const auto& [baud, rate] : {std::pair{230400, "00 03 84 00"}, {1200, "00 00 04 B0"}}) {
        EXPECT_TRUE(receiver.ChangeBaud(baud));
        EXPECT_EQ(ToHex(Written()).substr(15, 11), rate);
    }
    for (int32_t baud : {0, -9600}) {
        EXPECT_FALSE(receiver.ChangeBaud(baud));
        EXPECT_TRUE(Written().empty());
    }
    EXPECT_FALSE(receiver.SendPacket(0x40, Bytes(256, 1).data(), 256));
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(receiver.SendPacket(0x40, Bytes(255, 1).data(), 255));
    EXPECT_EQ(Written().size(), 261u);
    link.SetWritesFail(true);  // a rate change that could not be written is not reported as sent
    EXPECT_FALSE(receiver.SendPacket(0x4A, nullptr, 0));
    EXPECT_FALSE(receiver.ChangeBaud(9600));
}

TEST_F(TrimbleReceiver, AnOptionsReplyTooShortToNameAPortNamesNone) {
    const Bytes shortReply = TrimblePacket(0x4B, {0x00, 0x01, 0x01});
    ReplyAt(0, shortReply);
    EXPECT_TRUE(receiver.Ping(1000));  // the ping does not read it
    // Inside damaged output the framer hands it over with the bytes that followed it: a 01 where
    // a longer reply's port would be.
    link.Feed(TrimbleWithBadChecksum(TrimblePacket(0x40, Concat({shortReply, {0x01, 0x01}}))));
    EXPECT_FALSE(receiver.StopAllBroadcast(0));
}

// ---------------------------------------------------------------------------------------------
// Over the simulated receiver, which streams raw-data records all along

KSimDeviceOptions OnPort(const std::string& port, bool silent = false) {
    KSimDeviceOptions options;
    options.receiverPort = port;
    options.silent = silent;
    return options;
}

TEST(TrimbleOverSimulator, TheStreamingReceiverIsSwitchedOnItsPortAndAnswersThere) {
    SimReceiverRig rig(13, 4800, OnPort("18"));
    rig.OpenAt(4800);
    ASSERT_TRUE(rig.Receiver().StopAllBroadcast(2000));
    ASSERT_TRUE(rig.Receiver().ChangeBaud(115200));
    rig.clock.Sleep(250);
    EXPECT_EQ(rig.DeviceRequests().back(), TrimblePacket(0x48, Hex("12 00 01 C2 00 08 00 01 00 00")));
    EXPECT_EQ(rig.DeviceBaud(), 115200u);
    rig.OpenAt(115200);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

TEST(TrimbleOverSimulator, ASilentReceiverGetsOnePingAndIsGivenUpAfterItsBudget) {
    SimReceiverRig rig(12, 9600, OnPort("1", true));
    rig.OpenAt(9600);
    EXPECT_FALSE(rig.Receiver().Ping(1000));
    EXPECT_EQ(rig.clock.NowMs(), 1000);
    EXPECT_EQ(rig.DeviceRequests(), std::vector<Bytes>{Hex(kPing)});
}

// ---------------------------------------------------------------------------------------------
// Time span of recordings

class NoSeekRecording : public KRecordedComm {
public:
    using KRecordedComm::KRecordedComm;
    bool Seek(int32_t, int32_t) override { return false; }
};

struct Span {
    bool scanned = false, gotFirst = false, gotLast = false, weekUnknown = false;
    KGPSTime first{kEpoch}, last{kEpoch};
};

Span ScanOn(KTrimbleReceiver& receiver) {
    Span s;
    s.scanned = receiver.ScanTimeSpan(s.gotFirst, s.first, s.gotLast, s.last, s.weekUnknown);
    return s;
}

Span Scan(KRecordedComm&& recording) {
    recording.Open(0);
    KTrimbleReceiver receiver(false);
    receiver.Attach(&recording, "Trevask");
    return ScanOn(receiver);
}

struct ScanCase {
    const char* name;
    Bytes stream;
    int64_t firstWeek;  // -1: no first time
    double firstSecond;
    int64_t lastWeek;   // -1: no last time
    double lastSecond;
};

TEST(TrimbleScan, FirstFromRecordsAndWeekTextLastFromTheLastRecord) {
    const Bytes other = TrimblePacketOfSize(30);
    const ScanCase cases[] = {
        {"record, then the week", Concat({Record(100000250.0), WeekText(" 200000", "1530"), Record(100010500.0)}),
         1530, 100000.25, 1530, 100010.5},
        {"week text alone", Concat({other, WeekText(" 200000", "1530")}), 1530, 200000.0, -1, 0},
        {"records only: week 0", Concat({Record(7000.0), other, Record(9500.0)}), 0, 7.0, 0, 9.5},
        {"the first week text ends the pass",
         Concat({WeekText("  86400", "1530"), WeekText("      1", "1600"), Record(90000000.0)}), 1530, 86400.0, 1530, 90000.0},
        {"records that carry no time",
         Concat({Record(1000.0, 1), Record(1000.0, 0, 0x21), Record(1000.0, 0, 0x01), Record(604800001.0),
                 Record(-5.0), Record(std::nan("")), TrimblePacket(0x57, {0, 0x11, 1, 0, 0x40}),
                 Record(3000.0, 0, 0x1F)}),
         0, 3.0, 0, 3.0},
        {"no time at all", Concat({other, TrimblePacket(0x0C, Bytes(44, '1')), other}), -1, 0, -1, 0},
        {"week texts that are not counts leave the week unknown",
         Concat({WeekText(" 2000x0", "1530"), WeekText(" 200000", "15a0"), WeekText(" -20000", "1530"),
                 WeekText(" 200000", "-153"), WeekText("       ", "1530"), WeekText("9999999", "1530"),
                 WeekText(" 200000", "9999"), Record(7000.0)}),
         0, 7.0, 0, 7.0},
    };
    for (const ScanCase& c : cases) {
        const Span s = Scan(KRecordedComm(c.stream));
        EXPECT_TRUE(s.scanned) << c.name;
        EXPECT_EQ(s.gotFirst, c.firstWeek >= 0) << c.name;
        EXPECT_EQ(s.weekUnknown, c.firstWeek <= 0) << c.name;
        EXPECT_TRUE(IsTime(s.first, std::max<int64_t>(c.firstWeek, 0), c.firstSecond)) << c.name;
        EXPECT_EQ(s.gotLast, c.lastWeek >= 0) << c.name;
        EXPECT_TRUE(IsTime(s.last, std::max<int64_t>(c.lastWeek, 0), c.lastSecond)) << c.name;
    }
    EXPECT_FALSE(Scan(KRecordedComm(TrimbleJunk(500))).scanned);
}

TEST(TrimbleScan, TheFirstPassEndsAfterFiveHundredPackets) {
    for (const auto& [before, found] : {std::pair{499, true}, {500, false}}) {
        Bytes stream;
        for (int i = 0; i < before; ++i) stream = Concat({stream, TrimblePacketOfSize(2)});
        const Span s = Scan(KRecordedComm(Concat({stream, Record(4000.0)})));
        EXPECT_TRUE(s.scanned);
        EXPECT_EQ(s.gotFirst, found) << before;
        EXPECT_EQ(s.gotLast, found) << before;
    }
}

TEST(TrimbleScan, TheLastTimeComesFromNearTheEndUnlessTheLinkCannotSeek) {
    Bytes stream;
    for (uint32_t i = 1; i <= 300; ++i) stream = Concat({stream, Record(1000.0 * i), TrimbleJunk(30, i)});
    const Span s = Scan(KRecordedComm(stream));
    EXPECT_TRUE(IsTime(s.first, 0, 1.0));
    EXPECT_TRUE(s.gotLast);
    EXPECT_TRUE(IsTime(s.last, 0, 300.0));

    const Span unseekable = Scan(NoSeekRecording(stream));
    EXPECT_TRUE(unseekable.scanned);
    EXPECT_TRUE(unseekable.gotFirst);
    EXPECT_FALSE(unseekable.gotLast);
}

TEST(TrimbleScan, EachScanStartsItsByteBudgetAfresh) {
    // The first scan ends reading 8000 bytes without a packet; had the second kept that count,
    // the 300 bytes before its record would have taken it past the scan limit.
    KRecordedComm recording(Concat({TrimbleJunk(300), Record(1000.0), TrimbleJunk(8000, 2)}));
    recording.Open(0);
    KTrimbleReceiver receiver(false);
    receiver.Attach(&recording, "Trevask");
    EXPECT_TRUE(ScanOn(receiver).gotFirst);
    recording.Seek(0, 0);
    EXPECT_TRUE(ScanOn(receiver).gotFirst);
}

} // namespace
