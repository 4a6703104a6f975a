// The watch's count of what a line carries: every framer sees every byte, whatever the split,
// and messages are counted by protocol and by the name their family's reader gives them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "families/KReceiverFamily.h"
#include "session/KLineWatch.h"
#include "support/FramerHarness.h"
#include "support/SiRFFrames.h"
#include "support/TopconFrames.h"
#include "support/UbloxFrames.h"

namespace {

using Counts = std::vector<std::pair<std::string, uint64_t>>;  // name, messages
using Table = std::vector<std::pair<std::string, Counts>>;       // protocol, its ids

Table Watch(const Bytes& stream, size_t chunk) {
    KLineWatch watch;
    for (size_t at = 0; at < stream.size(); at += chunk)
        watch.Feed(stream.data() + at, std::min(chunk, stream.size() - at), static_cast<int64_t>(at));
    Table table;
    for (const KLineWatch::Protocol* protocol : watch.Heard()) {
        Counts counts;
        uint64_t sum = 0;
        for (const KLineWatch::Kind& kind : protocol->kinds) {
            counts.emplace_back(kind.id, kind.messages);
            sum += kind.messages;
        }
        EXPECT_EQ(sum, protocol->messages);
        table.emplace_back(protocol->family->protocol.name, counts);
    }
    return table;
}

Bytes Noise(size_t length) {
    std::mt19937 random(7);
    Bytes bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

struct WatchCase {
    const char* name;
    Bytes stream;
    Table expected;
};

std::vector<WatchCase> Cases() {
    const Bytes geodetic = sirf::Frame(Concat({Hex("29"), Repeat(0x11, 90)}));
    const Bytes tracker = sirf::Frame(Concat({Hex("04"), Repeat(0x22, 20)}));
    const Bytes navPvt = UbxFrame(0x01, 0x07, Repeat(0x33, 92));
    const Bytes monVer = UbxFrame(0x0A, 0x04, Repeat(0x34, 40));
    return {
        {"SiRFByMessageName", Concat({geodetic, tracker, geodetic, tracker, geodetic}),
         {{"sirf", {{"0x29", 3}, {"0x04", 2}}}}},
        {"UbxByClassAndId", Concat({navPvt, monVer, navPvt, Noise(40), navPvt}), {{"ubx", {{"NAV-PVT", 3}, {"MON-VER", 1}}}}},
        {"TopconByIdentifier", Concat({WithCrLf(TopconChecked("GE", "abc")), WithCrLf(TopconChecked("NE", "abcd")),
                                  WithCrLf(TopconChecked("GE", "xyz"))}),
         {{"topcon", {{"GE", 2}, {"NE", 1}}}}},
        // One checked message can be luck.
        {"OneMessageIsNoProtocol", Concat({Noise(100), geodetic, Noise(100)}), {}},
        {"NoiseIsNothing", Noise(20000), {}},
    };
}

class LineWatchCase : public ::testing::TestWithParam<WatchCase> {};

TEST_P(LineWatchCase, CountsEachProtocolsMessagesByNameWhateverTheSplit) {
    const WatchCase& c = GetParam();
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk));
        EXPECT_EQ(Watch(c.stream, chunk), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, LineWatchCase, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<WatchCase>& param) { return std::string(param.param.name); });

// Real recordings: the family's protocol is heard in each, and every message is counted.
TEST(LineWatch, RecordingsAreHeardAsTheirProtocol) {
    const std::vector<std::pair<std::string, std::string>> recordings = {
        {"sirf/gpsd_sirf2.bin", "sirf"},
        {"novatel/edie_bestpos.bin", "novatel"},
        {"topcon/gpsd_greis-def.bin", "topcon"},
        {"mtk/gpsd_mtk-3301.bin", "nmea"},
    };
    for (const auto& [file, protocol] : recordings) {
        const std::filesystem::path path = std::filesystem::path(VELINOR_CAPTURES) / file;
        if (!std::filesystem::exists(path)) GTEST_SKIP() << "no captures at " << VELINOR_CAPTURES;
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool heard = false;
        for (const auto& [name, counts] : Watch(bytes, 1000)) heard = heard || name == protocol;
        EXPECT_TRUE(heard) << file;
    }
}

} // namespace
