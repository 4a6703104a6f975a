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
#include "monitors/KNovatelStreamMonitor.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/NovatelFrames.h"

namespace {

const std::string kHeaderLengthLine =
    "Novatel - Header length is not consistant with known header structure";
const std::string kNotBinaryLine = "Novatel - Header message type not binary";
const std::string kCrcLine = "Novatel - Invalid CRC";

std::string SkipLine(int n) {
    return "Novatel - skipped " + std::to_string(n) + " bytes to find sync marker";
}
std::string TooLongLine(int m) {
    return "Novatel - Total message length greater than receiving buffer size - " + std::to_string(m);
}

// Opens the framer's insides to the tests.
class NovatelProbe : public KNovatelStreamMonitor {
public:
    using KNovatelStreamMonitor::buffer;
    using KNovatelStreamMonitor::count;
    using KNovatelStreamMonitor::headerLength;
    using KNovatelStreamMonitor::headerLengthRead;
    using KNovatelStreamMonitor::length;
    using KStreamMonitor::state;
};

// A framer on a memory link, stepped by hand.
struct ManualRun {
    ManualRun() {
        link.Open(0);
        monitor.Start(&link, false, "Test");
    }
    // Steps until a step answers false; the number of steps that answered true.
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
    NovatelProbe monitor;
};

const Chunking kAllChunkings[] = {Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce};

// Runs the stream in every chunking (and a few random splits) and expects the same outcome.
void ExpectFramed(const Bytes& stream, const std::vector<Bytes>& messages,
                  const std::vector<std::string>& errors) {
    for (Chunking chunking : kAllChunkings) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            if (chunking != Chunking::Random && seed > 1) continue;
            NovatelProbe monitor;
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

} // namespace

TEST(NovatelCrc, TableDrivenCrcAgreesWithTheBitwiseDefinition) {
    const char* check = "123456789";
    EXPECT_EQ(KNovatelStreamMonitor::Crc(reinterpret_cast<const uint8_t*>(check), 9), 0x2DFD2D88u);
    std::mt19937 random(7);
    for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1000, 4096}) {
        Bytes data(size);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        EXPECT_EQ(KNovatelStreamMonitor::Crc(data.data(), data.size()), NovatelCrc32(data)) << size;
    }
    // The residue property the framer relies on: a log's CRC over itself, CRC included, is 0.
    const Bytes log = NovatelLogOfSize(123);
    EXPECT_EQ(KNovatelStreamMonitor::Crc(log.data(), log.size()), 0u);
}

TEST(NovatelFramer, DeliversEveryLogByteExactWhateverTheChunking) {
    std::vector<Bytes> logs;
    for (size_t size : {0, 1, 4, 28, 100, 1000, 4064}) logs.push_back(NovatelLogOfSize(size, 100));
    NovatelHeader response;
    response.messageType = 0x80;  // response bit; the format bits are still binary
    response.messageId = 1;
    logs.push_back(NovatelLog(Hex("01 00 00 00 4F 4B"), response));
    Bytes stream;
    for (const Bytes& log : logs) stream = Concat({stream, log});
    ExpectFramed(stream, logs, {});
}

TEST(NovatelFramer, JunkBeforeTheSyncIsSkippedAndCounted) {
    const Bytes a = NovatelLogOfSize(40);
    const Bytes b = NovatelLogOfSize(0);
    const Bytes c = NovatelLogOfSize(8);
    // Partial syncs in the junk must not confuse the window: "AA 44" and "AA AA 44" lead-ins.
    const Bytes stream = Concat({Hex("00 01 02 03 04"), a, Hex("AA 44"), b, Hex("AA AA 44 AA 44 44"), Repeat(0x12, 300), c,
                                 Hex("AA 44")});
    ExpectFramed(stream, {a, b, c}, {SkipLine(5), SkipLine(2), SkipLine(306)});
}

TEST(NovatelFramer, SyncAtTheVeryStartLogsNothing) {
    const Bytes a = NovatelLogOfSize(12);
    ExpectFramed(Concat({a, a}), {a, a}, {});
}

TEST(NovatelFramer, CorruptLogIsDroppedWholeAndTheHuntGoesOnAfterIt) {
    const Bytes good = NovatelLogOfSize(60);
    const Bytes badCrc = NovatelWithBadCrc(NovatelLogOfSize(60));
    Bytes badData = NovatelLogOfSize(60);
    badData[40] ^= 0x80;
    // A good log inside the data of a damaged one is not looked for: there is no rewind.
    const Bytes inner = NovatelLogOfSize(4);
    Bytes carrier = NovatelLog(Concat({Hex("01 02"), inner, Hex("03")}));
    carrier[29] ^= 0xFF;
    const Bytes stream = Concat({badCrc, good, badData, good, carrier, good});
    ExpectFramed(stream, {good, good, good}, {kCrcLine, kCrcLine, kCrcLine});
}

