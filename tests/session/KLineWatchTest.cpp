// The watch's count of what a line carries: every framer sees every byte, whatever the split,
// and messages are counted by protocol and by the id their family lays out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "families/KReceiverFamily.h"
#include "monitors/StreamMessage.h"
#include "session/KLineWatch.h"
#include "support/FramerHarness.h"
#include "support/SiRFFrames.h"
#include "support/TopconFrames.h"
#include "support/UbloxFrames.h"

namespace {

using Counts = std::vector<std::pair<std::string, uint64_t>>;  // id, messages
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
        {"SiRFByMessageId", Concat({geodetic, tracker, geodetic, tracker, geodetic}),
         {{"sirf", {{"29", 3}, {"04", 2}}}}},
        {"UbxClassAndId", Concat({navPvt, monVer, navPvt, Noise(40), navPvt}), {{"ubx", {{"01 07", 3}, {"0A 04", 1}}}}},
        {"TopconTextIds", Concat({WithCrLf(TopconChecked("GE", "abc")), WithCrLf(TopconChecked("NE", "abcd")),
                                  WithCrLf(TopconChecked("GE", "xyz"))}),
         {{"topcon", {{"GE", 2}, {"NE", 1}}}}},
        // One checked message can be luck.
        {"OneMessageIsNoProtocol", Concat({Noise(100), geodetic, Noise(100)}), {}},
        {"NoiseIsNothing", Noise(20000), {}},
    };
}

class LineWatchCase : public ::testing::TestWithParam<WatchCase> {};

TEST_P(LineWatchCase, CountsEachProtocolsMessagesByIdWhateverTheSplit) {
    const WatchCase& c = GetParam();
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk));
        EXPECT_EQ(Watch(c.stream, chunk), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, LineWatchCase, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<WatchCase>& param) { return std::string(param.param.name); });

TEST(LineWatch, MessageIdsFollowTheFamilysLayout) {
    struct Row {
        KMessageIdField field;
        std::string bytes;
        std::string id;
    };
    const std::vector<Row> rows = {
        {{1, 10, true}, "$GPRMC,123519,A*6A\r\n", "GPRMC"},
        {{1, 10, true}, "$PMTK705,AXN_5.1*2A\r\n", "PMTK705"},
        {{1, 4, true}, "$GPRMC,1", "GPRM"},          // at most its length
        {{0, 2, true}, "RE005%abc\n", "RE"},
        {{2, 2, false}, "\xB5\x62\x01\x07\x00", "01 07"},
        {{2, 2, false}, "\xB5\x62\x01", ""},          // too short to hold it
        {{4, 1, false}, "\xA0\xA2", ""},
        {{0, 0, false}, "anything", ""},              // no id in this family
    };
    for (const Row& row : rows) {
        const StreamMessage message(reinterpret_cast<const uint8_t*>(row.bytes.data()),
                                    static_cast<int32_t>(row.bytes.size()));
        EXPECT_EQ(KLineWatch::MessageId(row.field, message), row.id) << row.bytes;
    }
}

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
