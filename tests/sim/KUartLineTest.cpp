#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/KUartLine.h"

namespace {

using Policy = KUartLine::FramingErrorPolicy;
constexpr int64_t kForever = INT64_C(1) << 60;
const std::vector<uint32_t> kRates = {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

std::vector<uint8_t> AllBytes() {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
    return bytes;
}

std::vector<uint8_t> Bytes(const std::vector<KUartLine::Received>& received) {
    std::vector<uint8_t> out;
    for (const auto& r : received) out.push_back(r.byte);
    return out;
}

std::vector<KUartLine::Received> Send(const std::vector<uint8_t>& data, uint32_t txBaud, uint32_t rxBaud,
                                      KUartLine::Options options = {}) {
    KUartLine line(rxBaud, options);
    line.Transmit(0, txBaud, data);
    return line.Receive(kForever);
}

TEST(KUartLine, SameRateGivesEveryByteBackAtEveryRate) {
    const std::vector<uint8_t> data = AllBytes();
    for (uint32_t baud : kRates) {
        SCOPED_TRACE(baud);
        const auto received = Send(data, baud, baud);
        EXPECT_EQ(Bytes(received), data);
        for (const auto& r : received) EXPECT_FALSE(r.framingError);
    }
    // Odd rates too: the arithmetic is exact, not tuned to the table.
    for (uint32_t baud : {110u, 7777u, 230400u, 921600u}) EXPECT_EQ(Bytes(Send(data, baud, baud)), data) << baud;
}

TEST(KUartLine, ByteIsReadyWhenItsStopBitIsSampled) {
    KUartLine line(9600);
    line.Transmit(1000, 9600, std::vector<uint8_t>{0x41, 0x42});
    // Stop-bit sample of the first frame: 9.5 bits after its start, 989583 ns at 9600.
    KUartLine::Received r;
    EXPECT_FALSE(line.ReceiveNext(1000 + 989582, r));
    ASSERT_TRUE(line.ReceiveNext(1000 + 989583, r));
    EXPECT_EQ(r.byte, 0x41);
    EXPECT_EQ(r.timeNs, 1000 + 989583);
    // The second frame starts exactly one frame time (10 bits) after the first.
    ASSERT_TRUE(line.ReceiveNext(kForever, r));
    EXPECT_EQ(r.byte, 0x42);
    EXPECT_EQ(r.timeNs, 1000 + 1041666 + 989583);
    EXPECT_EQ(line.FreeAtNs(), 1000 + 2 * 1041666);
}

// Hand-worked: a 9600 frame read at 19200 gives data bit k of the result from sender bit
// floor((2k + 3) / 4), the stop bit from sender bit 4 (data bit 3).
TEST(KUartLine, NineSixHundredReadAtNineteenTwoHundred) {
    auto ff = Send({0xFF}, 9600, 19200);
    ASSERT_EQ(ff.size(), 1u);
    EXPECT_EQ(ff[0].byte, 0xFE);
    EXPECT_FALSE(ff[0].framingError);

    auto zero = Send({0x00}, 9600, 19200);
    ASSERT_EQ(zero.size(), 1u);  // the line stays low after the stop sample: nothing more
    EXPECT_EQ(zero[0].byte, 0x00);
    EXPECT_TRUE(zero[0].framingError);

    // 0x55: first frame 0x66 with a low stop bit, then the falling edge of data bit 5 starts a
    // second frame that runs into the idle line: 0xE6.
    auto fives = Send({0x55}, 9600, 19200);
    ASSERT_EQ(fives.size(), 2u);
    EXPECT_EQ(fives[0].byte, 0x66);
    EXPECT_TRUE(fives[0].framingError);
    EXPECT_EQ(fives[1].byte, 0xE6);
    EXPECT_FALSE(fives[1].framingError);
}

// Hand-worked: a 19200 frame read at 9600 samples sender bits 3, 5, 7, 9 (stop) and then idle.
TEST(KUartLine, NineteenTwoHundredReadAtNineSixHundred) {
    auto zero = Send({0x00}, 19200, 9600);
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].byte, 0xF8);
    EXPECT_FALSE(zero[0].framingError);

    auto bits = Send({0b00010100}, 19200, 9600);  // d2 = 1, d4 = 1
    ASSERT_EQ(bits.size(), 1u);
    EXPECT_EQ(bits[0].byte, 0xFB);
}

TEST(KUartLine, WrongRatesGiveDeterministicGarbageWithFramingErrors) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < 8; ++i)
        for (uint8_t b : {0x9C, 0xAE, 0x0C, 0x00, 0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00, 0x25, 0xFE})
            stream.push_back(b);
    uint64_t framingErrors = 0;
    for (uint32_t tx : kRates) {
        for (uint32_t rx : kRates) {
            if (tx == rx) continue;
            SCOPED_TRACE(std::to_string(tx) + " read at " + std::to_string(rx));
            KUartLine line(rx);
            line.Transmit(0, tx, stream);
            const auto first = Bytes(line.Receive(kForever));
            framingErrors += line.FramingErrors();
            EXPECT_FALSE(first.empty());
            EXPECT_NE(first, stream);
            EXPECT_EQ(Bytes(Send(stream, tx, rx)), first);  // the same garbage every time
        }
    }
    EXPECT_GT(framingErrors, 100u);
}

