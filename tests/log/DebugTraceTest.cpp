#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "log/DebugTrace.h"
#include "support/TempDir.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(DebugTrace, WritesNothingWithoutASink) {
    TempDir folder;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    SetDebugTraceSink(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    DebugTrace("ASHTECH: Get Current Port failed on Try %d\n", 1);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    std::filesystem::current_path(previous);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

TEST(DebugTrace, TheSinkGetsTheFormattedText) {
    std::vector<std::string> texts;
    SetDebugTraceSink([&](const std::string& text) { texts.push_back(text); });
    DebugTrace("ASHTECH: Get Current Port failed on Try %d\n", 1);
    DebugTrace("%s", "50% done %d");
    DebugTrace("%s", std::string(3000, 'x').c_str());
    SetDebugTraceSink(nullptr);
    DebugTrace("after removal");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "ASHTECH: Get Current Port failed on Try 1\n");
    EXPECT_EQ(texts[1], "50% done %d");
    EXPECT_EQ(texts[2], std::string(2047, 'x'));
}

TEST(DebugTrace, NothingIsKeptForALaterSink) {
    SetDebugTraceSink(nullptr);
    DebugTrace("before");
    std::vector<std::string> texts;
    SetDebugTraceSink([&](const std::string& text) { texts.push_back(text); });
    DebugTrace("after");
    SetDebugTraceSink(nullptr);
    EXPECT_THAT(texts, ElementsAre("after"));
}

TEST(DebugTrace, ByteDumpsShowHexTextWhenMostlyPrintableAndCapLongOnes) {
    struct Row {
        std::vector<uint8_t> bytes;
        size_t limit;
        std::string dump;
    };
    const std::vector<Row> rows = {
        {{0xA0, 0xA2, 0x00, 0x02, 0x84, 0x00}, 64, "A0 A2 00 02 84 00"},
        {{'$', 'P', 'M', 'T', 'K', '\r', '\n'}, 64, "24 50 4D 54 4B 0D 0A |$PMTK..|"},
        // Three in four printable is text enough; fewer is binary with letters by chance.
        {{'%', 'R', 'O', 0x01}, 64, "25 52 4F 01 |%RO.|"},
        {{'%', 'R', 0x02, 0x01}, 64, "25 52 02 01"},
        {{0x10, 0x11, 0x12, 0x13, 0x14}, 3, "10 11 12 ... (5 bytes in all)"},
        {{}, 64, ""},
    };
    for (const Row& row : rows) EXPECT_EQ(TraceBytesText(row.bytes.data(), row.bytes.size(), row.limit), row.dump);
}
