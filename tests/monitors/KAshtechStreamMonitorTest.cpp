#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "comm/KMemoryComm.h"
#include "monitors/KAshtechStreamMonitor.h"
#include "support/AshtechFrames.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/TopconFrames.h"

namespace {

const std::string kInvalidCrc = "Ashtech - invalid CRC";
const std::string kTooLong = "Ashtech - maximum message length exceeded, message discarded";

FramedRun Frame(const Bytes& stream, Chunking chunking = Chunking::AllAtOnce, uint32_t seed = 1) {
    KAshtechStreamMonitor monitor;
    return RunFramer(monitor, stream, chunking, seed);
}

// Printable filler that can never hold a "$".
Bytes Junk(size_t size, uint32_t seed) {
    Bytes out = PseudoRandomBytes(size, seed);
    for (uint8_t& b : out) b = static_cast<uint8_t>(b == '$' ? '#' : b);
    return out;
}

// Fields for a "$GPXDR," sentence whose checksum is `target`: the last character is tuned
// (to a byte above 0x7F for checksums of 0x80 and more, which plain ASCII cannot give).
std::string FieldsWithChecksum(uint8_t target) {
    for (const std::string base : {"A,12.5,D,PITCH,", "C,20.1,C,TEMP,", "P,1.013,B,BARO,", "H,4,P,HUM,"}) {
        const uint8_t tune = static_cast<uint8_t>(target ^ NmeaChecksum("GPXDR," + base));
        if (tune >= 0x20 && tune != '*' && tune != '$')
            return base + static_cast<char>(tune);
    }
    ADD_FAILURE() << "no printable tuning for " << int(target);
    return "";
}

std::string ChunkingName(const ::testing::TestParamInfo<Chunking>& param) {
    switch (param.param) {
    case Chunking::OneByte: return "OneByte";
    case Chunking::Random: return "Random";
    default: return "AllAtOnce";
    }
}

class AshtechChunking : public ::testing::TestWithParam<Chunking> {};

INSTANTIATE_TEST_SUITE_P(AllChunkings, AshtechChunking,
                         ::testing::Values(Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce),
                         ChunkingName);

TEST_P(AshtechChunking, DeliversEveryValidFrameWithJunkBetween) {
    const std::vector<Bytes> frames = {
        PashrLine("PRT,A,9600"),
        AshtechFixed("MPC", 1),
        GpxdrSentence("C,20.5,C,AIRTEMP,P,1013.25,B,BARO"),
        AshtechFixed("PBN", 2),
        PashrLine("POS,0,03,183530.00,2037.76012,N,08704.07373,W*20"),
        AshtechFixed("GBN", 3),
        AshtechFixed("SNV", 4),
        AshtechFixed("MCA", 5),
        PashrLine("ACK"),  // twelve bytes, the shortest line
        AshtechFixed("MCA", 6),
    };
    Bytes stream;
    for (size_t i = 0; i < frames.size(); ++i)
        stream = Concat({stream, Junk(i * 7, static_cast<uint32_t>(i)), frames[i]});
    for (uint32_t seed : {1u, 2u, 3u}) {
        const FramedRun run = Frame(stream, GetParam(), seed);
        EXPECT_EQ(run.messages, frames);
        EXPECT_TRUE(run.errors.empty());
    }
}

TEST_P(AshtechChunking, FailedFixedFrameIsDroppedWholeAndTheNextIsFound) {
    const Bytes next = PashrLine("PRT,A,9600");
    // The failed frame's body holds a whole text response, which must not be delivered.
    Bytes body = PseudoRandomBytes(94, 9);
    const Bytes inner = PashrLine("XYZ,1");
    std::copy(inner.begin(), inner.end(), body.begin() + 20);
    const Bytes bad = FlipByte(AshtechFixed("MPC", body), 50);
    const FramedRun run = Frame(Concat({bad, next}), GetParam());
    EXPECT_EQ(run.messages, std::vector<Bytes>{next});
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST(AshtechFramer, EachFixedTypeFailsOnADamagedBodyOrCheck) {
    const Bytes next = PashrLine("PRT,A,9600");
    struct Case {
        std::string type;
        size_t checkAt;  // first check byte
    };
    for (const Case& c : {Case{"MPC", 105}, Case{"PBN", 65}, Case{"SNV", 141}, Case{"MCA", 47}}) {
        SCOPED_TRACE(c.type);
        const Bytes good = AshtechFixed(c.type, 11);
        ASSERT_EQ(good.size(), 11 + AshtechBodySize(c.type) + (c.checkAt == good.size() - 3 ? 1 : 2) + 2);
        for (const Bytes& bad : {FlipByte(good, 11), FlipByte(good, c.checkAt - 1, 0x80), FlipByte(good, c.checkAt),
                                 FlipByte(good, good.size() - 2), FlipByte(good, good.size() - 1)}) {
            const FramedRun run = Frame(Concat({bad, next}), Chunking::Random);
            EXPECT_EQ(run.messages, std::vector<Bytes>{next}) << ToHex(bad);
            EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
        }
        const FramedRun run = Frame(Concat({good, next}), Chunking::Random);
        EXPECT_EQ(run.messages, (std::vector<Bytes>{good, next}));
    }
}

TEST(AshtechFramer, FixedLengthsAndChecksAsTheReceiverSendsThem) {
    EXPECT_EQ(AshtechFixed("MPC", 1).size(), 108u);
    EXPECT_EQ(AshtechFixed("PBN", 1).size(), 69u);
    EXPECT_EQ(AshtechFixed("GBN", 1).size(), 49u);
    EXPECT_EQ(AshtechFixed("SNV", 1).size(), 145u);
    EXPECT_EQ(AshtechFixed("MCA", 1).size(), 50u);
    // PBN: 27 big-endian words summed modulo 65536, the sum big-endian at 65.
    Bytes body(54, 0);
    body[0] = 0xFF;  // word 0xFF00
    body[1] = 0x00;
    body[2] = 0x01;  // word 0x0102
    body[3] = 0x02;
    body[52] = 0x80;  // word 0x8000: the sum wraps
    const Bytes pbn = AshtechFixed("PBN", body);
    EXPECT_EQ(pbn[65], 0x80);
    EXPECT_EQ(pbn[66], 0x02);
    EXPECT_TRUE(KAshtechStreamMonitor::CheckMessage(pbn.data(), 69));
    // The words are big-endian: a little-endian sum in the same place fails.
    const Bytes pbnSwapped = [&] {
        Bytes out = pbn;
        std::swap(out[65], out[66]);
        return out;
    }();
    EXPECT_FALSE(KAshtechStreamMonitor::CheckMessage(pbnSwapped.data(), 69));
    // A fixed type checked at any other length fails.
    EXPECT_FALSE(KAshtechStreamMonitor::CheckMessage(pbn.data(), 68));
}

TEST(AshtechFramer, GbnPassesWhateverItsBodyHolds) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        const Bytes gbn = AshtechFixed("GBN", seed);
        const FramedRun run = Frame(Concat({gbn, FlipByte(gbn, 20 + seed)}));
        EXPECT_EQ(run.messages, (std::vector<Bytes>{gbn, FlipByte(gbn, 20 + seed)}));
        EXPECT_TRUE(run.errors.empty());
    }
    // Only its CR LF is looked at.
    const Bytes gbn = AshtechFixed("GBN", 1);
    const FramedRun run = Frame(SetByte(gbn, 47, 'x'));
    EXPECT_TRUE(run.messages.empty());
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST(AshtechFramer, MpcWithoutCrIsDroppedEvenWithARightXor) {
    const Bytes mpc = AshtechFixed("MPC", 3);
    const Bytes bad = SetByte(mpc, 106, ' ');
    const FramedRun run = Frame(Concat({bad, PashrLine("ACK")}));
    EXPECT_EQ(run.messages, std::vector<Bytes>{PashrLine("ACK")});
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST(AshtechFramer, TextResponsesAreDeliveredUnchecked) {
    // Any type outside the five fixed ones is a text line, whatever its content.
    const Bytes lines = Concat({PashrLine("PRT,A,9600"), PashrLine("204132.000,010.51,T,+00.39*FF"),
                                PashrLine("MPX,\x01\x02\x03")});
    const FramedRun run = Frame(lines, Chunking::OneByte);
    EXPECT_EQ(run.messages.size(), 3u);
    EXPECT_EQ(Concat({run.messages[0], run.messages[1], run.messages[2]}), lines);
    EXPECT_TRUE(run.errors.empty());
}

TEST(AshtechFramer, ShortestLineIsTwelveBytes) {
    const Bytes twelve = Text("$PASHR,ABC\r\n");
    ASSERT_EQ(twelve.size(), 12u);
    FramedRun run = Frame(Concat({twelve, twelve}), Chunking::OneByte);
    EXPECT_EQ(run.messages, (std::vector<Bytes>{twelve, twelve}));

    // A CR LF seen before twelve bytes are held does not end the line: it runs on to the next.
    const Bytes eleven = Text("$PASHR,AB\r\n");
    run = Frame(Concat({eleven, twelve}), Chunking::OneByte);
    EXPECT_EQ(run.messages, std::vector<Bytes>{Concat({eleven, twelve})});
    run = Frame(Text("$PASHR,A\r\nBCD\r\n"));
    EXPECT_EQ(run.messages, std::vector<Bytes>{Text("$PASHR,A\r\nBCD\r\n")});
    EXPECT_TRUE(run.errors.empty());
}

TEST(AshtechFramer, LineLengthLimit) {
    const Bytes next = PashrLine("ACK");
    // 4095 bytes with the CR LF: the longest line that is delivered.
    const Bytes longest = PashrLine(std::string(4095 - 9, 'a'));
    ASSERT_EQ(longest.size(), 4095u);
    FramedRun run = Frame(Concat({longest, next}), Chunking::Random);
    EXPECT_EQ(run.messages, (std::vector<Bytes>{longest, next}));
    EXPECT_TRUE(run.errors.empty());

    // One byte more and the line is dropped when its 4096th byte (here its LF) arrives.
    const Bytes tooLong = PashrLine(std::string(4096 - 9, 'a'));
    run = Frame(Concat({tooLong, next}), Chunking::Random);
    EXPECT_EQ(run.messages, std::vector<Bytes>{next});
    EXPECT_EQ(run.errors, std::vector<std::string>{kTooLong});

    // A line that never ends is cut every 4096 bytes; the hunt resumes after each cut.
    const Bytes endless = Concat({Text("$GPXDR,"), Repeat('b', 10000)});
    run = Frame(Concat({endless, next}), Chunking::Random);
    EXPECT_EQ(run.messages, std::vector<Bytes>{next});
    EXPECT_EQ(run.errors, std::vector<std::string>{kTooLong});
}

TEST(AshtechFramer, GpxdrChecksumRules) {
    const Bytes next = PashrLine("ACK");
    struct Case {
        std::string name;
        Bytes sentence;
        bool passes;
    };
    const std::string fields = "C,20.5,C,AIRTEMP";
    const std::string a5 = FieldsWithChecksum(0xA5);
    const std::string x5a = FieldsWithChecksum(0x5A);
    const std::string x2a = FieldsWithChecksum(0x2A);
    const std::string zero = FieldsWithChecksum(0x00);
    const Bytes secondStar = GpxdrSentence("A");
    const Case cases[] = {
        {"right", GpxdrSentence(fields), true},
        {"wrong", GpxdrWithCheck(fields, "00"), false},
        {"no star", Text("$GPXDR," + fields + "\r\n"), false},
        // A lower-case letter as the high digit is valued 42, and 42 * 16 mod 256 is 0xA0.
        {"lower high digit", GpxdrSentence(a5, true), true},
        // As the low digit it is 42, which OR-ed into the high nibble gives the wrong value.
        {"lower low digit", GpxdrSentence(x5a, true), false},
        {"upper low digit", GpxdrSentence(x5a, false), true},
        // ... unless the high digit already sets the 0x20 bit that the lower case adds.
        {"lower low digit hidden by the OR", GpxdrSentence(x2a, true), true},
        // Non-hex digits read as 0.
        {"non-hex for zero", GpxdrWithCheck(zero, "ZZ"), true},
        {"one non-hex digit", GpxdrWithCheck(zero, "0Z"), true},
        {"non-hex for non-zero", GpxdrWithCheck(fields, "ZZ"), false},
        // The first "*" ends the covered bytes.
        {"second star", Concat({Bytes(secondStar.begin(), secondStar.end() - 2), Text("*99\r\n")}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FramedRun run = Frame(Concat({c.sentence, next}), Chunking::Random);
        if (c.passes) {
            EXPECT_EQ(run.messages, (std::vector<Bytes>{c.sentence, next}));
            EXPECT_TRUE(run.errors.empty());
        } else {
            EXPECT_EQ(run.messages, std::vector<Bytes>{next});
            EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
        }
    }
}

TEST(AshtechFramer, StarSearchStopsAtTheBytesHeld) {
    // A long sentence leaves its "*" and checksum in the buffer; a shorter one without "*"
    // that follows must not borrow them. The short one is tuned so that, read together with
    // the stale bytes, the checksum would come out right.
    const Bytes first = GpxdrSentence("C,20.5,C,AIRTEMP,P,1013.25,B,BARO,H,45.0,P,HUMID");
    const std::string base = "A,1,D,ROLL";
    const size_t secondSize = 7 + base.size() + 1 + 2;
    uint8_t want = 0;
    for (size_t i = 1; i < secondSize; ++i) want ^= first[i];
    uint8_t have = NmeaChecksum("GPXDR," + base) ^ 0x0D ^ 0x0A;
    const char tune = static_cast<char>(want ^ have);
    ASSERT_TRUE(tune >= 0x20 && tune < 0x7F && tune != '*' && tune != '$') << int(tune);
    const Bytes second = Text("$GPXDR," + base + tune + "\r\n");
    ASSERT_EQ(second.size(), secondSize);

    const FramedRun run = Frame(Concat({first, second, PashrLine("ACK")}));
    EXPECT_EQ(run.messages, (std::vector<Bytes>{first, PashrLine("ACK")}));
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST(AshtechFramer, JunkAndNearMissesAreSkippedSilently) {
    const Bytes frame = AshtechFixed("MCA", 2);
    const Bytes stream = Concat({Text("$PASH$PASHR$GPXD,$GPXDR$$PASHR"), Junk(500, 3),
                                 Text("$pashr,PRT,A\r\n$PASHRX,ABC\r\n"), frame});
    const FramedRun run = Frame(stream, Chunking::OneByte);
    EXPECT_EQ(run.messages, std::vector<Bytes>{frame});
    EXPECT_TRUE(run.errors.empty());
    // "$$PASHR," is found one byte late.
    const FramedRun late = Frame(Concat({Text("$"), PashrLine("ACK")}));
    EXPECT_EQ(late.messages, std::vector<Bytes>{PashrLine("ACK")});
}

class AshtechDriven : public ::testing::Test {
protected:
    void SetUp() override {
        link.Open(0);
        monitor.Start(&link, false, "Test");
    }
    std::vector<Bytes> Pop() {
        std::vector<Bytes> out;
        while (auto m = monitor.PopMessage()) out.emplace_back(m->data.get(), m->data.get() + m->length);
        return out;
    }
    KMemoryComm link;
    KAshtechStreamMonitor monitor;
};

TEST_F(AshtechDriven, BoundedScanGivesUpAfter8193BytesPerStep) {
    link.Feed(Repeat('$', 20000));
    monitor.boundedScan = true;
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 20000u - 8193u);
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 20000u - 2 * 8193u);
    monitor.boundedScan = false;
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 0u);
}

TEST_F(AshtechDriven, BoundedGiveUpInsideAStartKeepsTheFrame) {
    // The step gives up on its 8193rd byte without looking at it; wherever that byte falls in
    // the ten-byte window, the frame must still be found and read whole.
    for (const Bytes& frame : {AshtechFixed("MCA", 4), PashrLine("PRT,A,9600"), GpxdrSentence("A,1")}) {
        for (size_t into = 0; into < 10; ++into) {
            SCOPED_TRACE(into);
            monitor.Stop();
            monitor.Start(&link, false, "Test");
            monitor.boundedScan = true;
            link.Feed(Concat({Repeat('.', 8192 - into), frame}));
            EXPECT_FALSE(monitor.ReadStep());
            EXPECT_EQ(link.Readable(), frame.size() - into - 1);
            while (monitor.ReadStep()) {}
            EXPECT_EQ(Pop(), std::vector<Bytes>{frame});
            EXPECT_EQ(link.Readable(), 0u);
        }
    }
}

TEST_F(AshtechDriven, HuntAfterBoundedGiveUpsStillFindsFrames) {
    const Bytes frame = PashrLine("PRT,A,9600");
    link.Feed(Concat({Repeat('.', 3 * 8193 + 4), frame, Repeat('$', 2 * 8193 + 1), frame}));
    monitor.boundedScan = true;
    int idle = 0;
    while (link.Readable() > 0 && idle < 100) idle += monitor.ReadStep() ? 0 : 1;
    while (monitor.ReadStep()) {}
    EXPECT_EQ(Pop(), (std::vector<Bytes>{frame, frame}));
}

TEST_F(AshtechDriven, FixedFrameIsReadInOnePiece) {
    const Bytes frame = AshtechFixed("SNV", 5);
    link.Feed(Bytes(frame.begin(), frame.begin() + 100));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 2);
    EXPECT_EQ(monitor.HeldBytes(), 10u);
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 90u);
    link.Feed(Bytes(frame.begin() + 100, frame.end()));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 1);
    EXPECT_EQ(Pop(), std::vector<Bytes>{frame});
}

TEST_F(AshtechDriven, TextLineResumesAfterAFailedRead) {
    const Bytes line = PashrLine("PRT,A,9600");
    link.Feed(Bytes(line.begin(), line.begin() + 15));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 3);
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(monitor.HeldBytes(), 15u);
    link.Feed(Bytes(line.begin() + 15, line.end()));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(Pop(), std::vector<Bytes>{line});
}

} // namespace

