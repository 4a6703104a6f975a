#include "app/DialogHarness.h"

#include <commctrl.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "app/VelinorResources.h"
#include "comm/KPortRegistry.h"
#include "comm/KSerialComm.h"

bool DisplayExpected() {
    const auto truthy = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value && std::string(value) != "0" && std::string(value) != "false";
    };
    return truthy("CI") || truthy("VELINOR_DISPLAY_READY");
}

void DialogTest::SetUp() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    HWND probe =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) {
        // Where a display was set up for these tests (CI, scripts/windows-tests.sh), its absence
        // is the fault: a skip would pass every dialog test unseen.
        if (DisplayExpected())
            FAIL() << "no window can be made although a display was set up for these tests";
        GTEST_SKIP() << "no window can be made: this needs a display (under Wine without X, "
                        "the null display driver that scripts/windows-tests.sh sets up)";
    }
    DestroyWindow(probe);
    KSerialComm::SetOpenFailureHandler([](const KOpenError&) {});
    PortsPresent({0});
}

void DialogTest::TearDown() {
    KSerialComm::SetOpenFailureHandler(nullptr);
    KPortRegistry::Teardown();
}

void DialogTest::PortsPresent(const std::vector<int32_t>& present) {
    KPortRegistry::PortTable table;
    for (int32_t port : present) {
        KPortInfo& info = table[static_cast<size_t>(port)];
        info.present = true;
        info.label = "COM" + std::to_string(port + 1);
        info.device = "\\\\.\\" + info.label;
    }
    KPortRegistry::InstallForTesting(table);
}

KSimDeviceOptions DialogTest::Silent() {
    KSimDeviceOptions options;
    options.silent = true;
    return options;
}

SessionLine& DialogTest::Line() {
    if (!line) line = std::make_unique<SessionLine>(7, 9600, Silent());
    return *line;
}

SessionLine& DialogTest::NewLine(int32_t type, uint32_t deviceBaud,
                                 const KSimDeviceOptions& options) {
    line.reset();
    line = std::make_unique<SessionLine>(type, deviceBaud, options);
    return *line;
}

void DialogTest::UseLine(KSetBaudPPG& page) {
    page.SetLinkFactory(Line().Links());
    page.SetReceiverFactory(Line().Receivers());
}

namespace Controls {

std::string Text(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<std::string> Items(HWND list) {
    std::vector<std::string> items;
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[256] = {};
        SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

std::string Selected(HWND list) {
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return "";
    return Items(list)[static_cast<size_t>(index)];
}

void Choose(HWND list, const std::string& item) {
    const std::vector<std::string> items = Items(list);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] != item) continue;
        SendMessageA(list, CB_SETCURSEL, i, 0);
        SendMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
        return;
    }
    ADD_FAILURE() << "no item '" << item << "' to choose";
}

void Click(HWND button) {
    SendMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

HBRUSH ColourOf(HWND control, COLORREF* background) {
    HDC context = GetDC(control);
    SetBkColor(context, RGB(1, 2, 3));
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(control), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(context),
                                                             reinterpret_cast<LPARAM>(control)));
    if (background) *background = GetBkColor(context);
    ReleaseDC(control, context);
    return brush;
}

COLORREF BrushColour(HBRUSH brush) {
    LOGBRUSH description{};
    if (!brush || !GetObjectA(brush, sizeof description, &description)) return CLR_INVALID;
    return description.lbColor;
}

} // namespace Controls

SheetHarness::SheetHarness(const SavedChoices& saved, int32_t settingsEditable,
                           std::function<void(KSetBaudPPG&)> prepare)
    : page(settingsEditable), sheet("Quorvex Velinor", nullptr, 0) {
    sheet.AddPage(page);
    page.receiverType = saved.receiverType;
    page.portNumber = saved.portNumber;
    page.baud = saved.baud;
    if (prepare) prepare(page);
    EXPECT_NE(sheet.Create(), nullptr);
    Pump();
}

SheetHarness::~SheetHarness() {
    if (sheet.Window()) DestroyWindow(sheet.Window());
    Pump();
}

bool SheetHarness::StopSession() {
    Press(IDC_SET_BAUD);
    return PumpUntil([&] { return !page.IsRunning(); });
}

int SheetHarness::ListsEnabled() const {
    return Enabled(IDC_RECEIVER_LIST) + Enabled(IDC_PORT_LIST) + Enabled(IDC_BAUD_LIST);
}

COLORREF SheetHarness::IndicatorColour() {
    return Controls::BrushColour(Controls::ColourOf(Control(IDC_INDICATOR)));
}

int SheetHarness::Pump() {
    int reports = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == KSetBaudPPG::kReportMessage) ++reports;
        if (sheet.Window() && SendMessageA(sheet.Window(), PSM_ISDIALOGMESSAGE, 0,
                                           reinterpret_cast<LPARAM>(&message)))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return reports;
}

bool SheetHarness::PumpUntil(const std::function<bool()>& done, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        Pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool SheetHarness::WaitForPostedReport(int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    MSG message;
    while (!PeekMessageA(&message, page.Window(), KSetBaudPPG::kReportMessage,
                         KSetBaudPPG::kReportMessage, PM_NOREMOVE)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(10);
    }
    return true;
}

namespace {
struct ModalWatch {
    std::string caption;
    const std::function<void(HWND)>* act = nullptr;
    bool found = false;
};
thread_local ModalWatch* watch = nullptr;

BOOL CALLBACK FindCaption(HWND window, LPARAM result) {
    if (Controls::Text(window) != watch->caption || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

void CALLBACK LookForWindow(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!watch || watch->found) return;
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindCaption, reinterpret_cast<LPARAM>(&window));
    if (!window) return;
    KillTimer(nullptr, timer);
    watch->found = true;
    (*watch->act)(window);
}
} // namespace

bool WhileModal(const std::string& caption, const std::function<void(HWND)>& act,
                const std::function<void()>& modal) {
    ModalWatch here{caption, &act, false};
    watch = &here;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, &LookForWindow);
    modal();
    if (!here.found) KillTimer(nullptr, timer);
    watch = nullptr;
    return here.found;
}
