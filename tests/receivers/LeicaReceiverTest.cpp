#include <gtest/gtest.h>

#include "receivers/KLeicaCRS1000Receiver.h"
#include "receivers/KLeicaRS500Receiver.h"
#include "support/LeicaFrames.h"
#include "support/ReceiverRig.h"

namespace {

// A Leica receiver against scripted LB2 replies, in virtual time.
class LeicaReceiver : public ::testing::Test, protected ScriptedReceiverRig {
protected:
    static constexpr int64_t kWall = kRigWallSeconds;  // 2009-06-17 (a Wednesday) 12:00:00 UTC

    void ReplyAt(int64_t ms, const Bytes& payload) { ScriptedReceiverRig::ReplyAt(ms, leica::Frame(payload)); }
};

TEST_F(LeicaReceiver, SendsTheFramesOfTheProtocolByteForByte) {
    KLeicaRS500Receiver rs500(false);
    Use(rs500);
    rs500.Ping(0);
    EXPECT_EQ(ToHex(Written()), "9C AE 0C 00 82 00 00 C8 85 00 00 00 25 FE");
    rs500.StopAllBroadcast(0);
    EXPECT_EQ(ToHex(Written()), "9C AE 08 00 FA 94 00 00 6A FE 9C AE 0C 00 82 00 00 FC 00 00 00 00 76 FE");
    rs500.SendControlCommand(4, false);
    EXPECT_EQ(ToHex(Written()), "9C AE 06 00 DB 00 1F FF");
    ReplyAt(0, Hex("FC FA 82"));
    rs500.ChangeBaud(115200);
    EXPECT_EQ(ToHex(Written()), "9C AE 0C 00 FA 82 00 0A 00 08 01 00 65 FE");

    KLeicaCRS1000Receiver crs1000(false);
    Use(crs1000);
    EXPECT_TRUE(crs1000.ChangeBaud(115200));
    EXPECT_EQ(ToHex(Written()), "9C AE 0A 00 80 00 0A 00 FF FF 6E FD");
}

TEST_F(LeicaReceiver, PingOfASilentReceiverLooksFiftyOneTimesOverFiveSeconds) {
    KLeicaCRS1000Receiver gmx900(false);
    Use(gmx900);
    EXPECT_FALSE(gmx900.Ping(5000));
    EXPECT_EQ(clock.NowMs(), 5000);  // looks at 0, 100, ..., 5000
    EXPECT_EQ(leica::Frame(Hex("82 00 00 C8 85 00 00 00")), Written());  // one ping frame only
}

TEST_F(LeicaReceiver, AnyFrameWhosePayloadBeginsWith85AnswersThePing) {
    KLeicaRS500Receiver receiver(false);
    Use(receiver);
    ReplyAt(150, Hex("50 01 02 03"));      // periodic output, not an answer
    ReplyAt(250, Hex("85"));               // the shortest frame that can carry the answer
    EXPECT_TRUE(receiver.Ping(1000));
    EXPECT_EQ(clock.NowMs(), 300);         // found at the first look after it arrived

    ReplyAt(clock.NowMs() + 50, Hex("85 FF EE DD CC BB AA"));
    EXPECT_TRUE(receiver.Ping(1000));
    EXPECT_EQ(receiver.Monitor()->MessageCount(), 0);
}

TEST_F(LeicaReceiver, StopAllBroadcastWaitsTheSettleTimeAndDropsWhatCameMeanwhile) {
    KLeicaCRS1000Receiver receiver(false);
    Use(receiver);
    link.Feed(leica::Frame(Hex("50 00 01")));
    Pump();
    ReplyAt(700, Hex("50 00 02"));
    EXPECT_TRUE(receiver.StopAllBroadcast(2000));
    EXPECT_EQ(clock.NowMs(), 2000);
    EXPECT_EQ(receiver.Monitor()->MessageCount(), 0);
    // Unacknowledged commands, but commands that never went out are not reported as sent.
    link.SetWritesFail(true);
    EXPECT_FALSE(receiver.StopAllBroadcast(0));
}

TEST_F(LeicaReceiver, RateCodesOfEachModel) {
    KLeicaRS500Receiver rs500(false);
    KLeicaCRS1000Receiver crs1000(false);
    Use(rs500);
    ReplyAt(0, Hex("FC FA 82"));
    EXPECT_TRUE(rs500.ChangeBaud(150));
    EXPECT_EQ(Written()[7], 0x00);
    EXPECT_FALSE(rs500.ChangeBaud(230400));
    EXPECT_TRUE(Written().empty());

    Use(crs1000);
    EXPECT_FALSE(crs1000.ChangeBaud(150));
    EXPECT_FALSE(crs1000.ChangeBaud(230400));
    EXPECT_TRUE(Written().empty());
    const int64_t start = clock.NowMs();
    const int32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (uint8_t i = 0; i < 8; ++i) {
        EXPECT_TRUE(crs1000.ChangeBaud(rates[i]));
        EXPECT_EQ(Written()[6], i + 3) << rates[i];
    }
    EXPECT_EQ(clock.NowMs(), start);  // no acknowledgement is awaited
}

TEST_F(LeicaReceiver, RS500BaudChangeWaitsForItsOwnAcknowledgement) {
    KLeicaRS500Receiver receiver(false);
    Use(receiver);
    ReplyAt(300, Hex("FC FA 81 0A 00"));  // a refusal: discarded, the wait goes on
    ReplyAt(900, Hex("FC FA 82 0A 00"));
    EXPECT_TRUE(receiver.ChangeBaud(115200));
    EXPECT_EQ(clock.NowMs(), 900);

    const int64_t start = clock.NowMs();
    ReplyAt(start + 100, Hex("FC FA 81 0A 00"));
    EXPECT_FALSE(receiver.ChangeBaud(9600));
    EXPECT_EQ(clock.NowMs() - start, 10000);

    link.SetWritesFail(true);
    const int64_t before = clock.NowMs();
    EXPECT_FALSE(receiver.ChangeBaud(9600));
    EXPECT_EQ(clock.NowMs(), before);  // nothing went out, nothing awaited
}

TEST_F(LeicaReceiver, RS500TimeCarriesTheSinglePrecisionFraction) {
    KLeicaRS500Receiver receiver(false);
    Use(receiver);
    // FA 07 at payload 0 and 1; frame offsets 6.. hour 13, minute 45, 59 s, 99 hundredths,
    // day 17, month 6, year 09.
    ReplyAt(400, Hex("FA 07 0D 2D 3B 63 11 06 09"));
    KGPSTime time(0);
    EXPECT_TRUE(receiver.QueryTime(time));
    EXPECT_EQ(ToHex(Written()), ToHex(leica::Frame(Hex("FB FA 07 00 C8 01 00 00"))));
    EXPECT_EQ(time.Format(), "2009/06/17 13:45:59");
    const float single = 99.0f / 100.0f + 59.0f;
    const double fraction = static_cast<double>(single) - 59.0;
    EXPECT_EQ(time.nanoseconds, static_cast<int32_t>(fraction * 1e9 + 0.5));
    EXPECT_NE(time.nanoseconds, 990000000);
}

TEST_F(LeicaReceiver, RepliesTooShortForTheirFieldsAreNotTaken) {
    KLeicaRS500Receiver receiver(false);
    Use(receiver);
    ReplyAt(100, Hex("FA"));        // cannot even hold the second code byte
    ReplyAt(200, Hex("FA 07 0D"));  // the right codes, but no date in it
    KGPSTime time(0);
    EXPECT_FALSE(receiver.QueryTime(time));
    EXPECT_EQ(clock.NowMs(), 10000);
    EXPECT_EQ(time.utc, kWall + 10);  // a failed query hands back the current time
}

TEST_F(LeicaReceiver, CRS1000TimeIsSecondsOfWeekInTheResolvedWeek) {
    KLeicaCRS1000Receiver receiver(false);
    Use(receiver);
    ReplyAt(200, Hex("01 00 2F 0D"));  // 864000 tenths: Monday 00:00:00 of the week
    KGPSTime time(0);
    EXPECT_TRUE(receiver.QueryTime(time));
    EXPECT_EQ(ToHex(Written()), ToHex(leica::Frame(Hex("82 00 00 C8 01 00 00 00"))));
    EXPECT_DOUBLE_EQ(time.GetSecondsOfWeek(), 86400.0);
    const uint32_t thisWeek = static_cast<uint32_t>((kWall - KGPSTime::kGpsEpoch) / 604800);
    EXPECT_EQ(time.GetGPSWeek(), thisWeek);  // Wednesday noon: Monday of the same week

    KGPSTime later(0);
    EXPECT_FALSE(receiver.QueryTime(later));
    EXPECT_EQ(later.utc, kWall + clock.NowMs() / 1000);
}

TEST_F(LeicaReceiver, ControlCommandFourOnlyAndItsReply) {
    KLeicaCRS1000Receiver receiver(false);
    Use(receiver);
    EXPECT_TRUE(receiver.SendControlCommand(3, true));
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(receiver.SendControlCommand(4, false));
    EXPECT_EQ(ToHex(Written()), "9C AE 06 00 DB 00 1F FF");
    EXPECT_EQ(clock.NowMs(), 0);

    ReplyAt(1200, Hex("FF DB"));
    EXPECT_TRUE(receiver.SendControlCommand(4, true));
    const int64_t start = clock.NowMs();
    EXPECT_FALSE(receiver.SendControlCommand(4, true));
    EXPECT_EQ(clock.NowMs() - start, 5000);
}

TEST_F(LeicaReceiver, FailedWritesFailThePingAtOnce) {
    KLeicaRS500Receiver receiver(false);
    Use(receiver);
    link.SetWritesFail(true);
    EXPECT_FALSE(receiver.Ping(5000));
    EXPECT_EQ(clock.NowMs(), 0);
}

TEST_F(LeicaReceiver, ScanTimeSpanIsNotOffered) {
    KLeicaCRS1000Receiver receiver(false);
    bool gotFirst = true, gotLast = true, weekUnknown = false;
    KGPSTime first(400000000), last(500000000);
    EXPECT_FALSE(receiver.ScanTimeSpan(gotFirst, first, gotLast, last, weekUnknown));
    EXPECT_TRUE(gotFirst);
    EXPECT_TRUE(gotLast);
    EXPECT_FALSE(weekUnknown);
    EXPECT_EQ(first.utc, 400000000);
    EXPECT_EQ(last.utc, 500000000);
}

} // namespace

TEST(LeicaReceiverClasses, MakesTheCRS1000ClassForTypesFourAndFiveAndTheRS500ForSixAndSeven) {
    EXPECT_EQ(KLeicaReceiver::Create(3, false), nullptr);
    EXPECT_EQ(KLeicaReceiver::Create(8, false), nullptr);
    for (int32_t type : {4, 5}) EXPECT_NE(dynamic_cast<KLeicaCRS1000Receiver*>(KLeicaReceiver::Create(type, false).get()), nullptr) << type;
    for (int32_t type : {6, 7}) EXPECT_NE(dynamic_cast<KLeicaRS500Receiver*>(KLeicaReceiver::Create(type, false).get()), nullptr) << type;
}
