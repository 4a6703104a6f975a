#include "monitors/KSiRFStreamMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "comm/KMemoryComm.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/SiRFFrames.h"
#include "support/StopGateComm.h"

namespace {

class SiRFProbe : public KSiRFStreamMonitor {
public:
    int32_t State() const { return state; }
    uint32_t Count() const { return count; }
    uint32_t HeaderNeed() const { return headerNeed; }
    uint32_t BodyNeed() const { return bodyNeed; }
    uint32_t Length() const { return length; }
};

std::string Skipped(int n) { return "SBP - skipped " + std::to_string(n) + " bytes to find sync marker"; }
std::string BadLength(int n) { return "SBP - Invalid payload length - " + std::to_string(n); }
const std::string kBadEnd = "SBP - invalid EOM";
const std::string kBadCrc = "SBP - Invalid CRC";
const std::string kBadRewind = "SiRF - Invalid Rewind";

void ExpectSirf(const Bytes& stream, const std::vector<Bytes>& messages, const std::vector<std::string>& errors) {
    ExpectFramed<KSiRFStreamMonitor>(stream, messages, errors);
}

struct Attached {
    KMemoryComm link;
    SiRFProbe monitor;
    Attached() {
        link.Open(0);
        monitor.Start(&link, false, "Test");
    }
};

} // namespace

TEST(SiRFFramer, DeliversMessagesFromEmptyPayloadToAFullBuffer) {
    const Bytes one = sirf::Frame(Hex("29"));
    ASSERT_EQ(ToHex(one), "A0 A2 00 01 29 00 29 B0 B3");  // the checksum of one byte is that byte
    std::vector<Bytes> frames = {sirf::Frame({}), one};
    uint8_t seed = 1;
    for (size_t size : {10, 64, 255, 256, 700, 1023, 1024, 8}) {
        frames.push_back(sirf::FrameOfSize(size, seed));
        ++seed;
    }
    Bytes stream;
    for (const Bytes& frame : frames) stream = Concat({stream, frame});
    ExpectSirf(stream, frames, {});
}

TEST(SiRFFramer, ChecksumIsThePayloadSumModulo32768) {
    // 1016 bytes of FF sum to 259080, which is 29704 modulo 32768.
    const Bytes full = sirf::Frame(Bytes(1016, 0xFF));
    ASSERT_EQ(full[1020], 0x74);
    ASSERT_EQ(full[1021], 0x08);
    const Bytes next = sirf::FrameOfSize(12);
    ExpectSirf(Concat({full, next}), {full, next}, {});
    // The same word with its top bit set does not match.
    Bytes topBit = full;
    topBit[1020] |= 0x80;
    ExpectSirf(Concat({topBit, next}), {next}, {kBadCrc, Skipped(1)});  // its last byte stays in the window
}

TEST(SiRFFramer, RefusesAPayloadThatWouldNotFitTheBuffer) {
    const Bytes a = sirf::FrameOfSize(1024), b = sirf::FrameOfSize(20);
    ExpectSirf(Concat({sirf::Header(1017), a, sirf::Header(0xFFFF), b}), {a, b}, {BadLength(1017), BadLength(65535)});
}

TEST(SiRFFramer, CountsJunkBeforeEachStart) {
    const Bytes a = sirf::FrameOfSize(15, 1), b = sirf::FrameOfSize(30, 2);
    ExpectSirf(Concat({Hex("10 20 30 40 50"), a, b, Hex("A0 A0"), a, Hex("A2"), b, Hex("B0 B3 A0"), a}),
               {a, b, a, b, a}, {Skipped(5), Skipped(2), Skipped(1), Skipped(3)});
}

TEST(SiRFFramer, FindsAStartArrivingOneByteAStep) {
    LogCapture capture;
    Attached a;
    a.link.Feed(Hex("A0"));
    EXPECT_TRUE(a.monitor.ReadStep());
    EXPECT_EQ(a.monitor.State(), 0);
    a.link.Feed(Hex("A2"));
    EXPECT_TRUE(a.monitor.ReadStep());
    EXPECT_EQ(a.monitor.State(), 1);
    EXPECT_EQ(a.monitor.Count(), 2u);
    EXPECT_EQ(a.monitor.HeaderNeed(), 2u);
    EXPECT_TRUE(capture.StreamErrors().empty());
}