TEST(NovatelFramer, LongestLogIsAcceptedAndTheFirstTooLongIsRefusedWithItsLength) {
    const Bytes longest = NovatelLogOfSize(4064);
    ASSERT_EQ(longest.size(), 4096u);
    const Bytes tooLong = NovatelLogOfSize(4065);
    const Bytes next = NovatelLogOfSize(3);
    // Only the header of the refused log is consumed; its 4065 + 4 further bytes are hunted.
    ExpectFramed(Concat({longest, tooLong, next}), {longest, next},
                 {TooLongLine(4065), SkipLine(4065 + 4)});

    // The largest length field is reported as the unsigned number it is.
    Bytes header = NovatelLogOfSize(0);
    header[8] = 0xFF;
    header[9] = 0xFF;
    header.resize(28);
    ExpectFramed(Concat({header, next}), {next}, {TooLongLine(65535)});
}

TEST(NovatelFramer, ShortForeignHeaderIsReadThenRefused) {
    // Header length 20: 16 more bytes are read, the line is logged, and the hunt resumes
    // right after them, so a log that follows at once is found without a skip.
    const Bytes next = NovatelLogOfSize(10);
    ExpectFramed(Concat({NovatelForeignHeader(20), next}), {next}, {kHeaderLengthLine});

    ManualRun run;
    const Bytes foreign = NovatelForeignHeader(20);
    run.link.Feed(foreign.data(), foreign.size() - 1);
    run.Settle();
    EXPECT_TRUE(run.logs.StreamErrors().empty()) << "logged before the 16 bytes had arrived";
    EXPECT_EQ(run.monitor.state, KNovatelStreamMonitor::kHeader);
    EXPECT_TRUE(run.monitor.headerLengthRead);
    EXPECT_EQ(run.monitor.headerLength, 20);
    EXPECT_EQ(run.link.Readable(), 15u) << "the header remainder is read all at once";
    run.link.Feed(&foreign.back(), 1);
    run.Settle();
    EXPECT_EQ(run.logs.StreamErrors(), std::vector<std::string>{kHeaderLengthLine});
    EXPECT_EQ(run.link.Readable(), 0u);
    EXPECT_EQ(run.monitor.state, KNovatelStreamMonitor::kHunting);
}

TEST(NovatelFramer, LongerForeignHeadersAreReadWholeThenRefused) {
    const Bytes next = NovatelLogOfSize(10);
    for (int hl : {5, 27, 29, 255}) {
        SCOPED_TRACE(hl);
        ExpectFramed(Concat({NovatelForeignHeader(static_cast<uint8_t>(hl)), next}), {next},
                     {kHeaderLengthLine});
    }
}

TEST(NovatelFramer, HeaderLengthOfFourOrLessIsRefusedAtOnce) {
    const Bytes next = NovatelLogOfSize(10);
    for (int hl = 0; hl <= 4; ++hl) {
        SCOPED_TRACE(hl);
        ExpectFramed(Concat({Hex("AA 44 12"), Bytes{static_cast<uint8_t>(hl)}, next}), {next},
                     {kHeaderLengthLine});

        // Nothing beyond the length byte is needed to decide.
        ManualRun run;
        run.link.Feed(Concat({Hex("AA 44 12"), Bytes{static_cast<uint8_t>(hl)}}));
        run.Settle();
        EXPECT_EQ(run.logs.StreamErrors(), std::vector<std::string>{kHeaderLengthLine});
        EXPECT_EQ(run.monitor.state, KNovatelStreamMonitor::kHunting);
        EXPECT_EQ(run.monitor.count, 0u);
    }
}

TEST(NovatelFramer, AsciiAndAbbreviatedFormatsAreRefused) {
    const Bytes next = NovatelLogOfSize(10);
    for (uint8_t type : {0x20, 0x40, 0x60, 0x3F, 0xE0}) {
        SCOPED_TRACE(static_cast<int>(type));
        // Only the header is consumed: the data and CRC of the refused log are hunted through.
        const Bytes refused = NovatelWithByte(NovatelLogOfSize(7), 6, type);
        ExpectFramed(Concat({refused, next}), {next}, {kNotBinaryLine, SkipLine(7 + 4)});
    }
    // The header-length check comes first.
    Bytes both = NovatelForeignHeader(30);
    both[6] = 0x20;
    ExpectFramed(Concat({both, next}), {next}, {kHeaderLengthLine});
}

