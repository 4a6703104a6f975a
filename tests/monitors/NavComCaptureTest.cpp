// The NavCom framer over a real receiver recording, checked against a plain scan of the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "comm/KMemoryComm.h"
#include "comm/KRecordedComm.h"
#include "monitors/KNavComStreamMonitor.h"
#include "support/ChunkedFraming.h"
#include "support/FramerHarness.h"
#include "support/LogCapture.h"
#include "support/NavComFrames.h"

namespace {

const std::filesystem::path kCapture = std::filesystem::path(VELINOR_CAPTURES) / "navcom" / "gpsd_navcom.bin";

bool LoadCapture(Bytes& out) {
    std::ifstream in(kCapture, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Span {
    size_t start;
    size_t size;
};

// What a careful reader of the file finds: whole, checked frames one after another, and a frame
// whose header says it runs past the end of the file.
struct Scan {
    std::vector<Span> frames;
    std::vector<size_t> gaps;  // bytes between the end of one frame and the next
    bool partialAtEnd = false;
    size_t partialStart = 0;
    size_t partialLength = 0;  // its length field
};

Scan ScanFile(const Bytes& file) {
    Scan scan;
    size_t i = 0, end = 0;
    while (i + 3 <= file.size()) {
        if (file[i] == 0x02 && file[i + 1] == 0x99 && file[i + 2] == 0x66 && i + 6 <= file.size()) {
            const size_t n = file[i + 4] | file[i + 5] << 8;
            if (n >= 4 && n + 4 <= 4096 && i + n + 4 <= file.size()) {
                const Bytes frame = Slice(file, i, i + n + 4);
                if (navcom::IsValid(frame)) {
                    scan.gaps.push_back(i - end);
                    scan.frames.push_back({i, n + 4});
                    i += n + 4;
                    end = i;
                    continue;
                }
            } else if (n >= 4 && n + 4 <= 4096 && i + n + 4 > file.size() && !scan.partialAtEnd) {
                scan.partialAtEnd = true;
                scan.partialStart = i;
                scan.partialLength = n;
            }
        }
        ++i;
    }
    return scan;
}

std::vector<std::string> SkipLines(const Scan& scan) {
    std::vector<std::string> lines;
    for (size_t gap : scan.gaps)
        if (gap > 0) lines.push_back("Navcom - Skipped " + std::to_string(gap) + " bytes to find sync marker");
    return lines;
}

class NavComProbe : public KNavComStreamMonitor {
public:
    int32_t State() const { return state; }
    uint32_t Count() const { return count; }
    uint32_t BodyNeed() const { return bodyNeed; }
};

} // namespace

TEST(NavComCapture, EveryFrameOfTheRecordingIsDeliveredWhateverTheChunking) {
    Bytes file;
    if (!LoadCapture(file)) GTEST_SKIP() << "capture not found: " << kCapture;
    ASSERT_EQ(file.size(), 6380u);  // as recorded in the captures' sources

    const Scan scan = ScanFile(file);
    ASSERT_EQ(scan.frames.size(), 77u);
    std::vector<Bytes> expected;
    for (const Span& span : scan.frames) expected.push_back(Slice(file, span.start, span.start + span.size));
    // The recording stops inside a frame: the framer waits for the rest and says nothing.
    ASSERT_TRUE(scan.partialAtEnd);
    ASSERT_EQ(scan.partialStart, scan.frames.back().start + scan.frames.back().size);
    ExpectFramed<KNavComStreamMonitor>(file, expected, SkipLines(scan));

    KMemoryComm link;
    link.Open(0);
    NavComProbe monitor;
    monitor.Start(&link, false, "Test");
    link.Feed(file);
    EXPECT_EQ(DrainFramer(monitor).size(), expected.size());
    EXPECT_EQ(monitor.State(), 2);
    EXPECT_EQ(monitor.Count(), 6u);
    EXPECT_EQ(monitor.BodyNeed(), scan.partialLength - 2);
    EXPECT_EQ(link.Readable(), file.size() - scan.partialStart - 6);
}

// New messages after the cut: the cut frame takes them in as its body, fails its ETX, and the
// rewind hands out the messages that began inside it.
TEST(NavComCapture, MessagesAfterTheCutFrameAreRecoveredFromIt) {
    Bytes file;
    if (!LoadCapture(file)) GTEST_SKIP() << "capture not found: " << kCapture;
    const Scan scan = ScanFile(file);
    ASSERT_TRUE(scan.partialAtEnd);
    const Bytes tail = Slice(file, scan.partialStart, file.size());
    // No sync after the cut frame's own, so nothing else can start inside the tail.
    for (size_t i = 3; i + 3 <= tail.size(); ++i)
        ASSERT_FALSE(tail[i] == 0x02 && tail[i + 1] == 0x99 && tail[i + 2] == 0x66);

    const Bytes first = navcom::FrameOfSize(20, 0x30), second = navcom::FrameOfSize(20, 0x31);
    const size_t cutTotal = scan.partialLength + 4;
    const Bytes added = Concat({first, second});
    ASSERT_GT(tail.size() + added.size(), cutTotal);
    ASSERT_LT(tail.size() + first.size(), cutTotal);  // the cut frame ends inside the second
    const uint8_t lastOfCut = added[cutTotal - tail.size() - 1];
    ASSERT_NE(lastOfCut, 0x03);

    std::vector<Bytes> expected;
    for (const Span& span : scan.frames) expected.push_back(Slice(file, span.start, span.start + span.size));
    expected.push_back(first);
    expected.push_back(second);
    std::vector<std::string> errors = SkipLines(scan);
    errors.push_back("Navcom - Invalid ETX");
    ExpectFramed<KNavComStreamMonitor>(Concat({file, added}), expected, errors);
}

// Played back from the file as a recorded link, the framer reads it in place.
TEST(NavComCapture, ARecordedLinkOverTheFileGivesTheSameFrames) {
    Bytes file;
    if (!LoadCapture(file)) GTEST_SKIP() << "capture not found: " << kCapture;
    const Scan scan = ScanFile(file);
    std::string error;
    KRecordedComm link = KRecordedComm::FromFile(kCapture.string(), error);
    ASSERT_TRUE(error.empty()) << error;
    link.Open(0);
    KNavComStreamMonitor monitor;
    monitor.Start(&link, false, "Test");
    const std::vector<Bytes> messages = DrainFramer(monitor);
    ASSERT_EQ(messages.size(), scan.frames.size());
    for (size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(messages[i], Slice(file, scan.frames[i].start, scan.frames[i].start + scan.frames[i].size));
    EXPECT_EQ(link.Remaining(), file.size() - scan.partialStart - 6);
}
