// The MediaTek receiver against scripted PMTK replies and against the simulated receiver, and
// its time scan over built streams and real recordings; every wait runs in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "receivers/KMediaTekReceiver.h"
#include "sim/KMediaTekDevice.h"
#include "support/ReceiverRig.h"
#include "support/TimeSpanScan.h"

namespace {

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The test's own sentence: "$" body "*hh" CR LF.
Bytes Sentence(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    char check[8];
    std::snprintf(check, sizeof check, "*%02X\r\n", sum);
    return Ascii("$" + body + check);
}

std::string Sent(ScriptedReceiverRig& rig) {
    const Bytes bytes = rig.Written();
    return {bytes.begin(), bytes.end()};
}

using Operation = std::function<bool(KMediaTekReceiver&)>;

TEST(MediaTekReceiver, WritesItsCommandsByteForByte) {
    EXPECT_EQ(KMediaTekReceiver::Create(15, false), nullptr);
    const std::string ping = "$PMTK605*31\r\n";
    const std::string silence = "$PMTK314,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0*28\r\n";
    const struct {
        const char* name;
        Operation operation;
        bool ok;
        std::string sent;
    } cases[] = {
        {"4800", [](auto& r) { return r.ChangeBaud(4800); }, true, "$PMTK251,4800*14\r\n"},
        {"9600", [](auto& r) { return r.ChangeBaud(9600); }, true, "$PMTK251,9600*17\r\n"},
        {"14400", [](auto& r) { return r.ChangeBaud(14400); }, true, "$PMTK251,14400*29\r\n"},
        {"19200", [](auto& r) { return r.ChangeBaud(19200); }, true, "$PMTK251,19200*22\r\n"},
        {"38400", [](auto& r) { return r.ChangeBaud(38400); }, true, "$PMTK251,38400*27\r\n"},
        {"57600", [](auto& r) { return r.ChangeBaud(57600); }, true, "$PMTK251,57600*2C\r\n"},
        {"115200", [](auto& r) { return r.ChangeBaud(115200); }, true, "$PMTK251,115200*1F\r\n"},
        {"230400", [](auto& r) { return r.ChangeBaud(230400); }, true, "$PMTK251,230400*1D\r\n"},
        {"460800", [](auto& r) { return r.ChangeBaud(460800); }, true, "$PMTK251,460800*12\r\n"},
        {"921600", [](auto& r) { return r.ChangeBaud(921600); }, true, "$PMTK251,921600*14\r\n"},
        // Rates the chipsets lack, and 0 (which would mean the firmware's default rate).
        {"1200", [](auto& r) { return r.ChangeBaud(1200); }, false, ""},
        {"2400", [](auto& r) { return r.ChangeBaud(2400); }, false, ""},
        {"0", [](auto& r) { return r.ChangeBaud(0); }, false, ""},
        {"-9600", [](auto& r) { return r.ChangeBaud(-9600); }, false, ""},
        {"ping", [](auto& r) { return r.Ping(0); }, false, ping},
        {"output left alone", [](auto& r) { return r.StopAllBroadcast(2000); }, true, ""},
        {"silence", [](auto& r) { return r.SilenceOutput(0); }, false, silence},
    };
    for (const auto& c : cases) {
        ScriptedReceiverRig rig;
        KMediaTekReceiver receiver(false);
        rig.Use(receiver);
        EXPECT_EQ(c.operation(receiver), c.ok) << c.name;
        EXPECT_EQ(Sent(rig), c.sent) << c.name;
        EXPECT_EQ(rig.clock.NowMs(), 0) << c.name;  // nothing awaited with budgets of 0
    }
}

// Output goes on around every reply: a sentence 50 ms before it and 50 ms after it.
TEST(MediaTekReceiver, PingTakesOnlyTheFirmwareAnswerAndARefusalEndsItsWait) {
    const Bytes answer = Sentence("PMTK705,AXN_5.1.7_3333_19021500,0005,L80-M39,1.0");
    const Bytes done = Sentence("PMTK001,605,3");
    Bytes broken = answer;
    broken[broken.size() - 3] ^= 1;
    const Bytes silenced = Sentence("PMTK001,314,3");
    const Operation ping = [](auto& r) { return r.Ping(1000); };
    const Operation silence = [](auto& r) { return r.SilenceOutput(1000); };
    constexpr int64_t kNever = -1;
    const struct {
        const char* name;
        Operation operation;
        Bytes reply;
        int64_t replyAt;
        bool ok;
        int64_t ms;
    } cases[] = {
        {"answer", ping, answer, 300, true, 300},
        {"answer after its acknowledgement", ping, Concat({done, answer}), 300, true, 300},
        {"answer at the budget's end", ping, answer, 1000, true, 1000},
        {"answer too late", ping, answer, 1050, false, 1000},
        {"acknowledgement alone proves nothing", ping, done, 300, false, 1000},
        {"answer with a broken check", ping, broken, 300, false, 1000},
        {"unsupported", ping, Sentence("PMTK001,605,1"), 200, false, 200},
        {"invalid", ping, Sentence("PMTK001,605,0"), 200, false, 200},
        {"another command's refusal", ping, Sentence("PMTK001,604,1"), 200, false, 1000},
        {"nothing", ping, {}, kNever, false, 1000},
        {"silenced", silence, silenced, 400, true, 400},
        {"silence refused", silence, Sentence("PMTK001,314,0"), 400, false, 400},
        {"silence unanswered", silence, answer, 400, false, 1000},
    };
    const Bytes output = Sentence("GPGGA,120000.000,4724.7500,N,00937.8420,E,1,09,0.92,402.3,M,48.0,M,,");
    for (const auto& c : cases) {
        ScriptedReceiverRig rig;
        KMediaTekReceiver receiver(false);
        rig.Use(receiver);
        if (c.replyAt != kNever) rig.ReplyAt(c.replyAt, c.reply);
        rig.ReplyAt(c.replyAt - 50, output);
        rig.ReplyAt(c.replyAt + 50, output);
        EXPECT_EQ(c.operation(receiver), c.ok) << c.name;
        EXPECT_EQ(rig.clock.NowMs(), c.ms) << c.name;
    }
}

// --- Against the simulated receiver -------------------------------------------------------

KSimDeviceOptions With(const std::function<void(KSimDeviceOptions&)>& set) {
    KSimDeviceOptions options;
    set(options);
    return options;
}

// The receiver streams all along and is pinged amid its output; it is never silenced. The rate
// change is unanswered, so only the ping at the new rate tells whether it took.
TEST(MediaTekOverSimulator, EachReceiverIsPingedAndSwitchedAsItsFaultsAllow) {
    const struct {
        const char* name;
        KSimDeviceOptions options;
        uint32_t from, to;
        bool pingOk, switches;
    } cases[] = {
        {"sound, 9600 to 921600", {}, 9600, 921600, true, true},
        {"sound, 921600 to 4800", {}, 921600, 4800, true, true},
        {"sound, 115200 to 14400", {}, 115200, 14400, true, true},
        {"sound, 4800 to 460800", {}, 4800, 460800, true, true},
        {"silent", With([](auto& o) { o.silent = true; }), 9600, 115200, false, false},
        {"wrong acknowledgements", With([](auto& o) { o.wrongAcknowledgements = true; }), 9600, 115200, false, true},
        {"refuses rate changes", With([](auto& o) { o.refusesRateChange = true; }), 38400, 230400, true, false},
        {"never switches", With([](auto& o) { o.neverSwitches = true; }), 38400, 230400, true, false},
        {"slow", With([](auto& o) { o.replyDelayMs = 700; }), 57600, 921600, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimReceiverRig rig(16, c.from, c.options);
        rig.OpenAt(static_cast<int32_t>(c.from));
        rig.clock.Sleep(1500);
        EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));
        EXPECT_EQ(rig.Receiver().Ping(1000), c.pingOk);
        EXPECT_TRUE(rig.Receiver().ChangeBaud(static_cast<int32_t>(c.to)));
        rig.clock.Sleep(c.options.replyDelayMs + 250);  // a slow receiver switches late too
        EXPECT_EQ(rig.DeviceBaud(), c.switches ? c.to : c.from);
        rig.OpenAt(static_cast<int32_t>(c.to));
        EXPECT_EQ(rig.Receiver().Ping(1000), c.switches && c.pingOk);
        // Its output was never touched.
        EXPECT_TRUE(rig.WithDevice<KMediaTekDevice>([](auto& d) { return d.Streaming(); }));
        const std::vector<Bytes> requests = rig.DeviceRequests();
        ASSERT_FALSE(requests.empty());
        for (const Bytes& request : requests) EXPECT_NE(std::string(request.begin(), request.end()).find("PMTK"), 0u);
    }
}

