// Real Ashtech-style captures through the framer, compared with a plain reference scan that
// walks the whole file by position and with facts known about the files.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "monitors/KAshtechStreamMonitor.h"
#include "support/FramerHarness.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFolder = fs::path(VELINOR_CAPTURES) / "ashtech";

Bytes ReadCapture(const std::string& name) {
    std::ifstream in(kFolder / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool At(const Bytes& s, size_t p, const char* text) {
    const size_t n = std::strlen(text);
    return p + n <= s.size() && std::memcmp(s.data() + p, text, n) == 0;
}

// --- The reference scan -------------------------------------------------------------------

size_t FixedTotal(const Bytes& s, size_t p) {
    const std::string type(s.begin() + static_cast<std::ptrdiff_t>(p + 7), s.begin() + static_cast<std::ptrdiff_t>(p + 10));
    if (type == "MPC") return 108;
    if (type == "PBN") return 69;
    if (type == "GBN") return 49;
    if (type == "SNV") return 145;
    if (type == "MCA") return 50;
    return 0;
}

bool FramePasses(const Bytes& f) {
    auto xorOf = [&](size_t from, size_t to) {
        uint8_t x = 0;
        for (size_t i = from; i < to; ++i) x ^= f[i];
        return x;
    };
    auto wordSum = [&](size_t from, size_t to) {
        unsigned sum = 0;
        for (size_t i = from; i < to; i += 2) sum += (f[i] << 8) | f[i + 1];
        return sum & 0xFFFF;
    };
    if (At(f, 0, "$PASHR,")) {
        if (At(f, 7, "MPC")) return f.size() == 108 && xorOf(11, 105) == f[105];
        if (At(f, 7, "PBN")) return f.size() == 69 && wordSum(11, 65) == unsigned((f[65] << 8) | f[66]);
        if (At(f, 7, "SNV")) return f.size() == 145 && wordSum(11, 141) == unsigned((f[141] << 8) | f[142]);
        if (At(f, 7, "MCA")) return f.size() == 50 && xorOf(11, 47) == f[47];
        return true;
    }
    // "$GPXDR,": NMEA checksum.
    size_t star = 1;
    while (star < f.size() && f[star] != '*') ++star;
    if (star == f.size()) return false;
    unsigned received = 0;
    if (star + 2 < f.size() && std::isxdigit(f[star + 1]) && std::isxdigit(f[star + 2])) {
        auto value = [](uint8_t c) { return c <= '9' ? c - 48u : c - 55u; };
        received = ((value(f[star + 1]) * 16) % 256) | value(f[star + 2]);
    }
    return xorOf(1, star) == (received & 0xFF);
}

struct Reference {
    std::vector<Bytes> messages;
    std::vector<std::string> errors;
};

Reference ReferenceScan(const Bytes& s) {
    Reference out;
    const size_t n = s.size();
    size_t p = 0;
    for (;;) {
        // The next start with all ten bytes of type and comma present.
        while (p + 10 <= n && !At(s, p, "$PASHR,") && !At(s, p, "$GPXDR,")) ++p;
        if (p + 10 > n) break;
        const size_t start = p;
        size_t end = 0;
        const size_t fixed = At(s, start, "$PASHR,") ? FixedTotal(s, start) : 0;
        if (fixed) {
            end = start + fixed;
            if (end > n) break;
            const Bytes f(s.begin() + static_cast<std::ptrdiff_t>(start), s.begin() + static_cast<std::ptrdiff_t>(end));
            if (f[fixed - 2] == '\r' && f[fixed - 1] == '\n' && FramePasses(f)) out.messages.push_back(f);
            else out.errors.push_back("Ashtech - invalid CRC");
            p = end;
            continue;
        }
        // A text line: to the first CR LF that leaves at least twelve bytes, fewer than 4096.
        size_t q = start + 12;
        while (q <= n && q - start < 4096 && !(s[q - 2] == '\r' && s[q - 1] == '\n')) ++q;
        if (q > n) break;
        if (q - start >= 4096) {
            out.errors.push_back("Ashtech - maximum message length exceeded, message discarded");
            p = start + 4096;
            continue;
        }
        const Bytes f(s.begin() + static_cast<std::ptrdiff_t>(start), s.begin() + static_cast<std::ptrdiff_t>(q));
        if (FramePasses(f)) out.messages.push_back(f);
        else out.errors.push_back("Ashtech - invalid CRC");
        p = q;
    }
    return out;
}

// ------------------------------------------------------------------------------------------

class AshtechCapture : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!fs::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder.string();
        stream = ReadCapture(GetParam());
        ASSERT_FALSE(stream.empty()) << GetParam();
    }
    Bytes stream;
};

