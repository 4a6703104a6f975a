// Regression over real Novatel captures. What the framer must deliver is worked out here
// independently: a census that examines every AA 44 12 in a file on its own, and a plain
// reference walk over the whole file with the framer's rules (no rewind, skip counting).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "monitors/KNovatelStreamMonitor.h"
#include "support/FramerHarness.h"
#include "support/NovatelFrames.h"

namespace {

const std::filesystem::path kCaptureDir = std::filesystem::path(VELINOR_CAPTURES) / "novatel";
const Bytes kSync = {0xAA, 0x44, 0x12};

std::optional<Bytes> LoadCapture(const std::string& name) {
    std::ifstream in(kCaptureDir / name, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

#define LOAD_OR_SKIP(var, name)                                                             \
    const std::optional<Bytes> var##Loaded = LoadCapture(name);                              \
    if (!var##Loaded) GTEST_SKIP() << "capture " << (kCaptureDir / name) << " not available"; \
    const Bytes& var = *var##Loaded

uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Every sync in the file, each examined as if a log began there.
struct Census {
    size_t starts = 0;
    size_t crcFailures = 0;
    size_t incomplete = 0;  // runs past the end of the file
    std::vector<size_t> validStarts;
};

Census TakeCensus(const Bytes& file) {
    Census census;
    for (auto it = std::search(file.begin(), file.end(), kSync.begin(), kSync.end()); it != file.end();
         it = std::search(it + 1, file.end(), kSync.begin(), kSync.end())) {
        const size_t at = static_cast<size_t>(it - file.begin());
        ++census.starts;
        if (at + 28 > file.size()) { ++census.incomplete; continue; }
        if (file[at + 3] != 28 || (file[at + 6] & 0x60) != 0) continue;
        const size_t total = U16(file, at + 8) + 32u;
        if (total > 4096) continue;
        if (at + total > file.size()) { ++census.incomplete; continue; }
        if (NovatelCrc32(file.data() + at, total) == 0) census.validStarts.push_back(at);
        else ++census.crcFailures;
    }
    return census;
}

// Walks the file as the framer must: hunt from where the last log (good or bad) ended.
struct Walk {
    std::vector<std::pair<size_t, size_t>> logs;  // offset, length
    std::vector<std::string> errors;
};

Walk ReferenceWalk(const Bytes& file) {
    const std::string headerLine = "Novatel - Header length is not consistant with known header structure";
    Walk walk;
    size_t from = 0;
    for (;;) {
        const auto it = std::search(file.begin() + static_cast<std::ptrdiff_t>(from), file.end(), kSync.begin(), kSync.end());
        if (it == file.end()) break;
        const size_t at = static_cast<size_t>(it - file.begin());
        if (at > from)
            walk.errors.push_back("Novatel - skipped " + std::to_string(at - from) + " bytes to find sync marker");
        if (at + 4 > file.size()) break;
        const size_t headerLength = file[at + 3];
        if (headerLength <= 4) {
            walk.errors.push_back(headerLine);
            from = at + 4;
            continue;
        }
        if (at + headerLength > file.size()) break;
        from = at + headerLength;
        if (headerLength != 28) { walk.errors.push_back(headerLine); continue; }
        if (file[at + 6] & 0x60) { walk.errors.push_back("Novatel - Header message type not binary"); continue; }
        const size_t m = U16(file, at + 8);
        if (m + 32 > 4096) {
            walk.errors.push_back("Novatel - Total message length greater than receiving buffer size - " + std::to_string(m));
            continue;
        }
        if (at + m + 32 > file.size()) break;
        from = at + m + 32;
        if (NovatelCrc32(file.data() + at, m + 32) != 0) walk.errors.push_back("Novatel - Invalid CRC");
        else walk.logs.emplace_back(at, m + 32);
    }
    return walk;
}

std::map<std::string, size_t> Kinds(const std::vector<std::string>& errors) {
    std::map<std::string, size_t> kinds;
    for (const std::string& e : errors) {
        const size_t digit = e.find_first_of("0123456789");
        ++kinds[digit == std::string::npos ? e : e.substr(0, digit)];
    }
    return kinds;
}

// Runs the framer over the file and compares it with the reference walk, byte for byte.
void ExpectFramerMatches(const Bytes& file, const Walk& walk, bool oneByteToo) {
    std::vector<Chunking> chunkings = {Chunking::AllAtOnce, Chunking::Random};
    if (oneByteToo) chunkings.push_back(Chunking::OneByte);
    for (Chunking chunking : chunkings) {
        SCOPED_TRACE("chunking " + std::to_string(static_cast<int>(chunking)));
        KNovatelStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, file, chunking, 11);
        ASSERT_EQ(run.messages.size(), walk.logs.size());
        for (size_t i = 0; i < walk.logs.size(); ++i) {
            const auto [at, length] = walk.logs[i];
            ASSERT_TRUE(std::equal(run.messages[i].begin(), run.messages[i].end(),
                                   file.begin() + static_cast<std::ptrdiff_t>(at),
                                   file.begin() + static_cast<std::ptrdiff_t>(at + length)))
                << "log " << i << " at offset " << at;
        }
        EXPECT_EQ(run.errors, walk.errors);
    }
}

} // namespace

TEST(NovatelCapture, EveryCaptureIsFramedLikeTheReferenceWalk) {
    if (!std::filesystem::is_directory(kCaptureDir)) GTEST_SKIP() << kCaptureDir << " not available";
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCaptureDir)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().string());
        const auto file = LoadCapture(entry.path().filename().string());
        ASSERT_TRUE(file.has_value());
        ExpectFramerMatches(*file, ReferenceWalk(*file), file->size() < 100000);
        ++files;
    }
    EXPECT_GE(files, 6u);
}

