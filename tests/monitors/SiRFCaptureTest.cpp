// The SiRF binary framer over real receiver recordings, checked against a plain scan of each file.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "monitors/KSiRFStreamMonitor.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"
#include "support/SiRFFrames.h"

namespace {

const std::filesystem::path kFolder = std::filesystem::path(VELINOR_CAPTURES) / "sirf";

bool LoadCapture(const std::string& name, Bytes& out) {
    std::ifstream in(kFolder / name, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Scan {
    std::vector<Bytes> frames;
    std::vector<std::string> skipLines;
    bool startInAGap = false;
    size_t trailing = 0;  // bytes after the last frame
};

// Whole, checked frames one after another; between them, junk that the framer must report.
Scan ScanFile(const Bytes& file) {
    Scan scan;
    size_t i = 0, end = 0;
    while (i + 2 <= file.size()) {
        if (file[i] == 0xA0 && file[i + 1] == 0xA2 && i + 4 <= file.size()) {
            const size_t l = static_cast<size_t>(file[i + 2] << 8 | file[i + 3]);
            if (l <= 1016 && i + l + 8 <= file.size()) {
                const Bytes frame = Slice(file, i, i + l + 8);
                if (sirf::IsValid(frame)) {
                    if (i > end)
                        scan.skipLines.push_back("SBP - skipped " + std::to_string(i - end) + " bytes to find sync marker");
                    scan.frames.push_back(frame);
                    i += l + 8;
                    end = i;
                    continue;
                }
            }
            scan.startInAGap = true;  // a start that begins no valid frame
        }
        ++i;
    }
    scan.trailing = file.size() - end;
    return scan;
}

} // namespace

// Outside the anonymous namespace: the test factory holds one as a member.
struct SirfRecording {
    const char* name;
    size_t bytes;  // as recorded in the captures' sources
};

void PrintTo(const SirfRecording& recording, std::ostream* out) { *out << recording.name; }

class SiRFCapture : public ::testing::TestWithParam<SirfRecording> {};

TEST_P(SiRFCapture, EveryFrameOfTheRecordingIsDeliveredWhateverTheChunking) {
    Bytes file;
    if (!LoadCapture(GetParam().name, file)) GTEST_SKIP() << "capture not found: " << (kFolder / GetParam().name);
    ASSERT_EQ(file.size(), GetParam().bytes);
    const Scan scan = ScanFile(file);
    ASSERT_GT(scan.frames.size(), 10u);
    // Clean recordings: the junk between frames holds no start, so the lines are predictable.
    ASSERT_FALSE(scan.startInAGap);
    // A trailing byte (the recording's last line end) is hunted through without a line.
    EXPECT_LE(scan.trailing, 1u);
    ExpectFramed<KSiRFStreamMonitor>(file, scan.frames, scan.skipLines);
}

INSTANTIATE_TEST_SUITE_P(Recordings, SiRFCapture,
                         ::testing::Values(SirfRecording{"gpsd_sirf2.bin", 367237}, SirfRecording{"gpsd_sirfstarv.bin", 52812},
                                           SirfRecording{"gpsd_ublox-sirf1.bin", 2988},
                                           SirfRecording{"gpsd_bu303b-nofix.bin", 2927},
                                           SirfRecording{"gpsd_bu303-moving.bin", 4870}),
                         [](const ::testing::TestParamInfo<SirfRecording>& param) {
                             std::string name = param.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// The recordings cut into one another: each join damages a frame, and the framer still finds
// every frame the plain scan finds in the joined stream.
TEST(SiRFCaptureJoins, FramesSurviveDamageAtTheJoins) {
    Bytes a, b;
    if (!LoadCapture("gpsd_bu303-moving.bin", a) || !LoadCapture("gpsd_ublox-sirf1.bin", b))
        GTEST_SKIP() << "captures not found in " << kFolder;
    // Cut inside frames of both recordings.
    const Bytes joined = Concat({Slice(a, 0, 1000), Slice(b, 500, 2000), Slice(a, 3001, a.size())});
    const Scan scan = ScanFile(joined);
    KSiRFStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, joined, Chunking::Random);
    EXPECT_EQ(run.messages.size(), scan.frames.size());
    EXPECT_EQ(run.messages, scan.frames);
    // Each join cuts a frame, whose end check then fails once; the rest is skipped junk.
    size_t endFailures = 0;
    for (const std::string& line : run.errors) {
        if (line == "SBP - invalid EOM") ++endFailures;
        else EXPECT_EQ(line.rfind("SBP - skipped ", 0), 0u) << line;
    }
    EXPECT_EQ(endFailures, 2u);
}
