// The NavCom receiver against scripted replies, over recorded streams and against the simulated
// receiver, in virtual time.
#include <gtest/gtest.h>

#include <cmath>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "comm/KRecordedComm.h"
#include "log/DebugTrace.h"
#include "receivers/KNavComReceiver.h"
#include "sim/KNavComDevice.h"
#include "support/NavComFrames.h"
#include "support/ReceiverRig.h"
#include "support/TimeSpanScan.h"
#include "support/TraceLines.h"

namespace {

constexpr int32_t kNavCom = 8;

Bytes LEDouble(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return LE(bits, 8);
}

Bytes TimeTagged(uint32_t week, uint32_t ms) {
    return navcom::Frame(0xB0, Concat({LE(week, 2), LE(ms, 4), Repeat(0x11, 20)}));
}
Bytes Ack(uint8_t id) { return navcom::Frame(0x06, {id, 0x00}); }
const Bytes kPortSettings = navcom::Frame(0x11, Hex("04 06 00 07 00 00"));
// A time that no answer gives: what a failed operation must leave alone.
const KGPSTime kUntouched(400000000);


class NavComReceiver : public ::testing::Test, protected ScriptedReceiverRig {
protected:
    NavComReceiver() { Use(receiver); }
    KNavComReceiver receiver{false};
};

TEST_F(NavComReceiver, SendsThePacketsOfTheProtocolByteForByteAndNoneForRatesWithoutACode) {
    KGPSTime time = kUntouched;
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { receiver.StopAllBroadcast(0); }, "02 99 66 20 0A 00 04 00 00 02 00 00 2C 03"},
        {[&] { receiver.QueryTime(time); }, "02 99 66 20 0A 00 04 00 84 02 00 00 A8 03"},
        {[&] { receiver.Ping(0); }, "02 99 66 20 0A 00 04 00 11 02 00 00 3D 03"},
        {[&] { receiver.ChangeBaud(9600); }, "02 99 66 11 0A 00 04 06 00 07 00 00 1E 03"},
    };
    for (const auto& [operation, packet] : cases) {
        operation();
        EXPECT_EQ(ToHex(Written()), packet);
    }
    // Every rate's port-settings packet: speed codes 2i and 2i + 1, and always checksum 1E.
    const int32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (uint8_t i = 0; i < 8; ++i) {
        receiver.ChangeBaud(rates[i]);
        const Bytes packet = Written();
        EXPECT_EQ(packet, navcom::Frame(0x11, {0x04, uint8_t(2 * i), 0x00, uint8_t(2 * i + 1), 0x00, 0x00}));
        EXPECT_EQ(packet.at(12), 0x1E) << rates[i];
    }
    for (int32_t baud : {300, 230400, 0, -9600}) {
        TraceLines trace;
        EXPECT_FALSE(receiver.ChangeBaud(baud)) << baud;
        EXPECT_TRUE(Written().empty()) << baud;
        EXPECT_EQ(trace.lines,
                  std::vector<std::string>{"NavCom receiver:  Couldn't set baud - no command byte found... \n"});
    }
}

TEST_F(NavComReceiver, SendPacketKeepsToItsBuffer) {
    const Bytes payload(4089, 0x5A);
    EXPECT_FALSE(receiver.SendPacket(nullptr, 0x20, 6));
    EXPECT_FALSE(receiver.SendPacket(payload.data(), 0x20, 4089));
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(receiver.SendPacket(payload.data(), 0x7E, 4088));
    EXPECT_EQ(Written(), navcom::Frame(0x7E, Bytes(4088, 0x5A)));  // the whole 4096-byte buffer
    EXPECT_TRUE(receiver.SendPacket(payload.data(), 0x30, 0));
    EXPECT_EQ(ToHex(Written()), "02 99 66 30 04 00 34 03");
}

