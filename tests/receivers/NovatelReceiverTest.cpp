// The Novatel receiver against scripted replies, over recorded streams and against the simulated
// receiver, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "comm/KRecordedComm.h"
#include "monitors/KNovatelStreamMonitor.h"
#include "receivers/KNovatelReceiver.h"
#include "sim/KNovatelDevice.h"
#include "support/NovatelFrames.h"
#include "support/ReceiverRig.h"
#include "support/TimeSpanScan.h"

namespace {

constexpr int32_t kNovatel = 9;

Bytes Log(uint16_t id, uint32_t week, uint32_t ms, const Bytes& data = Repeat(0x11, 8), uint8_t type = 0) {
    NovatelHeader header;
    header.messageId = id;
    header.messageType = type;
    header.week = static_cast<uint16_t>(week);
    header.milliseconds = ms;
    return NovatelLog(data, header);
}
// A response to command `commandId`: message type 0x80, payload the response ID and a text.
Bytes Response(uint16_t commandId, uint32_t responseId) {
    return Log(commandId, 1536, 0, Concat({LE(responseId, 4), Bytes{'O', 'K'}}), 0x80);
}
// A time that no answer gives: what a failed operation must leave alone.
const KGPSTime kUntouched(400000000);

class NovatelReceiver : public ::testing::Test, protected ScriptedReceiverRig {
protected:
    NovatelReceiver() { Use(receiver); }
    KNovatelReceiver receiver{false};
};

// The rig's clock reads 2009-06-17 12:00:00, GPS week 1536 (00 06) and 302400 s of week
// (302400000 ms: 00 42 06 12), with no leap seconds. The answers that end the first two waits
// arrive at once, so that all five commands are built within that second.
TEST_F(NovatelReceiver, SendsTheThreeCommandsByteForByte) {
    auto command = [](const std::string& idAndLength, const std::string& payload, const std::string& crc) {
        return "AA 44 12 1C " + idAndLength + " 00 00 00 00 00 06 00 42 06 12 00 00 00 00 00 00 00 00 " + payload +
               " " + crc;
    };
    const std::string zeros20 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    auto logOnce = [&](const std::string& log) { return "C0 00 00 00 " + log + " 00 00 04 00 00 00 " + zeros20; };
    auto com = [](const std::string& baud) {
        return "06 00 00 00 " + baud + " 00 00 00 00 08 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00";
    };
    ReplyAt(0, Concat({Response(38, 1), Log(101, 1536, 302400000)}));
    KGPSTime time = kUntouched;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { receiver.StopAllBroadcast(0); }, command("26 00 00 C0 08 00", "06 00 00 00 00 00 00 00", "24 DB 26 B0")},
        {[&] { receiver.QueryTime(time); }, command("01 00 00 C0 20 00", logOnce("65 00"), "74 23 CF E1")},
        {[&] { receiver.Ping(0); }, command("01 00 00 C0 20 00", logOnce("25 00"), "34 64 B0 8C")},
        {[&] { receiver.ChangeBaud(9600); }, command("04 00 00 C0 20 00", com("80 25 00 00"), "92 5F 9E 8B")},
        // No table limits the rate: 230400 goes out as it is.
        {[&] { receiver.ChangeBaud(230400); }, command("04 00 00 C0 20 00", com("00 84 03 00"), "6A 21 64 EF")},
    };
    for (const auto& [operation, expected] : cases) {
        operation();
        EXPECT_EQ(ToHex(Written()), expected);
    }
    EXPECT_LT(clock.NowMs(), 1000);
    // The CRC routine against the published CRC-32 check value (initial value and final
    // inversion all ones).
    const auto* check = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(KNovatelStreamMonitor::Crc(check, 9, 0xFFFFFFFFu) ^ 0xFFFFFFFFu, 0xCBF43926u);
}

