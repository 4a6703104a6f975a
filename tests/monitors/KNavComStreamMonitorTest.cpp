#include "monitors/KNavComStreamMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "comm/KMemoryComm.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/NavComFrames.h"
#include "support/StopGateComm.h"

namespace {

class NavComProbe : public KNavComStreamMonitor {
public:
    int32_t State() const { return state; }
    uint32_t Count() const { return count; }
    uint32_t HeaderNeed() const { return headerNeed; }
    uint32_t BodyNeed() const { return bodyNeed; }
    uint32_t Length() const { return length; }
};

std::string Skipped(int n) { return "Navcom - Skipped " + std::to_string(n) + " bytes to find sync marker"; }
std::string TooLong(int n) {
    return "Navcom - Total message length greater than receiving buffer size - " + std::to_string(n);
}
std::string BadLength(int n) { return "Navcom - Invalid payload length - " + std::to_string(n); }
const std::string kBadEtx = "Navcom - Invalid ETX";
const std::string kBadChecksum = "Navcom - Invalid Checksum";
const std::string kBadRewind = "Navcom - Invalid Rewind";

void ExpectNavCom(const Bytes& stream, const std::vector<Bytes>& messages, const std::vector<std::string>& errors) {
    ExpectFramed<KNavComStreamMonitor>(stream, messages, errors);
}

struct Attached {
    KMemoryComm link;
    NavComProbe monitor;
    Attached() {
        link.Open(0);
        monitor.Start(&link, false, "Test");
    }
};

} // namespace

TEST(NavComFramer, DeliversMessagesFromEmptyPayloadToAFullBuffer) {
    const Bytes empty = navcom::Frame(0x21, {});
    ASSERT_EQ(ToHex(empty), "02 99 66 21 04 00 25 03");  // checksum 21 ^ 04 ^ 00
    std::vector<Bytes> frames = {empty};
    uint8_t seed = 1;
    for (size_t size : {9, 10, 64, 255, 256, 1000, 4095, 4096, 8}) {
        frames.push_back(navcom::FrameOfSize(size, static_cast<uint8_t>(0x40 + seed), seed));
        ++seed;
    }
    Bytes stream;
    for (const Bytes& frame : frames) stream = Concat({stream, frame});
    ExpectNavCom(stream, frames, {});
}

TEST(NavComFramer, RefusesAHeaderWhoseMessageWouldNotFitTheBuffer) {
    const Bytes a = navcom::FrameOfSize(4096), b = navcom::FrameOfSize(20);
    ExpectNavCom(Concat({navcom::Header(0x10, 4093), a, navcom::Header(0x10, 0xFFFF), b}), {a, b},
                 {TooLong(4097), TooLong(65539)});
}

// Below 3 there is nothing to read after the header, or a wrapped count: the header is given
// up and the hunt goes on with the bytes after it.
TEST(NavComFramer, GivesUpHeadersWithALengthBelowThree) {
    const Bytes a = navcom::FrameOfSize(12), b = navcom::FrameOfSize(9);
    ExpectNavCom(Concat({navcom::Header(0x10, 0), a, navcom::Header(0x11, 1), b, navcom::Header(0x12, 2), a}),
                 {a, b, a}, {BadLength(0), BadLength(1), BadLength(2)});
    // Length 3 is the shortest the arithmetic allows: its checksum byte is the length's high byte.
    const Bytes shortest = Hex("02 99 66 03 03 00 03");
    ASSERT_TRUE(navcom::IsValid(shortest));
    ExpectNavCom(Concat({shortest, b}), {shortest, b}, {});
}

TEST(NavComFramer, CountsJunkBeforeEachSync) {
    const Bytes a = navcom::FrameOfSize(15, 0x31, 1), b = navcom::FrameOfSize(30, 0x32, 2);
    ExpectNavCom(Concat({Hex("10 20 30 40 50"), a, b, Hex("02 99 02 99"), a, Hex("66"), b, Hex("02"), a}),
                 {a, b, a, b, a}, {Skipped(5), Skipped(4), Skipped(1), Skipped(1)});
}

TEST(NavComFramer, FindsASyncArrivingOneByteAStep) {
    LogCapture capture;
    Attached a;
    a.link.Feed(Hex("02"));
    EXPECT_TRUE(a.monitor.ReadStep());
    EXPECT_FALSE(a.monitor.ReadStep());
    a.link.Feed(Hex("99"));
    EXPECT_TRUE(a.monitor.ReadStep());
    EXPECT_EQ(a.monitor.State(), 0);
    a.link.Feed(Hex("66"));
    EXPECT_TRUE(a.monitor.ReadStep());
    EXPECT_EQ(a.monitor.State(), 1);
    EXPECT_EQ(a.monitor.Count(), 3u);
    EXPECT_EQ(a.monitor.HeaderNeed(), 3u);
    EXPECT_TRUE(capture.StreamErrors().empty());
}