// A budget of 1000 ms looks at the queue at 0, 100, ..., 1000: an answer arriving at 1000 ms is
// still seen, one a slice later is not. Other messages before the answer are dropped, and
// whatever follows it too.
TEST_F(NavComReceiver, PingLooksElevenTimesOverOneSecond) {
    for (const auto& [answerAtMs, answered] : {std::pair{1000, true}, {1005, false}, {-1, false}}) {
        const int64_t start = clock.NowMs();
        if (answerAtMs >= 0) ReplyAt(start + answerAtMs, Concat({kPortSettings, TimeTagged(1410, 0)}));
        ReplyAt(start + 100, Concat({Ack(0x20), TimeTagged(1410, 5000)}));
        EXPECT_EQ(receiver.Ping(1000), answered) << answerAtMs;
        EXPECT_EQ(clock.NowMs() - start, 1000);
        EXPECT_EQ(receiver.Monitor()->MessageCount(), 0);
        clock.Advance(100);  // a late answer arrives before the next case
        receiver.Monitor()->FlushMessages();
    }
}

TEST_F(NavComReceiver, ANakAnywhereInTheQueueEndsAnyWait) {
    KGPSTime time = kUntouched;
    const std::pair<std::function<bool()>, Bytes> cases[] = {
        {[&] { return receiver.Ping(5000); }, kPortSettings},
        {[&] { return receiver.QueryTime(time); }, navcom::Frame(0x84, Concat({LE(1410, 2), LEDouble(1.5)}))},
        {[&] { return receiver.ChangeBaud(9600); }, Ack(0x11)},
    };
    for (const auto& [operation, wanted] : cases) {
        TraceLines trace;
        const int64_t start = clock.NowMs();
        ReplyAt(start + 300, Concat({TimeTagged(1410, 0), navcom::Frame(0x15, {0x20, 7}), wanted}));
        EXPECT_FALSE(operation()) << ToHex(wanted);
        EXPECT_EQ(clock.NowMs() - start, 300);
        EXPECT_EQ(trace.lines, std::vector<std::string>{"NavCom NAK received for message 32.  Error code 7\n"});
        receiver.Monitor()->FlushMessages();
    }
    EXPECT_EQ(time, kUntouched);

    // A refusal without its fields is still a refusal; what it does not hold reads as zeros.
    TraceLines trace;
    ReplyAt(clock.NowMs() + 100, navcom::Frame(0x15, {}));
    EXPECT_FALSE(receiver.Ping(1000));
    EXPECT_EQ(trace.lines, std::vector<std::string>{"NavCom NAK received for message 0.  Error code 0\n"});
}

TEST_F(NavComReceiver, ChangeBaudWaitsForTheAcknowledgementOfItsOwnPacket) {
    ReplyAt(300, Ack(0x20));                // acknowledges another message: the wait goes on
    ReplyAt(400, navcom::Frame(0x06, {}));  // names no message at all
    ReplyAt(700, Concat({Ack(0x11), TimeTagged(1410, 0)}));
    ReplyAt(1500, TimeTagged(1410, 1000));  // sent while the receiver switches
    EXPECT_TRUE(receiver.ChangeBaud(115200));
    EXPECT_EQ(clock.NowMs(), 700 + 2000);   // the acknowledgement, then the pause
    EXPECT_EQ(receiver.Monitor()->MessageCount(), 0);

    ReplyAt(clock.NowMs() + 100, Ack(0x20));
    EXPECT_FALSE(receiver.ChangeBaud(57600));
    EXPECT_EQ(clock.NowMs(), 2700 + 2000);
}

TEST_F(NavComReceiver, AFailingWriteFailsEverySendingOperationAtOnce) {
    link.SetWritesFail(true);
    KGPSTime time = kUntouched;
    const uint8_t payload[6] = {};
    const std::function<bool()> operations[] = {
        [&] { return receiver.StopAllBroadcast(2000); }, [&] { return receiver.Ping(1000); },
        [&] { return receiver.QueryTime(time); },         [&] { return receiver.ChangeBaud(9600); },
        [&] { return receiver.SendPacket(payload, 0x20, 6); },
    };
    for (const auto& operation : operations) EXPECT_FALSE(operation());
    EXPECT_EQ(clock.NowMs(), 0);
    EXPECT_EQ(time, kUntouched);
}

