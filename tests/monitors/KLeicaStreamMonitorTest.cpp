#include "monitors/KLeicaStreamMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "comm/KMemoryComm.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"
#include "support/LeicaFrames.h"
#include "support/LogCapture.h"
#include "support/StopGateComm.h"

namespace {

class LeicaProbe : public KLeicaStreamMonitor {
public:
    int32_t State() const { return state; }
    uint32_t Count() const { return count; }
    uint32_t TotalLength() const { return totalLength; }
};

std::string Skipped(int n) { return "LB2 - skipped " + std::to_string(n) + " bytes to find sync marker"; }
std::string BadLength(int n) { return "LB2 - invalid message length - " + std::to_string(n); }
std::string Attempt(int n) { return "LB2 - attempting rewind on " + std::to_string(n) + " bytes"; }
std::string Recovered(int i) { return "LB2 - rewind sync recovered at " + std::to_string(i) + " bytes"; }
std::string BadRewoundLength(int n) { return "LB2 - invalid rewound message length - " + std::to_string(n); }
const std::string kBadCrc = "LB2 - invalid CRC";
const std::string kNoSync = "LB2 - unable to rewind, sync not found";

} // namespace

TEST(LeicaFramer, DeliversTheLeicaCommandFramesWhateverTheChunking) {
    // Complete frames of the Leica commands, as the receivers send them.
    const std::vector<std::pair<std::string, std::string>> known = {
        {"82 00 00 C8 85 00 00 00", "9C AE 0C 00 82 00 00 C8 85 00 00 00 25 FE"},
        {"FA 94 00 00", "9C AE 08 00 FA 94 00 00 6A FE"},
        {"82 00 00 FC 00 00 00 00", "9C AE 0C 00 82 00 00 FC 00 00 00 00 76 FE"},
        {"DB 00", "9C AE 06 00 DB 00 1F FF"},
        {"FA 82 00 0A 00 08 01 00", "9C AE 0C 00 FA 82 00 0A 00 08 01 00 65 FE"},
        {"80 00 0A 00 FF FF", "9C AE 0A 00 80 00 0A 00 FF FF 6E FD"},
    };
    std::vector<Bytes> frames;
    Bytes stream;
    for (const auto& [payload, frame] : known) {
        ASSERT_EQ(ToHex(leica::Frame(Hex(payload))), frame);
        frames.push_back(Hex(frame));
        stream = Concat({stream, Hex(frame)});
    }
    ExpectFramed<KLeicaStreamMonitor>(stream, frames, {});
}

TEST(LeicaFramer, DeliversFramesOfEverySizeBackToBack) {
    std::vector<Bytes> frames;
    Bytes stream;
    uint8_t seed = 3;
    for (size_t size : {7, 8, 9, 10, 64, 255, 256, 257, 1000, 4095, 4096, 7}) {
        frames.push_back(leica::FrameOfSize(size, seed++));
        stream = Concat({stream, frames.back()});
    }
    ExpectFramed<KLeicaStreamMonitor>(stream, frames, {});
}

TEST(LeicaFramer, RefusesLengthsOutsideSevenTo4096AndHuntsOn) {
    const Bytes a = leica::FrameOfSize(7), b = leica::FrameOfSize(4096), c = leica::FrameOfSize(30);
    // L = 4 is one short of the smallest message, L = 4095 one past the buffer.
    ExpectFramed<KLeicaStreamMonitor>(Concat({leica::Header(4), a, leica::Header(4095), b, leica::Header(0), c, leica::Header(0xFFFF), a}),
                 {a, b, c, a}, {BadLength(6), BadLength(4097), BadLength(2), BadLength(65537)});
}

TEST(LeicaFramer, CountsJunkBeforeEachSync) {
    const Bytes a = leica::FrameOfSize(12, 1), b = leica::FrameOfSize(40, 2);
    Bytes junk300(300);
    for (size_t i = 0; i < junk300.size(); ++i) junk300[i] = static_cast<uint8_t>(i * 31 % 0x9C);
    // A junk run that ends in a first sync byte, and lone AE bytes, are skipped like any junk.
    ExpectFramed<KLeicaStreamMonitor>(Concat({Hex("01 02 03 04 9C"), a, junk300, b, Hex("9C 9C"), a, Hex("AE"), b, a}),
                 {a, b, a, b, a}, {Skipped(5), Skipped(300), Skipped(2), Skipped(1)});
}

