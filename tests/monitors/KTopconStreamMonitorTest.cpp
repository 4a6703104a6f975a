#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "comm/KMemoryComm.h"
#include "monitors/KTopconStreamMonitor.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/TopconFrames.h"

namespace {

const std::string kInvalidCrc = "Topcon - invalid CRC";
const std::string kExceeded = "Topcon - buffer size exceeded";

Bytes Str(const std::string& text) { return Bytes(text.begin(), text.end()); }

FramedRun Frame(const Bytes& stream, Chunking chunking = Chunking::AllAtOnce, uint32_t seed = 1) {
    KTopconStreamMonitor monitor;
    return RunFramer(monitor, stream, chunking, seed);
}

// Every chunking must give the same result.
class TopconChunking : public ::testing::TestWithParam<Chunking> {};

std::string ChunkingName(const ::testing::TestParamInfo<Chunking>& param) {
    switch (param.param) {
    case Chunking::OneByte: return "OneByte";
    case Chunking::Random: return "Random";
    default: return "AllAtOnce";
    }
}

INSTANTIATE_TEST_SUITE_P(AllChunkings, TopconChunking,
                         ::testing::Values(Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce),
                         ChunkingName);

TEST_P(TopconChunking, DeliversEveryValidMessageWithItsLineEnd) {
    const std::vector<Bytes> messages = {
        WithCrLf(TopconChecked("~~", Str("\x10\x20\x30\x40"))),
        WithCrLf(TopconMessage("RE", Str("%reset%"))),
        WithCrLf(TopconChecked("rM", PseudoRandomBytes(40, 7))),
        WithCrLf(TopconChecked("GE", PseudoRandomBytes(60, 8))),
        WithCrLf(TopconChecked("NE", PseudoRandomBytes(3, 9))),
        WithCrLf(TopconChecked("PO", PseudoRandomBytes(200, 10))),
        WithCrLf(TopconChecked(">>", Str("status=ok,"))),
        WithCrLf(TopconMessage("PV", PseudoRandomBytes(46, 11))),
        WithCrLf(TopconMessage("==", Str("x"))),
        Concat({TopconMessage("SI", PseudoRandomBytes(20, 12)), Str("\r\r\r\n")}),
        Concat({TopconMessage("EL", Str("abc")), Str("\n")}),
    };
    Bytes stream;
    for (const Bytes& m : messages) stream = Concat({stream, m});
    for (uint32_t seed : {1u, 2u, 3u}) {
        const FramedRun run = Frame(stream, GetParam(), seed);
        EXPECT_EQ(run.messages, messages);
        EXPECT_TRUE(run.errors.empty());
    }
}

TEST_P(TopconChunking, CheckFailureRewindsToAnInnerMessage) {
    // A "~~" header whose claimed body swallows a complete "RE" message: the failed check
    // finds it among the held bytes and delivers exactly its header and body.
    Bytes inner = TopconMessage("RE", Str("hello"));
    Bytes outerBody = Concat({Str("a."), inner, Str("\r\nqrstuvwxyzqrstuvwx")});
    Bytes outer = TopconMessage("~~", outerBody);
    if (GrilChecksum8(Bytes(outer.begin(), outer.end() - 1)) == outer.back()) outer.back() ^= 1;
    const Bytes after = WithCrLf(TopconMessage("GT", Str("time")));
    const FramedRun run = Frame(Concat({outer, Str("\r\n"), after}), GetParam());
    EXPECT_EQ(run.messages, (std::vector<Bytes>{inner, after}));
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST_P(TopconChunking, RewindContinuesAMessageThatRunsPastTheHeldBytes) {
    // The inner "RE" starts in the failed frame and ends in bytes that come after it; it is
    // completed from the link and keeps its line end.
    Bytes outer = Concat({Str("~~00A"), Str("x.RE00Ehel")});
    const Bytes rest = Str("lo world 12\r\n");
    ASSERT_NE(GrilChecksum8(Bytes(outer.begin(), outer.end() - 1)), outer.back());
    const FramedRun run = Frame(Concat({outer, rest}), GetParam());
    EXPECT_EQ(run.messages, std::vector<Bytes>{Str("RE00Ehello world 12\r\n")});
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST_P(TopconChunking, TwoMessagesWithoutLineEndAreBothDelivered) {
    const Bytes first = TopconChecked("~~", Str("abcd"));
    const Bytes second = WithCrLf(TopconMessage("RE", Str("world")));
    const FramedRun run = Frame(Concat({first, second}), GetParam());
    // The first ends where the second's first byte arrives.
    EXPECT_EQ(run.messages, (std::vector<Bytes>{first, second}));
    EXPECT_TRUE(run.errors.empty());
}

TEST_P(TopconChunking, BufferExceededDropsTheMessageAndHuntsOn) {
    const Bytes big = TopconMessage("RE", PseudoRandomBytes(0xFFF, 3));
    ASSERT_EQ(big.size(), 4100u);
    const Bytes after = WithCrLf(TopconMessage("GT", Str("time")));
    const FramedRun run = Frame(Concat({big, Repeat(0x0D, 96), Str("x"), after}), GetParam());
    EXPECT_EQ(run.messages, std::vector<Bytes>{after});
    EXPECT_EQ(run.errors, std::vector<std::string>{kExceeded});
}

TEST(TopconFramer, MessageThatExactlyFillsTheBufferIsDelivered) {
    const Bytes big = TopconMessage("RE", PseudoRandomBytes(0xFFF, 3));
    const Bytes full = Concat({big, Repeat(0x0D, 95), Str("\n")});
    ASSERT_EQ(full.size(), KTopconStreamMonitor::kBufferSize);
    const FramedRun run = Frame(full, Chunking::Random);
    EXPECT_EQ(run.messages, std::vector<Bytes>{full});
    EXPECT_TRUE(run.errors.empty());

    // One CR more and even the LF no longer fits.
    const FramedRun over = Frame(Concat({big, Repeat(0x0D, 96), Str("\n")}), Chunking::Random);
    EXPECT_TRUE(over.messages.empty());
    EXPECT_EQ(over.errors, std::vector<std::string>{kExceeded});
}

TEST(TopconFramer, JunkBeforeTheFirstHeaderIsSkippedSilently) {
    const Bytes junk = Concat({Repeat(0x00, 30), Str("\r\n\x01\x02 hello, zz!"), Repeat(0xFF, 10)});
    const Bytes message = WithCrLf(TopconMessage("RT", Str("0123")));
    for (Chunking chunking : {Chunking::OneByte, Chunking::AllAtOnce}) {
        const FramedRun run = Frame(Concat({junk, message}), chunking);
        EXPECT_EQ(run.messages, std::vector<Bytes>{message});
        EXPECT_TRUE(run.errors.empty());
    }
}

TEST(TopconFramer, IdentifierAndLengthRules) {
    const Bytes after = WithCrLf(TopconMessage("RE", Str("after")));
    struct Case {
        std::string text;
        bool header;
    };
    const Case cases[] = {
        {"12005abcde\r\n", false},  // two digits
        {"A=005abcde\r\n", false},  // "=" second without "=" first
        {"==005abcde\r\n", true},
        {"=A005abcde\r\n", true},   // "=" first may have any second
        {"1A005abcde\r\n", true},   // one digit is enough
        {"RE000\r\n", false},       // zero length
        {"RE00a\r\n", false},       // lower-case hex
        {"RE00G\r\n", false},
        {"R\x7F" "005abcde\r\n", false},  // past "~"
        {"/A005abcde\r\n", false},        // below "0"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const FramedRun run = Frame(Concat({Str(c.text), after}));
        if (c.header) {
            EXPECT_EQ(run.messages, (std::vector<Bytes>{Str(c.text), after}));
        } else {
            EXPECT_EQ(run.messages, std::vector<Bytes>{after});
        }
    }
}

TEST(TopconFramer, CommentLinesAreSkipped) {
    const Bytes message = WithCrLf(TopconMessage("RE", Str("hello")));
    // A comment may hold text that looks like a message.
    FramedRun run = Frame(Concat({Str("# bad cycle, RE005world\n"), message}), Chunking::OneByte);
    EXPECT_EQ(run.messages, std::vector<Bytes>{message});
    EXPECT_TRUE(run.errors.empty());

    // "#" without the space is not a comment.
    run = Frame(Concat({Str("#RE005world\r\n"), message}));
    EXPECT_EQ(run.messages, (std::vector<Bytes>{Str("RE005world\r\n"), message}));

    // Comment lines between messages, one after the other.
    run = Frame(Concat({message, Str("# one\n# two two\n"), message}), Chunking::Random);
    EXPECT_EQ(run.messages, (std::vector<Bytes>{message, message}));
    EXPECT_TRUE(run.errors.empty());
}

TEST(TopconFramer, ShortCommentLineDoesNotSwallowTheNextLine) {
    // The line end of "# \n" or "# x\n" is already in the five-byte window when the comment
    // is seen; the message that follows must survive.
    const Bytes message = WithCrLf(TopconMessage("RE", Str("hello")));
    for (const std::string comment : {"# \n", "# x\n", "# xy\n"}) {
        SCOPED_TRACE(comment);
        for (Chunking chunking : {Chunking::OneByte, Chunking::AllAtOnce}) {
            const FramedRun run = Frame(Concat({Str(comment), message, message}), chunking);
            EXPECT_EQ(run.messages, (std::vector<Bytes>{message, message}));
            EXPECT_TRUE(run.errors.empty());
        }
    }
}

// Each checked identifier: its good form is delivered, its damaged forms are logged and lost.
TEST(TopconFramer, ChecksOfEachIdentifier) {
    const Bytes after = WithCrLf(TopconMessage("GT", Str("time")));
    struct Case {
        std::string name;
        Bytes good;
        std::vector<Bytes> bad;
    };
    const Bytes rM = TopconChecked("rM", Str("some raw measurements"));
    const Bytes ge = TopconChecked("GE", Str("glonass ephemeris"));
    const Bytes ne = TopconChecked("NE", Str("navigation"));
    const Bytes po = TopconChecked("PO", Str("position"));
    const Bytes tilde = TopconChecked("~~", Str("epoch"));
    const Bytes reply = TopconChecked(">>", Str("reply text"));
    const Case cases[] = {
        {"rM", rM, {SwapLastTwo(rM), FlipByte(rM, 7)}},
        {"GE", ge, {FlipByte(ge, ge.size() - 1), FlipByte(ge, 6, 0x80)}},
        {"NE", ne, {FlipByte(ne, ne.size() - 1, 0x40)}},
        {"PO", po, {FlipByte(po, 9)}},
        {"~~", tilde, {FlipByte(tilde, 5)}},
        {">>", reply, {LowerCaseCheckDigits(reply), SetByte(reply, reply.size() - 1, 'G'),
                       FlipByte(reply, 8)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FramedRun run = Frame(Concat({WithCrLf(c.good), after}), Chunking::Random);
        EXPECT_EQ(run.messages, (std::vector<Bytes>{WithCrLf(c.good), after}));
        EXPECT_TRUE(run.errors.empty());
        for (const Bytes& bad : c.bad) {
            ASSERT_NE(bad, c.good);
            run = Frame(Concat({WithCrLf(bad), after}), Chunking::Random);
            EXPECT_EQ(run.messages, std::vector<Bytes>{after}) << ToHex(bad);
            EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc}) << ToHex(bad);
        }
    }
    // The ">>" test really needed a check digit that was a lower-case letter.
    EXPECT_NE(LowerCaseCheckDigits(reply), reply);
}

TEST(TopconFramer, CheckTypesWithBodiesTooShortForTheirCheckFail) {
    // "rM" and ">>" carry two check bytes: a one-byte body cannot hold them, whatever it holds.
    for (int value = 0; value < 256; ++value) {
        const uint8_t b = static_cast<uint8_t>(value);
        EXPECT_FALSE(KTopconStreamMonitor::CheckMessage(Concat({Str("rM001"), {b}}).data(), 6));
        EXPECT_FALSE(KTopconStreamMonitor::CheckMessage(Concat({Str(">>001"), {b}}).data(), 6));
    }
    // A one-byte body of a one-byte-check identifier is just the checksum of the header.
    const Bytes tiny = TopconChecked("GE", Bytes{});
    ASSERT_EQ(tiny.size(), 6u);
    EXPECT_TRUE(KTopconStreamMonitor::CheckMessage(tiny.data(), 6));
    const FramedRun run = Frame(WithCrLf(tiny));
    EXPECT_EQ(run.messages, std::vector<Bytes>{WithCrLf(tiny)});
}

TEST(TopconFramer, CheckSumsMatchKnownValues) {
    // CRC-16/XMODEM of "123456789" is 0x31C3.
    const Bytes digits = Str("123456789");
    EXPECT_EQ(KTopconStreamMonitor::Crc16(digits.data(), 9), 0x31C3);
    EXPECT_EQ(GrilCrc16(digits), 0x31C3);
    const Bytes some = PseudoRandomBytes(300, 5);
    EXPECT_EQ(KTopconStreamMonitor::Crc16(some.data(), 300), GrilCrc16(some));
    EXPECT_EQ(KTopconStreamMonitor::Checksum8(some.data(), 300), GrilChecksum8(some));
    // A single byte: rotate 0, XOR, rotate once more.
    const Bytes one = {0x81};
    EXPECT_EQ(GrilChecksum8(one), 0x06);
    EXPECT_EQ(KTopconStreamMonitor::Checksum8(one.data(), 1), 0x06);
}

TEST(TopconFramer, FailedMessageEndedByTheNextHeaderStillLetsThatMessageThrough) {
    // The failed message's terminating byte belongs to the next message.
    const Bytes bad = FlipByte(TopconChecked("~~", Str("abcd")), 6);
    const Bytes next = WithCrLf(TopconMessage("RE", Str("world")));
    for (Chunking chunking : {Chunking::OneByte, Chunking::AllAtOnce}) {
        const FramedRun run = Frame(Concat({bad, next}), chunking);
        EXPECT_EQ(run.messages, std::vector<Bytes>{next});
        EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
    }
}

TEST(TopconFramer, RewindDropsFailingInnerCandidatesWithoutLogging) {
    // Inside the failed frame: a "~~" candidate with a wrong checksum, then a good "RE".
    const Bytes innerBad = FlipByte(TopconChecked("~~", Str("zz")), 5);
    const Bytes innerGood = TopconMessage("RE", Str("ok"));
    Bytes outer = TopconMessage("GE", Concat({Str("q"), innerBad, Str("\n"), innerGood, Str("qq")}));
    if (GrilChecksum8(Bytes(outer.begin(), outer.end() - 1)) == outer.back()) outer.back() ^= 1;
    const FramedRun run = Frame(WithCrLf(outer), Chunking::OneByte);
    EXPECT_EQ(run.messages, std::vector<Bytes>{innerGood});
    EXPECT_EQ(run.errors, std::vector<std::string>{kInvalidCrc});
}

TEST(TopconFramer, MessagesArriveInOrderWithNoiseBetween) {
    Bytes stream;
    std::vector<Bytes> expected;
    for (uint32_t i = 0; i < 200; ++i) {
        const Bytes m = WithCrLf(TopconChecked(i % 2 ? "rM" : "PV", PseudoRandomBytes(10 + i, i)));
        expected.push_back(m);
        // Noise of bytes below "0" can never start a header.
        Bytes noise = PseudoRandomBytes(i % 17, i + 1000);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(b % 0x30);
        for (uint8_t& b : noise)
            if (b == '\n' || b == '\r' || b == '#') b = 0;
        stream = Concat({stream, m, noise});
    }
    const FramedRun run = Frame(stream, Chunking::Random, 99);
    EXPECT_EQ(run.messages, expected);
    EXPECT_TRUE(run.errors.empty());
}

// Driving ReadStep by hand over a memory link, without a reader thread.
class TopconDriven : public ::testing::Test {
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
    KTopconStreamMonitor monitor;
};

TEST_F(TopconDriven, BoundedScanGivesUpAfter8193BytesPerStep) {
    link.Feed(Repeat('x', 20000));
    monitor.boundedScan = true;
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 20000u - 8193u);
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 20000u - 2 * 8193u);
    // Without the bound the hunt runs until the link is dry.
    monitor.boundedScan = false;
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 0u);
    EXPECT_EQ(monitor.MessageCount(), 0);
}