// A rate it does not have is never sent; silencing turns its output off.
TEST(MediaTekOverSimulator, SilencingStopsTheOutputAndOddRatesAreNotSent) {
    SimReceiverRig rig(16, 9600);
    rig.OpenAt(9600);
    EXPECT_FALSE(rig.Receiver().ChangeBaud(2400));
    EXPECT_TRUE(rig.DeviceRequests().empty());
    EXPECT_TRUE(rig.ReceiverAs<KMediaTekReceiver>().SilenceOutput(1000));
    EXPECT_FALSE(rig.WithDevice<KMediaTekDevice>([](auto& d) { return d.Streaming(); }));
    rig.clock.Sleep(3000);
    EXPECT_EQ(rig.Receiver().Monitor()->MessageCount(), 0);
    EXPECT_TRUE(rig.Receiver().Ping(1000));
}

// --- ScanTimeSpan ------------------------------------------------------------------------

// GPS time of a UTC date and time, with the leap seconds the test names.
std::string Gps(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi, int32_t s, int32_t ms, int32_t leap) {
    return std::to_string(KGPSTime::UTCFromYMDHMS(y, mo, d, h, mi, s) + leap) + "." + std::to_string(ms * 1000000);
}

std::string Scan(const Bytes& stream) {
    KRecordedComm link(stream);
    KMediaTekReceiver receiver(false);
    return ScanOutcome(receiver, link);
}