// Each command is dated when it is built: a later second or week changes the date fields and the
// CRC, and nothing else.
TEST_F(NovatelReceiver, CommandsBuiltInDifferentSecondsDifferOnlyInTheirDateAndCrc) {
    auto withoutDateAndCrc = [](Bytes command) {
        std::fill(command.begin() + 14, command.begin() + 20, 0);
        command.resize(command.size() - 4);
        return command;
    };
    const uint8_t unlogAll[8] = {8};
    receiver.SendCommand(unlogAll, 8, 38);
    const Bytes before = Written();
    // The virtual clock adds its elapsed seconds to the wall base.
    const struct {
        int64_t advanceMs, wallSeconds;
        uint32_t week, ms;
    } cases[] = {{1000, kRigWallSeconds, 1536, 302401000}, {0, kRigWallSeconds + 305999, 1537, 3600000}};
    for (const auto& c : cases) {
        clock.Advance(c.advanceMs);
        clock.SetWallBase(c.wallSeconds);
        receiver.SendCommand(unlogAll, 8, 38);
        const Bytes after = Written();
        EXPECT_EQ(ReadLE(after, 14, 2), c.week);
        EXPECT_EQ(ReadLE(after, 16, 4), c.ms);
        EXPECT_NE(ReadLE(after, 36, 4), ReadLE(before, 36, 4));
        EXPECT_EQ(NovatelCrc32(after), 0u);
        EXPECT_EQ(ToHex(withoutDateAndCrc(after)), ToHex(withoutDateAndCrc(before)));
    }
}

TEST_F(NovatelReceiver, SendCommandKeepsToItsBuffer) {
    const Bytes payload(4065, 0x5A);
    EXPECT_FALSE(receiver.SendCommand(nullptr, 8, 38));
    EXPECT_FALSE(receiver.SendCommand(payload.data(), 4065, 1));
    EXPECT_TRUE(receiver.SendCommand(payload.data(), 4064, 1));  // the whole 4096-byte buffer
    EXPECT_TRUE(receiver.SendCommand(payload.data(), 0, 7));
    const Bytes written = Written();
    ASSERT_EQ(written.size(), 4096u + 32);
    EXPECT_EQ(NovatelCrc32(written.data(), 4096), 0u);
}

// Ping and StopAllBroadcast end at the first OK response to any command, looked for every 100 ms.
// A response that is not OK, a log whose first payload byte is 1, or a response without payload
// whose CRC begins with 01 is dropped and the wait runs on. QueryTime waits for the TIME log and
// reads its header.
TEST_F(NovatelReceiver, EachWaitEndsAtItsOwnAnswerOnly) {
    Bytes emptyResponse;
    for (uint16_t sequence = 0; emptyResponse.empty() || emptyResponse[28] != 0x01; ++sequence) {
        NovatelHeader header;
        header.messageId = 1;
        header.messageType = 0x80;
        header.sequence = sequence;
        emptyResponse = NovatelLog({}, header);
    }
    const Bytes version = Log(37, 1536, 0, Concat({LE(1, 4), Repeat(0x20, 108)}));  // one component
    using Outcome = std::function<std::string()>;
    const Outcome ping = [&] { return receiver.Ping(1000) ? "ok" : "none"; };
    const Outcome stop = [&] { return receiver.StopAllBroadcast(2000) ? "ok" : "none"; };
    const Outcome time = [&] {
        KGPSTime t = kUntouched;
        return receiver.QueryTime(t) ? At(t) : t == kUntouched ? "none" : "touched";
    };
    const struct {
        Outcome operation;
        std::vector<std::pair<int64_t, Bytes>> replies;
        std::string outcome;
        int64_t elapsedMs;
    } cases[] = {
        {ping, {{300, Concat({Log(140, 1536, 0), Response(38, 1)})}}, "ok", 300},
        {ping, {{100, Response(1, 2)}, {700, Response(1, 1)}}, "ok", 700},
        {ping, {{905, Response(1, 1)}}, "ok", 1000},
        {ping, {{100, Concat({Response(1, 2), version, emptyResponse})}}, "none", 1000},
        {stop, {{400, Response(38, 1)}}, "ok", 400},
        {stop, {{100, Response(38, 5)}}, "none", 4000},
        {stop, {}, "none", 4000},
        {time, {{200, Concat({Response(1, 1), version, Log(101, 1536, 302405250, Repeat(0, 44))})}},
         At(1536, 302405250), 200},
        {time, {{100, Response(1, 1)}}, "none", 4000},
    };
    for (const auto& c : cases) {
        const int64_t start = clock.NowMs();
        for (const auto& [atMs, bytes] : c.replies) ReplyAt(start + atMs, bytes);
        EXPECT_EQ(c.operation(), c.outcome) << c.elapsedMs;
        EXPECT_EQ(clock.NowMs() - start, c.elapsedMs);
        clock.Advance(1000);
        receiver.Monitor()->FlushMessages();
    }
}

