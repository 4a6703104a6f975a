// What `set` says about the line after a whole unanswered detection pass, for each kind of hint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/SessionRunner.h"
#include "families/KReceiverFamily.h"

namespace {

const KReceiverFamily* Family(const std::string& name) {
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (name == family.name) return &family;
    return nullptr;
}

TEST(LineHintText, NamesTheTypeToTryOrWhereToLookNext) {
    struct Row {
        const char* heard;  // family name, or nullptr
        uint64_t bytes;
        int32_t sessionType;
        std::string port;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"Topcon", 900, 10, "/dev/ttyUSB0",
         "this device speaks Topcon (topcon) at 9600 baud, not SiRF: try --receiver Topcon"},
        // A family's name that the receiver choice cannot take for one type: the types' ids.
        {"Trimble", 900, 10, "COM3",
         "this device speaks Trimble (trimble) at 9600 baud, not SiRF: try --receiver 12 (Trimble 4000 SSi), "
         "13 (Trimble 47/48/5700) or 14 (Trimble NetR5)"},
        {"Ashtech", 900, 11, "COM3",
         "this device speaks Ashtech (ashtech) at 9600 baud, not Topcon: try --receiver 1 (Ashtech Z), "
         "2 (Ashtech AC12) or 3 (Ashtech G12)"},
        {"SiRF", 900, 10, "COM3",
         "this device speaks SiRF at 9600 baud but does not answer its requests: try 'velinor identify --port "
         "COM3' and 'velinor doctor COM3'"},
        {"MediaTek", 900, 10, "COM3",
         "this device sends nmea at 9600 baud, which many makers' receivers send, not SiRF: if it is a MediaTek, "
         "try --receiver MediaTek; 'velinor identify --port COM3' and 'velinor doctor COM3' tell more"},
        {nullptr, 37, 10, "COM3",
         "nothing answered, and the 37 bytes heard are no protocol known here: try 'velinor identify --port COM3' "
         "and 'velinor doctor COM3'"},
        {nullptr, 0, 10, "",
         "nothing answered and nothing was heard at any rate: try 'velinor identify --port PORT' and "
         "'velinor doctor PORT'"},
    };
    for (const Row& row : rows) {
        KLineHint hint;
        hint.family = row.heard ? Family(row.heard) : nullptr;
        ASSERT_EQ(hint.family != nullptr, row.heard != nullptr) << row.heard;
        hint.baud = row.heard ? 9600 : 0;
        hint.bytes = row.bytes;
        EXPECT_EQ(LineHintText(hint, row.sessionType, row.port), row.text);
    }
}

} // namespace