Bytes Rmc(const std::string& time, const std::string& status, const std::string& date) {
    return Sentence("GPRMC," + time + "," + status + ",5129.0623,N,00632.2911,E,0.33,30.68," + date + ",,,A");
}
Bytes Zda(const std::string& time, const std::string& day, const std::string& month, const std::string& year) {
    return Sentence("GPZDA," + time + "," + day + "," + month + "," + year + ",,");
}
Bytes Gga(size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i)
        out = Concat({out, Sentence("GPGGA,102128.000,5129.0623,N,00632.2910,E,1,4,1.31,29.7,M,47.4,M,,")});
    return out;
}

TEST(MediaTekScan, BuiltStreams) {
    const Bytes longTail = Concat({Rmc("101010.250", "A", "210211"), Gga(8192 / 60)});
    const struct {
        const char* name;
        Bytes stream;
        std::string outcome;
    } cases[] = {
        {"RMC to ZDA", Concat({Gga(2), Rmc("101010.250", "A", "210211"), Gga(3), Zda("101020.5", "21", "02", "2011")}),
         "true " + Gps(2011, 2, 21, 10, 10, 10, 250, 15) + " " + Gps(2011, 2, 21, 10, 10, 20, 500, 15)},
        {"invalid RMC skipped", Concat({Rmc("101010.250", "V", "210211"), Rmc("101011", "A", "210211")}),
         "true " + Gps(2011, 2, 21, 10, 10, 11, 0, 15) + " " + Gps(2011, 2, 21, 10, 10, 11, 0, 15)},
        // Around the leap seconds of 2016's end and before the first one.
        {"leap second boundary",
         Concat({Zda("235959", "31", "12", "2016"), Zda("000000", "01", "01", "2017")}),
         "true " + Gps(2016, 12, 31, 23, 59, 59, 0, 17) + " " + Gps(2017, 1, 1, 0, 0, 0, 0, 18)},
        {"two-digit years", Concat({Rmc("000000", "A", "010181"), Rmc("000000", "A", "010179")}),
         "true " + Gps(1981, 1, 1, 0, 0, 0, 0, 0) + " " + Gps(1981, 1, 1, 0, 0, 0, 0, 0)},
        {"before the GPS epoch, or fields that are no date",
         Concat({Rmc("235959", "A", "050180"), Zda("1200", "01", "01", "2011"), Zda("120000", "1", "01", "2011"),
                 Zda("120000", "01", "13", "2011"), Rmc("12000a", "A", "010111"), Rmc("120000", "A", "01011"),
                 Sentence("GPZDA,120000,01,01"), Sentence("GPRMC,120000,A")}),
         "true - -"},
        {"empty", {}, "false - -"},
        {"no sentence", Ascii("GPRMC,1\r\nnoise\r\n"), "false - -"},
        {"time sentence 201", Concat({Gga(200), Zda("000001", "01", "01", "2020")}),
         "true " + Gps(2020, 1, 1, 0, 0, 1, 0, 18) + " " + Gps(2020, 1, 1, 0, 0, 1, 0, 18)},
        {"time sentence 202", Concat({Gga(201), Zda("000001", "01", "01", "2020")}), "true - -"},
        {"none in the last 8192 bytes", longTail, "true " + Gps(2011, 2, 21, 10, 10, 10, 250, 15) + " -"},
    };
    ASSERT_GT(longTail.size(), 8192u);
    for (const auto& c : cases) EXPECT_EQ(Scan(c.stream), c.outcome) << c.name;
}