TEST_F(NovatelReceiver, AFailingWriteFailsEveryOperationAtOnce) {
    link.SetWritesFail(true);
    KGPSTime time = kUntouched;
    const uint8_t payload[8] = {};
    const std::function<bool()> operations[] = {
        [&] { return receiver.StopAllBroadcast(2000); }, [&] { return receiver.Ping(1000); },
        [&] { return receiver.QueryTime(time); },         [&] { return receiver.ChangeBaud(9600); },
        [&] { return receiver.SendCommand(payload, 8, 38); },
    };
    for (const auto& operation : operations) EXPECT_FALSE(operation());
    EXPECT_EQ(clock.NowMs(), 0);
    EXPECT_EQ(time, kUntouched);
}

// ---------------------------------------------------------------------------------------------
// ScanTimeSpan over recorded streams

std::string Scan(KComm& link, size_t stepsBefore = 0) {
    KNovatelReceiver receiver(false);
    return ScanOutcome(receiver, link, stepsBefore);
}

TEST(NovatelScan, FirstAndLastTimeOfTheRealRecording) {
    const std::filesystem::path path =
        std::filesystem::path(VELINOR_CAPTURES) / "novatel" / "rtklib_oemv_200911218.gps";
    std::ifstream in(path, std::ios::binary);
    if (!in) GTEST_SKIP() << "capture not found: " << path;
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // The RANGE and RANGECMP times, found by a plain walk over whole, checked binary logs.
    std::vector<std::string> times;
    for (size_t i = 0; i + 32 <= file.size(); ++i) {
        if (file[i] != 0xAA || file[i + 1] != 0x44 || file[i + 2] != 0x12 || file[i + 3] != 28) continue;
        const size_t end = i + ReadLE(file, i + 8, 2) + 32;
        if (end > file.size() || NovatelCrc32(file.data() + i, end - i) != 0) continue;
        const uint64_t id = ReadLE(file, i + 4, 2);
        if (id == 43 || id == 140) times.push_back(At(static_cast<uint32_t>(ReadLE(file, i + 14, 2)), ReadLE(file, i + 16, 4)));
        i = end - 1;
    }
    ASSERT_GE(times.size(), 2u);

    KRecordedComm link(file);
    EXPECT_EQ(Scan(link), "true " + times.front() + " " + times.back());
    UnseekableRecording unseekable(file);
    EXPECT_EQ(Scan(unseekable), "true " + times.front() + " -");
}