TEST_F(TopconDriven, HuntAfterABoundedGiveUpStillFindsMessages) {
    const Bytes message = WithCrLf(TopconChecked("~~", Str("abcd")));
    // Give-ups land at different window fillings; every one must leave the hunt intact.
    const Bytes stream = Concat({Repeat('.', 3 * 8193 + 2), message, Repeat('x', 8193 * 2 + 7),
                                 message, Str("RE"), Repeat('.', 9000), message});
    link.Feed(stream);
    monitor.boundedScan = true;
    int idle = 0;
    while (link.Readable() > 0 && idle < 100) idle += monitor.ReadStep() ? 0 : 1;
    while (monitor.ReadStep()) {}
    EXPECT_EQ(Pop(), (std::vector<Bytes>{message, message, message}));
}

TEST_F(TopconDriven, BoundedGiveUpInsideAHeaderKeepsTheHeader) {
    // The step gives up on its 8193rd byte without looking at it; wherever that byte falls in
    // (or just before) a header, the next steps must still find the message.
    const Bytes message = WithCrLf(TopconMessage("RE", Str("hello")));
    for (size_t into = 0; into < 5; ++into) {
        SCOPED_TRACE(into);
        monitor.Stop();
        monitor.Start(&link, false, "Test");
        monitor.boundedScan = true;
        link.Feed(Concat({Repeat('.', 8192 - into), message}));
        EXPECT_FALSE(monitor.ReadStep());
        EXPECT_EQ(link.Readable(), message.size() - into - 1);
        while (monitor.ReadStep()) {}
        EXPECT_EQ(Pop(), std::vector<Bytes>{message});
        EXPECT_EQ(link.Readable(), 0u);
    }
}