INSTANTIATE_TEST_SUITE_P(Files, AshtechCapture,
                         ::testing::Values("gpsd_ac12_binary.bin", "gpsd_rst39.bin"),
                         [](const ::testing::TestParamInfo<std::string>& file) {
                             std::string name;
                             for (char c : file.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST_P(AshtechCapture, FramerAgreesWithTheReferenceScan) {
    const Reference expected = ReferenceScan(stream);
    ASSERT_GT(expected.messages.size(), 20u);
    for (Chunking chunking : {Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce}) {
        KAshtechStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, stream, chunking, 5);
        ASSERT_EQ(run.messages.size(), expected.messages.size());
        for (size_t i = 0; i < expected.messages.size(); ++i)
            ASSERT_EQ(run.messages[i], expected.messages[i]) << "message " << i;
        EXPECT_EQ(run.errors, expected.errors);
    }
}

TEST_P(AshtechCapture, DamagedCopyAgreesWithTheReferenceScan) {
    // Damage spreads the framer over its failure paths with real data around them.
    for (size_t every : {size_t{61}, size_t{251}, size_t{1009}}) {
        SCOPED_TRACE(every);
        Bytes damaged = stream;
        for (size_t i = every / 2; i < damaged.size(); i += every) damaged[i] ^= static_cast<uint8_t>(1u << (i % 8));
        const Reference expected = ReferenceScan(damaged);
        KAshtechStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, damaged, Chunking::Random, 13);
        ASSERT_EQ(run.messages.size(), expected.messages.size());
        for (size_t i = 0; i < expected.messages.size(); ++i)
            ASSERT_EQ(run.messages[i], expected.messages[i]) << "message " << i;
        EXPECT_EQ(run.errors, expected.errors);
    }
}

TEST_P(AshtechCapture, EveryPashrResponseIsDeliveredAndNothingElse) {
    // Neither file has a "$GPXDR," sentence: what comes out is exactly the "$PASHR," lines and
    // binary responses of the file, each whole, up to CR LF.
    size_t responses = 0;
    for (size_t p = 0; p + 10 <= stream.size(); ++p) responses += At(stream, p, "$PASHR,") ? 1 : 0;
    KAshtechStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, stream, Chunking::Random, 9);
    EXPECT_EQ(run.messages.size(), responses);
    for (const Bytes& m : run.messages) {
        EXPECT_TRUE(At(m, 0, "$PASHR,"));
        EXPECT_EQ(m[m.size() - 2], '\r');
        EXPECT_EQ(m.back(), '\n');
    }
    EXPECT_TRUE(run.errors.empty());
}

TEST(AshtechCaptureFacts, Ac12BinaryResponsesAreCheckedAndDelivered) {
    if (!fs::is_directory(kFolder)) GTEST_SKIP() << "no captures at " << kFolder.string();
    const Bytes s = ReadCapture("gpsd_ac12_binary.bin");
    KAshtechStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, s, Chunking::AllAtOnce);
    size_t mca = 0, pbn = 0;
    for (const Bytes& m : run.messages) {
        if (At(m, 0, "$PASHR,MCA,")) {
            ++mca;
            EXPECT_EQ(m.size(), 50u);
        }
        if (At(m, 0, "$PASHR,PBN,")) {
            ++pbn;
            EXPECT_EQ(m.size(), 69u);
        }
    }
    size_t mcaInFile = 0, pbnInFile = 0;
    for (size_t p = 0; p < s.size(); ++p) {
        mcaInFile += At(s, p, "$PASHR,MCA,") ? 1 : 0;
        pbnInFile += At(s, p, "$PASHR,PBN,") ? 1 : 0;
    }
    EXPECT_GT(mca, 0u);
    EXPECT_GT(pbn, 0u);
    EXPECT_EQ(mca, mcaInFile);
    EXPECT_EQ(pbn, pbnInFile);
}

} // namespace
