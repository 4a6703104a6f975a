#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OpenFailureRecorder.h"
#include "comm/KIniSettingsStore.h"
#include "comm/KPortRegistry.h"
#include "comm/KSerialComm.h"
#include "comm/KSettingsStore.h"
#include "support/TempDir.h"

namespace {

// Remembers every call, and answers reads from what it was given.
class RecordingStore : public KSettingsStore {
public:
    struct Call {
        std::string op;
        int32_t context;
        std::string section;
        std::string key;
        int32_t value;  // written, or the default asked for
    };

    void WriteInt(int32_t context, const char* section, const char* key, int32_t value) override {
        calls.push_back({"write", context, section, key, value});
    }
    bool ReadInt(int32_t context, const char* section, const char* key, int32_t& value,
                 int32_t defaultValue) override {
        calls.push_back({"read", context, section, key, defaultValue});
        for (const auto& [name, stored] : values)
            if (name == key) {
                value = stored;
                return true;
            }
        value = defaultValue;
        return false;
    }
    void WriteString(int32_t, const char*, const char*, const std::string&) override { ++stringCalls; }
    std::string ReadString(int32_t, const char*, const char*, const std::string& defaultValue) override {
        ++stringCalls;
        return defaultValue;
    }

    std::vector<Call> calls;
    std::vector<std::pair<std::string, int32_t>> values;
    int stringCalls = 0;
};

const std::vector<std::string> kKeyOrder = {"BaudRate", "MSPerChar", "Parity",    "PortNumber",
                                           "StopBits", "RTSCTSFlag", "WordLength"};

TEST(KSerialComm, StartsClosedWithTheDocumentedDefaults) {
    KSerialComm link;
    EXPECT_EQ(link.linkType, 100);
    EXPECT_STREQ(link.linkName, "RS-232");
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.RTSCTSFlag, 0);
    EXPECT_EQ(link.MSPerChar, 50);
    EXPECT_EQ(link.StopBits, 1);
    EXPECT_EQ(link.WordLength, 8);
    EXPECT_EQ(link.Parity, 'N');
    EXPECT_EQ(link.BaudRate, 9600);
    EXPECT_EQ(link.PortNumber, 0);
    EXPECT_EQ(link.port.dcb.DCBlength, 28u);
    EXPECT_EQ(link.port.dcb.BaudRate, 115200u);
    EXPECT_EQ(link.port.dcb.ByteSize, 8);
    EXPECT_EQ(link.port.dcb.Parity, 0);
    EXPECT_EQ(link.port.dcb.StopBits, 0);
    EXPECT_EQ(link.port.portNumber, 0);
}

TEST(KSerialCommSettings, SaveWritesTheSevenKeysInOrderWithTheContext) {
    KSerialComm link;
    link.BaudRate = 38400;
    link.MSPerChar = 20;
    link.Parity = 'E';
    link.PortNumber = 5;
    link.StopBits = 2;
    link.RTSCTSFlag = 1;
    link.WordLength = 7;
    RecordingStore store;
    link.SaveSettings(-77, store);
    ASSERT_EQ(store.calls.size(), kKeyOrder.size());
    const int32_t expected[] = {38400, 20, 69, 5, 2, 1, 7};
    for (size_t i = 0; i < kKeyOrder.size(); ++i) {
        EXPECT_EQ(store.calls[i].op, "write");
        EXPECT_EQ(store.calls[i].context, -77);
        EXPECT_EQ(store.calls[i].section, "SerialCommLink");
        EXPECT_EQ(store.calls[i].key, kKeyOrder[i]);
        EXPECT_EQ(store.calls[i].value, expected[i]) << kKeyOrder[i];
    }
    EXPECT_EQ(store.stringCalls, 0);
}

TEST(KSerialCommSettings, ParityIsSavedAsTheSignExtendedCharacterCode) {
    KSerialComm link;
    link.Parity = static_cast<char>(0xE9);
    RecordingStore store;
    link.SaveSettings(0, store);
    EXPECT_EQ(store.calls[2].value, static_cast<int32_t>(static_cast<signed char>(0xE9)));
}

TEST(KSerialCommSettings, LoadingWithEveryKeyMissingGivesTheDefaults) {
    KSerialComm link;
    link.BaudRate = 1200;
    link.MSPerChar = 1;
    link.Parity = 'O';
    link.PortNumber = 9;
    link.StopBits = 2;
    link.RTSCTSFlag = 1;
    link.WordLength = 5;
    RecordingStore store;
    link.LoadSettings(3, store);
    EXPECT_EQ(link.BaudRate, 9600);
    EXPECT_EQ(link.MSPerChar, 50);
    EXPECT_EQ(link.Parity, 'N');
    EXPECT_EQ(link.PortNumber, 0);
    EXPECT_EQ(link.StopBits, 1);
    EXPECT_EQ(link.RTSCTSFlag, 0);
    EXPECT_EQ(link.WordLength, 8);
    EXPECT_FALSE(link.IsOpen());
    ASSERT_EQ(store.calls.size(), kKeyOrder.size());
    const int32_t defaults[] = {9600, 50, 78, 0, 1, 0, 8};
    for (size_t i = 0; i < kKeyOrder.size(); ++i) {
        EXPECT_EQ(store.calls[i].op, "read");
        EXPECT_EQ(store.calls[i].context, 3);
        EXPECT_EQ(store.calls[i].section, "SerialCommLink");
        EXPECT_EQ(store.calls[i].key, kKeyOrder[i]);
        EXPECT_EQ(store.calls[i].value, defaults[i]) << kKeyOrder[i];
    }
}