TEST(MediaTekScan, RealRecordings) {
    const std::filesystem::path folder = std::filesystem::path(VELINOR_CAPTURES) / "mtk";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no captures at " << folder;
    const struct {
        const char* file;
        std::string outcome;
    } files[] = {
        // Invalid RMCs of 1980 (before and after the GPS epoch) come first: the first valid is in 2008.
        {"gpsd_mtk-3301.bin", "true " + Gps(2008, 8, 23, 8, 14, 36, 0, 14) + " " + Gps(2008, 8, 23, 8, 14, 39, 0, 14)},
        {"gpsd_mtk-3329.bin", "true " + Gps(2011, 2, 21, 10, 21, 27, 0, 15) + " " + Gps(2011, 2, 21, 10, 21, 31, 0, 15)},
        {"gpsd_quectel-L70.bin", "true " + Gps(2022, 3, 9, 15, 1, 19, 0, 18) + " " + Gps(2022, 3, 9, 15, 1, 34, 0, 18)},
    };
    for (const auto& f : files) {
        std::ifstream in(folder / f.file, std::ios::binary);
        const Bytes recording((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(Scan(recording), f.outcome) << f.file;
    }
}

// A minute of the simulated receiver's output, as a recording, tells its first and last time
// (the rig's wall clock starts at 2009-06-17 12:00:00 UTC, when GPS ran 15 s ahead).
TEST(MediaTekScan, TheSimulatedReceiversOutputTellsItsFirstAndLastTime) {
    SimReceiverRig rig(16, 115200);
    rig.link->BaudRate = 115200;
    ASSERT_TRUE(rig.link->Open(0));  // the receiver stays detached: the bytes are kept here
    rig.clock.Sleep(60500);
    Bytes recording(1 << 16);
    recording.resize(static_cast<size_t>(rig.link->ReadAvailable(recording.data(), 1 << 16)));
    ASSERT_GT(recording.size(), 10000u);
    const std::string first = Gps(2009, 6, 17, 12, 0, 1, 0, 15), last = Gps(2009, 6, 17, 12, 1, 0, 0, 15);
    EXPECT_EQ(Scan(recording), "true " + first + " " + last);
}

} // namespace
