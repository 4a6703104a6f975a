// The Septentrio receiver against scripted command-line answers and against the simulated
// receiver, and its time scan over SBF streams; every wait runs in virtual time.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "receivers/KSeptentrioReceiver.h"
#include "sim/KSeptentrioDevice.h"
#include "support/ReceiverRig.h"
#include "support/TimeSpanScan.h"

namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Sent(ScriptedReceiverRig& rig) {
    const Bytes bytes = rig.Written();
    return {bytes.begin(), bytes.end()};
}

// An SBF block of 16 bytes telling a time (the simulated receiver's builder; the framer's tests
// check blocks of their own).
Bytes TimeBlock(uint32_t towMs, uint16_t week) {
    Bytes body;
    for (int i = 0; i < 4; ++i) body.push_back(static_cast<uint8_t>(towMs >> (8 * i)));
    body.push_back(static_cast<uint8_t>(week));
    body.push_back(static_cast<uint8_t>(week >> 8));
    return KSeptentrioDevice::SbfBlock(5921, body);
}

Bytes Prompt(int port) { return Text("\r\nCOM" + std::to_string(port) + ">"); }
Bytes Answer(const std::string& command, const std::string& line, int port) {
    return Text("$R: " + command + "\r\n  " + line + "\r\nCOM" + std::to_string(port) + ">");
}

using Operation = std::function<bool(KSeptentrioReceiver&)>;

// Output (an SBF block) goes on all along; answers come when the table says, whatever was sent.
TEST(SeptentrioReceiver, ClearsTheLineBeforeEachCommandAndLearnsItsPort) {
    const Bytes capabilities = Answer("grc", "ReceiverCapabilities, GPSL1CA, COM1+COM2", 2);
    const std::string scs = "scs, COM2, baud921600";
    const Bytes scsAnswer = Answer(scs, "COMSettings, COM2, baud921600, bits8, No, bit1, none", 2);
    const Operation ping = [](auto& r) { return r.Ping(1000); };
    const Operation change = [](auto& r) { return r.ChangeBaud(921600); };
    const struct {
        const char* name;
        Operation operation;
        std::vector<std::pair<int64_t, Bytes>> answers;
        bool ok;
        int64_t ms;
        std::string sent;
        int32_t port;
    } cases[] = {
        {"ping", ping, {{100, Prompt(2)}, {300, capabilities}}, true, 300, "\r\ngrc\r\n", 2},
        // Garbage heard at a wrong rate is echoed: the framer keeps only its prompt.
        {"ping after garbage", ping,
         {{100, Text("$R? \x13\xF1q: Invalid command!\r\nCOM3>")}, {200, Answer("grc", "x", 3)}}, true, 200,
         "\r\ngrc\r\n", 3},
        {"ping answered as a listing", ping, {{100, Prompt(2)}, {200, Text("$R; grc\r\n---->\r\nCOM2>")}}, true,
         200, "\r\ngrc\r\n", 2},
        {"ping refused", ping, {{100, Prompt(1)}, {200, Text("$R? grc: Invalid command!\r\nCOM1>")}}, false, 200,
         "\r\ngrc\r\n", 1},
        {"line never answered", ping, {}, false, 1000, "\r\n", 0},
        {"capabilities never answered", ping, {{100, Prompt(4)}, {200, Answer("gcs, COM4", "x", 4)}}, false, 1000,
         "\r\ngrc\r\n", 4},
        {"rate, the port learnt first", change, {{100, Prompt(2)}, {200, capabilities}, {300, Prompt(2)}, {400, scsAnswer}},
         true, 400, "\r\ngrc\r\n\r\n" + scs + "\r\n", 2},
        {"rate refused", change,
         {{100, Prompt(2)}, {200, capabilities}, {300, Prompt(2)}, {400, Text("$R? " + scs + ": no!\r\nCOM2>")}},
         false, 400, "\r\ngrc\r\n\r\n" + scs + "\r\n", 2},
        {"rate unanswered", change, {{100, Prompt(2)}, {200, capabilities}, {300, Prompt(2)}}, true, 2300,
         "\r\ngrc\r\n\r\n" + scs + "\r\n", 2},
        {"rate, port never learnt", change, {}, false, 2000, "\r\n", 0},
        {"a rate it lacks", [](auto& r) { return r.ChangeBaud(14400); }, {}, false, 0, "", 0},
        {"save to boot", [](auto& r) { return r.SaveConfigurationToBoot(1000); },
         {{100, Prompt(1)}, {200, Answer("exeCopyConfigFile, Current, Boot", "CopyConfigFile, Current, Boot", 1)}},
         true, 200, "\r\nexeCopyConfigFile, Current, Boot\r\n", 1},
        {"output left alone", [](auto& r) { return r.StopAllBroadcast(2000); }, {}, true, 0, "", 0},
    };
    for (const auto& c : cases) {
        ScriptedReceiverRig rig;
        KSeptentrioReceiver receiver(false);
        rig.Use(receiver);
        for (const auto& [ms, bytes] : c.answers) rig.ReplyAt(ms, bytes);
        for (int64_t ms = 50; ms < 3000; ms += 100) rig.ReplyAt(ms, TimeBlock(1000, 2300));
        EXPECT_EQ(c.operation(receiver), c.ok) << c.name;
        EXPECT_EQ(rig.clock.NowMs(), c.ms) << c.name;
        EXPECT_EQ(Sent(rig), c.sent) << c.name;
        EXPECT_EQ(receiver.Port(), c.port) << c.name;
    }
}