TEST(NavComFramer, BadEtxDeliversTheMessageInsideAndFramesOn) {
    const Bytes inner = navcom::FrameOfSize(20, 0x44);
    const Bytes next = navcom::FrameOfSize(10, 0x45);
    // The bad frame holds its header, two bytes, the inner message, a checksum and a wrong ETX.
    Bytes outer = Concat({navcom::Header(0x50, static_cast<uint16_t>(2 + inner.size() + 2 + 2)), Hex("11 12"), inner,
                          Hex("00 04")});
    ASSERT_EQ(outer.size(), 6 + 2 + inner.size() + 2u);
    // The two bytes after the inner message stay in the hunt window and are counted as skipped.
    ExpectNavCom(Concat({outer, next}), {inner, next}, {kBadEtx, Skipped(2)});
}

TEST(NavComFramer, BadChecksumDeliversTheMessageInsideAndFramesOn) {
    const Bytes inner = navcom::FrameOfSize(9, 0x44);
    const Bytes next = navcom::FrameOfSize(10, 0x45);
    const Bytes outer = navcom::WithBadChecksum(navcom::Frame(0x51, Concat({Hex("11"), inner, Hex("13 14 15")})));
    // Of the bytes after the inner message only the last two stay in the hunt window.
    ExpectNavCom(Concat({outer, next}), {inner, next}, {kBadChecksum, Skipped(2)});
}

TEST(NavComFramer, RewindDeliversEveryCompleteMessageInside) {
    const Bytes one = navcom::FrameOfSize(8, 0x61), two = navcom::FrameOfSize(33, 0x62), three = navcom::FrameOfSize(12, 0x63);
    const Bytes outer = navcom::WithBadEtx(navcom::Frame(0x51, Concat({one, two, Hex("77"), three, Hex("78 79")})));
    ExpectNavCom(Concat({outer, one}), {one, two, three, one}, {kBadEtx, Skipped(2)});
}

TEST(NavComFramer, ASyncSplitAcrossABadFrameAndNewBytesIsFound) {
    // The bad frame ends in 02 99 (checksum 02, ETX 99): the hunt keeps them and finds the sync
    // when 66 arrives, with nothing skipped.
    const Bytes bad = Concat({navcom::Header(0x70, 8), Hex("21 22 23 24"), Hex("02 99")});
    const Bytes follow = navcom::FrameOfSize(14, 0x71);
    ExpectNavCom(Concat({bad, Slice(follow, 2, follow.size())}), {follow}, {kBadEtx});
}

TEST(NavComFramer, RewindResumesAHeaderCutByTheBadFrame) {
    const Bytes inner = navcom::FrameOfSize(25, 0x48);  // length 21: no byte of its header is 03
    const Bytes next = navcom::FrameOfSize(9);
    for (size_t carried : {3u, 4u, 5u}) {
        SCOPED_TRACE("carried " + std::to_string(carried));
        const Bytes outer = navcom::OuterCarrying(Hex("31 32 33"), inner, carried);
        ExpectNavCom(Concat({outer, Slice(inner, carried, inner.size()), next}), {inner, next}, {kBadEtx});

        LogCapture capture;
        Attached a;
        a.link.Feed(outer);
        EXPECT_TRUE(DrainFramer(a.monitor).empty());
        EXPECT_EQ(a.monitor.State(), 1);
        EXPECT_EQ(a.monitor.Count(), carried);
        EXPECT_EQ(a.monitor.HeaderNeed(), 6 - carried);
    }
}

TEST(NavComFramer, RewindReadsTheRestOfAMessageCutByTheBadFrame) {
    const Bytes inner = navcom::FrameOfSize(40, 0x48);
    const Bytes next = navcom::FrameOfSize(9);
    for (size_t carried : {6u, 7u, 20u, 39u}) {
        SCOPED_TRACE("carried " + std::to_string(carried));
        const Bytes outer = navcom::OuterCarrying(Hex("31"), inner, carried);
        const std::string failure = outer.back() == 0x03 ? kBadChecksum : kBadEtx;
        ExpectNavCom(Concat({outer, Slice(inner, carried, inner.size()), next}), {inner, next}, {failure});

        LogCapture capture;
        Attached a;
        a.link.Feed(outer);
        EXPECT_TRUE(DrainFramer(a.monitor).empty());
        EXPECT_EQ(a.monitor.State(), 2);
        EXPECT_EQ(a.monitor.Count(), carried);
        EXPECT_EQ(a.monitor.BodyNeed(), 40 - carried);
        EXPECT_EQ(a.monitor.Length(), 36u);
    }
}