TEST(SiRFFramer, BadEndDeliversTheMessageInsideAndFramesOn) {
    const Bytes inner = sirf::FrameOfSize(20, 4);
    const Bytes next = sirf::FrameOfSize(10, 5);
    const Bytes outer = sirf::WithBadEnd(sirf::Frame(Concat({Hex("11 12"), inner, Hex("13 14 15")})));
    // Of the bytes after the inner message only the last stays in the hunt window.
    ExpectSirf(Concat({outer, next}), {inner, next}, {kBadEnd, Skipped(1)});
}

TEST(SiRFFramer, BadChecksumDeliversTheMessageInsideAndFramesOn) {
    const Bytes inner = sirf::FrameOfSize(9, 4);
    const Bytes next = sirf::FrameOfSize(10, 5);
    const Bytes outer = sirf::WithBadChecksum(sirf::Frame(Concat({Hex("11"), inner, Hex("13")})));
    ExpectSirf(Concat({outer, next}), {inner, next}, {kBadCrc, Skipped(1)});
}

TEST(SiRFFramer, RewindDeliversEveryCompleteMessageInside) {
    const Bytes one = sirf::FrameOfSize(8, 1), two = sirf::FrameOfSize(33, 2), three = sirf::FrameOfSize(12, 3);
    const Bytes outer = sirf::WithBadEnd(sirf::Frame(Concat({one, two, Hex("77"), three, Hex("78 79")})));
    ExpectSirf(Concat({outer, one}), {one, two, three, one}, {kBadEnd, Skipped(1)});
}

TEST(SiRFFramer, AStartSplitAcrossABadFrameAndNewBytesIsFound) {
    // The bad frame ends in A0 (its end sequence is B0 A0): the hunt keeps it and finds the start
    // when A2 arrives, with nothing skipped.
    const Bytes bad = Concat({sirf::Header(2), Hex("21 22 00 43 B0 A0")});
    const Bytes follow = sirf::FrameOfSize(14);
    ExpectSirf(Concat({bad, Slice(follow, 1, follow.size())}), {follow}, {kBadEnd});
}

TEST(SiRFFramer, RewindResumesALengthCutByTheBadFrame) {
    const Bytes inner = sirf::FrameOfSize(25, 6);
    const Bytes next = sirf::FrameOfSize(9);
    for (size_t carried : {2u, 3u}) {
        SCOPED_TRACE("carried " + std::to_string(carried));
        const Bytes outer = sirf::OuterCarrying(Hex("31 32 33"), inner, carried);
        ExpectSirf(Concat({outer, Slice(inner, carried, inner.size()), next}), {inner, next}, {kBadEnd});

        LogCapture capture;
        Attached a;
        a.link.Feed(outer);
        EXPECT_TRUE(DrainFramer(a.monitor).empty());
        EXPECT_EQ(a.monitor.State(), 1);
        EXPECT_EQ(a.monitor.Count(), carried);
        EXPECT_EQ(a.monitor.HeaderNeed(), 4 - carried);
    }
}

TEST(SiRFFramer, RewindReadsTheRestOfAMessageCutByTheBadFrame) {
    const Bytes inner = sirf::FrameOfSize(40, 6);
    const Bytes next = sirf::FrameOfSize(9);
    for (size_t carried : {4u, 5u, 20u, 38u, 39u}) {
        SCOPED_TRACE("carried " + std::to_string(carried));
        const Bytes outer = sirf::OuterCarrying(Hex("31"), inner, carried);
        ExpectSirf(Concat({outer, Slice(inner, carried, inner.size()), next}), {inner, next}, {kBadEnd});

        LogCapture capture;
        Attached a;
        a.link.Feed(outer);
        EXPECT_TRUE(DrainFramer(a.monitor).empty());
        EXPECT_EQ(a.monitor.State(), 2);
        EXPECT_EQ(a.monitor.Count(), carried);
        EXPECT_EQ(a.monitor.BodyNeed(), 40 - carried);
        EXPECT_EQ(a.monitor.Length(), 32u);
    }
}