TEST(KSerialCommSettings, ParityTakesTheLowByteOfTheValueRead) {
    for (const auto& [stored, parity] : std::vector<std::pair<int32_t, char>>{{325, 'E'}, {-187, 'E'}, {79, 'O'}}) {
        KSerialComm link;
        RecordingStore store;
        store.values = {{"Parity", stored}};
        link.LoadSettings(0, store);
        EXPECT_EQ(link.Parity, parity) << stored;
    }
}

TEST(KSerialCommSettings, RoundTripThroughAnIniFile) {
    TempDir dir;
    const std::string path = dir.File("link.ini");
    {
        KSerialComm link;
        link.BaudRate = 115200;
        link.MSPerChar = 12;
        link.Parity = 'S';
        link.PortNumber = 23;
        link.StopBits = 2;
        link.RTSCTSFlag = 1;
        link.WordLength = 7;
        KIniSettingsStore store(path);
        link.SaveSettings(0, store);
    }
    KSerialComm loaded;
    KIniSettingsStore store(path);
    loaded.LoadSettings(0, store);
    EXPECT_EQ(loaded.BaudRate, 115200);
    EXPECT_EQ(loaded.MSPerChar, 12);
    EXPECT_EQ(loaded.Parity, 'S');
    EXPECT_EQ(loaded.PortNumber, 23);
    EXPECT_EQ(loaded.StopBits, 2);
    EXPECT_EQ(loaded.RTSCTSFlag, 1);
    EXPECT_EQ(loaded.WordLength, 7);

    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string file = text.str();
    size_t at = file.find("[SerialCommLink]");
    ASSERT_NE(at, std::string::npos) << file;
    for (const std::string& key : kKeyOrder) {
        const size_t next = file.find(key + "=", at);
        ASSERT_NE(next, std::string::npos) << key << " in\n" << file;
        at = next;
    }
    EXPECT_NE(file.find("Parity=83"), std::string::npos) << file;
}

TEST(KSerialCommSettings, BadValuesInTheFileReadTheWayWindowsReadsThem) {
    TempDir dir;
    const std::string path = dir.File("bad.ini");
    std::ofstream(path) << "[SerialCommLink]\n"
                           "BaudRate=fast\n"
                           "MSPerChar=\n"
                           "Parity=325\n"
                           "PortNumber=  -2 ports\n"
                           "StopBits=2x\n"
                           "RTSCTSFlag=yes\n"
                           "WordLength=99999999999\n";
    KSerialComm link;
    KIniSettingsStore store(path);
    link.LoadSettings(0, store);
    EXPECT_EQ(link.BaudRate, 0);
    EXPECT_EQ(link.MSPerChar, 50);  // an empty value is the default
    EXPECT_EQ(link.Parity, 'E');
    EXPECT_EQ(link.PortNumber, -2);
    EXPECT_EQ(link.StopBits, 2);
    EXPECT_EQ(link.RTSCTSFlag, 0);
    EXPECT_EQ(link.WordLength, 1215752191);  // wrapped at 32 bits
}

TEST(KSerialCommPortName, BufferSizesFromOneToSixteen) {
    KSerialComm link;
    char text[16];
    auto fill = [&] { std::memset(text, '#', sizeof text); };

    fill();
    link.GetPortName(text, 16);
    EXPECT_STREQ(text, "COM1");
    fill();
    link.GetPortName(text, 7);
    EXPECT_STREQ(text, "COM1");
    for (uint32_t size : {2u, 6u}) {
        fill();
        link.GetPortName(text, size);
        EXPECT_STREQ(text, "?") << size;
    }
    for (uint32_t size : {0u, 1u}) {
        fill();
        link.GetPortName(text, size);
        EXPECT_EQ(text[0], '#') << "size " << size << " must leave the buffer untouched";
    }
    link.PortNumber = 23;
    fill();
    link.GetPortName(text, 16);
    EXPECT_STREQ(text, "COM24");
}

TEST(KSerialCommPortName, NamedDeviceWhenItFits) {
    KSerialComm link;
    link.DevicePath = "/dev/ttyUSB0";
    char text[16];
    link.GetPortName(text, sizeof text);
    EXPECT_STREQ(text, "/dev/ttyUSB0");
    std::memset(text, '#', sizeof text);
    link.GetPortName(text, 8);
    EXPECT_STREQ(text, "?");
}

class SerialRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        KPortRegistry::PortTable table;
        table[0] = KPortInfo{true, "velinor-test-device-0", "COM1"};
        KPortRegistry::InstallForTesting(table);
    }
    void TearDown() override { KPortRegistry::Teardown(); }
    OpenFailureRecorder failures;
};

TEST_F(SerialRegistry, PortsAbsentOrOutOfRangeFailSilently) {
    for (int32_t port : {3, 23, 24, 100, -1}) {
        KSerialComm link;
        link.PortNumber = port;
        EXPECT_FALSE(link.Open(0)) << port;
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(link.LastOpenError().kind, KOpenError::NotPresent) << port;
        EXPECT_TRUE(link.Close());
    }
    EXPECT_TRUE(failures.Seen().empty()) << "no message for a port that is not there";
}

} // namespace
