#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/KNetworkComm.h"
#include "comm/KTelnetCodec.h"
#include "support/FramerHarness.h"

namespace {

using telnet::Codec;

struct Decoded {
    Bytes data;
    Bytes reply;
    std::vector<telnet::ComPortAnswer> answers;
    bool accepted = false;
    bool refused = false;
};

// What the codec makes of `wire` arriving in pieces of `piece` bytes.
Decoded Decode(const Bytes& wire, size_t piece) {
    Codec codec;
    Decoded out;
    for (size_t at = 0; at < wire.size(); at += piece)
        codec.Receive(wire.data() + at, std::min(piece, wire.size() - at), out.data, out.reply);
    out.answers = codec.TakeAnswers();
    out.accepted = codec.ComPortAccepted();
    out.refused = codec.ComPortRefused();
    return out;
}

struct IncomingCase {
    const char* what;
    std::string wire;
    std::string data;
    std::string reply;
    std::vector<std::pair<uint8_t, std::string>> answers;  // command, value
    bool accepted;
    bool refused;
};

TEST(TelnetCodec, UnescapesTheLineAnswersOnlyWhatItNeverOfferedAndKeepsThePortsAnswersInAnyCut) {
    const std::vector<IncomingCase> cases = {
        {"plain bytes", "01 02 0D 0A 00", "01 02 0D 0A 00", "", {}, false, false},
        {"a doubled 255 is one line byte", "41 FF FF 42 FF FF FF FF", "41 FF 42 FF FF", "", {}, false, false},
        {"agreement to the COM port option", "FF FD 2C FF FB 00 FF FD 03", "", "", {}, true, false},
        {"an offer never asked for is refused", "FF FB 01 FF FD 18 10", "10", "FF FE 01 FF FC 18", {}, false, false},
        {"a refused COM port option", "FF FC 2C FF FE 2C", "", "", {}, false, true},
        {"the rate answer", "FF FA 2C 65 00 01 C2 00 FF F0 55", "55", "", {{1, "00 01 C2 00"}}, false, false},
        {"a 255 inside an answer is doubled", "FF FA 2C 65 00 00 FF FF FF F0", "", "", {{1, "00 00 FF"}}, false, false},
        {"other options' subnegotiations are not answers", "FF FA 18 00 41 FF F0 FF FA 2C 02 08 FF F0 31", "31", "",
         {}, false, false},
        {"commands without an option carry no line bytes", "FF F1 61 FF F9 62 FF F0 63", "61 62 63", "", {}, false,
         false},
        {"an unclosed subnegotiation ends at the next command", "FF FA 2C 66 05 FF FB 2C 70", "70", "",
         {{2, "05"}}, true, false},
    };
    for (const IncomingCase& c : cases) {
        for (size_t piece : {1u, 2u, 3u, 1000u}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            const Decoded got = Decode(Hex(c.wire), piece);
            EXPECT_EQ(ToHex(got.data), ToHex(Hex(c.data)));
            EXPECT_EQ(ToHex(got.reply), ToHex(Hex(c.reply)));
            ASSERT_EQ(got.answers.size(), c.answers.size());
            for (size_t i = 0; i < c.answers.size(); ++i) {
                EXPECT_EQ(got.answers[i].command, c.answers[i].first);
                EXPECT_EQ(ToHex(got.answers[i].value), ToHex(Hex(c.answers[i].second)));
            }
            EXPECT_EQ(got.accepted, c.accepted);
            EXPECT_EQ(got.refused, c.refused);
        }
    }
}

TEST(TelnetCodec, WhatItSendsIsEscapedAndComesBackAsItWas) {
    Bytes all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<uint8_t>(b));
    Bytes wire;
    Codec::Escape(all.data(), all.size(), wire);
    EXPECT_EQ(wire.size(), 257u);
    const Decoded back = Decode(wire, 7);
    EXPECT_EQ(back.data, all);
    EXPECT_TRUE(back.reply.empty());

    EXPECT_EQ(ToHex(Codec::SetBaudRate(115200)), ToHex(Hex("FF FA 2C 01 00 01 C2 00 FF F0")));
    // 0xFF in a value is doubled inside the subnegotiation as on the line.
    EXPECT_EQ(ToHex(Codec::SetBaudRate(0xFF00)), ToHex(Hex("FF FA 2C 01 00 00 FF FF 00 FF F0")));
    EXPECT_EQ(ToHex(Codec::Greeting()), ToHex(Hex("FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C")));
}

TEST(NetworkAddress, ReadsHostAndPortAndSaysWhatIsWrongWithTheRest) {
    struct Case {
        std::string text;
        bool ok;
        KNetworkAddress::Scheme scheme;
        std::string host;
        std::string port;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {"rfc2217://terminal-7:4001", true, KNetworkAddress::Rfc2217, "terminal-7", "4001", ""},
        {"RFC2217://10.0.0.5:2217/", true, KNetworkAddress::Rfc2217, "10.0.0.5", "2217", ""},
        {"socket://[fe80::1]:23", true, KNetworkAddress::Socket, "fe80::1", "23", ""},
        {"rfc2217://host", false, {}, "", "", "no port number"},
        {"rfc2217://host:0", false, {}, "", "", "1 to 65535"},
        {"rfc2217://host:65536", false, {}, "", "", "1 to 65535"},
        {"rfc2217://:4001", false, {}, "", "", "host must be named"},
        {"rfc2217://host:40x1", false, {}, "", "", "1 to 65535"},
        {"rfc2217://host:4001?logging=debug", false, {}, "", "", "only HOST:PORT"},
        {"socket://fe80::1:23", false, {}, "", "", "[ADDRESS]:PORT"},
        {"socket://[fe80::1:23", false, {}, "", "", "[ADDRESS]:PORT"},
        {"telnet://host:23", false, {}, "", "", "not a network port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KNetworkAddress address;
        std::string error;
        EXPECT_EQ(ParseNetworkAddress(c.text, address, error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(address.scheme, c.scheme);
            EXPECT_EQ(address.host, c.host);
            EXPECT_EQ(address.port, c.port);
        } else {
            EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
        }
    }
    EXPECT_TRUE(IsFixedRatePort("Socket://h:1"));
    EXPECT_FALSE(IsFixedRatePort("rfc2217://h:1"));
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}

} // namespace
