// The SiRF receiver against scripted replies, over recorded streams and against the simulated
// receiver, in virtual time.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "comm/KRecordedComm.h"
#include "receivers/KSiRFReceiver.h"
#include "sim/KSiRFDevice.h"
#include "support/ReceiverRig.h"
#include "support/SiRFFrames.h"

namespace {

using sirf::BigEndian;
using sirf::ReadBigEndian;

// A time that no answer gives: what a failed operation must leave alone.
const KGPSTime kUntouched(400000000);

// The time-bearing messages with their fields where the SiRF binary protocol puts them.
Bytes ClockStatus(uint16_t week, int32_t estimateMs, int32_t biasNs = 0) {
    return sirf::Frame(Concat({{0x07}, BigEndian(week, 2), BigEndian(0, 4), {8}, BigEndian(94000, 4),
                               BigEndian(static_cast<uint32_t>(biasNs), 4), BigEndian(static_cast<uint32_t>(estimateMs), 4)}));
}
Bytes Measurement(double softwareTime) {  // the double's low half first
    const auto bits = std::bit_cast<uint64_t>(softwareTime);
    return sirf::Frame(Concat({{0x1C, 3, 0, 0, 0, 9, 17}, BigEndian(bits, 4), BigEndian(bits >> 32, 4), Repeat(0x21, 37)}));
}
Bytes TimeMessage(uint32_t week, double secondOfWeek) {  // least significant bytes first
    Bytes payload = Concat({{0xFA}, Repeat(0x31, 31)});
    for (uint64_t value : {uint64_t{week}, std::bit_cast<uint64_t>(secondOfWeek)})
        for (int i = 0; i < 8; ++i) payload.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return sirf::Frame(payload);
}
Bytes Ack(uint8_t id) { return sirf::Frame({0x0B, id}); }
Bytes Others(size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) out = Concat({out, sirf::Frame(Concat({{0x29}, Repeat(0x44, 40)}))});
    return out;
}
Bytes Silence(uint8_t id) { return sirf::Frame({0xA6, 0, id, 0, 0, 0, 0, 0}); }
// The sixteen silencing packets, in their order.
Bytes Silences() {
    Bytes out;
    for (uint8_t id : {2, 4, 5, 7, 8, 9, 13, 17, 18, 27, 28, 29, 30, 31, 41, 255}) out = Concat({out, Silence(id)});
    return out;
}

// A time as GPS week and seconds of week to the millisecond.
std::string Text(uint64_t week, double secondOfWeek) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu/%.3f", static_cast<unsigned long long>(week), secondOfWeek);
    return text;
}
std::string Text(const KGPSTime& t) { return Text(t.GetGPSWeek(), t.GetSecondsOfWeek()); }

class SiRFReceiver : public ::testing::Test, protected ScriptedReceiverRig {
protected:
    SiRFReceiver() { Use(receiver); }
    KSiRFReceiver receiver{false};
};