TEST(KUartLine, FramingErrorPolicies) {
    KUartLine::Options nul;
    nul.framingErrors = Policy::DeliverNul;
    auto fives = Send({0x55}, 9600, 19200, nul);
    ASSERT_EQ(fives.size(), 2u);
    EXPECT_EQ(fives[0].byte, 0x00);
    EXPECT_TRUE(fives[0].framingError);
    EXPECT_EQ(fives[1].byte, 0xE6);

    KUartLine::Options drop;
    drop.framingErrors = Policy::Drop;
    KUartLine line(19200, drop);
    line.Transmit(0, 9600, std::vector<uint8_t>{0x55});
    auto kept = line.Receive(kForever);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].byte, 0xE6);
    EXPECT_EQ(line.FramingErrors(), 1u);
}

TEST(KUartLine, BreakYieldsNothingUntilTheLineGoesHighAgain) {
    KUartLine line(9600);
    line.SendBreak(0, 50000000);  // 50 ms low: some 48 frame times
    line.Transmit(60000000, 9600, std::vector<uint8_t>{0x12, 0x34});
    const auto received = line.Receive(kForever);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].byte, 0x00);  // the break's first frame time, all low
    EXPECT_TRUE(received[0].framingError);
    EXPECT_EQ(received[1].byte, 0x12);  // then nothing until the bytes after the break
    EXPECT_GT(received[1].timeNs, 60000000);
    EXPECT_EQ(received[2].byte, 0x34);
    EXPECT_EQ(line.FramingErrors(), 1u);
}

TEST(KUartLine, GlitchIsAFalseStart) {
    // A start bit that is high again at mid-bit is ignored: 9600 frames read at 1200, whose
    // mid-start sample (417 us after the edge) falls on the high bits of each short frame.
    KUartLine line(1200);
    line.Transmit(0, 9600, std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    const auto received = line.Receive(kForever);
    EXPECT_EQ(line.FalseStarts(), 8u);
    EXPECT_TRUE(received.empty());
}

TEST(KUartLine, RateChangeAppliesToFramesNotYetDecoded) {
    KUartLine line(9600);
    line.Transmit(0, 9600, std::vector<uint8_t>{0x41});
    KUartLine::Received r;
    ASSERT_TRUE(line.ReceiveNext(kForever, r));
    EXPECT_EQ(r.byte, 0x41);
    line.SetReceiverBaud(19200);
    line.Transmit(2000000, 19200, std::vector<uint8_t>{0x42});  // the sender switched too
    ASSERT_TRUE(line.ReceiveNext(kForever, r));
    EXPECT_EQ(r.byte, 0x42);
}

TEST(KUartLine, ResetReceiverForgetsTheFrameInProgress) {
    KUartLine line(9600);
    line.Transmit(0, 9600, std::vector<uint8_t>{0x00, 0x41});
    // Reopened in the middle of the first frame: it hunts for a falling edge after that, so the
    // first frame is gone and the second comes through.
    line.ResetReceiver(500000, 9600);
    const auto received = line.Receive(kForever);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back().byte, 0x41);
    EXPECT_GE(received.front().timeNs, 500000);
}

TEST(KUartLine, TransmissionsQueueBehindEachOtherAndNeverRewriteThePast) {
    KUartLine line(9600);
    const int64_t end = line.Transmit(0, 9600, std::vector<uint8_t>{0x01});
    EXPECT_EQ(line.Transmit(0, 9600, std::vector<uint8_t>{0x02}), 2 * end);
    KUartLine::Received r;
    ASSERT_TRUE(line.ReceiveNext(kForever, r));
    ASSERT_TRUE(line.ReceiveNext(kForever, r));
    // Asked to start before what the receiver has already sampled: starts after it.
    const int64_t third = line.Transmit(0, 9600, std::vector<uint8_t>{0x03});
    EXPECT_GE(third - end, r.timeNs);
    ASSERT_TRUE(line.ReceiveNext(kForever, r));
    EXPECT_EQ(r.byte, 0x03);
}

TEST(KUartLine, NoiseIsDeterministicPerSeed) {
    const std::vector<uint8_t> data = AllBytes();
    KUartLine::Options noisy;
    noisy.bitFlipProbability = 0.01;
    noisy.seed = 7;
    KUartLine a(9600, noisy), b(9600, noisy);
    a.Transmit(0, 9600, data);
    b.Transmit(0, 9600, data);
    const auto ra = Bytes(a.Receive(kForever));
    EXPECT_EQ(ra, Bytes(b.Receive(kForever)));
    EXPECT_NE(ra, data);
    EXPECT_GT(a.BitsFlipped(), 5u);
    EXPECT_LT(a.BitsFlipped(), 80u);  // about 1% of 2560 bits

    noisy.seed = 8;
    EXPECT_NE(Bytes(Send(data, 9600, 9600, noisy)), ra);

    KUartLine::Options always;
    always.bitFlipProbability = 1.0;
    // Every bit inverted: the start bit is high and the stop bit low, so what comes through is
    // nothing like what was sent.
    KUartLine inverted(9600, always);
    inverted.Transmit(0, 9600, data);
    const auto garbage = Bytes(inverted.Receive(kForever));
    EXPECT_EQ(inverted.BitsFlipped(), 2560u);
    EXPECT_NE(garbage, data);
    EXPECT_GT(inverted.FramingErrors(), 0u);
}

} // namespace
