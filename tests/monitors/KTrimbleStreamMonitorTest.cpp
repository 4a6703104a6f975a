#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comm/KMemoryComm.h"
#include "monitors/KTrimbleStreamMonitor.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/TrimbleFrames.h"

namespace {

const std::string kNoEtxLine = "Trimble - no ETX";
const std::string kChecksumLine = "Trimble - invalid CRC";

std::string ThrowLine(int n) {
    return "Trimble - Throwing away " + std::to_string(n) + " bytes [total = " + std::to_string(n) + "]";
}

class TrimbleProbe : public KTrimbleStreamMonitor {
public:
    using KTrimbleStreamMonitor::buffer;
    using KTrimbleStreamMonitor::count;
    using KTrimbleStreamMonitor::scanCount;
    using KStreamMonitor::state;
};

struct ManualRun {
    ManualRun() {
        link.Open(0);
        monitor.Start(&link, false, "Test");
    }
    size_t Settle(size_t limit = 1u << 20) {
        size_t steps = 0;
        while (monitor.ReadStep())
            if (++steps > limit) break;
        return steps;
    }
    std::vector<Bytes> Take() {
        std::vector<Bytes> out;
        while (auto m = monitor.PopMessage()) out.emplace_back(m->data.get(), m->data.get() + m->length);
        return out;
    }
    LogCapture logs;
    KMemoryComm link;
    TrimbleProbe monitor;
};

const Chunking kAllChunkings[] = {Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce};

void ExpectFramed(const Bytes& stream, const std::vector<Bytes>& messages,
                  const std::vector<std::string>& errors) {
    for (Chunking chunking : kAllChunkings) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            if (chunking != Chunking::Random && seed > 1) continue;
            TrimbleProbe monitor;
            const FramedRun run = RunFramer(monitor, stream, chunking, seed);
            SCOPED_TRACE("chunking " + std::to_string(static_cast<int>(chunking)) + " seed " +
                         std::to_string(seed));
            ASSERT_EQ(run.messages.size(), messages.size());
            for (size_t i = 0; i < messages.size(); ++i)
                EXPECT_EQ(ToHex(run.messages[i]), ToHex(messages[i])) << "message " << i;
            EXPECT_EQ(run.errors, errors);
        }
    }
}

bool HoldsStxAfterFirstByte(const Bytes& packet) {
    for (size_t i = 1; i < packet.size(); ++i)
        if (packet[i] == 0x02) return true;
    return false;
}

} // namespace

TEST(TrimbleFramer, DeliversEveryPacketByteExactWhateverTheChunking) {
    std::vector<Bytes> packets;
    for (size_t size : {0, 1, 2, 50, 200, 254, 255}) packets.push_back(TrimblePacketOfSize(size));
    // STX and ETX bytes inside the data and as status are just data.
    packets.push_back(TrimblePacket(0x57, Hex("02 03 02 03 03"), 0x02));
    Bytes stream;
    for (const Bytes& p : packets) stream = Concat({stream, p});
    ExpectFramed(stream, packets, {});
}

TEST(TrimbleFramer, EmptyAndLongestPacketsAreDelivered) {
    // L = 0: the checksum is status + type.
    const Bytes empty = Hex("02 81 90 00 11 03");
    const Bytes longest = TrimblePacketOfSize(255);
    ASSERT_EQ(longest.size(), 261u);
    ExpectFramed(Concat({empty, longest, empty}), {empty, longest, empty}, {});
}

TEST(TrimbleFramer, JunkBetweenPacketsIsSkippedSilently) {
    const Bytes a = TrimblePacketOfSize(10);
    const Bytes b = TrimblePacketOfSize(0, 0x41);
    ExpectFramed(Concat({TrimbleJunk(100, 1), a, Hex("03 03 FF"), b, TrimbleJunk(5000, 2), a, Hex("00 01")}),
                 {a, b, a}, {});
}

TEST(TrimbleFramer, BadPacketWithoutAnotherStxIsDroppedWithoutThrowAwayLine) {
    const Bytes good = TrimblePacketOfSize(12);
    const Bytes noEtx = TrimbleWithoutEtx(TrimblePacketOfSize(30));
    const Bytes badSum = TrimbleWithBadChecksum(TrimblePacketOfSize(40));
    ASSERT_FALSE(HoldsStxAfterFirstByte(noEtx));
    ASSERT_FALSE(HoldsStxAfterFirstByte(badSum));
    ExpectFramed(Concat({noEtx, good, badSum, good}), {good, good}, {kNoEtxLine, kChecksumLine});
}

TEST(TrimbleFramer, TruncatedPacketGivesWayToThePacketStartingInsideIt) {
    // A packet cut short (L = 10, only 7 bytes sent) and then a whole one: the framer reads 16
    // bytes, finds no ETX, throws away the 7 bytes before the next STX and completes that packet.
    const Bytes cut = TrimblePacketOfSize(10);
    const Bytes next = TrimblePacketOfSize(20, 0x41);
    const Bytes stream = Concat({Bytes(cut.begin(), cut.begin() + 7), next, next});
    ExpectFramed(stream, {next, next}, {kNoEtxLine, ThrowLine(7)});
}

