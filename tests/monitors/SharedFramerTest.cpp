// What every framer in the registry does alike, run for each: it frames its own receiver's output
// (the family's simulated receiver streaming) the same in every chunking, a bounded scan gives
// up soon after the scan limit and an unbounded one does not, a restart forgets a half-read
// message, and the stop signal ends a hunt at the byte where it is seen.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "comm/KMemoryComm.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "monitors/KStreamMonitor.h"
#include "support/ChunkedFraming.h"
#include "support/EndlessComm.h"
#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"
#include "support/LogCapture.h"
#include "support/StopGateComm.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

struct Sample {
    Bytes stream;
    std::vector<Bytes> messages;
    std::vector<std::string> errors;  // bytes not its own that it told of (NMEA amid UBX)
};

class SharedFramer : public ::testing::TestWithParam<std::string> {
protected:
    const KReceiverFamily& Family() const {
        for (const KReceiverFamily& family : ReceiverFamilies())
            if (family.name == GetParam()) return family;
        throw std::logic_error("no family " + GetParam());
    }
    std::unique_ptr<KStreamMonitor> NewFramer() const { return Family().protocol.createMonitor(); }

    // Four seconds of what the family's simulated receiver sends at its fastest rate, and the
    // messages its framer cuts from them at once.
    Sample OwnOutput() const {
        const int32_t type = Family().types.front().typeId;
        const uint32_t baud = KSimFactory::Rates(type).back();
        std::string error;
        auto world = KSimFactory::CreateWorld(type, static_cast<int32_t>(baud), {}, {}, error);
        EXPECT_NE(world, nullptr) << error;
        if (!world) return {};
        world->HostOpen(baud);
        world->AdvanceBy(4 * kNsPerSecond);
        Sample sample;
        sample.stream.resize(world->HostReadable());
        sample.stream.resize(world->HostRead(sample.stream.data(), sample.stream.size()));
        auto framer = NewFramer();
        FramedRun run = RunFramer(*framer, sample.stream, Chunking::AllAtOnce);
        sample.messages = std::move(run.messages);
        sample.errors = std::move(run.errors);
        EXPECT_GE(sample.messages.size(), 2u) << "too little output to test with";
        return sample;
    }
};

std::vector<std::string> FamilyNames() {
    std::vector<std::string> names;
    for (const KReceiverFamily& family : ReceiverFamilies()) names.emplace_back(family.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Registry, SharedFramer, ::testing::ValuesIn(FamilyNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             std::string name;
                             for (char c : param.param)
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name;
                         });

TEST_P(SharedFramer, FramesItsReceiversOutputTheSameInEveryChunking) {
    const Sample sample = OwnOutput();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        std::vector<std::string> errors;
        for (Chunking chunking : {Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce}) {
            SCOPED_TRACE(std::string(ChunkingName(chunking)) + ", seed " + std::to_string(seed));
            auto framer = NewFramer();
            const FramedRun run = RunFramer(*framer, sample.stream, chunking, seed);
            EXPECT_EQ(run.messages, sample.messages);
            EXPECT_EQ(run.errors, sample.errors);
        }
    }
    // Enough of them prove the protocol for identify to name it from listening alone.
    if (!Family().protocol.listeningProves) return;
    auto framer = NewFramer();
    size_t proving = 0;
    for (const Bytes& message : sample.messages)
        if (framer->ProvesProtocol(StreamMessage(message.data(), static_cast<int32_t>(message.size())))) ++proving;
    EXPECT_GE(proving, 2u);
}

TEST_P(SharedFramer, ABoundedScanGivesUpJustPastTheScanLimitAndAnUnboundedOneReadsOn) {
    constexpr size_t kJunk = 3 * kScanLimit;
    for (const bool bounded : {true, false}) {
        SCOPED_TRACE(bounded ? "bounded" : "unbounded");
        KMemoryComm link;
        link.Open(0);
        link.Feed(Bytes(kJunk, 0x00));
        auto framer = NewFramer();
        framer->Start(&link, false, "Test");
        framer->boundedScan = bounded;
        while (framer->ReadStep()) {
        }
        const size_t read = kJunk - link.Readable();
        if (bounded)
            EXPECT_EQ(read, static_cast<size_t>(kScanLimit) + 1);
        else
            EXPECT_EQ(read, kJunk);
    }
}

