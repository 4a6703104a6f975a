#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "comm/KRecordedComm.h"
#include "support/TempDir.h"

namespace {

KRecordedComm Recording(const std::string& text) {
    return KRecordedComm(std::vector<uint8_t>(text.begin(), text.end()), "capture.bin");
}

std::string Next(KRecordedComm& link, uint32_t length) {
    std::string bytes(length, '\0');
    return link.ReadExact(bytes.data(), length) ? bytes : "<nothing>";
}

TEST(KRecordedComm, ReadExactIsAllOrNothing) {
    KRecordedComm link = Recording("0123456789");
    link.Open(0);
    EXPECT_EQ(Next(link, 4), "0123");
    EXPECT_EQ(Next(link, 7), "<nothing>");
    EXPECT_EQ(link.Position(), 4u);
    EXPECT_EQ(Next(link, 6), "456789");
    EXPECT_EQ(link.Remaining(), 0u);
    EXPECT_EQ(Next(link, 1), "<nothing>");
    char buffer[1];
    EXPECT_FALSE(link.ReadExact(buffer, 0));
}

TEST(KRecordedComm, SeekFromEachOrigin) {
    KRecordedComm link = Recording("0123456789");
    link.Open(0);
    ASSERT_TRUE(link.Seek(3, 0));
    EXPECT_EQ(Next(link, 1), "3");
    ASSERT_TRUE(link.Seek(2, 1));
    EXPECT_EQ(Next(link, 1), "6");
    ASSERT_TRUE(link.Seek(-3, 1));
    EXPECT_EQ(Next(link, 1), "4");
    ASSERT_TRUE(link.Seek(-2, 2));
    EXPECT_EQ(Next(link, 2), "89");
    ASSERT_TRUE(link.Seek(0, 0));
    EXPECT_EQ(link.Position(), 0u);
}

TEST(KRecordedComm, SeekClampsAtBothEnds) {
    KRecordedComm link = Recording("0123456789");
    link.Open(0);
    ASSERT_TRUE(link.Seek(-5, 0));
    EXPECT_EQ(link.Position(), 0u);
    ASSERT_TRUE(link.Seek(4, 0));
    ASSERT_TRUE(link.Seek(-100, 1));
    EXPECT_EQ(link.Position(), 0u);
    ASSERT_TRUE(link.Seek(100, 0));
    EXPECT_EQ(link.Position(), 10u);
    ASSERT_TRUE(link.Seek(5, 2));
    EXPECT_EQ(link.Position(), 10u);
    ASSERT_TRUE(link.Seek(INT32_MIN, 2));
    EXPECT_EQ(link.Position(), 0u);
    ASSERT_TRUE(link.Seek(INT32_MAX, 1));
    EXPECT_EQ(link.Position(), 10u);
    EXPECT_FALSE(link.Seek(0, 3));
    EXPECT_FALSE(link.Seek(0, -1));
    EXPECT_EQ(link.Position(), 10u) << "a refused seek does not move";
}

TEST(KRecordedComm, ReadAvailableAndPlaybackOnly) {
    KRecordedComm link = Recording("abc");
    link.Open(0);
    char buffer[8] = {};
    EXPECT_EQ(link.ReadAvailable(buffer, 0), 0);
    EXPECT_EQ(link.ReadAvailable(buffer, 2), 2);
    EXPECT_EQ(link.ReadAvailable(buffer, 8), 1);
    EXPECT_EQ(buffer[0], 'c');
    EXPECT_EQ(link.ReadAvailable(buffer, 8), 0);
    EXPECT_FALSE(link.Write("x", 1));
}

TEST(KRecordedComm, ClosedLinkReadsNothing) {
    KRecordedComm link(std::vector<uint8_t>{1, 2, 3});
    char buffer[4];
    EXPECT_FALSE(link.ReadExact(buffer, 1));
    EXPECT_EQ(link.ReadAvailable(buffer, 4), 0);
    EXPECT_EQ(link.Position(), 0u);
}

TEST(KRecordedComm, FromFileReadsEverythingOrSaysWhy) {
    TempDir dir;
    const std::string path = dir.File("capture.bin");
    const std::string content("\xB5\x62\x00\x01\r\n", 6);
    std::ofstream(path, std::ios::binary) << content;
    std::string error = "stale";
    KRecordedComm link = KRecordedComm::FromFile(path, error);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(link.Size(), 6u);
    link.Open(0);
    EXPECT_EQ(Next(link, 6), content);

    KRecordedComm missing = KRecordedComm::FromFile(dir.File("missing.bin"), error);
    EXPECT_NE(error.find("missing.bin"), std::string::npos) << error;
    EXPECT_EQ(missing.Size(), 0u);
}

TEST(KRecordedComm, PortNameIsTheRecordingsNameCutToFit) {
    KRecordedComm link = Recording("x");
    link.Open(0);
    char text[8];
    std::memset(text, '#', sizeof text);
    link.GetPortName(text, sizeof text);
    EXPECT_STREQ(text, "capture");
    std::memset(text, '#', sizeof text);
    link.GetPortName(text, 0);
    EXPECT_EQ(text[0], '#');
}

} // namespace

namespace {

TEST(KRecordedComm, MovingKeepsTheRecordingAndItsPosition) {
    KRecordedComm first(std::vector<uint8_t>{'a', 'b', 'c', 'd'}, "moved.bin");
    first.Open(0);
    ASSERT_TRUE(first.Seek(1, 0));
    KRecordedComm second(std::move(first));
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(second.linkType, 200);
    EXPECT_EQ(second.Position(), 1u);
    EXPECT_EQ(second.Size(), 4u);
    char buffer[3];
    ASSERT_TRUE(second.ReadExact(buffer, 3));
    EXPECT_EQ(std::string(buffer, 3), "bcd");
    char name[16];
    second.GetPortName(name, sizeof name);
    EXPECT_STREQ(name, "moved.bin");
}

} // namespace