TEST(NovatelCapture, BestSatsHoldsNineHundredBestSatsLogsBackToBack) {
    LOAD_OR_SKIP(file, "edie_bestsats.BIN");
    const Census census = TakeCensus(file);
    EXPECT_EQ(census.starts, 900u);
    EXPECT_EQ(census.validStarts.size(), 900u);

    KNovatelStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, file, Chunking::Random, 5);
    ASSERT_EQ(run.messages.size(), 900u);
    EXPECT_TRUE(run.errors.empty());
    size_t bytes = 0;
    for (const Bytes& message : run.messages) {
        EXPECT_EQ(U16(message, 4), 1194) << "BESTSATS message ID";
        bytes += message.size();
    }
    EXPECT_EQ(bytes, file.size()) << "back to back: every byte belongs to a log";
}

TEST(NovatelCapture, AllLogsDeliversEveryIntactLogAndReportsTheDamage) {
    LOAD_OR_SKIP(file, "edie_advanceddecoder_alllogs.BIN");
    const Census census = TakeCensus(file);
    // The file's documented damage: 307 of its 857 AA 44 12 starts fail the CRC.
    EXPECT_EQ(census.starts, 857u);
    EXPECT_EQ(census.crcFailures, 307u);

    KNovatelStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, file, Chunking::Random, 3);
    // No intact log lies inside a damaged one here, so each of them is delivered.
    ASSERT_EQ(run.messages.size(), census.validStarts.size());
    for (size_t i = 0; i < run.messages.size(); ++i) {
        const size_t at = census.validStarts[i];
        EXPECT_TRUE(std::equal(run.messages[i].begin(), run.messages[i].end(),
                               file.begin() + static_cast<std::ptrdiff_t>(at)))
            << "log " << i;
    }

    // Error lines by kind, from the reference walk: damaged logs swallow the starts inside them,
    // so fewer CRC lines than failing starts; the short-header and ASCII logs between are skipped.
    const Walk walk = ReferenceWalk(file);
    const auto kinds = Kinds(walk.errors);
    EXPECT_EQ(kinds.at("Novatel - Invalid CRC"), 99u);
    EXPECT_EQ(kinds.at("Novatel - skipped "), 105u);
    EXPECT_EQ(kinds.at("Novatel - Total message length greater than receiving buffer size - "), 1u);
    EXPECT_EQ(kinds.size(), 3u);
    EXPECT_NE(std::find(walk.errors.begin(), walk.errors.end(),
                        "Novatel - Total message length greater than receiving buffer size - 10272"),
              walk.errors.end());
    EXPECT_EQ(Kinds(run.errors), kinds);
    EXPECT_EQ(run.errors, walk.errors);
}