TEST_P(SharedFramer, ABoundedScanFindsMessagesBeforeItsLimit) {
    const Sample sample = OwnOutput();
    KMemoryComm link;
    link.Open(0);
    link.Feed(Concat({Bytes(kScanLimit / 2, 0x00), sample.stream}));
    auto framer = NewFramer();
    framer->Start(&link, false, "Test");
    framer->boundedScan = true;
    EXPECT_EQ(DrainFramer(*framer), sample.messages);
}

TEST_P(SharedFramer, ARestartForgetsAHalfReadMessage) {
    const Sample sample = OwnOutput();
    ASSERT_FALSE(sample.messages.empty());
    const Bytes& first = sample.messages.front();
    KMemoryComm link;
    link.Open(0);
    auto framer = NewFramer();
    framer->Start(&link, false, "Test");
    link.Feed(Slice(first, 0, first.size() / 2));
    EXPECT_TRUE(DrainFramer(*framer).empty());
    framer->Stop();
    framer->Start(&link, false, "Test");
    // Without the reset the rest would complete the half message: to the new hunt it is junk.
    link.Feed(Concat({Slice(first, first.size() / 2, first.size()), sample.stream}));
    EXPECT_EQ(DrainFramer(*framer), sample.messages);
}

TEST_P(SharedFramer, TheStopSignalEndsAHuntAtTheByteWhereItIsSeen) {
    const Sample sample = OwnOutput();
    LogCapture capture;
    auto framer = NewFramer();
    // Held at the first byte of the receiver's output: a hunt that looked at it after the stop
    // would go on to frame the messages behind it.
    StopGateComm link(Concat({Bytes(500, 0x00), sample.stream}), 500, [&] { return framer->StopSignalled(); });
    link.Open(0);
    framer->Start(&link, true, "Test");
    ASSERT_TRUE(link.WaitUntilHeld());
    framer->Stop();
    EXPECT_EQ(link.Served(), 501u);
    EXPECT_EQ(framer->MessagesFramed(), 0u);
    EXPECT_TRUE(capture.StreamErrors().empty());
}

TEST_P(SharedFramer, StopAndDestructionEndAReaderThreadThatNeverFindsAMessage) {
    EndlessComm link(0x00);
    auto framer = NewFramer();
    framer->Start(&link, true, "Test");
    ASSERT_TRUE(framer->IsStarted());
    while (link.bytes.load() < 100000) std::this_thread::yield();
    framer->Stop();
    EXPECT_FALSE(framer->IsStarted());
    const uint64_t afterStop = link.bytes.load();
    EXPECT_EQ(link.bytes.load(), afterStop);  // the reader has ended: nothing more is read
    framer->Start(&link, true, "Test");
    framer.reset();  // must stop the thread before the framer goes away
}

// The fuzz corpus starts from these seeds (velinor-fuzz-seeds writes them): each must frame as
// meant, or the fuzzer starts from paths it was never meant to.
TEST(FramerFuzzSeeds, EachFramesWhatItWasMadeToHoldInAnyChunking) {
    for (const ProtocolFuzzSeeds& protocol : FramerFuzzSeeds()) {
        for (const FuzzSeed& seed : protocol.seeds) {
            for (Chunking chunking : {Chunking::AllAtOnce, Chunking::Random}) {
                auto framer = CreateStreamMonitor(protocol.protocol);
                ASSERT_NE(framer, nullptr) << protocol.protocol;
                EXPECT_EQ(RunFramer(*framer, seed.stream, chunking, seed.chunkSeed).messages.size(), seed.messages)
                    << protocol.protocol << " " << seed.name;
            }
        }
    }
}

} // namespace