TEST(NavComFramer, RewindSkipsCandidatesWithImpossibleLengthsOrBadChecksums) {
    const Bytes inner = navcom::FrameOfSize(10, 0x48);
    const Bytes broken = navcom::WithBadChecksum(navcom::FrameOfSize(9, 0x49));
    const Bytes body = Concat({Hex("02 99 66 01 FF FF"),  // 65535: past the buffer
                               Hex("02 99 66 01 FD 0F"),  // 4093: one past the buffer
                               Hex("02 99 66 01 02 00"),  // 2: nothing to check
                               broken, inner, Hex("41")});
    const Bytes outer = navcom::WithBadEtx(navcom::Frame(0x51, body));
    // Each refused candidate gives up one byte only: the search finds the next sync after it.
    ExpectNavCom(Concat({outer, inner}), {inner, inner},
                 {kBadEtx, BadLength(65535), BadLength(4093), BadLength(2), kBadChecksum, Skipped(2)});
}

TEST(NavComFramer, AfterARewindEndingOnAMessageOldBytesCannotFormASync) {
    const Bytes inner = navcom::FrameOfSize(12, 0x48);
    // The inner message ends where the bad frame does: its ETX holds, its checksum does not.
    const Bytes outer = navcom::OuterCarrying(Hex("31 32"), inner, inner.size());
    ASSERT_EQ(outer.back(), 0x03);
    // 66 and the rest of a frame: only a window still holding 02 99 would take it for one.
    const Bytes phantom = navcom::FrameOfSize(11, 0x4A);
    const Bytes next = navcom::FrameOfSize(9, 0x4B);
    ExpectNavCom(Concat({outer, Slice(phantom, 2, phantom.size()), next}), {inner, next},
                 {kBadChecksum, Skipped(9)});
}

TEST(NavComFramer, AByteLeftAfterARewindIsTheNewestInTheHuntWindow) {
    const Bytes inner = navcom::FrameOfSize(12, 0x48);
    // The bad frame's last byte, 02, follows the inner message; its ETX is thus wrong.
    const Bytes outer = Concat({navcom::Header(0x50, static_cast<uint16_t>(2 + inner.size() + 1 + 2)), Hex("31 32"),
                                inner, Hex("02")});
    const Bytes follow = navcom::FrameOfSize(14, 0x71);
    ExpectNavCom(Concat({outer, Slice(follow, 1, follow.size())}), {inner, follow}, {kBadEtx});
}

TEST(NavComFramer, BoundedScanGivesUpAfterTheScanLimit) {
    Attached a;
    a.link.Feed(Bytes(10000, 0x00));
    a.monitor.boundedScan = true;
    size_t steps = 0;
    while (a.monitor.ReadStep()) ++steps;
    EXPECT_EQ(steps, 8192u);
    EXPECT_EQ(a.link.Readable(), 10000u - 8193u);
    // The count runs from the start of the hunt, so later steps give up at once.
    EXPECT_FALSE(a.monitor.ReadStep());
    EXPECT_EQ(a.link.Readable(), 10000u - 8194u);

    LogCapture capture;
    a.monitor.Stop();
    a.monitor.Start(&a.link, false, "Test");
    EXPECT_FALSE(a.monitor.boundedScan);
    a.monitor.boundedScan = true;
    const Bytes frame = navcom::FrameOfSize(10);
    a.link.Feed(Concat({Bytes(8189 - a.link.Readable(), 0x00), frame}));  // 8189 junk bytes in all
    EXPECT_EQ(DrainFramer(a.monitor), std::vector<Bytes>{frame});
    EXPECT_EQ(capture.StreamErrors(), std::vector<std::string>{Skipped(8189)});
}

// Streams of frames, damaged frames, frames inside damaged ones and noise: whatever the
// chunking, exactly the intact frames come out, with the same log lines.
TEST(NavComFramer, RandomStreamsFrameTheSameWhateverTheChunking) {
    std::mt19937 random(77);
    for (uint32_t round = 0; round < 40; ++round) {
        Bytes stream;
        std::vector<Bytes> expected;
        for (int part = 0; part < 30; ++part) {
            const size_t size = 8 + random() % (random() % 4 == 0 ? 4089 : 80);
            const Bytes frame = navcom::FrameOfSize(size, static_cast<uint8_t>(0xB0 + random() % 8),
                                                    static_cast<uint8_t>(random()));
            switch (random() % 7) {
            case 0: stream = Concat({stream, navcom::WithBadChecksum(frame)}); break;
            case 1: stream = Concat({stream, navcom::WithBadEtx(frame)}); break;
            case 2: {
                const size_t carried = frame.size() - random() % 6;
                stream = Concat({stream, navcom::OuterCarrying(Bytes(random() % 9, 0x42), frame, carried),
                                 Slice(frame, carried, frame.size())});
                expected.push_back(frame);
                break;
            }
            case 3: {
                Bytes noise(random() % 40);  // 02 and 99 but never 66: never a whole sync
                for (uint8_t& b : noise) {
                    const uint32_t r = random();
                    b = static_cast<uint8_t>(r % 3 == 0 ? 0x02 : r % 3 == 1 ? 0x99 : r % 0x66);
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
        ExpectSameInEveryChunking<KNavComStreamMonitor>(stream, expected, round);
    }
}