TEST(SiRFFramer, RewindSkipsCandidatesWithImpossibleLengthsOrBadChecksums) {
    const Bytes inner = sirf::FrameOfSize(10, 7);
    const Bytes broken = sirf::WithBadChecksum(sirf::FrameOfSize(9, 8));
    const Bytes body = Concat({Hex("A0 A2 FF FF"),  // 65535
                               Hex("A0 A2 03 F9"),  // 1017: one past the buffer
                               broken, inner, Hex("41")});
    const Bytes outer = sirf::WithBadEnd(sirf::Frame(body));
    // A candidate with a bad checksum is dropped without a line.
    ExpectSirf(Concat({outer, inner}), {inner, inner}, {kBadEnd, BadLength(65535), BadLength(1017), Skipped(1)});
}

TEST(SiRFFramer, AfterARewindEndingOnAMessageOldBytesCannotFormAStart) {
    const Bytes inner = sirf::FrameOfSize(12, 9);
    // The inner message ends where the bad frame does: its end holds, its checksum does not.
    const Bytes outer = sirf::OuterCarrying(Hex("31 32"), inner, inner.size());
    // A2 and the rest of a frame: only a window still holding A0 would take it for one.
    const Bytes phantom = sirf::FrameOfSize(11, 10);
    const Bytes next = sirf::FrameOfSize(9, 11);
    ExpectSirf(Concat({outer, Slice(phantom, 1, phantom.size()), next}), {inner, next}, {kBadCrc, Skipped(10)});
}

TEST(SiRFFramer, BoundedScanGivesUpAfterTheScanLimit) {
    Attached a;
    a.link.Feed(Bytes(10000, 0x00));
    a.monitor.boundedScan = true;
    size_t steps = 0;
    while (a.monitor.ReadStep()) ++steps;
    EXPECT_EQ(steps, 8192u);
    EXPECT_EQ(a.link.Readable(), 10000u - 8193u);
    EXPECT_FALSE(a.monitor.ReadStep());
    EXPECT_EQ(a.link.Readable(), 10000u - 8194u);

    LogCapture capture;
    a.monitor.Stop();
    a.monitor.Start(&a.link, false, "Test");
    EXPECT_FALSE(a.monitor.boundedScan);
    a.monitor.boundedScan = true;
    const Bytes frame = sirf::FrameOfSize(10);
    a.link.Feed(Concat({Bytes(8190 - a.link.Readable(), 0x00), frame}));  // 8190 junk bytes in all
    EXPECT_EQ(DrainFramer(a.monitor), std::vector<Bytes>{frame});
    EXPECT_EQ(capture.StreamErrors(), std::vector<std::string>{Skipped(8190)});
}

// Streams of frames, damaged frames, frames inside damaged ones and noise: whatever the
// chunking, exactly the intact frames come out, with the same log lines.
TEST(SiRFFramer, RandomStreamsFrameTheSameWhateverTheChunking) {
    std::mt19937 random(5);
    for (uint32_t round = 0; round < 40; ++round) {
        Bytes stream;
        std::vector<Bytes> expected;
        for (int part = 0; part < 30; ++part) {
            const size_t size = 8 + random() % (random() % 4 == 0 ? 1017 : 80);
            const Bytes frame = sirf::FrameOfSize(size, static_cast<uint8_t>(random()));
            switch (random() % 7) {
            case 0: stream = Concat({stream, sirf::WithBadChecksum(frame)}); break;
            case 1: stream = Concat({stream, sirf::WithBadEnd(frame)}); break;
            case 2: {
                const size_t carried = frame.size() - random() % 4;
                stream = Concat({stream, sirf::OuterCarrying(Bytes(random() % 9, 0x42), frame, carried),
                                 Slice(frame, carried, frame.size())});
                expected.push_back(frame);
                break;
            }
            case 3: {
                Bytes noise(random() % 40);  // A0 often, A2 never: never a whole start
                for (uint8_t& b : noise) {
                    const uint32_t r = random();
                    b = static_cast<uint8_t>(r % 3 == 0 ? 0xA0 : r % 0xA2);
                }
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
        ExpectSameInEveryChunking<KSiRFStreamMonitor>(stream, expected, round);
    }
}