TEST_F(SiRFReceiver, SendsThePacketsOfTheProtocolByteForByte) {
    KGPSTime time = kUntouched;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { receiver.QueryTime(time); }, "A0 A2 00 02 90 00 00 90 B0 B3"},
        {[&] { receiver.Ping(0); }, "A0 A2 00 02 84 00 00 84 B0 B3"},
        {[&] { receiver.ChangeBaud(9600); }, "A0 A2 00 09 86 00 00 25 80 08 01 00 00 01 34 B0 B3"},
        {[&] { receiver.ChangeBaud(115200); }, "A0 A2 00 09 86 00 01 C2 00 08 01 00 00 01 52 B0 B3"},
        {[&] { receiver.StopAllBroadcast(0); }, ToHex(Silences())},
    };
    for (const auto& [operation, packet] : cases) {
        operation();
        EXPECT_EQ(ToHex(Written()), packet);
    }
    EXPECT_EQ(ToHex(Silence(2)), "A0 A2 00 08 A6 00 02 00 00 00 00 00 00 A8 B0 B3");
    EXPECT_EQ(ToHex(Silence(255)), "A0 A2 00 08 A6 00 FF 00 00 00 00 00 01 A5 B0 B3");
    // Any positive rate goes out as it is; no other number is a rate.
    for (int32_t baud : {1200, 230400, 7, 0, -9600}) {
        EXPECT_EQ(receiver.ChangeBaud(baud), baud > 0);
        EXPECT_EQ(Written(), baud > 0 ? sirf::Frame(Concat({{0x86}, BigEndian(static_cast<uint32_t>(baud), 4), {8, 1, 0, 0}}))
                                      : Bytes{});
    }
    // The whole 1024-byte buffer, with a sum whose 16 bits have bit 15 set.
    const Bytes payload(1017, 0xA5);
    EXPECT_FALSE(receiver.SendPacket(nullptr, 2));
    EXPECT_FALSE(receiver.SendPacket(payload.data(), 1017));
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(receiver.SendPacket(payload.data(), 1016));
    EXPECT_EQ(Written(), sirf::Frame(Bytes(1016, 0xA5)));
}

