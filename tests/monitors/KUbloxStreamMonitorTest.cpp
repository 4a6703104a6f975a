// The UBX framer over hand-built streams in every chunking, and over the real u-blox recordings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comm/KMemoryComm.h"
#include "monitors/KUbloxStreamMonitor.h"
#include "support/ChunkedFraming.h"
#include "support/UbloxFrames.h"

namespace {

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + 7 * i);
    return bytes;
}

std::string Skipped(size_t n) { return "UBX - skipped " + std::to_string(n) + " bytes to find sync"; }

const Bytes kPvt = UbxFrame(0x01, 0x07, Pattern(92, 3));
const Bytes kAck = UbxFrame(0x05, 0x01, {0x06, 0x8A});
const Bytes kPoll = UbxFrame(0x0A, 0x04);  // an empty payload
const Bytes kGga = NmeaSentence("GNGGA,000941.00,4404.13387,N,12118.85628,W,1,12,1.01,1144.8,M,-21.4,M,,");

// An RTCM 3 frame whose payload holds B5 62 and a length of 1024: a false sync that claims the
// next 1032 bytes.
const Bytes kRtcmPayload = Concat({{0x43, 0x50}, {0xB5, 0x62, 0x01, 0x02, 0x00, 0x04}, Pattern(8, 9)});
const Bytes kRtcm = Rtcm3Frame(kRtcmPayload);
// NMEA enough to complete the false frame's claim.
Bytes Padding() {
    Bytes padding;
    while (padding.size() < 1100) padding = Concat({padding, kGga});
    return padding;
}

// A frame whose checksum fails, with an intact frame inside its payload.
Bytes DamagedAround(const Bytes& inner) {
    Bytes outer = UbxFrame(0x02, 0x13, Concat({Pattern(4, 1), inner, Pattern(4, 2)}));
    outer.back() ^= 0x01;
    return outer;
}

struct Case {
    const char* name;
    Bytes stream;
    std::vector<Bytes> messages;
    std::vector<std::string> errors;
};

TEST(UbloxFramer, FramesUbxAmidNmeaAndRtcmInEveryChunking) {
    const size_t falseToNext = kRtcmPayload.size() - 2 + 3;  // the false frame's bytes after its B5, with the CRC
    const Case cases[] = {
        {"back to back, an empty payload among them", Concat({kPvt, kPoll, kAck}), {kPvt, kPoll, kAck}, {}},
        {"NMEA between messages is skipped", Concat({kPvt, kGga, kGga, kAck}), {kPvt, kAck}, {Skipped(2 * kGga.size())}},
        {"a B5 before the sync is skipped, a B5 at the end is held", Concat({{0xB5}, kAck, {0xB5}}), {kAck}, {Skipped(1)}},
        {"a false sync inside RTCM swallows no message after it",
         Concat({kPvt, kRtcm, kAck, kPoll, Padding()}),
         {kPvt, kAck, kPoll},
         {Skipped(3 + 2), "UBX - bad checksum for class 0x01 id 0x02", Skipped(falseToNext)}},
        {"a message inside a damaged one is found again",
         Concat({DamagedAround(kAck), kPoll}),
         {kAck, kPoll},
         {"UBX - bad checksum for class 0x02 id 0x13", Skipped(6 + 4), Skipped(4 + 2)}},
        {"a length beyond the buffer is a false sync",
         Concat({{0xB5, 0x62, 0x06, 0x00, 0xFF, 0xFF}, kAck}),
         {kAck},
         {"UBX - payload length 65535 too long", Skipped(6)}},
        {"the longest payload that fits is framed",
         UbxFrame(0x02, 0x15, Pattern(KUbloxStreamMonitor::kMaxPayload, 5)),
         {UbxFrame(0x02, 0x15, Pattern(KUbloxStreamMonitor::kMaxPayload, 5))},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectFramed<KUbloxStreamMonitor>(c.stream, c.messages, c.errors);
    }
}

TEST(UbloxFramer, ChecksumIsTheEightBitFletcherOfClassToPayloadEnd) {
    // CFG-PRT poll for UART1 as u-blox's documents give it: B5 62 06 00 01 00 01 08 22.
    const Bytes poll = {0x06, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(KUbloxStreamMonitor::Checksum(poll.data(), poll.size()), 0x2208);
    EXPECT_EQ(ToHex(UbxFrame(0x06, 0x00, {0x01})), "B5 62 06 00 01 00 01 08 22");
}

TEST(UbloxFramer, BoundedScanGivesUpAfterTheScanLimitUntilItsCounterIsCleared) {
    KMemoryComm link;
    link.Open(0);
    KUbloxStreamMonitor monitor;
    monitor.Start(&link, false, "Test");
    monitor.boundedScan = true;
    link.Feed(Concat({Repeat(0x24, 10000), kAck}));
    size_t steps = 0;
    while (monitor.ReadStep()) ++steps;
    EXPECT_EQ(steps, 8192u);
    EXPECT_EQ(link.Readable(), 10000u - 8193u + kAck.size());
    // The receiver clears the counter when it begins a scan: the hunt goes on from there.
    monitor.huntCount = 0;
    EXPECT_EQ(DrainFramer(monitor), std::vector<Bytes>{kAck});
    monitor.Stop();
}

// Every checksummed UBX frame of each real recording, wherever it starts, is what the framer
// delivers, in every chunking. Two of the recordings are NMEA only and one mixes in RTCM 3.
TEST(UbloxCapture, EveryChecksummedFrameIsFramed) {
    const std::filesystem::path dir = std::filesystem::path(VELINOR_CAPTURES) / "ublox";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << dir << " not available";
    size_t files = 0, frames = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".bin") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<UbxCensusEntry> census = UbxCensus(file);
        std::vector<Bytes> expected;
        for (size_t i = 0; i < census.size(); ++i) {
            // None lies inside another here, so the framer must deliver every one.
            if (i > 0) {
                ASSERT_GE(census[i].at, census[i - 1].at + census[i - 1].length);
            }
            expected.push_back(Slice(file, census[i].at, census[i].at + census[i].length));
        }
        for (Chunking chunking : {Chunking::AllAtOnce, Chunking::Random}) {
            KUbloxStreamMonitor monitor;
            EXPECT_EQ(RunFramer(monitor, file, chunking, 7).messages, expected) << ChunkingName(chunking);
        }
        ++files;
        frames += census.size();
    }
    EXPECT_EQ(files, 6u);
    EXPECT_EQ(frames, 242u + 553u + 70u + 136u);
}

} // namespace
