#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "comm/KMemoryComm.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(KMemoryComm, ReadExactIsAllOrNothing) {
    KMemoryComm link;
    ASSERT_TRUE(link.Open(0));
    link.Feed(Bytes("ABCD"));
    char buffer[8] = {};
    EXPECT_FALSE(link.ReadExact(buffer, 5));
    EXPECT_EQ(link.Readable(), 4u);
    link.Feed(Bytes("E"));
    ASSERT_TRUE(link.ReadExact(buffer, 5));
    EXPECT_EQ(std::string(buffer, 5), "ABCDE");
    EXPECT_EQ(link.Readable(), 0u);
    EXPECT_FALSE(link.ReadExact(buffer, 0));
}

TEST(KMemoryComm, ClosedLinkNeitherReadsNorWrites) {
    KMemoryComm link;
    link.Feed(Bytes("xy"));
    char buffer[4] = {};
    EXPECT_FALSE(link.ReadExact(buffer, 1));
    EXPECT_EQ(link.ReadAvailable(buffer, 4), 0);
    EXPECT_FALSE(link.Write("z", 1));
    EXPECT_EQ(link.Readable(), 2u);
    ASSERT_TRUE(link.Open(0));
    EXPECT_EQ(link.ReadAvailable(buffer, 0), 0);
    EXPECT_EQ(link.ReadAvailable(buffer, 4), 2);
    EXPECT_FALSE(link.Seek(0, 0));
}

TEST(KMemoryComm, WritesAreKeptUnlessMadeToFail) {
    KMemoryComm link;
    link.Open(0);
    EXPECT_TRUE(link.Write("ab", 2));
    EXPECT_FALSE(link.Write("c", 0));
    link.SetWritesFail(true);
    EXPECT_FALSE(link.Write("d", 1));
    link.SetWritesFail(false);
    EXPECT_TRUE(link.Write("e", 1));
    EXPECT_EQ(link.TakeWritten(), Bytes("abe"));
    EXPECT_TRUE(link.TakeWritten().empty());
}

TEST(KMemoryComm, StagedChunksArriveInTheirSizesCycled) {
    KMemoryComm link;
    link.Open(0);
    link.Stage(Bytes("0123456789"), {3, 0, 1});
    EXPECT_EQ(link.Staged(), 10u);
    std::vector<size_t> sizes;
    while (link.DeliverNext()) sizes.push_back(link.Readable() - (sizes.empty() ? 0 : [&] {
                                                   size_t sum = 0;
                                                   for (size_t s : sizes) sum += s;
                                                   return sum;
                                               }()));
    EXPECT_EQ(sizes, (std::vector<size_t>{3, 1, 3, 1, 2}));
    char buffer[10];
    ASSERT_TRUE(link.ReadExact(buffer, 10));
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_FALSE(link.DeliverNext());
}

// Reads that leave some bytes held while more are fed (and stages released in between) must keep
// the stream in order, however the held bytes are moved about inside the link.
TEST(KMemoryComm, InterleavedFeedsAndReadsKeepTheStreamInOrder) {
    struct Case {
        size_t feed, read, stageEvery;
    };
    for (const Case& c : {Case{5, 3, 0}, Case{1, 1, 0}, Case{64, 63, 0}, Case{3, 7, 0}, Case{9, 4, 3}}) {
        SCOPED_TRACE(testing::Message() << "feed " << c.feed << " read " << c.read << " stage " << c.stageEvery);
        KMemoryComm link;
        link.Open(0);
        std::string sent, received;
        for (int i = 0; i < 2000; ++i) sent += static_cast<char>(i * 7 % 251);
        size_t at = 0;
        for (size_t round = 0; received.size() < sent.size(); ++round) {
            const size_t n = std::min(c.feed, sent.size() - at);
            if (c.stageEvery != 0 && round % c.stageEvery == 0) {
                link.Stage(Bytes(sent.substr(at, n)), {2});
                while (link.DeliverNext()) {}
            } else {
                link.Feed(sent.data() + at, n);
            }
            at += n;
            char piece[64];
            const auto want = static_cast<uint32_t>(std::min(c.read, link.Readable()));
            if (want > 0 && link.ReadExact(piece, want)) received.append(piece, want);
            if (at == sent.size()) {
                const int32_t rest = link.ReadAvailable(piece, sizeof piece);
                received.append(piece, static_cast<size_t>(rest));
            }
        }
        EXPECT_EQ(received, sent);
        EXPECT_EQ(link.Readable(), 0u);
    }
}

TEST(KMemoryComm, FeedingWhileAnotherThreadReadsKeepsTheStreamWhole) {
    KMemoryComm link;
    link.Open(0);
    std::string sent;
    for (int i = 0; i < 3000; ++i) sent += static_cast<char>('a' + i % 26);
    std::thread feeder([&] {
        for (size_t at = 0; at < sent.size(); at += 7) link.Feed(sent.data() + at, std::min<size_t>(7, sent.size() - at));
    });
    std::string received;
    while (received.size() < sent.size()) {
        char piece[5];
        const uint32_t want = static_cast<uint32_t>(std::min<size_t>(5, sent.size() - received.size()));
        if (link.ReadExact(piece, want)) received.append(piece, want);
        else std::this_thread::yield();
    }
    feeder.join();
    EXPECT_EQ(received, sent);
}

TEST(KMemoryComm, PortName) {
    KMemoryComm link;
    char text[8];
    std::memset(text, '#', sizeof text);
    link.GetPortName(text, 8);
    EXPECT_STREQ(text, "MEM");
    link.GetPortName(text, 2);
    EXPECT_STREQ(text, "?");
    std::memset(text, '#', sizeof text);
    link.GetPortName(text, 1);
    EXPECT_EQ(text[0], '#');
}

} // namespace