// A link that keeps each write apart with its virtual time, and fails write `failAt` and every
// one after it (0: none).
class WriteLog : public KMemoryComm {
public:
    bool Write(const void* data, uint32_t length) override {
        writes.emplace_back(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
        times.push_back(KClock::Current().NowMs());
        return (failAt == 0 || writes.size() < failAt) && KMemoryComm::Write(data, length);
    }
    size_t failAt = 0;
    std::vector<Bytes> writes;
    std::vector<int64_t> times;
};

// Sixteen writes of one packet each, all at once, then the settle time and the queue dropped;
// a failed write ends it there and then.
TEST(SiRFStopAllBroadcast, WritesSixteenPacketsBackToBackAndStopsAtAFailedOne) {
    for (size_t failAt : {0, 1, 6, 16}) {
        KVirtualClock clock;
        KScopedClock scope(clock);
        WriteLog link;
        link.failAt = failAt;
        link.Open(0);
        KSiRFReceiver receiver(false);
        receiver.Attach(&link, "Trevask");
        link.Feed(Ack(0x84));
        PumpMonitor(&receiver);
        EXPECT_EQ(receiver.StopAllBroadcast(2000), failAt == 0) << failAt;
        EXPECT_EQ(link.times, std::vector<int64_t>(failAt == 0 ? 16 : failAt, 0));
        Bytes written;
        for (const Bytes& packet : link.writes) written = Concat({written, packet});
        const Bytes all = Silences();
        EXPECT_EQ(written, Bytes(all.begin(), all.begin() + 16 * static_cast<std::ptrdiff_t>(link.writes.size())));
        EXPECT_EQ(clock.NowMs(), failAt == 0 ? 2000 : 0);
        EXPECT_EQ(receiver.Monitor()->MessageCount(), failAt == 0 ? 0 : 1);
        receiver.Detach();
    }
}

TEST_F(SiRFReceiver, AFailedWriteFailsEveryOperationAtOnce) {
    link.SetWritesFail(true);
    KGPSTime time = kUntouched;
    const std::function<bool()> operations[] = {
        [&] { return receiver.Ping(1000); }, [&] { return receiver.QueryTime(time); },
        [&] { return receiver.ChangeBaud(9600); }, [&] { return receiver.StopAllBroadcast(2000); }};
    for (const auto& operation : operations) EXPECT_FALSE(operation());
    EXPECT_EQ(clock.NowMs(), 0);
    EXPECT_EQ(time, kUntouched);
}

// A budget of 1000 ms looks at the queue at 0, 100, ..., 1000: an acknowledgement arriving at
// 1000 ms is still seen, one a slice later is not. Acknowledgements of other messages, one too
// short to name any, and a negative acknowledgement of the poll itself are all dropped.
TEST_F(SiRFReceiver, PingTakesOnlyTheAcknowledgementOfTheVersionPollWithinItsBudget) {
    for (const auto& [answerAtMs, answered] : {std::pair{1000, true}, {1005, false}, {-1, false}}) {
        const int64_t start = clock.NowMs();
        if (answerAtMs >= 0) ReplyAt(start + answerAtMs, Concat({Ack(0x84), sirf::Frame({0x06, 'G', 'S', 'W'})}));
        ReplyAt(start + 100, Concat({Ack(0x90), sirf::Frame({0x0B}), sirf::Frame({0x0C, 0x84}), ClockStatus(1537, 5000)}));
        EXPECT_EQ(receiver.Ping(1000), answered) << answerAtMs;
        EXPECT_EQ(clock.NowMs() - start, 1000);
        EXPECT_EQ(receiver.Monitor()->MessageCount(), answered ? 1 : 0);  // the version is not awaited
        clock.Advance(100);
        receiver.Monitor()->FlushMessages();
    }
}

TEST_F(SiRFReceiver, QueryTimeReadsWeekEstimatedTimeAndSignedClockBias) {
    const struct {
        int32_t estimateMs, biasNs;
        std::string time;
    } cases[] = {{123624250, 0, "1537/123624.250"}, {123624250, 500000000, "1537/123624.750"},
                 {123624250, -250000000, "1537/123624.000"}, {604799999, 1000000, "1538/0.000"}};
    for (const auto& c : cases) {
        const int64_t start = clock.NowMs();
        // Too short for the estimated time: not the answer, and not read past its end.
        const Bytes whole = ClockStatus(1537, 1);
        ReplyAt(start + 200, sirf::Frame(Bytes(whole.begin() + 4, whole.end() - 5)));
        ReplyAt(start + 600, ClockStatus(1537, c.estimateMs, c.biasNs));
        KGPSTime time = kUntouched;
        ASSERT_TRUE(receiver.QueryTime(time));
        EXPECT_EQ(clock.NowMs() - start, 600);
        EXPECT_EQ(Text(time), c.time);
    }
    KGPSTime time = kUntouched;
    const int64_t start = clock.NowMs();
    ReplyAt(start + 100, Concat({Ack(0x90), Measurement(5.0), TimeMessage(1537, 5.0)}));
    EXPECT_FALSE(receiver.QueryTime(time));
    EXPECT_EQ(clock.NowMs() - start, 3000);
    EXPECT_EQ(time, kUntouched);
}

// ---------------------------------------------------------------------------------------------
// ScanTimeSpan over recorded streams

class UnseekableRecording : public KRecordedComm {
public:
    using KRecordedComm::KRecordedComm;
    bool Seek(int32_t, int32_t) override { return false; }
};

// "result first last", a time not found as "-" (it must then still be the GPS epoch), and
// " week" when the first time carried its week.
std::string Scan(KComm& link) {
    KSiRFReceiver receiver(false);
    link.Open(0);
    receiver.Attach(&link, "Scan");
    bool gotFirst = false, gotLast = false, weekUnknown = false;
    KGPSTime first = kUntouched, last = kUntouched;
    const bool result = receiver.ScanTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    auto time = [](bool got, const KGPSTime& t) {
        return got ? Text(t) : t == KGPSTime(KGPSTime::kGpsEpoch) ? "-" : "not the epoch";
    };
    return std::string(result ? "true " : "false ") + time(gotFirst, first) + " " + time(gotLast, last) +
           (weekUnknown ? "" : " week");
}

TEST(SiRFScan, BuiltStreams) {
    const std::pair<Bytes, std::string> cases[] = {
        // A measurement stands in for the first time until a clock status brings the week.
        {Concat({Others(3), Measurement(1000.5), Others(2), ClockStatus(1537, 2000000), Others(2),
                 ClockStatus(1537, 3000000), Others(1)}),
         "true 1537/2000.000 1537/3000.000 week"},
        // Measurements only: the last of the first pass, week 0 and the week unknown.
        {Concat({Measurement(1000.5), Others(5), Measurement(1001.5), Measurement(1002.25)}), "true 0/1002.250 -"},
        // Without a week for the first time the last one is on week 0 too, not 1980 to 2009.
        {Concat({Measurement(1000.5), Others(200), Measurement(1200.0), Others(150), ClockStatus(1537, 9000)}),
         "true 0/1000.500 0/9.000"},
        // A time message ends the pass too; only clock statuses give the last time.
        {Concat({TimeMessage(2288, 252818.5), ClockStatus(2288, 1000), TimeMessage(2288, 252830.0)}),
         "true 2288/252818.500 2288/1.000 week"},
        // Messages too short for their fields are no times.
        {Concat({sirf::Frame({0x07, 0x06, 0x01}), sirf::Frame(Concat({{0x1C}, Repeat(1, 13)})),
                 sirf::Frame(Concat({{0xFA}, Repeat(1, 46)})), ClockStatus(1537, 7000)}),
         "true 1537/7.000 1537/7.000 week"},
        // The last pass starts 8192 bytes before the end; the first looks at 201 messages.
        {Concat({ClockStatus(1537, 1000), ClockStatus(1537, 2000), Others(200)}), "true 1537/1.000 - week"},
        {Concat({Others(200), ClockStatus(1537, 1000)}), "true 1537/1.000 1537/1.000 week"},
        {Concat({Others(201), ClockStatus(1537, 1000)}), "true - -"},
        {Repeat(0x55, 300), "false - -"},
    };
    for (const auto& [stream, expected] : cases) {
        KRecordedComm link(stream);
        EXPECT_EQ(Scan(link), expected) << stream.size() << " bytes";
    }
    UnseekableRecording unseekable(cases[0].first);
    EXPECT_EQ(Scan(unseekable), "true 1537/2000.000 - week");
}

// The scan's outcome worked out from the whole, checked frames found by a plain walk: the first
// pass looks at 201 frames at most, a measurement standing in until a clock status; the last
// time is the last clock status that starts in the last 8192 bytes.
std::string Expected(const Bytes& stream, std::vector<Bytes>* frames = nullptr) {
    std::string first = "-", week;
    std::pair<uint32_t, double> last{0, -1.0};
    size_t counted = 0;
    for (size_t at = 0; at + 8 <= stream.size(); ++at) {
        const Bytes frame(&stream[at], stream.data() + std::min(stream.size(), at + 8 + ReadBigEndian(&stream[at + 2], 2)));
        if (!sirf::IsValid(frame)) continue;
        if (frames) frames->push_back(frame);
        std::string time;
        if (frame[4] == 0x07 && frame.size() == 28)
            time = Text(ReadBigEndian(&frame[5], 2), static_cast<int32_t>(ReadBigEndian(&frame[20], 4)) / 1000.0);
        if (frame[4] == 0x1C && frame.size() >= 23)
            time = Text(0, std::bit_cast<double>(ReadBigEndian(&frame[15], 4) << 32 | ReadBigEndian(&frame[11], 4)));
        if (week.empty() && counted++ <= 200 && !time.empty()) {
            first = time;
            if (frame[4] == 0x07) week = " week";
        }
        if (frame[4] == 0x07 && !time.empty() && at + 8192 >= stream.size())
            last = {static_cast<uint32_t>(ReadBigEndian(&frame[5], 2)), static_cast<int32_t>(ReadBigEndian(&frame[20], 4)) / 1000.0};
        at += frame.size() - 1;
    }
    // Without the first time's week the last one is put on week 0 as well.
    const std::string lastText = last.second < 0 ? "-" : Text(week.empty() ? 0 : last.first, last.second);
    return "true " + first + " " + (first == "-" ? "-" : lastText) + week;
}

// The real recordings, as they are and with clock statuses and a measurement put in between
// their frames.
TEST(SiRFScan, RealRecordings) {
    const std::filesystem::path folder = std::filesystem::path(VELINOR_CAPTURES) / "sirf";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no captures at " << folder;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<Bytes> frames;
        Expected(file, &frames);
        ASSERT_GT(frames.size(), 20u) << entry.path();
        Bytes spliced;
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i == 2) spliced = Concat({spliced, Measurement(77.5)});
            if (i == 5 || i + 3 == frames.size()) spliced = Concat({spliced, ClockStatus(1300, 1000 * static_cast<int32_t>(i))});
            spliced = Concat({spliced, frames[i]});
        }
        for (const Bytes& stream : {file, spliced}) {
            KRecordedComm recording(stream);
            EXPECT_EQ(Scan(recording), Expected(stream)) << entry.path();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Against the simulated receiver, over a simulated line

constexpr int32_t kSiRF = 10;

TEST(SiRFOverSimulator, PingAnswersOnlyAtTheReceiversRateAndStopAllBroadcastSilencesIt) {
    SimReceiverRig rig(kSiRF, 19200);
    rig.OpenAt(9600);
    EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));  // garbled at this rate: ignored, still true
    const int64_t start = rig.clock.NowMs();
    EXPECT_FALSE(rig.Receiver().Ping(1000));
    EXPECT_EQ(rig.clock.NowMs() - start, 1000);
    rig.OpenAt(19200);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
    EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));
    EXPECT_FALSE(rig.WithDevice<KSiRFDevice>([](KSiRFDevice& d) { return d.Streaming(); }));
    EXPECT_EQ(rig.Receiver().Monitor()->MessageCount(), 0);
    const std::vector<Bytes> requests = rig.DeviceRequests();
    ASSERT_EQ(requests.size(), 1u + 16u);
    EXPECT_EQ(requests.back(), Silence(255));
}

