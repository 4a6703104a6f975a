// The Septentrio framer on built streams: SBF blocks and command replies, with the damage a
// serial line does to them.
#include "monitors/KSeptentrioStreamMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/KMemoryComm.h"
#include "families/KReceiverFamily.h"
#include "session/KReceiverIdentifier.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"

namespace {

const std::string kBadCrc = "SBF - invalid CRC";
std::string BadLength(int n) { return "SBF - invalid block length " + std::to_string(n); }
const std::string kLongReply = "Septentrio - reply longer than 4096 bytes, skipped";

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The test's own CRC-16-CCITT, bit by bit.
uint16_t Crc(const Bytes& bytes, size_t from) {
    uint16_t crc = 0;
    for (size_t i = from; i < bytes.size(); ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) & 1) != (((bytes[i] >> bit) & 1) != 0);
            crc = static_cast<uint16_t>(crc << 1);
            if (top) crc ^= 0x1021;
        }
    return crc;
}

// A block of `length` bytes (a multiple of 4): header, time of week, week, then counting bytes.
Bytes Block(uint16_t id, size_t length, uint32_t towMs = 345600000, uint16_t week = 2300) {
    Bytes b = Concat({Text("$@"), LE(0, 2), LE(id, 2), LE(length, 2), LE(towMs, 4), LE(week, 2)});
    for (uint8_t i = 0; b.size() < length; ++i) b.push_back(i);
    b.resize(length);
    const uint16_t crc = Crc(b, 4);
    b[2] = static_cast<uint8_t>(crc);
    b[3] = static_cast<uint8_t>(crc >> 8);
    return b;
}

Bytes Damaged(Bytes block) {
    block[block.size() - 1] ^= 0x40;
    return block;
}

TEST(SeptentrioFramer, FramesBlocksRepliesAndPrompts) {
    const Bytes shortest = Block(5921, 8), time = Block(5914, 24), longest = Block(4027, 4096);
    const Bytes get = Text("$R: grc\r\n  ReceiverCapabilities, GPSL1CA, COM1+COM2\r\nCOM2>");
    const Bytes error = Text("$R? grcx: Invalid command!\r\nCOM4>");
    const Bytes list = Text("$R; lif, Identification\r\n---->");
    const Bytes prompt = Text("COM1>");
    // A block cut short after 60 bytes, and one that starts where its body should go on.
    const Bytes inner = Block(4007, 96), outer = Block(4006, 120);
    const struct {
        const char* name;
        Bytes stream;
        std::vector<Bytes> messages;
        std::vector<std::string> errors;
    } cases[] = {
        {"blocks of every size", Concat({shortest, time, longest, shortest}), {shortest, time, longest, shortest}, {}},
        {"replies of every kind and prompts", Concat({get, error, list, Text("\r\n"), prompt, time}),
         {get, error, list, prompt, time}, {}},
        {"replies amid blocks", Concat({time, get, time, Hex("00 FF"), error}), {time, get, time, error}, {}},
        {"a damaged block, the next kept", Concat({Damaged(time), time}), {time}, {kBadCrc}},
        {"lengths that are no block length",
         Concat({Text("$@"), LE(0, 2), LE(1, 2), LE(6, 2), time, Text("$@\x01\x02\x03\x04"), LE(4100, 2), time,
                 Text("$@ab"), LE(1, 2), LE(10, 2), shortest}),
         {time, time, shortest}, {BadLength(6), BadLength(4100), BadLength(10)}},
        {"a block that starts inside a cut one", Concat({Slice(outer, 0, 60), inner}), {inner}, {kBadCrc}},
        // Noise that looks like a reply's start swallows nothing: its first binary byte ends it.
        {"a false reply start before a block", Concat({Text("$R:"), time, Text("$R?\r\n"), get}), {time, get}, {}},
        {"a reply cut short by the next", Concat({Slice(get, 0, 20), error}), {error}, {}},
        // Its end still holds a prompt on its own.
        {"a reply cut by noise", Concat({Slice(get, 0, 20), Hex("80"), Slice(get, 20, get.size()), prompt}),
         {Text("COM2>"), prompt}, {}},
        {"a prompt inside a line ends nothing", Text("$R: gcs, COM1\r\n  x COM1> y\r\nCOM1>"),
         {Text("$R: gcs, COM1\r\n  x COM1> y\r\nCOM1>")}, {}},
        {"not prompts", Concat({Text("COM5>COM>CO1>USB1>"), prompt}), {prompt}, {}},
        {"a reply too long", Concat({Text("$R: x\r\n"), Repeat('a', 4200), Text("\r\nCOM1>"), time}),
         {prompt, time}, {kLongReply}},
        {"cut at the end waits", Concat({time, Slice(get, 0, get.size() - 1)}), {time}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectFramed<KSeptentrioStreamMonitor>(c.stream, c.messages, c.errors);
    }
    // Heard by listening: two blocks are enough, prompts on their own are not.
    KReceiverIdentifier::Heard heard;
    const KReceiverFamily* family = KReceiverIdentifier::Recognise(Concat({time, prompt, shortest}), heard);
    ASSERT_NE(family, nullptr);
    EXPECT_STREQ(family->name, "Septentrio");
    EXPECT_EQ(KReceiverIdentifier::Recognise(Concat({prompt, prompt, Text("\r\nCOM2>"), time}), heard), nullptr);
}

TEST(SeptentrioFramer, TellsWhatProvesTheProtocolAndWhichPortAPromptNames) {
    KSeptentrioStreamMonitor framer;
    const struct {
        std::string text;
        bool proves;
        int32_t port;
    } cases[] = {
        {"$R: grc\r\nCOM3>", true, 3},
        {"$R? x: Invalid command!\r\nCOM1>", true, 1},
        {"$R; lif\r\n---->", true, 0},
        {"COM4>", false, 4},
        {"$@\x01\x02", true, 0},
        {"$GPGGA,1*00\r\n", false, 0},
        {"OM4>", false, 0},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Text(c.text);
        const StreamMessage message(bytes.data(), static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(framer.ProvesProtocol(message), c.proves) << c.text;
        EXPECT_EQ(KSeptentrioStreamMonitor::PromptPort(message), c.port) << c.text;
    }
    // The check is the CCITT one: "123456789" gives 0x31C3.
    const Bytes check = Text("123456789");
    EXPECT_EQ(KSeptentrioStreamMonitor::Crc16(check.data(), 9), 0x31C3);
}

} // namespace