TEST(TrimbleFramer, FewerThanFourRetainedBytesGetTheirHeaderCompleted) {
    // The next STX sits at the second-last position of the bad packet: 2 bytes are kept and
    // the header is completed from the link.
    const Bytes next = TrimblePacketOfSize(8);
    const Bytes stream = Concat({Hex("02 00 40 05 11 12 13 14 15"), next});
    ExpectFramed(stream, {next}, {kNoEtxLine, ThrowLine(9)});

    // And with the last byte alone being an STX.
    const Bytes lastIsStx = Concat({Hex("02 00 40 00 40 02"), Bytes(next.begin() + 1, next.end())});
    ExpectFramed(lastIsStx, {next}, {kNoEtxLine, ThrowLine(5)});
}

TEST(TrimbleFramer, ThrowAwayCanRepeatUntilAPacketHolds) {
    const Bytes p = TrimblePacketOfSize(4);
    // 02 05 02 00 | 02 00 ...: two bad starts in a row before p itself.
    const Bytes stream = Concat({Hex("02 05 02 00"), p});
    ExpectFramed(stream, {p}, {kNoEtxLine, ThrowLine(2), kNoEtxLine, ThrowLine(2)});
}

TEST(TrimbleFramer, RetainedBytesReachingPastTheNextPacketGoWithIt) {
    // A packet with a bad checksum whose data holds a whole packet and then another: the first
    // inner packet is delivered together with every retained byte after its ETX, and those bytes
    // (the second inner packet among them) are not framed again.
    const Bytes inner = TrimblePacketOfSize(5);
    const Bytes other = TrimblePacketOfSize(3, 0x42);
    const Bytes outer = TrimbleWithBadChecksum(TrimblePacket(0x40, Concat({Hex("11 12"), inner, other, Hex("13")})));
    ASSERT_EQ(outer.size(), 29u);
    const Bytes expected(outer.begin() + 6, outer.end());
    const Bytes after = TrimblePacketOfSize(1);
    ExpectFramed(Concat({outer, after}), {expected, after}, {kChecksumLine, ThrowLine(6)});
}

TEST(TrimbleFramer, PacketArrivingInPiecesIsDeliveredOnceCompleteWithNothingLogged) {
    ManualRun run;
    const Bytes packet = TrimblePacketOfSize(100);
    for (size_t i = 0; i + 1 < packet.size(); ++i) {
        run.link.Feed(&packet[i], 1);
        run.Settle();
        ASSERT_EQ(run.monitor.MessageCount(), 0) << "after byte " << i;
        ASSERT_EQ(run.monitor.count, i < 3 ? 1u : 4u) << "after byte " << i;
    }
    EXPECT_TRUE(run.logs.StreamErrors().empty());
    run.link.Feed(&packet.back(), 1);
    run.Settle();
    EXPECT_EQ(run.Take(), std::vector<Bytes>{packet});
    EXPECT_EQ(run.monitor.state, KTrimbleStreamMonitor::kHunting);
    EXPECT_EQ(run.monitor.count, 0u);
    EXPECT_EQ(run.monitor.scanCount, 0u);
}

TEST(TrimbleFramer, ScanCountAddsTheBodyOnEveryPassAndClearsOnDelivery) {
    ManualRun run;
    const Bytes packet = TrimblePacketOfSize(200);
    run.link.Feed(packet.data(), 5);
    run.Settle();
    // STX (1) + rest of the header (3) + L + 2 for the pass that found the body incomplete.
    EXPECT_EQ(run.monitor.scanCount, 1u + 3u + 202u);
    for (int pass = 0; pass < 3; ++pass) run.monitor.ReadStep();
    EXPECT_EQ(run.monitor.scanCount, 1u + 3u + 4u * 202u);
    run.link.Feed(packet.data() + 5, packet.size() - 5);
    run.Settle();
    EXPECT_EQ(run.Take().size(), 1u);
    EXPECT_EQ(run.monitor.scanCount, 0u);
}

TEST(TrimbleFramer, BoundedScanGivesUpAfterTheLimitWithoutStx) {
    ManualRun run;
    run.monitor.boundedScan = true;
    const Bytes junk = TrimbleJunk(10000, 3);
    run.link.Feed(junk);
    // The whole hunt runs inside one step, which gives up on the 8193rd byte.
    EXPECT_FALSE(run.monitor.ReadStep());
    EXPECT_EQ(run.link.Readable(), 10000u - 8193u);
    EXPECT_EQ(run.monitor.scanCount, 8193u);
    // Each later step eats one byte unexamined, an STX included.
    const Bytes packet = TrimblePacketOfSize(3);
    run.link.Feed(packet);
    while (run.link.Readable() > 0) EXPECT_FALSE(run.monitor.ReadStep());
    EXPECT_EQ(run.monitor.MessageCount(), 0);
    EXPECT_TRUE(run.logs.StreamErrors().empty());
}

