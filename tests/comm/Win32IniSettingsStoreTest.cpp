#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comm/KIniSettingsStore.h"
#include "support/TempDir.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& path) {
        char buffer[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, buffer);
        previous = buffer;
        SetCurrentDirectoryA(path.c_str());
    }
    ~CurrentDirectory() { SetCurrentDirectoryA(previous.c_str()); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::string previous;
};

TEST(Win32IniSettingsStore, RelativeFileStaysInTheCurrentFolder) {
    TempDir dir;
    const std::string name = "velinor-relative-" + std::to_string(GetCurrentProcessId()) + ".ini";
    {
        CurrentDirectory here(dir.Path());
        KIniSettingsStore store(name);
        store.WriteInt(0, "BaudSet", "LastBaud", 57600);
        int32_t value = 0;
        EXPECT_TRUE(store.ReadInt(0, "BaudSet", "LastBaud", value, 9600));
        EXPECT_EQ(value, 57600);
    }
    EXPECT_NE(ReadWholeFile(dir.File(name)).find("LastBaud=57600"), std::string::npos);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(windows) / name));
}

TEST(Win32IniSettingsStore, WritesWhatThePrivateProfileCallsRead) {
    TempDir dir;
    const std::string file = dir.File("tool.ini");
    KIniSettingsStore store(file);
    store.WriteInt(0, "BaudSet", "LastRcvr", 2);
    store.WriteInt(0, "BaudSet", "LastPort", 0);
    store.WriteInt(0, "BaudSet", "LastBaud", -9600);
    store.WriteString(0, "Other", "Name", "Trevask");

    EXPECT_EQ(static_cast<int32_t>(GetPrivateProfileIntA("BaudSet", "LastRcvr", 7, file.c_str())), 2);
    EXPECT_EQ(static_cast<int32_t>(GetPrivateProfileIntA("BaudSet", "LastPort", 7, file.c_str())), 0);
    EXPECT_EQ(static_cast<int32_t>(GetPrivateProfileIntA("BaudSet", "LastBaud", 7, file.c_str())), -9600);
    const std::string text = ReadWholeFile(file);
    EXPECT_NE(text.find("[BaudSet]"), std::string::npos);
    EXPECT_NE(text.find("LastRcvr=2"), std::string::npos);
    EXPECT_NE(text.find("Name=Trevask"), std::string::npos);
}

TEST(Win32IniSettingsStore, MissingKeyGivesTheDefaultAndSaysSo) {
    TempDir dir;
    const std::string file = dir.File("settings.ini");
    KIniSettingsStore store(file);
    int32_t value = 1;
    EXPECT_FALSE(store.ReadInt(0, "BaudSet", "LastBaud", value, 9600));  // no file at all
    EXPECT_EQ(value, 9600);

    WriteFile(file, "[BaudSet]\r\nLastRcvr=5\r\nLastPortX=3\r\n[Other]\r\nLastPort=4\r\n");
    EXPECT_FALSE(store.ReadInt(0, "BaudSet", "LastPort", value, 0));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(store.ReadInt(0, "Missing", "LastRcvr", value, 2));
    EXPECT_EQ(value, 2);
    // Names compare without regard to case, as in every private-profile file.
    EXPECT_TRUE(store.ReadInt(0, "baudset", "LASTRCVR", value, 2));
    EXPECT_EQ(value, 5);
    EXPECT_EQ(store.ReadString(0, "BaudSet", "Nothing", "fallback"), "fallback");
}

TEST(Win32IniSettingsStore, LongValuesAndLongSectionsReadWhole) {
    TempDir dir;
    const std::string file = dir.File("long.ini");
    KIniSettingsStore store(file);
    const std::string longValue(3000, 'v');
    store.WriteString(0, "Big", "Text", longValue);
    for (int i = 0; i < 60; ++i)
        store.WriteInt(0, "Big", ("AFairlyLongKeyName" + std::to_string(i)).c_str(), i);
    EXPECT_EQ(store.ReadString(0, "Big", "Text", ""), longValue);
    int32_t value = -1;
    // Found only if the whole list of key names is read.
    EXPECT_TRUE(store.ReadInt(0, "Big", "AFairlyLongKeyName59", value, -1));
    EXPECT_EQ(value, 59);
}

// The number reading written for other systems must agree with the platform's on the decimal
// texts users write. (Wine also reads 0x/0o/0b prefixes; that is not relied on.)
TEST(Win32IniSettingsStore, ParseIntAgreesWithGetPrivateProfileInt) {
    const std::vector<std::string> texts = {
        "0", "12", "-7", "+5", "5x", "  42", "\t-13 ", "abc", "-", "+", "1e3", "007", "9 9",
        "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295", "4294967297",
        "12345678901", "--3", "+-3", "3.9"};
    TempDir dir;
    const std::string file = dir.File("numbers.ini");
    std::string text = "[N]\r\n";
    for (size_t i = 0; i < texts.size(); ++i) text += "K" + std::to_string(i) + "=" + texts[i] + "\r\n";
    WriteFile(file, text);
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE("\"" + texts[i] + "\"");
        const std::string key = "K" + std::to_string(i);
        const int32_t platform =
            static_cast<int32_t>(GetPrivateProfileIntA("N", key.c_str(), 777, file.c_str()));
        EXPECT_EQ(KIniParseInt(texts[i]), platform);
        int32_t stored = 0;
        EXPECT_TRUE(KIniSettingsStore(file).ReadInt(0, "N", key.c_str(), stored, 777));
        EXPECT_EQ(stored, platform);
    }
}

} // namespace

#endif // _WIN32