TEST_F(NavComReceiver, QueryTimeReadsTheWeekAndTheSecondsAsADouble) {
    // Too short for the seconds: not the answer, and not read past its end.
    ReplyAt(200, navcom::Frame(0x84, Concat({LE(1410, 2), LE(0, 7)})));
    ReplyAt(600, navcom::Frame(0x84, Concat({LE(1410, 2), LEDouble(123624.25), Bytes{18}})));
    KGPSTime time = kUntouched;
    EXPECT_TRUE(receiver.QueryTime(time));
    EXPECT_EQ(clock.NowMs(), 600);
    EXPECT_EQ(At(time), At(1410, 123624250));

    time = kUntouched;
    ReplyAt(clock.NowMs() + 100, navcom::Frame(0x84, LE(1410, 2)));
    EXPECT_FALSE(receiver.QueryTime(time));
    EXPECT_EQ(clock.NowMs(), 600 + 10000);
    EXPECT_EQ(time, kUntouched);

    // Answers that carry no time: not reported as 1980-01-06.
    for (const Bytes& fields : {Concat({LE(1410, 2), LEDouble(std::nan(""))}), Concat({LE(1410, 2), LEDouble(-0.5)}),
                                Concat({LE(1410, 2), LEDouble(604800.0)}), Concat({LE(1410, 2), LEDouble(INFINITY)}),
                                Concat({LE(60000, 2), LEDouble(10.0)})}) {
        time = kUntouched;
        ReplyAt(clock.NowMs() + 100, navcom::Frame(0x84, fields));
        EXPECT_FALSE(receiver.QueryTime(time));
        EXPECT_EQ(time, kUntouched);
    }
}

TEST(NavComTimeDecoder, ReadsTheTimeOfTheThreeTimeMessagesOnly) {
    const std::pair<Bytes, std::string> cases[] = {
        {navcom::Frame(0xB0, Concat({LE(1410, 2), LE(123624500, 4), Repeat(0, 30)})), At(1410, 123624500)},
        {navcom::Frame(0xB0, Concat({LE(1410, 2), LE(123624500, 4)})), At(1410, 123624500)},
        {navcom::Frame(0x86, Concat({LE(2288, 2), LE(252818, 4), Repeat(0, 9)})), At(2288, 252818000)},
        {navcom::Frame(0x81, Concat({Bytes{0x03}, LE(1409, 2), LE(604799, 4)})), At(1409, 604799000)},
        // One byte short of their time, or no time message at all: left alone.
        {navcom::Frame(0xB0, Concat({LE(1410, 2), LE(123624500, 3)})), At(kUntouched)},
        {navcom::Frame(0x81, Concat({LE(1409, 2), LE(604799, 4)})), At(kUntouched)},
        {navcom::Frame(0x84, Concat({LE(1410, 2), LE(123624, 4), Repeat(0, 8)})), At(kUntouched)},
        {navcom::Frame(0xB1, Concat({LE(1410, 2), LE(123624, 4)})), At(kUntouched)},
        {navcom::Frame(0x06, {0x20, 0x00}), At(kUntouched)},
    };
    for (const auto& [bytes, expected] : cases) {
        const StreamMessage message(bytes.data(), static_cast<int32_t>(bytes.size()));
        KGPSTime time = kUntouched;
        EXPECT_EQ(KNavComReceiver::DecodeNavComTime(&message, time), expected != At(kUntouched)) << ToHex(bytes);
        EXPECT_EQ(At(time), expected) << ToHex(bytes);
    }
    KGPSTime time = kUntouched;
    EXPECT_FALSE(KNavComReceiver::DecodeNavComTime(nullptr, time));
    EXPECT_EQ(time, kUntouched);
}

// ---------------------------------------------------------------------------------------------
// ScanTimeSpan over recorded streams

std::string Scan(KComm& link) {
    KNavComReceiver receiver(false);
    return ScanOutcome(receiver, link);
}

TEST(NavComScan, FirstAndLastTimeOfTheRealRecording) {
    const std::filesystem::path path = std::filesystem::path(VELINOR_CAPTURES) / "navcom" / "gpsd_navcom.bin";
    std::ifstream in(path, std::ios::binary);
    if (!in) GTEST_SKIP() << "capture not found: " << path;
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // The 0xB0 times, found by a plain walk over whole, checked frames.
    std::vector<std::string> times;
    for (size_t i = 0; i + 6 <= file.size(); ++i) {
        const size_t end = i + (file[i + 4] | file[i + 5] << 8) + 4;
        if (end > file.size() || !navcom::IsValid(Bytes(&file[i], file.data() + end))) continue;
        if (file[i + 3] == 0xB0)
            times.push_back(At(file[i + 6] | file[i + 7] << 8,
                               file[i + 8] | file[i + 9] << 8 | file[i + 10] << 16 | uint32_t{file[i + 11]} << 24));
        i = end - 1;
    }
    ASSERT_GE(times.size(), 2u);

    KRecordedComm link(file);
    EXPECT_EQ(Scan(link), "true " + times.front() + " " + times.back());
    UnseekableRecording unseekable(file);
    EXPECT_EQ(Scan(unseekable), "true " + times.front() + " -");
}