// --- Against the simulated receiver -------------------------------------------------------

KSimDeviceOptions On(const std::string& port, const std::function<void(KSimDeviceOptions&)>& set = {}) {
    KSimDeviceOptions options;
    options.receiverPort = port;
    if (set) set(options);
    return options;
}

// Each cabled to one port: the session's steps set that port's rate and never name another.
TEST(SeptentrioOverSimulator, EachPortIsLearntAndOnlyItsRateChanges) {
    const struct {
        const char* name;
        KSimDeviceOptions options;
        uint32_t from, to;
        int32_t port;
        bool pingOk, changeOk, switches;
    } cases[] = {
        {"COM1, 9600 to 921600", On("COM1"), 9600, 921600, 1, true, true, true},
        {"COM2, 921600 to 1200", On("COM2"), 921600, 1200, 2, true, true, true},
        {"COM3, 1200 to 460800", On("3"), 1200, 460800, 3, true, true, true},
        {"COM4, 115200 to 230400", On("COM4"), 115200, 230400, 4, true, true, true},
        {"silent", On("COM2", [](auto& o) { o.silent = true; }), 9600, 115200, 0, false, false, false},
        {"refuses", On("COM2", [](auto& o) { o.refusesRateChange = true; }), 9600, 115200, 2, true, false, false},
        {"never switches", On("COM2", [](auto& o) { o.neverSwitches = true; }), 9600, 115200, 2, true, true, false},
        // Its prompts name COM3: the rate is set there, not here.
        {"prompts naming another port", On("COM2", [](auto& o) { o.wrongAcknowledgements = true; }), 9600, 115200, 3,
         true, true, false},
        {"slow", On("COM2", [](auto& o) { o.replyDelayMs = 400; }), 19200, 57600, 2, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimReceiverRig rig(17, c.from, c.options);
        rig.OpenAt(static_cast<int32_t>(c.from));
        rig.clock.Sleep(1500);
        auto& receiver = rig.ReceiverAs<KSeptentrioReceiver>();
        EXPECT_TRUE(receiver.StopAllBroadcast(2000));
        EXPECT_EQ(receiver.Ping(c.from < 2400 ? 3000 : 1000), c.pingOk);
        EXPECT_EQ(receiver.Port(), c.port);
        EXPECT_EQ(receiver.ChangeBaud(static_cast<int32_t>(c.to)), c.changeOk);
        rig.clock.Sleep(c.options.replyDelayMs + 250);
        EXPECT_EQ(rig.DeviceBaud(), c.switches ? c.to : c.from);
        rig.OpenAt(static_cast<int32_t>(c.to));
        EXPECT_EQ(receiver.Ping(c.to < 2400 ? 3000 : 1000), c.switches);
        const int32_t own = c.options.receiverPort.back() - '0';
        for (int32_t n = 1; n <= 4; ++n) {
            if (n != own && n != c.port) {
                EXPECT_EQ(rig.WithDevice<KSeptentrioDevice>([n](auto& d) { return d.PortRate(n); }), c.from) << n;
            }
        }
        for (const Bytes& request : rig.DeviceRequests()) {
            const std::string text(request.begin(), request.end());
            for (int32_t n = 1; n <= 4; ++n) {
                if (n != c.port) {
                    EXPECT_EQ(text.find("COM" + std::to_string(n)), std::string::npos) << text;
                }
            }
        }
        EXPECT_TRUE(rig.WithDevice<KSeptentrioDevice>([](auto& d) { return d.Streaming(); }));
    }
}

// What was sent at a wrong rate waits in the receiver's command line; the line end before each
// command clears it, so the first ping at the right rate is answered.
TEST(SeptentrioOverSimulator, GarbageFromAWrongRateDoesNotSpoilTheNextCommand) {
    SimReceiverRig rig(17, 115200, On("COM2"));
    for (int32_t wrong : {9600, 38400, 230400}) {
        rig.OpenAt(wrong);
        EXPECT_FALSE(rig.Receiver().Ping(1000)) << wrong;
    }
    rig.OpenAt(115200);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
    EXPECT_TRUE(rig.ReceiverAs<KSeptentrioReceiver>().SaveConfigurationToBoot(1000));
    EXPECT_EQ(rig.WithDevice<KSeptentrioDevice>([](auto& d) { return d.SavedBaud(); }), 115200u);
}

// --- ScanTimeSpan ------------------------------------------------------------------------

std::string Scan(const Bytes& stream) {
    KRecordedComm link(stream);
    KSeptentrioReceiver receiver(false);
    return ScanOutcome(receiver, link);
}

TEST(SeptentrioScan, BuiltStreams) {
    const Bytes reply = Answer("grc", "x", 1);
    Bytes tail;
    while (tail.size() < 8300) tail = Concat({tail, reply});
    const struct {
        const char* name;
        Bytes stream;
        std::string outcome;
    } cases[] = {
        {"first and last", Concat({reply, TimeBlock(345600250, 2300), reply, TimeBlock(345601250, 2300)}),
         "true " + At(2300, 345600250) + " " + At(2300, 345601250)},
        {"across the week's end", Concat({TimeBlock(604799000, 2300), TimeBlock(1000, 2301)}),
         "true " + At(2300, 604799000) + " " + At(2301, 1000)},
        {"times not known skipped",
         Concat({TimeBlock(0xFFFFFFFF, 2300), TimeBlock(5000, 0xFFFF), TimeBlock(604800000, 2300), TimeBlock(7000, 2300),
                 TimeBlock(0xFFFFFFFF, 2301)}),
         "true " + At(2300, 7000) + " " + At(2300, 7000)},
        {"replies only", Concat({reply, reply}), "true - -"},
        {"empty", {}, "false - -"},
        {"none in the last 8192 bytes", Concat({TimeBlock(1000, 2300), tail}), "true " + At(2300, 1000) + " -"},
    };
    for (const auto& c : cases) EXPECT_EQ(Scan(c.stream), c.outcome) << c.name;
}

// A minute of the simulated receiver's output (at 2009-06-17 12:00:00 UTC on the rig's clock:
// week 1536, and GPS ran 15 s ahead; the simulated receiver is told 18).
TEST(SeptentrioScan, TheSimulatedReceiversOutputTellsItsFirstAndLastTime) {
    SimReceiverRig rig(17, 115200);
    rig.link->BaudRate = 115200;
    ASSERT_TRUE(rig.link->Open(0));  // the receiver stays detached: the bytes are kept here
    rig.clock.Sleep(60500);
    Bytes recording(1 << 16);
    recording.resize(static_cast<size_t>(rig.link->ReadAvailable(recording.data(), 1 << 16)));
    ASSERT_EQ(recording.size(), 60u * 40);
    const uint64_t towMs = (3 * 86400 + 12 * 3600 + 18) * uint64_t{1000};
    EXPECT_EQ(Scan(recording), "true " + At(1536, towMs + 1000) + " " + At(1536, towMs + 60000));
}

} // namespace