TEST(NovatelFramer, LogArrivingInPiecesIsDeliveredOnceCompleteWithNothingLogged) {
    ManualRun run;
    const Bytes log = NovatelLogOfSize(300);
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        run.link.Feed(&log[i], 1);
        run.Settle();
        ASSERT_EQ(run.monitor.MessageCount(), 0) << "after byte " << i;
    }
    EXPECT_TRUE(run.logs.StreamErrors().empty());
    EXPECT_EQ(run.monitor.state, KNovatelStreamMonitor::kBody);
    run.link.Feed(&log.back(), 1);
    run.Settle();
    const auto messages = run.Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], log);
}

TEST(NovatelFramer, BoundedScanGivesUpAfterTheLimitUntilReset) {
    ManualRun run;
    run.monitor.boundedScan = true;
    const Bytes log = NovatelLogOfSize(16);
    run.link.Feed(Concat({Repeat(0x00, 10000), log}));
    // 8192 hunted bytes are fine; the 8193rd ends the step with false.
    EXPECT_EQ(run.Settle(), 8192u);
    EXPECT_EQ(run.monitor.huntCount, 8193u);
    EXPECT_EQ(run.link.Readable(), 10000u - 8193u + log.size());
    // From then on every step eats one byte unexamined, the log's sync included.
    while (run.link.Readable() > 0) EXPECT_FALSE(run.monitor.ReadStep());
    EXPECT_EQ(run.monitor.MessageCount(), 0);
    EXPECT_TRUE(run.logs.StreamErrors().empty());

    // The receiver's restart of the counter (it begins each bounded scan with it) reopens the hunt.
    run.monitor.huntCount = 0;
    run.link.Feed(log);
    run.Settle();
    EXPECT_EQ(run.Take(), std::vector<Bytes>{log});
}

TEST(NovatelFramer, BoundedScanCountsOnlyHuntedBytesSinceTheLastDeliveredLog) {
    ManualRun run;
    run.monitor.boundedScan = true;
    const Bytes good = NovatelLogOfSize(2000);
    const Bytes bad = NovatelWithBadCrc(NovatelLogOfSize(3000));
    // 8000 + 3 hunted, log delivered (counter back to 0), 8000 + 3 hunted, then a failed log
    // whose 3032 bytes do not count, 100 + 3 hunted: 8106 in all, inside the limit.
    run.link.Feed(Concat({Repeat(0x11, 8000), good, Repeat(0x11, 8000), bad, Repeat(0x11, 100), good}));
    run.Settle();
    EXPECT_EQ(run.Take(), (std::vector<Bytes>{good, good}));
    EXPECT_EQ(run.monitor.huntCount, 0u);
    EXPECT_EQ(run.link.Readable(), 0u);

    // One more hunted byte than allowed: 8190 junk + 3 sync bytes = 8193 > 8192.
    run.link.Feed(Concat({Repeat(0x11, 8190), good}));
    run.Settle();
    EXPECT_EQ(run.monitor.MessageCount(), 0);
    EXPECT_EQ(run.monitor.huntCount, 8193u);
}

TEST(NovatelFramer, HuntCountersSaturateInsteadOfWrapping) {
    ManualRun run;
    // As after four gigabytes of noise.
    run.monitor.count = std::numeric_limits<uint32_t>::max() - 1;
    run.monitor.huntCount = std::numeric_limits<uint32_t>::max() - 1;
    const Bytes log = NovatelLogOfSize(5);
    run.link.Feed(log);
    run.Settle();
    EXPECT_EQ(run.Take(), std::vector<Bytes>{log});
    EXPECT_EQ(run.logs.StreamErrors(), std::vector<std::string>{SkipLine(2147483647)});

    // A spent bounded scan stays spent however long the hunt goes on.
    run.monitor.boundedScan = true;
    run.monitor.huntCount = std::numeric_limits<uint32_t>::max() - 1;
    run.link.Feed(Concat({Repeat(0x00, 4), log}));
    while (run.link.Readable() > 0) EXPECT_FALSE(run.monitor.ReadStep());
    EXPECT_EQ(run.monitor.huntCount, std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(run.monitor.MessageCount(), 0);
}

TEST(NovatelFramer, BodyStateNeverReadsPastTheBuffer) {
    ManualRun run;
    run.monitor.state = KNovatelStreamMonitor::kBody;
    run.monitor.count = 28;
    run.monitor.length = 5000;  // a length the header check would have refused
    run.link.Feed(Repeat(0x00, 6000));
    EXPECT_FALSE(run.monitor.ReadStep());
    EXPECT_EQ(run.link.Readable(), 6000u);
    EXPECT_EQ(run.monitor.state, KNovatelStreamMonitor::kHunting);
}