TEST(TrimbleFramer, BoundedScanCountsBytesSinceTheLastDeliveredPacket) {
    ManualRun run;
    run.monitor.boundedScan = true;
    const Bytes packet = TrimblePacketOfSize(30);
    // 8000 junk + 36: delivered (and cleared); again; then 8150 junk + 36 = 8186 still fits.
    run.link.Feed(Concat({TrimbleJunk(8000, 4), packet, TrimbleJunk(8000, 5), packet, TrimbleJunk(8150, 6), packet}));
    run.Settle();
    EXPECT_EQ(run.Take().size(), 3u);
    EXPECT_EQ(run.link.Readable(), 0u);

    // Bytes of failed packets count: 31 bad packets of 261 bytes reach 8091, the 32nd 8352.
    Bytes bad = TrimbleWithBadChecksum(TrimblePacketOfSize(255));
    ASSERT_FALSE(HoldsStxAfterFirstByte(bad));
    Bytes stream;
    for (int i = 0; i < 32; ++i) stream = Concat({stream, bad});
    run.link.Feed(Concat({stream, packet}));
    size_t steps = run.Settle();
    EXPECT_EQ(steps, 2u * 31u + 1u) << "hunt and body step per packet, then the hunt of the 32nd";
    EXPECT_EQ(run.monitor.scanCount, 31u * 261u + 261u);
    EXPECT_EQ(run.monitor.MessageCount(), 0);
    EXPECT_EQ(run.logs.StreamErrors().size(), 32u);
}

TEST(TrimbleFramer, ScanCountNeverWrapsBelowZeroInThrowAway) {
    // Retained bytes are handed back to the scan counter. Here the first throw-away keeps 260 of
    // 261 bytes and the packet read from them is shorter than what is kept, so the second
    // throw-away hands back more than was counted since: the counter must stop at 0, or a
    // bounded scan would end at once and miss the good packet that follows.
    Bytes outer(261, 0x11);
    outer[0] = 0x02;
    outer[1] = 0x02;  // status: the first kept STX
    outer[2] = 0x40;
    outer[3] = 0xFF;
    outer[4] = 0x00;  // d0: L of the packet seen from the status byte
    outer[5] = 0x02;  // d1: the second kept STX
    outer[6] = 0x55;  // d2: where that packet's ETX should be
    outer[260] = 0x55;
    const Bytes good = TrimblePacketOfSize(20);

    ManualRun run;
    run.monitor.boundedScan = true;
    run.link.Feed(Concat({outer, good}));
    size_t consumed = 0;
    while (run.monitor.ReadStep()) {
        consumed = outer.size() + good.size() - run.link.Readable();
        ASSERT_LE(run.monitor.scanCount, consumed);
    }
    EXPECT_EQ(run.Take(), std::vector<Bytes>{good});
    EXPECT_EQ(run.logs.StreamErrors(),
              (std::vector<std::string>{kNoEtxLine, ThrowLine(1), kNoEtxLine, ThrowLine(4), kNoEtxLine}));
}

TEST(TrimbleFramer, ScanCountSaturatesAtTheTop) {
    ManualRun run;
    run.monitor.scanCount = std::numeric_limits<uint32_t>::max() - 1;
    run.monitor.boundedScan = true;
    const Bytes packet = TrimblePacketOfSize(200);
    run.link.Feed(packet.data(), 10);
    for (int i = 0; i < 5; ++i) run.monitor.ReadStep();
    EXPECT_EQ(run.monitor.scanCount, std::numeric_limits<uint32_t>::max());
}

TEST(TrimbleFramer, LongMixedStreamFramesEveryGoodPacketAndReportsEveryBadOne) {
    std::mt19937 random(2024);
    Bytes stream;
    std::vector<Bytes> expected;
    std::vector<std::string> errors;
    auto randomPacket = [&] {
        Bytes data(random() % 256);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        return TrimblePacket(static_cast<uint8_t>(random()), data, static_cast<uint8_t>(random()));
    };
    for (int i = 0; i < 3000; ++i) {
        switch (random() % 4) {
        case 0: stream = Concat({stream, TrimbleJunk(random() % 40, static_cast<uint32_t>(i))}); break;
        case 1: {
            // Bad packets here hold no further STX, so nothing of them is retained.
            Bytes bad;
            const bool noEtx = random() % 2 == 0;
            do {
                bad = randomPacket();
                bad = noEtx ? TrimbleWithoutEtx(bad, static_cast<uint8_t>(0x04 + random() % 200))
                            : TrimbleWithBadChecksum(bad);
            } while (HoldsStxAfterFirstByte(bad));
            stream = Concat({stream, bad});
            errors.push_back(noEtx ? kNoEtxLine : kChecksumLine);
            break;
        }
        default: {
            const Bytes good = randomPacket();
            stream = Concat({stream, good});
            expected.push_back(good);
        }
        }
    }
    ExpectFramed(stream, expected, errors);
}
