// Real Topcon/Javad GREIS captures through the framer, compared with a plain reference scan
// that walks the whole file by position (no window, no buffer) and with facts known about the
// files themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "monitors/KTopconStreamMonitor.h"
#include "support/FramerHarness.h"
#include "support/TopconFrames.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFolder = fs::path(VELINOR_CAPTURES) / "topcon";

Bytes ReadCapture(const std::string& name) {
    std::ifstream in(kFolder / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// --- The reference scan -------------------------------------------------------------------

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Body length of a header at `p`, 0 when there is none.
size_t HeaderAt(const Bytes& s, size_t p) {
    if (p + 5 > s.size()) return 0;
    const uint8_t a = s[p], b = s[p + 1];
    if (a < 0x30 || a > 0x7E || b < 0x30 || b > 0x7E) return 0;
    if (b == '=' && a != '=') return 0;
    if (a >= '0' && a <= '9' && b >= '0' && b <= '9') return 0;
    const int h = HexDigit(s[p + 2]), m = HexDigit(s[p + 3]), l = HexDigit(s[p + 4]);
    if (h < 0 || m < 0 || l < 0) return 0;
    return static_cast<size_t>(h * 256 + m * 16 + l);
}

bool Passes(const Bytes& s, size_t p, size_t size) {
    const Bytes m(s.begin() + static_cast<std::ptrdiff_t>(p), s.begin() + static_cast<std::ptrdiff_t>(p + size));
    const std::string id(m.begin(), m.begin() + 2);
    const Bytes allButOne(m.begin(), m.end() - 1);
    const Bytes allButTwo(m.begin(), m.end() - 2);
    if (id == "rM") return size >= 7 && GrilCrc16(allButTwo) == (m[size - 2] | (m[size - 1] << 8));
    if (id == "GE" || id == "NE" || id == "PO" || id == "~~") return GrilChecksum8(allButOne) == m.back();
    if (id == ">>") {
        const int h = HexDigit(m[size - 2]), l = HexDigit(m[size - 1]);
        return size >= 7 && h >= 0 && l >= 0 && GrilChecksum8(allButTwo) == h * 16 + l;
    }
    return true;
}

struct Reference {
    std::vector<Bytes> messages;
    std::vector<std::string> errors;
    size_t commentLines = 0;
};

Reference ReferenceScan(const Bytes& s) {
    Reference out;
    const size_t n = s.size();
    auto slice = [&](size_t from, size_t to) {
        return Bytes(s.begin() + static_cast<std::ptrdiff_t>(from), s.begin() + static_cast<std::ptrdiff_t>(to));
    };
    size_t p = 0;
    bool inMessage = false;  // a message starts at p
    for (;;) {
        if (!inMessage) {
            if (p + 5 > n) break;
            if (HeaderAt(s, p)) {
                inMessage = true;
            } else if (s[p] == '#' && s[p + 1] == ' ') {
                ++out.commentLines;
                size_t lf = p + 2;
                while (lf < n && s[lf] != '\n') ++lf;
                if (lf >= n) break;
                p = lf + 1;
            } else {
                ++p;
            }
            continue;
        }
        inMessage = false;
        const size_t start = p;
        const size_t end = start + 5 + HeaderAt(s, start);
        if (end > n) break;
        // Line-end bytes follow until something else comes or the 4196-byte buffer is full.
        size_t q = end;
        while (q < n && s[q] == '\r' && q - start < 4196) ++q;
        if (q >= n) break;  // still waiting for the byte that ends the message
        if (q - start >= 4196) {
            out.errors.push_back("Topcon - buffer size exceeded");
            p = q;
            continue;
        }
        const bool lf = s[q] == '\n';
        if (lf) ++q;
        if (Passes(s, start, end - start)) {
            out.messages.push_back(slice(start, q));
            p = q;
            continue;
        }
        out.errors.push_back("Topcon - invalid CRC");
        // Search what was held after the failed header, the ending byte included.
        const size_t held = lf ? q : q + 1;
        size_t a = start + 5;
        while (held - a >= 5) {
            size_t i = a;
            while (i + 5 <= held && !HeaderAt(s, i)) ++i;
            if (i + 5 > held) {
                a = held - 4;
                break;
            }
            a = i;
            const size_t size = 5 + HeaderAt(s, a);
            if (a + size > held) {
                inMessage = true;  // goes on with bytes from the link
                break;
            }
            if (Passes(s, a, size)) {
                out.messages.push_back(slice(a, a + size));
                a += size;
            } else {
                a += 1;
            }
        }
        p = a;
    }
    return out;
}

// ------------------------------------------------------------------------------------------

class TopconCapture : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!fs::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder.string();
        stream = ReadCapture(GetParam());
        ASSERT_FALSE(stream.empty()) << GetParam();
    }
    Bytes stream;
};