TEST(NovatelCapture, PromptBeforeTheLogsIsSkippedOnce) {
    {
        LOAD_OR_SKIP(file, "edie_bestpos.bin");
        const std::string prompt = "[ICOM2]\r\n<OK\r\n[ICOM2]";
        ASSERT_TRUE(std::equal(prompt.begin(), prompt.end(), file.begin()));
        KNovatelStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, file, Chunking::OneByte);
        ASSERT_EQ(run.messages.size(), 3u);
        for (const Bytes& message : run.messages) EXPECT_EQ(U16(message, 4), 42) << "BESTPOS message ID";
        EXPECT_EQ(run.errors, std::vector<std::string>{"Novatel - skipped " + std::to_string(prompt.size()) +
                                                       " bytes to find sync marker"});
    }
    {
        // A binary BESTUTM after the command echo, then its ASCII twin, which has no binary sync.
        LOAD_OR_SKIP(file, "edie_BESTUTMBIN.GPS");
        const auto sync = std::search(file.begin(), file.end(), kSync.begin(), kSync.end());
        KNovatelStreamMonitor monitor;
        const FramedRun run = RunFramer(monitor, file, Chunking::OneByte);
        ASSERT_EQ(run.messages.size(), 1u);
        EXPECT_EQ(U16(run.messages[0], 4), 726) << "BESTUTM message ID";
        EXPECT_EQ(run.errors, std::vector<std::string>{"Novatel - skipped " + std::to_string(sync - file.begin()) +
                                                       " bytes to find sync marker"});
    }
}

TEST(NovatelCapture, OemvRecordingCutMidLogDeliversAllButTheLast) {
    LOAD_OR_SKIP(file, "rtklib_oemv_200911218.gps");
    EXPECT_EQ(file.size(), 262144u);
    const Census census = TakeCensus(file);
    EXPECT_EQ(census.incomplete, 1u) << "the recording is cut at 256 KiB, inside a log";
    EXPECT_EQ(census.crcFailures, 0u);
    KNovatelStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, file, Chunking::AllAtOnce);
    ASSERT_EQ(run.messages.size(), census.validStarts.size());
    EXPECT_EQ(run.messages.size(), census.starts - 1);
    // Every byte before the cut log is in a delivered log or was skipped: here one run of
    // command prompts in the middle of the recording.
    size_t delivered = 0;
    for (const Bytes& message : run.messages) delivered += message.size();
    const size_t cutLogStart = static_cast<size_t>(
        std::find_end(file.begin(), file.end(), kSync.begin(), kSync.end()) - file.begin());
    EXPECT_EQ(run.errors, std::vector<std::string>{"Novatel - skipped " + std::to_string(cutLogStart - delivered) +
                                                   " bytes to find sync marker"});
}

TEST(NovatelCapture, SyncErrorFileIsOneForeignHeaderThenZeros) {
    LOAD_OR_SKIP(file, "edie_binary_sync_error.BIN");
    // AA 44 12 with header length 0xFF (and length field 0xFFFF, never reached): the header is
    // refused on its length; the zeros after it hold no sync.
    ASSERT_EQ(file[3], 0xFF);
    KNovatelStreamMonitor monitor;
    const FramedRun run = RunFramer(monitor, file, Chunking::Random, 9);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_EQ(run.errors, std::vector<std::string>{
                              "Novatel - Header length is not consistant with known header structure"});
}