TEST(NavComScan, BuiltStreams) {
    auto others = [](size_t count) {
        Bytes out;
        for (size_t i = 0; i < count; ++i) out = Concat({out, navcom::FrameOfSize(48, 0x44)});
        return out;
    };
    const std::pair<Bytes, std::string> cases[] = {
        {Concat({others(3), navcom::Frame(0xB0, LE(1410, 2)), TimeTagged(1410, 1000), others(2), TimeTagged(1410, 2000),
                 TimeTagged(1410, 3000), others(1)}),
         "true " + At(1410, 1000) + " " + At(1410, 3000)},
        // The last pass starts 8192 bytes before the end: a time before that is not seen again.
        {Concat({TimeTagged(1410, 1000), TimeTagged(1410, 2000), others(200)}), "true " + At(1410, 1000) + " -"},
        {Concat({others(100), TimeTagged(1410, 1000), others(300), TimeTagged(1410, 9000), others(100)}),
         "true " + At(1410, 1000) + " " + At(1410, 9000)},
        // The first pass looks at 201 messages at most.
        {Concat({others(200), TimeTagged(1410, 1000)}), "true " + At(1410, 1000) + " " + At(1410, 1000)},
        {Concat({others(201), TimeTagged(1410, 1000)}), "true - -"},
        {others(5), "true - -"},
        {Repeat(0x55, 300), "false - -"},
    };
    for (const auto& [stream, expected] : cases) {
        KRecordedComm link(stream);
        EXPECT_EQ(Scan(link), expected) << stream.size() << " bytes";
    }
}

// ---------------------------------------------------------------------------------------------
// Against the simulated receiver, over a simulated line

TEST(NavComOverSimulator, PingAnswersOnlyAtTheReceiversRateAndStopAllBroadcastSilencesIt) {
    SimReceiverRig rig(kNavCom, 19200);
    rig.OpenAt(9600);
    EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));  // garbled at this rate: ignored, still true
    const int64_t start = rig.clock.NowMs();
    EXPECT_FALSE(rig.Receiver().Ping(1000));
    EXPECT_EQ(rig.clock.NowMs() - start, 1000);
    rig.OpenAt(19200);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
    EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));
    EXPECT_FALSE(rig.WithDevice<KNavComDevice>([](KNavComDevice& d) { return d.Streaming(); }));
    EXPECT_EQ(rig.Receiver().Monitor()->MessageCount(), 0);
}

TEST(NavComOverSimulator, TheReceiverSwitchesAndAnswersAtEachNewRate) {
    SimReceiverRig rig(kNavCom, 4800);
    int32_t current = 4800;
    for (int32_t rate : {115200, 1200, 57600}) {
        rig.OpenAt(current);
        ASSERT_TRUE(rig.Receiver().ChangeBaud(rate)) << rate;
        EXPECT_EQ(rig.DeviceBaud(), static_cast<uint32_t>(rate));
        EXPECT_FALSE(rig.Receiver().Ping(1000)) << rate;  // the host is still at the old rate
        rig.OpenAt(current = rate);
        EXPECT_TRUE(rig.Receiver().Ping(1000)) << rate;
    }
}

TEST(NavComOverSimulator, ARefusedRateChangeFailsAtOnceAndTheReceiverStays) {
    KSimDeviceOptions options;
    options.refusesRateChange = true;
    SimReceiverRig rig(kNavCom, 9600, options);
    rig.OpenAt(9600);
    TraceLines trace;
    EXPECT_FALSE(rig.Receiver().ChangeBaud(57600));
    EXPECT_LT(rig.clock.NowMs(), 2000);  // ended by the refusal, not by the budget
    EXPECT_EQ(trace.lines, std::vector<std::string>{"NavCom NAK received for message 17.  Error code 3\n"});
    EXPECT_EQ(rig.DeviceBaud(), 9600u);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

} // namespace