INSTANTIATE_TEST_SUITE_P(Files, TopconCapture,
                         ::testing::Values("gpsd_greis-binary.bin", "gpsd_greis-def.bin",
                                           "gpsd_greis-raw-2m.bin", "gpsd_greis-reset.bin",
                                           "gpsd_greis-test.bin", "gpsd_greis-test2.bin",
                                           "rtklib_javad_20110115.jps"),
                         [](const ::testing::TestParamInfo<std::string>& file) {
                             std::string name;
                             for (char c : file.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST_P(TopconCapture, FramerAgreesWithTheReferenceScan) {
    const Reference expected = ReferenceScan(stream);
    ASSERT_GT(expected.messages.size(), 100u);
    for (Chunking chunking : {Chunking::AllAtOnce, Chunking::Random}) {
        KTopconStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, stream, chunking, 7);
        ASSERT_EQ(run.messages.size(), expected.messages.size());
        for (size_t i = 0; i < expected.messages.size(); ++i)
            ASSERT_EQ(run.messages[i], expected.messages[i]) << "message " << i;
        EXPECT_EQ(run.errors, expected.errors);
    }
}

TEST_P(TopconCapture, DamagedCopyAgreesWithTheReferenceScan) {
    // Damage spreads the framer over its failure paths with real data around them.
    for (size_t every : {size_t{61}, size_t{251}, size_t{1009}}) {
        SCOPED_TRACE(every);
        Bytes damaged = stream;
        for (size_t i = every / 2; i < damaged.size(); i += every) damaged[i] ^= static_cast<uint8_t>(1u << (i % 8));
        const Reference expected = ReferenceScan(damaged);
        KTopconStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, damaged, Chunking::Random, 13);
        ASSERT_EQ(run.messages.size(), expected.messages.size());
        for (size_t i = 0; i < expected.messages.size(); ++i)
            ASSERT_EQ(run.messages[i], expected.messages[i]) << "message " << i;
        EXPECT_EQ(run.errors, expected.errors);
    }
}

TEST_P(TopconCapture, DeliveredMessagesAreCutFromTheFileInOrder) {
    KTopconStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, stream, Chunking::Random, 3);
    size_t at = 0;
    for (const Bytes& m : run.messages) {
        ASSERT_GE(m.size(), 6u);
        const auto found = std::search(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end(), m.begin(), m.end());
        ASSERT_NE(found, stream.end());
        at = static_cast<size_t>(found - stream.begin()) + m.size();
        EXPECT_NE(std::string(m.begin(), m.begin() + 2), "# ");
    }
}

// Facts about the files themselves.

TEST(TopconCaptureFacts, GreisTestSkipsItsFiftyOneCommentLines) {
    if (!fs::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder.string();
    const Bytes s = ReadCapture("gpsd_greis-test.bin");
    size_t commentLines = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if ((i == 0 || s[i - 1] == '\n') && s[i] == '#' && s[i + 1] == ' ') ++commentLines;
    EXPECT_EQ(commentLines, 51u);
    EXPECT_EQ(ReferenceScan(s).commentLines, 51u);

    KTopconStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, s, Chunking::Random, 5);
    for (const Bytes& m : run.messages) EXPECT_NE(m[0], '#');
}

TEST(TopconCaptureFacts, CleanFilesAreDeliveredWhole) {
    if (!fs::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder.string();
    // These files are nothing but messages with line ends, each ended by its successor.
    for (const std::string name : {"gpsd_greis-def.bin", "gpsd_greis-reset.bin", "gpsd_greis-test2.bin"}) {
        SCOPED_TRACE(name);
        const Bytes s = ReadCapture(name);
        KTopconStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, s, Chunking::Random, 11);
        Bytes joined;
        for (const Bytes& m : run.messages) joined.insert(joined.end(), m.begin(), m.end());
        EXPECT_EQ(joined, s);
        EXPECT_TRUE(run.errors.empty());
    }
}

TEST(TopconCaptureFacts, AFileEndingRightAfterAMessageHoldsThatMessageBack) {
    if (!fs::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder.string();
    // greis-binary ends right after a message without line end: the framer waits for the byte
    // that would end it, so everything before it is delivered and it is not.
    const Bytes s = ReadCapture("gpsd_greis-binary.bin");
    KTopconStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, s, Chunking::AllAtOnce);
    Bytes joined;
    for (const Bytes& m : run.messages) joined.insert(joined.end(), m.begin(), m.end());
    ASSERT_LT(joined.size(), s.size());
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), s.begin()));
    const size_t rest = s.size() - joined.size();
    EXPECT_EQ(HeaderAt(s, joined.size()) + 5, rest);
}

} // namespace
