// The NMEA framer on built streams and on real MediaTek/Quectel recordings, the latter compared
// with the test's own line-by-line reading of the file.
#include "monitors/KMediaTekStreamMonitor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comm/KMemoryComm.h"
#include "families/KReceiverFamily.h"
#include "session/KReceiverIdentifier.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"

namespace {

const std::string kBadCheck = "NMEA - invalid checksum";
const std::string kNoCheck = "NMEA - sentence without checksum, skipped";
const std::string kTooLong = "NMEA - sentence longer than 512 bytes, skipped";

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// "$" body "*hh" and the line end, the check computed here.
Bytes Sentence(const std::string& body, const std::string& end = "\r\n") {
    uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    char check[4];
    std::snprintf(check, sizeof check, "%02X", sum);
    return Text("$" + body + "*" + check + end);
}

Bytes Broken(const std::string& body) {
    Bytes s = Sentence(body);
    s[s.size() - 3] = s[s.size() - 3] == '0' ? '1' : '0';
    return s;
}

TEST(MediaTekFramer, FramesSentencesAndTellsWhatItDrops) {
    const Bytes rmc = Sentence("GPRMC,102127.000,A,5129.0623,N,00632.2911,E,0.33,30.68,210211,,,A");
    const Bytes ack = Sentence("PMTK001,605,3");
    const Bytes lf = Sentence("PMTK010,001", "\n");
    const Bytes lower = Text("$GPTXT,x*1b\r\n");  // the check in lower-case hex
    const Bytes shortest = Sentence("P");
    const Bytes longest = Sentence("PXYZ," + std::string(KMediaTekStreamMonitor::kMaxSentence - 11, 'a'));
    ASSERT_EQ(longest.size(), KMediaTekStreamMonitor::kMaxSentence);
    const Bytes overlong = Sentence("PXYZ," + std::string(KMediaTekStreamMonitor::kMaxSentence - 10, 'a'));
    const struct {
        const char* name;
        Bytes stream;
        std::vector<Bytes> messages;
        std::vector<std::string> errors;
    } cases[] = {
        {"CR LF, LF alone, lower-case check, shortest",
         Concat({rmc, ack, lf, lower, shortest}), {rmc, ack, lf, lower, shortest}, {}},
        {"the longest kept, one byte more dropped", Concat({longest, overlong, ack}), {longest, ack}, {kTooLong}},
        {"bad check and no check told, the next kept",
         Concat({Broken("GPGGA,1"), ack, Text("$POLYN,TIME,RESTART_OCCURRED\n"), rmc}), {ack, rmc},
         {kBadCheck, kNoCheck}},
        {"check not at the end, or short of a digit",
         Concat({Text("$GPGGA*00,1\r\n$GPGGA*0\r\n$*00\r\n"), ack}), {ack}, {kNoCheck, kNoCheck, kNoCheck}},
        // Noise holding "$" and text: each "$" starts afresh, each binary byte drops what is held.
        {"binary noise with starts in it",
         Concat({Hex("24 50 4D 54 4B B5 62 24 47 00 24 24"), rmc, Hex("FF 24 80"), ack, Text("$GPG\x01"), lf}),
         {rmc, ack, lf}, {}},
        {"a sentence cut by a new start", Concat({Slice(rmc, 0, 30), ack}), {ack}, {}},
        {"a CR inside a line", Concat({Text("$GPGGA,1\r2*00\r\n"), Text("$P\r\r\n"), ack}), {ack}, {}},
        {"text without a start", Concat({Text("GPRMC,1*00\r\nhello\n"), ack}), {ack}, {}},
        {"cut at the end waits", Concat({ack, Slice(rmc, 0, rmc.size() - 1)}), {ack}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectFramed<KMediaTekStreamMonitor>(c.stream, c.messages, c.errors);
    }
}

TEST(MediaTekFramer, OnlyTheFirmwareReleaseAnswerProvesMediaTek) {
    KMediaTekStreamMonitor framer;
    for (const auto& [text, proves] : std::vector<std::pair<std::string, bool>>{
             {"$PMTK705,AXN_5.1.7_3333,0005,L80,1.0*00\r\n", true},
             {"$PMTK705,", true},
             {"$PMTK001,605,3*32\r\n", false},
             {"$PMTK010,001*2E\r\n", false},
             {"$GPRMC,1*00\r\n", false},
             {"$PMTK70", false}}) {
        const Bytes bytes = Text(text);
        const StreamMessage message(bytes.data(), static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(framer.ProvesProtocol(message), proves) << text;
    }
}

// A bounded scan gives up after the scan limit's worth of bytes in one step, keeps what it held
// and frames on when asked again.
TEST(MediaTekFramer, ABoundedScanGivesUpAtTheLimit) {
    const Bytes ack = Sentence("PMTK001,605,3");
    KMemoryComm link;
    link.Open(0);
    KMediaTekStreamMonitor framer;
    framer.Start(&link, false, "Test");
    framer.boundedScan = true;
    link.Feed(Concat({Repeat(0x55, kScanLimit + 10), ack}));
    EXPECT_FALSE(framer.ReadStep());
    EXPECT_EQ(framer.MessageCount(), 0);
    EXPECT_TRUE(framer.ReadStep());
    EXPECT_EQ(framer.PopMessage()->length, static_cast<int32_t>(ack.size()));
}

// --- Real recordings ----------------------------------------------------------------------

const std::filesystem::path kFolder = std::filesystem::path(VELINOR_CAPTURES) / "mtk";

Bytes ReadCapture(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The test's own reading: every line (up to LF) that starts with "$"; those whose last "*hh"
// matches the XOR of the bytes between are sentences, the others errors of their kind.
struct Reading {
    std::vector<Bytes> sentences;
    std::vector<std::string> errors;
};

Reading ReadLines(const Bytes& file) {
    Reading out;
    size_t start = 0;
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] != '\n') continue;
        const Bytes line = Slice(file, start, i + 1);
        start = i + 1;
        if (line.empty() || line[0] != '$') continue;
        std::string text(line.begin(), line.end());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t star = text.size() >= 3 ? text.size() - 3 : std::string::npos;
        if (star == std::string::npos || text[star] != '*') {
            out.errors.push_back(kNoCheck);
            continue;
        }
        if (Sentence(text.substr(1, star - 1), "") != Text(text)) {
            out.errors.push_back(kBadCheck);
            continue;
        }
        out.sentences.push_back(line);
    }
    return out;
}

TEST(MediaTekCapture, EverySentenceOfEachRecordingIsFramedWhateverTheChunking) {
    if (!std::filesystem::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder;
    // File, its size as the sources list it, the sentences the line reading finds.
    const struct {
        const char* file;
        size_t bytes;
        size_t sentences;
        size_t errors;
    } files[] = {
        {"gpsd_mtk-3301.bin", 4905, 56, 3},  // LF line ends; three $POLYN lines carry no check
        {"gpsd_mtk-3329.bin", 1634, 28, 0},
        {"gpsd_quectel-L70.bin", 6915, 115, 0},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const Bytes file = ReadCapture(kFolder / f.file);
        ASSERT_EQ(file.size(), f.bytes);
        const Reading reading = ReadLines(file);
        ASSERT_EQ(reading.sentences.size(), f.sentences);
        ASSERT_EQ(reading.errors.size(), f.errors);
        ExpectFramed<KMediaTekStreamMonitor>(file, reading.sentences, reading.errors);
        // Listening proves nothing: the sentences are standard or sent unasked.
        KReceiverIdentifier::Heard heard;
        EXPECT_EQ(KReceiverIdentifier::Recognise(file, heard), nullptr);
        const Bytes answer = Sentence("PMTK705,AXN_3.8_3333,0000,L70,1.0");
        const KReceiverFamily* family = KReceiverIdentifier::Recognise(Concat({file, answer, answer}), heard);
        ASSERT_NE(family, nullptr);
        EXPECT_STREQ(family->name, "MediaTek");
        // Binary noise between the sentences changes nothing.
        Bytes noisy;
        for (const Bytes& s : reading.sentences) noisy = Concat({noisy, Hex("B5 62 24 00 24 FF"), s});
        ExpectFramed<KMediaTekStreamMonitor>(noisy, reading.sentences, {});
    }
}

} // namespace