TEST(LeicaFramer, BadChecksumWithoutAnInnerSyncHuntsAfresh) {
    const Bytes bad = leica::WithBadChecksum(leica::FrameOfSize(20));
    const Bytes good = leica::FrameOfSize(9);
    ExpectFramed<KLeicaStreamMonitor>(Concat({bad, good}), {good}, {kBadCrc, Attempt(20), kNoSync});
}

TEST(LeicaFramer, RewindDeliversAnInnerMessageEndingWithTheBadOneWithoutReadingMore) {
    const Bytes inner = leica::FrameOfSize(15, 7);
    const Bytes outer = leica::OuterCarrying(Hex("11 22 33"), inner, inner.size());
    const Bytes next = leica::FrameOfSize(8);
    ExpectFramed<KLeicaStreamMonitor>(Concat({outer, next}), {inner, next}, {kBadCrc, Attempt(22), Recovered(7)});

    // Only the bad frame's bytes have arrived: the inner message comes out all the same.
    LogCapture capture;
    KMemoryComm link;
    link.Open(0);
    LeicaProbe monitor;
    monitor.Start(&link, false, "Test");
    link.Feed(outer);
    const std::vector<Bytes> got = DrainFramer(monitor);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], inner);
    EXPECT_EQ(monitor.State(), 1);
    EXPECT_EQ(monitor.Count(), 0u);
}

TEST(LeicaFramer, RewindReadsWhatAnInnerMessageStillLacks) {
    const Bytes inner = leica::FrameOfSize(30, 5);
    const Bytes next = leica::FrameOfSize(11);
    for (size_t carried : {4u, 5u, 12u, 29u}) {
        SCOPED_TRACE("carried " + std::to_string(carried));
        const Bytes outer = leica::OuterCarrying(Hex("00 00 00 00 00"), inner, carried);
        ExpectFramed<KLeicaStreamMonitor>(Concat({outer, Slice(inner, carried, inner.size()), next}), {inner, next},
                     {kBadCrc, Attempt(static_cast<int>(outer.size())), Recovered(9)});
    }
}

TEST(LeicaFramer, RewindOnASyncInTheThirdLastByteReadsTheLengthFirst) {
    const Bytes inner = leica::FrameOfSize(10, 9);
    const Bytes outer = leica::OuterCarrying(Hex("55 66"), inner, 3);  // ends 9C AE <low length byte>
    ExpectFramed<KLeicaStreamMonitor>(Concat({outer, Slice(inner, 3, inner.size())}), {inner},
                 {kBadCrc, Attempt(9), Recovered(6)});

    LogCapture capture;
    KMemoryComm link;
    link.Open(0);
    LeicaProbe monitor;
    monitor.Start(&link, false, "Test");
    link.Feed(outer);
    EXPECT_TRUE(DrainFramer(monitor).empty());
    EXPECT_EQ(monitor.State(), 2);  // three bytes held: the length is not complete
    EXPECT_EQ(monitor.Count(), 3u);
}

TEST(LeicaFramer, SyncInTheLastTwoBytesOfABadFrameIsNotLookedFor) {
    const Bytes inner = leica::FrameOfSize(10, 9);
    const Bytes outer = leica::OuterCarrying(Hex("55 66 77"), inner, 2);
    const Bytes next = leica::FrameOfSize(8);
    // The inner message's sync went with the bad frame, so its rest is junk to the hunt.
    ExpectFramed<KLeicaStreamMonitor>(Concat({outer, Slice(inner, 2, inner.size()), next}), {next},
                 {kBadCrc, Attempt(9), kNoSync, Skipped(8)});
}

TEST(LeicaFramer, RewindGivesUpOnAnInnerMessageThatEndsInsideTheBadOne) {
    const Bytes inner = leica::FrameOfSize(9, 2);
    const Bytes outer = Concat({leica::Header(20), Hex("01"), inner, Hex("05 06 07 08 09 0A 0B 0C")});
    ASSERT_EQ(outer.size(), 22u);
    ASSERT_FALSE(leica::IsValid(outer));
    const Bytes next = leica::FrameOfSize(8);
    ExpectFramed<KLeicaStreamMonitor>(Concat({outer, next}), {next}, {kBadCrc, Attempt(22), Recovered(5), BadRewoundLength(9)});
}

