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

namespace {

// A file several windows long is read through one window: every read, whatever its size and
// wherever it falls against the window's edges, gives the file's bytes, and memory stays at the
// window (or the largest single read) whatever the file's size.
TEST(KRecordedComm, AFileIsStreamedThroughOneWindow) {
    TempDir dir;
    const std::string path = dir.File("long.bin");
    const size_t total = 3 * KRecordedComm::kWindowBytes + 1234;
    std::vector<uint8_t> content(total);
    for (size_t i = 0; i < total; ++i) content[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                static_cast<std::streamsize>(total));

    for (const uint32_t step : {1u, 7u, 4096u, static_cast<uint32_t>(KRecordedComm::kWindowBytes) + 5}) {
        std::string error;
        KRecordedComm link = KRecordedComm::FromFile(path, error);
        ASSERT_TRUE(error.empty()) << error;
        ASSERT_EQ(link.Size(), total);
        link.Open(0);
        std::vector<uint8_t> read;
        std::vector<uint8_t> buffer(step);
        while (link.ReadExact(buffer.data(), step)) read.insert(read.end(), buffer.begin(), buffer.end());
        // What is left is shorter than a step: all or nothing.
        EXPECT_EQ(link.Remaining(), total % step) << step;
        EXPECT_TRUE(std::equal(read.begin(), read.end(), content.begin())) << step;
        EXPECT_LE(link.BytesHeld(), std::max<size_t>(KRecordedComm::kWindowBytes, step)) << step;
    }

    // Seeks anywhere, back and forth, then reads what is there.
    std::string error;
    KRecordedComm link = KRecordedComm::FromFile(path, error);
    link.Open(0);
    for (const int64_t at : {int64_t{0}, static_cast<int64_t>(total) - 8192, int64_t{5},
                             static_cast<int64_t>(2 * KRecordedComm::kWindowBytes) - 2}) {
        ASSERT_TRUE(link.Seek(static_cast<int32_t>(at), 0));
        uint8_t bytes[16];
        ASSERT_TRUE(link.ReadExact(bytes, sizeof bytes)) << at;
        EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, content.begin() + at)) << at;
    }
    ASSERT_TRUE(link.Seek(-8192, 2));
    uint8_t tail[8192];
    EXPECT_EQ(link.ReadAvailable(tail, sizeof tail), 8192);
    EXPECT_TRUE(std::equal(tail, tail + sizeof tail, content.end() - 8192));
    EXPECT_EQ(link.Remaining(), 0u);
}

} // namespace

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace {

// Only a regular file is a recording: a device reads forever or reports a size of 0, a FIFO
// blocks the open, a folder reads nothing. Each is refused at once, saying what it is.
TEST(KRecordedComm, WhatIsNoRegularFileIsRefused) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* kind;
    } cases[] = {{"/dev/zero", "a character device"}, {dir.File("fifo"), "a FIFO"}, {dir.Path(), "a folder"}};
    for (const auto& c : cases) {
        std::string error;
        KRecordedComm link = KRecordedComm::FromFile(c.path, error);
        EXPECT_EQ(error, c.path + ": is " + c.kind + ", not a recording file");
        EXPECT_EQ(link.Size(), 0u);
    }
}

// A stream is read once, front to back, holding only what it must: a stream of many windows
// ends with its last `keep` bytes still readable from the end, memory stays bounded, and the
// bytes come through whole, read by read, wherever the chunks of the pipe fall.
TEST(KRecordedComm, AStreamKeepsOnlyItsTailAsItReads) {
    constexpr size_t kKeep = 8192;
    const size_t total = 40 * KRecordedComm::kWindowBytes + 321;
    std::vector<uint8_t> content(total);
    for (size_t i = 0; i < total; ++i) content[i] = static_cast<uint8_t>((i * 2654435761u) >> 11);
    for (const bool readFirst : {false, true}) {
        SCOPED_TRACE(readFirst ? "reads its start, then seeks to the end" : "seeks to the end at once");
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        std::thread writer([&] {
            for (size_t at = 0; at < total;) {
                const ssize_t n = ::write(ends[1], content.data() + at, std::min<size_t>(total - at, 5000));
                if (n <= 0) break;
                at += static_cast<size_t>(n);
            }
            ::close(ends[1]);
        });
        std::FILE* in = ::fdopen(ends[0], "rb");
        {
            KRecordedComm link = KRecordedComm::FromStream(in, "standard input", kKeep);
            link.Open(0);
            if (readFirst) {
                std::vector<uint8_t> start(100000);
                for (size_t at = 0; at < start.size(); at += 1000) ASSERT_TRUE(link.ReadExact(start.data() + at, 1000));
                EXPECT_TRUE(std::equal(start.begin(), start.end(), content.begin()));
                EXPECT_TRUE(link.Seek(-5000, 1)) << "within what is kept";
                EXPECT_FALSE(link.Seek(10, 0)) << "long gone";
            }
            ASSERT_TRUE(link.Seek(-static_cast<int32_t>(kKeep), 2));
            EXPECT_EQ(link.Size(), total);
            std::vector<uint8_t> tail(kKeep);
            EXPECT_TRUE(link.ReadExact(tail.data(), static_cast<uint32_t>(kKeep)));
            EXPECT_TRUE(std::equal(tail.begin(), tail.end(), content.end() - static_cast<std::ptrdiff_t>(kKeep)));
            EXPECT_TRUE(link.AtEnd());
            EXPECT_LE(link.BytesHeld(), KRecordedComm::kWindowBytes);
        }
        writer.join();
        std::fclose(in);
    }
}

} // namespace
#endif