TEST_F(TopconDriven, HeaderWithOneByteBodyFoundAfterAGiveUp) {
    // After a give-up the window holds one extra byte; for a one-byte body that byte is the
    // whole body, and nothing is left to read for it.
    const Bytes message = TopconMessage("RE", Str("z"));
    link.Feed(Concat({Repeat('.', 8188), message}));
    monitor.boundedScan = true;
    EXPECT_FALSE(monitor.ReadStep());
    EXPECT_EQ(link.Readable(), 1u);
    link.Feed(Str("\r\n"));
    while (monitor.ReadStep()) {}
    EXPECT_EQ(Pop(), std::vector<Bytes>{WithCrLf(message)});
}

TEST_F(TopconDriven, ReadsOnlyWhatTheStateNeeds) {
    const Bytes message = TopconMessage("PV", PseudoRandomBytes(46, 4));
    link.Feed(Bytes(message.begin(), message.begin() + 20));
    EXPECT_TRUE(monitor.ReadStep());  // header found
    EXPECT_EQ(monitor.FramerState(), 3);
    EXPECT_EQ(monitor.HeldBytes(), 5u);
    EXPECT_FALSE(monitor.ReadStep());  // the body is not all there: nothing is taken
    EXPECT_EQ(link.Readable(), 15u);
    link.Feed(Bytes(message.begin() + 20, message.end()));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 4);
    EXPECT_EQ(monitor.HeldBytes(), 51u);
    EXPECT_FALSE(monitor.ReadStep());  // waits for the byte after the message
    link.Feed(Str("\r"));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 4);
    link.Feed(Str("\n"));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 1);
    EXPECT_EQ(monitor.HeldBytes(), 0u);
    EXPECT_EQ(Pop(), std::vector<Bytes>{WithCrLf(message)});
}

TEST_F(TopconDriven, CommentSkipTakesOneByteAStep) {
    link.Feed(Str("# abc\n"));
    EXPECT_TRUE(monitor.ReadStep());
    EXPECT_EQ(monitor.FramerState(), 2);
    EXPECT_TRUE(monitor.ReadStep());  // "\n" is the sixth byte
    EXPECT_EQ(monitor.FramerState(), 1);
    EXPECT_EQ(link.Readable(), 0u);
}

} // namespace