TEST(LeicaFramer, RewindRefusesAnInnerLengthOutOfRange) {
    const Bytes next = leica::FrameOfSize(8);
    const Bytes tooShort = Concat({leica::Header(12), Hex("01 02"), leica::Header(4), Hex("03 04 05 06")});
    ASSERT_FALSE(leica::IsValid(tooShort));
    ExpectFramed<KLeicaStreamMonitor>(Concat({tooShort, next}), {next}, {kBadCrc, Attempt(14), Recovered(6), BadRewoundLength(6)});
    const Bytes tooLong = Concat({leica::Header(12), Hex("01 02"), leica::Header(4095), Hex("03 04 05 06")});
    ASSERT_FALSE(leica::IsValid(tooLong));
    ExpectFramed<KLeicaStreamMonitor>(Concat({tooLong, next}), {next}, {kBadCrc, Attempt(14), Recovered(6), BadRewoundLength(4097)});
}

TEST(LeicaFramer, ARewoundMessageThatFailsItsChecksumIsRewoundInTurn) {
    const Bytes inner = leica::FrameOfSize(12, 4);
    // The middle frame ends with the inner one, the outer ends inside the middle one.
    const Bytes middle = leica::OuterCarrying(Hex("21 22 23 24 25 26"), inner, inner.size());
    const Bytes outer = leica::OuterCarrying(Hex("31 32"), middle, 10);
    const Bytes next = leica::FrameOfSize(7);
    ExpectFramed<KLeicaStreamMonitor>(Concat({outer, Slice(middle, 10, middle.size()), next}), {inner, next},
                 {kBadCrc, Attempt(16), Recovered(6), kBadCrc, Attempt(22), Recovered(10)});
}

TEST(LeicaFramer, BoundedScanGivesUpWithinOneStepAfterTheScanLimit) {
    const Bytes junk(10000, 0x00);
    KMemoryComm link;
    link.Open(0);
    LeicaProbe monitor;
    monitor.Start(&link, false, "Test");
    link.Feed(junk);
    monitor.boundedScan = true;
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 10000u - 8193u);
    EXPECT_EQ(monitor.Count(), 8193u);
    // The limit counts the bytes of one step: the next step hunts through the rest.
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 0u);
    EXPECT_EQ(monitor.Count(), 10000u);

    // Without the bound, one step reads all that has arrived.
    monitor.boundedScan = false;
    link.Feed(junk);
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 0u);

    // A sync within the limit is still found in the first step.
    monitor.Stop();
    LogCapture capture;
    monitor.Start(&link, false, "Test");
    EXPECT_FALSE(monitor.boundedScan);  // Start clears it
    monitor.boundedScan = true;
    const Bytes frame = leica::FrameOfSize(10);
    link.Feed(Concat({Bytes(8190, 0x00), frame}));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.State(), 2);
    EXPECT_EQ(DrainFramer(monitor), std::vector<Bytes>{frame});
    EXPECT_EQ(capture.StreamErrors(), std::vector<std::string>{Skipped(8190)});
}

// Streams of frames, damaged frames, frames inside damaged ones and noise: whatever the
// chunking, exactly the intact frames come out, with the same log lines.
TEST(LeicaFramer, RandomStreamsFrameTheSameWhateverTheChunking) {
    std::mt19937 random(20240607);
    for (uint32_t round = 0; round < 40; ++round) {
        Bytes stream;
        std::vector<Bytes> expected;
        for (int part = 0; part < 30; ++part) {
            const size_t size = 7 + random() % (random() % 4 == 0 ? 4090 : 60);
            Bytes frame = leica::FrameOfSize(size, static_cast<uint8_t>(random()));
            switch (random() % 6) {
            case 0: stream = Concat({stream, leica::WithBadChecksum(frame)}); break;
            case 1: {
                const size_t carried = frame.size() - random() % 3;
                stream = Concat({stream, leica::OuterCarrying(Bytes(random() % 9, 0x42), frame, carried),
                                 Slice(frame, carried, frame.size())});
                expected.push_back(frame);
                break;
            }
            case 2: {
                Bytes noise(random() % 40);  // never a whole sync
                for (uint8_t& b : noise) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x9C : random() % 0x9C);
                stream = Concat({stream, noise, frame});
                expected.push_back(frame);
                break;
            }
            default:
                stream = Concat({stream, frame});
                expected.push_back(frame);
                break;
            }
        }
        ExpectSameInEveryChunking<KLeicaStreamMonitor>(stream, expected, round);
    }
}