TEST(NovatelScan, BuiltStreams) {
    auto others = [](size_t count) {
        Bytes out;
        for (size_t i = 0; i < count; ++i) out = Concat({out, Log(42, 1536, 1000 * static_cast<uint32_t>(i))});
        return out;
    };
    const struct {
        Bytes stream;
        std::string expected;
        size_t stepsBefore = 0;
    } cases[] = {
        {Concat({others(3), Log(43, 1536, 1000), others(2), Log(140, 1536, 2000), Log(43, 1536, 3000), others(1)}),
         "true " + At(1536, 1000) + " " + At(1536, 3000)},
        // The last pass starts 8192 bytes before the end: a time before that is not seen again.
        {Concat({Log(140, 1536, 1000), Log(140, 1536, 2000), others(250)}), "true " + At(1536, 1000) + " -"},
        // The first pass looks at 201 messages at most.
        {Concat({others(200), Log(140, 1537, 500)}), "true " + At(1537, 500) + " " + At(1537, 500)},
        {Concat({others(201), Log(140, 1537, 500)}), "true - -"},
        {others(5), "true - -"},
        {Repeat(0x55, 300), "false - -"},
        // The hunt limit of 8192 bytes counts from the scan's start, not from what came before.
        {Concat({Repeat(0x55, 10000), Log(140, 1536, 7000)}), "true " + At(1536, 7000) + " " + At(1536, 7000), 6000},
        {Concat({Repeat(0x55, 8193), Log(140, 1536, 7000)}), "false - -"},
    };
    for (const auto& c : cases) {
        KRecordedComm link(c.stream);
        EXPECT_EQ(Scan(link, c.stepsBefore), c.expected) << c.stream.size() << " bytes";
    }
}

// ---------------------------------------------------------------------------------------------
// Against the simulated receiver, over a simulated line

// A silent receiver and one that answers every command with a failure look alike to the host:
// every wait runs out, the output goes on, and a rate change is written but not obeyed.
TEST(NovatelOverSimulator, SilentAndWronglyAcknowledgingReceiversAreNeverTakenAtTheirWord) {
    for (const bool silent : {true, false}) {
        KSimDeviceOptions options;
        options.silent = silent;
        options.wrongAcknowledgements = !silent;
        SimReceiverRig rig(kNovatel, 57600, options);
        rig.OpenAt(57600);
        EXPECT_FALSE(rig.Receiver().StopAllBroadcast(2000));
        EXPECT_EQ(rig.clock.NowMs(), 4000);
        EXPECT_FALSE(rig.Receiver().Ping(1000));
        EXPECT_EQ(rig.clock.NowMs(), 5000);
        EXPECT_TRUE(rig.Receiver().ChangeBaud(9600));
        rig.clock.Advance(500);
        EXPECT_EQ(rig.DeviceBaud(), 57600u);
        EXPECT_TRUE(rig.WithDevice<KNovatelDevice>([](KNovatelDevice& d) { return d.Streaming(); }));
        EXPECT_EQ(rig.DeviceRequests().size(), 3u);
    }
}

TEST(NovatelOverSimulator, TheReceiverAnswersOnlyAtItsRateFallsSilentAndSwitches) {
    SimReceiverRig rig(kNovatel, 4800);
    rig.OpenAt(9600);
    EXPECT_FALSE(rig.Receiver().Ping(1000));
    rig.OpenAt(4800);
    ASSERT_TRUE(rig.Receiver().StopAllBroadcast(2000));
    EXPECT_FALSE(rig.WithDevice<KNovatelDevice>([](KNovatelDevice& d) { return d.Streaming(); }));
    for (int32_t rate : {115200, 1200, 57600, 9600}) {
        ASSERT_TRUE(rig.Receiver().ChangeBaud(rate)) << rate;
        // The response leaves at the old rate (at 1200 after the VERSION log of the ping before),
        // then the receiver switches.
        rig.clock.Advance(2000);
        EXPECT_EQ(rig.DeviceBaud(), static_cast<uint32_t>(rate));
        rig.OpenAt(rate);
        EXPECT_TRUE(rig.Receiver().Ping(1000)) << rate;
    }
    // 230400 reaches the receiver unchanged; this one cannot run at it and says so, and stays.
    EXPECT_TRUE(rig.Receiver().ChangeBaud(230400));
    rig.clock.Advance(500);
    EXPECT_EQ(ReadLE(rig.DeviceRequests().back(), 32, 4), 230400u);
    EXPECT_EQ(rig.DeviceBaud(), 9600u);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

} // namespace