// As the session does it: the rate packet, the pause between two steps, the host at the new
// rate and a ping there. The receiver streams all along; each rate packet comes 300 ms after a
// second's output, so that no output on the wire holds the switch up (a switch waits for it).
TEST(SiRFOverSimulator, TheReceiverSwitchesAndAnswersAtEachNewRate) {
    SimReceiverRig rig(kSiRF, 4800);
    rig.OpenAt(4800);
    for (int32_t rate : {115200, 1200, 57600, 2400, 38400, 9600, 19200, 4800}) {
        rig.clock.Advance(1300 - rig.clock.NowMs() % 1000);
        ASSERT_TRUE(rig.Receiver().ChangeBaud(rate)) << rate;
        rig.clock.Advance(250);
        EXPECT_EQ(rig.DeviceBaud(), static_cast<uint32_t>(rate));
        rig.OpenAt(rate);
        EXPECT_TRUE(rig.Receiver().Ping(1000)) << rate;
        EXPECT_TRUE(rig.WithDevice<KSiRFDevice>([](KSiRFDevice& d) { return d.Streaming(); }));
    }
}

TEST(SiRFOverSimulator, WrongAcknowledgementsFailEveryPing) {
    for (bool wrongAcknowledgements : {false, true}) {
        KSimDeviceOptions options;
        options.wrongAcknowledgements = wrongAcknowledgements;
        SimReceiverRig rig(kSiRF, 38400, options);
        rig.OpenAt(38400);
        const int64_t start = rig.clock.NowMs();
        EXPECT_EQ(rig.Receiver().Ping(1000), !wrongAcknowledgements);
        EXPECT_EQ(rig.clock.NowMs() - start < 1000, !wrongAcknowledgements);
        EXPECT_EQ(rig.DeviceRequests().back(), sirf::Frame({0x84, 0x00}));
    }
}

} // namespace
