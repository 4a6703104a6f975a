// The whole dialog program: settings read before the sheet opens and written after it closes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/CVelinorApp.h"
#include "app/DialogHarness.h"
#include "app/VelinorResources.h"
#include "comm/KPortRegistry.h"
#include "support/TempDir.h"

namespace {

HWND PageControl(HWND sheet, int id) {
    auto page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    return GetDlgItem(page, id);
}

SavedChoices Saved(const std::string& path) {
    SavedChoices saved{-1, -1, -1};
    CVelinorApp(path).ReadSettings(saved.receiverType, saved.portNumber, saved.baud);
    return saved;
}

class VelinorApp : public DialogTest {
protected:
    // Runs the program with `act` done on its window; false when the window never showed.
    bool Run(CVelinorApp& app, const std::function<void(HWND)>& act) {
        PortsPresent({0, 1, 2});
        notices.clear();
        app.SetNotice([this](const std::string& text) { notices.push_back(text); });
        return WhileModal(CVelinorApp::kCaption, act, [&] { EXPECT_FALSE(app.InitInstance()); });
    }
    TempDir dir;
    std::vector<std::string> notices;
};

TEST(VelinorAppSettings, HaveDefaultsAndAreWrittenInOrder) {
    TempDir dir;
    const std::string path = dir.File("velinor-dialog.ini");
    CVelinorApp app(path);
    const SavedChoices none = Saved(path);
    EXPECT_EQ(none.receiverType, 2);
    EXPECT_EQ(none.portNumber, 0);
    EXPECT_EQ(none.baud, 9600);
    EXPECT_TRUE(app.WriteSettings(11, 2, 115200));
    const std::string text = ReadWholeFile(path);
    const size_t section = text.find("[BaudSet]"), rcvr = text.find("LastRcvr=11"),
                 port = text.find("LastPort=2"), baud = text.find("LastBaud=115200");
    ASSERT_NE(baud, std::string::npos) << text;
    EXPECT_LT(section, rcvr);
    EXPECT_LT(rcvr, port);
    EXPECT_LT(port, baud);
    std::ofstream(path, std::ios::trunc) << "[BaudSet]\nLastRcvr=12abc\nLastBaud=fast\n";
    const SavedChoices odd = Saved(path);
    EXPECT_EQ(odd.receiverType, 12);
    EXPECT_EQ(odd.portNumber, 0);
    EXPECT_EQ(odd.baud, 0);
    EXPECT_THAT(CVelinorApp().IniPath(), ::testing::EndsWith("\\app_tests.ini"));
}

TEST_F(VelinorApp, SettingsAreWrittenWhenTheWindowClosesWhicheverWay) {
    const auto closeButton = [](HWND sheet) { Controls::Click(GetDlgItem(sheet, IDOK)); };
    const auto windowMenu = [](HWND sheet) { SendMessageA(sheet, WM_SYSCOMMAND, SC_CLOSE, 0); };
    const struct {
        const char* name;
        bool choose;
        bool session;
        std::function<void(HWND)> close;
        SavedChoices written;
    } cases[] = {
        {"first start, closed at once", false, false, closeButton, {2, 0, 9600}},
        {"session, Close button", true, true, closeButton, {11, 2, 115200}},
        {"session, window menu", true, true, windowMenu, {11, 2, 115200}},
        {"choices without a session", true, false, closeButton, {2, 0, 9600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            dir.File(std::string("run-") + std::to_string(&c - cases) + ".ini");
        CVelinorApp app(path);
        app.SetLinkFactory(Line().Links());
        app.SetReceiverFactory(Line().Receivers());
        const int linksBefore = LinksMade();
        ASSERT_TRUE(Run(app, [&](HWND sheet) {
            if (c.choose) {
                Controls::Choose(PageControl(sheet, IDC_RECEIVER_LIST), "Topcon");
                Controls::Choose(PageControl(sheet, IDC_PORT_LIST), "COM3");
                Controls::Choose(PageControl(sheet, IDC_BAUD_LIST), "115200");
            }
            if (c.session) Controls::Click(PageControl(sheet, IDC_SET_BAUD));
            c.close(sheet);
        }));
        const SavedChoices written = Saved(path);
        EXPECT_EQ(written.receiverType, c.written.receiverType);
        EXPECT_EQ(written.portNumber, c.written.portNumber);
        EXPECT_EQ(written.baud, c.written.baud);
        EXPECT_THAT(notices, ::testing::IsEmpty());
        // The session ended with the window, and the registry after it.
        EXPECT_EQ(LinksMade() - linksBefore, c.session ? 1 : 0);
        EXPECT_FALSE(LineOpen());
        EXPECT_FALSE(KPortRegistry::Exists());
    }
}

TEST_F(VelinorApp, SettingsThatCannotBeWrittenAreToldOnceAtClose) {
    // A folder that cannot be written (under Program Files, for a program run as invoker) loses
    // the choices just as one that does not exist.
    const std::string path = dir.File("no-such-folder") + "\\velinor-dialog.ini";
    CVelinorApp app(path);
    ASSERT_TRUE(Run(app, [](HWND sheet) { Controls::Click(GetDlgItem(sheet, IDOK)); }));
    EXPECT_THAT(notices, ::testing::ElementsAre(CVelinorApp::NotSavedText(path)));
    EXPECT_THAT(notices.front(), ::testing::HasSubstr("velinor-dialog.ini"));
    EXPECT_FALSE(app.WriteSettings(2, 0, 9600));
}

TEST_F(VelinorApp, TheWindowHasCloseAndNoHelpNorApplyAndTheSimulatedPortOnlyWhenAskedFor) {
    for (const char* commandLine : {"", "--simulate"}) {
        SCOPED_TRACE(commandLine);
        CVelinorApp app(dir.File("look.ini"));
        app.ParseCommandLine(commandLine);
        ASSERT_TRUE(Run(app, [&](HWND sheet) {
            EXPECT_EQ(Controls::Text(GetDlgItem(sheet, IDOK)), "Close");
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, IDCANCEL)));
            for (int id : {IDHELP, 0x3021 /* Apply */}) {
                HWND button = GetDlgItem(sheet, id);
                EXPECT_TRUE(!button || !IsWindowVisible(button)) << id;
            }
            EXPECT_TRUE(GetWindowLongA(sheet, GWL_STYLE) & WS_MINIMIZEBOX);
            HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
            EXPECT_EQ(SendMessageA(sheet, WM_GETICON, ICON_BIG, 0),
                      reinterpret_cast<LRESULT>(icon));
            EXPECT_EQ(SendMessageA(sheet, WM_GETICON, ICON_SMALL, 0),
                      reinterpret_cast<LRESULT>(icon));
            EXPECT_EQ(SendMessageA(sheet, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(icon));
            const std::vector<std::string> ports =
                Controls::Items(PageControl(sheet, IDC_PORT_LIST));
            if (app.SimulatesReceiver())
                EXPECT_THAT(ports,
                            ::testing::ElementsAre("COM1", "COM2", "COM3", "Simulated receiver"));
            else
                EXPECT_THAT(ports, ::testing::ElementsAre("COM1", "COM2", "COM3"));
            Controls::Click(GetDlgItem(sheet, IDOK));
        }));
    }
}

} // namespace
