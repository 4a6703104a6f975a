// The Set Baud page as a real window: its lists, its button and the status line and indicator
// that the session's reports drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogHarness.h"
#include "app/KSimulatedPort.h"
#include "app/VelinorResources.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);

struct OpeningCase {
    const char* name;
    std::vector<int32_t> present;
    SavedChoices saved;
    const char* receiver;
    std::vector<std::string> ports;
    const char* port;
    const char* rate;
    SavedChoices read; // the page's fields once it has opened
};

class SetBaudPage : public DialogTest {};

TEST_F(SetBaudPage, OpensOnTheSavedChoicesOrFallsBack) {
    // clang-format off
    const OpeningCase cases[] = {
        {"first start", {0, 1}, {2, 0, 9600}, "Ashtech AC12", {"COM1", "COM2"}, "COM1", "9600", {2, 0, 9600}},
        {"saved 12/2/38400", {2}, {12, 2, 38400}, "Trimble 4000 SSi", {"COM3"}, "COM3", "38400", {12, 2, 38400}},
        {"COM1 absent", {1, 4}, {2, 0, 9600}, "Ashtech AC12", {"COM2", "COM5"}, "COM2", "9600", {2, 1, 9600}},
        {"baud 300", {0}, {2, 0, 300}, "Ashtech AC12", {"COM1"}, "COM1", "9600", {2, 0, 9600}},
        {"unknown type", {23}, {99, 23, 115200}, "Ashtech Z", {"COM24"}, "COM24", "115200", {1, 23, 115200}},
        {"no port", {}, {3, 5, 1200}, "Ashtech G12", {}, "", "1200", {3, 0, 1200}},
    };
    // clang-format on
    for (const OpeningCase& c : cases) {
        SCOPED_TRACE(c.name);
        PortsPresent(c.present);
        SheetHarness ui(c.saved);
        EXPECT_EQ(Controls::Selected(ui.Control(IDC_RECEIVER_LIST)), c.receiver);
        EXPECT_EQ(Controls::Items(ui.Control(IDC_PORT_LIST)), c.ports);
        EXPECT_EQ(Controls::Selected(ui.Control(IDC_PORT_LIST)), c.port);
        EXPECT_EQ(Controls::Selected(ui.Control(IDC_BAUD_LIST)), c.rate);
        EXPECT_EQ(ui.Page().receiverType, c.read.receiverType);
        EXPECT_EQ(ui.Page().portNumber, c.read.portNumber);
        EXPECT_EQ(ui.Page().baud, c.read.baud);
        EXPECT_EQ(ui.Page().LastKnownBaud(), c.read.baud);
        EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
        EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Set Baud");
        EXPECT_EQ(ui.ListsEnabled(), 3);
        EXPECT_EQ(ui.IndicatorColour(), kGrey);
    }
    SheetHarness ui;
    const std::vector<std::string> receivers = Controls::Items(ui.Control(IDC_RECEIVER_LIST));
    ASSERT_EQ(receivers.size(), CatalogueTypes().size());
    EXPECT_EQ(receivers.front(), "Ashtech Z");
    EXPECT_EQ(receivers.back(), CatalogueTypes().back()->displayName);
    EXPECT_THAT(Controls::Items(ui.Control(IDC_BAUD_LIST)),
                ElementsAre("1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"));
}

// The rate list holds the chosen type's rates, refilled on each choice of receiver, keeping the
// chosen rate where the new list has it (else 9600, else the first). The page's own fields wait
// for Set Baud.
TEST_F(SetBaudPage, TheRateListIsTheChosenReceiversOwn) {
    const std::vector<std::string> eight = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    const std::vector<std::string> ublox = {"4800", "9600", "19200", "38400", "57600", "115200", "230400", "460800", "921600"};
    const std::vector<std::string> mediatek = {"4800",   "9600",   "14400",  "19200",  "38400",
                                               "57600",  "115200", "230400", "460800", "921600"};
    const std::vector<std::string> septentrio = {"1200",  "2400",   "4800",   "9600",   "19200", "38400",
                                                 "57600", "115200", "230400", "460800", "921600"};
    struct Step {
        const char* receiver;  // chosen, or nullptr for none
        const char* rate;      // chosen afterwards, or nullptr
        const std::vector<std::string>* rates;
        const char* selected;
    };
    // clang-format off
    const Step steps[] = {
        {nullptr, nullptr, &ublox, "921600"},              // opened on the saved u-blox at 921600
        {"Ashtech Z", nullptr, &eight, "9600"},            // 921600 is not among its rates
        {nullptr, "1200", &eight, "1200"},
        {"u-blox", nullptr, &ublox, "9600"},               // nor is 1200
        {"Septentrio", "230400", &septentrio, "230400"},
        {"MediaTek/Quectel", nullptr, &mediatek, "230400"}, // kept
        {nullptr, "14400", &mediatek, "14400"},
        {"Septentrio", nullptr, &septentrio, "9600"},
        {"Leica GMX900", "57600", &eight, "57600"},
        {"Trimble NetR5", nullptr, &eight, "57600"},
    };
    // clang-format on
    PortsPresent({0});
    SheetHarness ui({15, 0, 921600});
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.receiver ? step.receiver : "-") + " " + (step.rate ? step.rate : "-"));
        if (step.receiver) ui.Choose(IDC_RECEIVER_LIST, step.receiver);
        if (step.rate) ui.Choose(IDC_BAUD_LIST, step.rate);
        EXPECT_EQ(Controls::Items(ui.Control(IDC_BAUD_LIST)), *step.rates);
        EXPECT_EQ(Controls::Selected(ui.Control(IDC_BAUD_LIST)), step.selected);
    }
    EXPECT_EQ(ui.Page().receiverType, 15);
    EXPECT_EQ(ui.Page().baud, 921600);

    // Each of the fourteen original types has the usual eight.
    const std::vector<std::string> receivers = Controls::Items(ui.Control(IDC_RECEIVER_LIST));
    ASSERT_GE(receivers.size(), 14u);
    for (size_t i = 0; i < 14; ++i) {
        SCOPED_TRACE(receivers[i]);
        ui.Choose(IDC_RECEIVER_LIST, receivers[i]);
        EXPECT_EQ(Controls::Items(ui.Control(IDC_BAUD_LIST)), eight);
    }
}

// Every text of the page, wrapped as the control wraps it in its own font, fits its box: a box
// too short cuts off the last line.
TEST_F(SetBaudPage, EveryTextFitsItsBox) {
    SheetHarness ui;
    int texts = 0;
    for (HWND child = GetWindow(ui.Page().Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char kind[32] = {};
        GetClassNameA(child, kind, sizeof kind);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        const LONG type = style & SS_TYPEMASK;
        const std::string text = Controls::Text(child);
        if (lstrcmpiA(kind, "Static") != 0 || text.empty() ||
            (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT))
            continue;
        SCOPED_TRACE(text);
        ++texts;
        RECT box{};
        GetClientRect(child, &box);
        RECT needed{0, 0, box.right, 0};
        HDC context = GetDC(child);
        auto font = reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0));
        HGDIOBJ old = SelectObject(context, font ? font : GetStockObject(DEFAULT_GUI_FONT));
        DrawTextA(context, text.c_str(), -1, &needed,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0));
        SelectObject(context, old);
        ReleaseDC(child, context);
        EXPECT_LE(needed.bottom, box.bottom) << "needs " << needed.bottom << " pixels, has " << box.bottom;
    }
    EXPECT_GE(texts, 8);
}

TEST_F(SetBaudPage, WithoutAPortItStaysStartingAndShowsWhatEachReportSaysUntilStopped) {
    PortsPresent({});
    SheetHarness ui({2, 0, 4800});
    ui.Press(IDC_SET_BAUD);
    EXPECT_EQ(ui.Text(IDC_STATUS), "...Starting...");
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Stop");
    EXPECT_EQ(ui.ListsEnabled(), 0);
    // The worker finds no port and ends without a report: nothing changes.
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.Page().SessionWorkerEnded(); }));
    ui.Pump();
    EXPECT_EQ(ui.Text(IDC_STATUS), "...Starting...");
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Stop");

    // What the session's reports show (the callback is the one the session calls).
    struct Shown {
        int32_t kind, baud, value;
        const char* text;
        COLORREF colour;
    };
    const Shown reports[] = {
        {0, 9600, 0, "Pinging receiver at 9600 baud", kRed},
        {2, 4800, 0, "Auto-detecting receiver baud:    4800", kRed},
        {2, 115200, 0, "Auto-detecting receiver baud:  115200", kRed},
        {1, 115200, 1, "Monitoring receiver at 115200 baud", kGreen},
        {3, 1200, 0, "Inop", kRed},
        {-1, 57600, 1, "Inop", kGreen},
        {1, 38400, 0, "Monitoring receiver at 38400 baud", kRed},
    };
    for (const Shown& report : reports) {
        SCOPED_TRACE(report.text);
        KSetBaudPPG::OnStatus(&ui.Page(), report.kind, report.baud, report.value);
        ui.Pump();
        EXPECT_EQ(ui.Text(IDC_STATUS), report.text);
        COLORREF background = 0;
        EXPECT_EQ(Controls::BrushColour(Controls::ColourOf(ui.Control(IDC_INDICATOR), &background)),
                  report.colour);
        EXPECT_EQ(background, report.colour);
    }

    // A worker that reports faster than the window handles them: one message waits, for the
    // newest report.
    for (int32_t rate : {1200, 2400, 4800, 9600})
        KSetBaudPPG::OnStatus(&ui.Page(), 2, rate, 0);
    EXPECT_EQ(ui.Pump(), 1);
    EXPECT_EQ(ui.Text(IDC_STATUS), "Auto-detecting receiver baud:    9600");

    // A new session shows nothing of the last one's colour before its own first report: were the
    // indicator repainted while starting, it would not claim a monitored receiver.
    KSetBaudPPG::OnStatus(&ui.Page(), 1, 115200, 1);
    ui.Pump();
    EXPECT_EQ(ui.IndicatorColour(), kGreen);
    ASSERT_TRUE(ui.StopSession());
    ui.Press(IDC_SET_BAUD);
    EXPECT_EQ(ui.Text(IDC_STATUS), "...Starting...");
    EXPECT_EQ(ui.IndicatorColour(), kRed);

    // One report still on its way when Stop is pressed, one after: neither reaches the idle page.
    KSetBaudPPG::OnStatus(&ui.Page(), 1, 115200, 1);
    ASSERT_TRUE(ui.StopSession());
    KSetBaudPPG::OnStatus(&ui.Page(), 2, 9600, 0);
    ui.Pump();
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Set Baud");
    EXPECT_EQ(ui.ListsEnabled(), 3);
    EXPECT_EQ(ui.IndicatorColour(), kGrey);
    EXPECT_EQ(ui.Page().LastKnownBaud(), 4800);
}

TEST_F(SetBaudPage, AFailedOpenStaysOnTheStatusLineWhileTheSessionIsAtThatRate) {
    PortsPresent({});
    SheetHarness ui({2, 0, 9600});
    ui.Press(IDC_SET_BAUD);
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.Page().SessionWorkerEnded(); }));
    KOpenError busy;
    busy.kind = KOpenError::Busy;
    busy.text = "COM Port Busy Or Not Installed";
    KOpenError refused;
    refused.kind = KOpenError::Settings;
    refused.text = "Unable to initialize COM Port to requested settings";
    KOpenError absent;
    absent.kind = KOpenError::NotPresent;
    absent.text = busy.text;
    // What the worker sends, in order, and what the status line shows once the page has caught up.
    struct Step {
        const KOpenError* failure;  // a failed open at `baud`, or else a report
        int32_t kind, baud, value;
        const char* text;
    };
    const Step steps[] = {
        {&refused, 0, 1200, 0, "Unable to initialize COM Port to requested settings"},
        {nullptr, 2, 1200, 0, "Unable to initialize COM Port to requested settings"},
        {nullptr, 2, 2400, 0, "Auto-detecting receiver baud:    2400"},
        {&busy, 0, 4800, 0, "COM Port Busy Or Not Installed"},
        {nullptr, 2, 4800, 0, "COM Port Busy Or Not Installed"},
        {nullptr, 0, 115200, 0, "Pinging receiver at 115200 baud"},
        {&absent, 0, 9600, 0, "Pinging receiver at 115200 baud"},  // an absent port is silent
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.text);
        if (step.failure)
            KSetBaudPPG::OnOpenFailure(&ui.Page(), *step.failure, step.baud);
        else
            KSetBaudPPG::OnStatus(&ui.Page(), step.kind, step.baud, step.value);
        ui.Pump();
        EXPECT_EQ(ui.Text(IDC_STATUS), step.text);
    }
    // A report waiting when a failure comes is older than it and does not hide it.
    KSetBaudPPG::OnStatus(&ui.Page(), 2, 19200, 0);
    KSetBaudPPG::OnOpenFailure(&ui.Page(), refused, 38400);
    KSetBaudPPG::OnStatus(&ui.Page(), 2, 38400, 0);
    EXPECT_EQ(ui.Pump(), 1);
    EXPECT_EQ(ui.Text(IDC_STATUS), "Unable to initialize COM Port to requested settings");
    EXPECT_EQ(ui.IndicatorColour(), kRed);
    // Nor does one reach the page once Stop has been pressed.
    KSetBaudPPG::OnOpenFailure(&ui.Page(), busy, 9600);
    ASSERT_TRUE(ui.StopSession());
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
}

TEST_F(SetBaudPage, ABusyPortIsToldOnTheStatusLineNotInAMessageBoxThatHoldsTheWorker) {
    static int processWideFailures = 0;
    processWideFailures = 0;
    KSerialComm::SetOpenFailureHandler([](const KOpenError&) { ++processWideFailures; });
    SheetHarness ui({7, 0, 9600}, 1, [](KSetBaudPPG& page) {
        page.SetLinkFactory([] {
            auto link = std::make_unique<KSerialComm>();
            link->DevicePath = "\\\\.\\COM77";  // no such device: CreateFileA fails
            return link;
        });
    });
    ui.Press(IDC_SET_BAUD);
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.Text(IDC_STATUS) == "COM Port Busy Or Not Installed"; }))
        << ui.Text(IDC_STATUS);
    // The worker went on to its end at once; the process-wide handler (a message box by
    // default) never heard of it.
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.Page().SessionWorkerEnded(); }));
    EXPECT_EQ(processWideFailures, 0);
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Stop");
    // The worker has ended: Stop goes idle without waiting for anything.
    ui.Press(IDC_SET_BAUD);
    EXPECT_FALSE(ui.Page().IsRunning());
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Set Baud");
    EXPECT_TRUE(ui.Enabled(IDC_SET_BAUD));
}

// A receiver whose ping does not return until the test lets it: the worker is held inside a call
// the way a 5 s ping or a baud change holds it.
class HeldPing {
public:
    KBaudSession::ReceiverFactory Receivers() {
        return [this](int32_t) -> std::unique_ptr<KReceiver> { return std::make_unique<Receiver>(*this); };
    }
    // Waits until a ping is held; the bound only limits a failing test.
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex);
        return signal.wait_for(lock, std::chrono::seconds(30), [&] { return held; });
    }
    void Release() {
        std::lock_guard<std::mutex> guard(mutex);
        released = true;
        signal.notify_all();
    }
    bool Released() {
        std::lock_guard<std::mutex> guard(mutex);
        return released;
    }

private:
    class Receiver : public KReceiver {
    public:
        explicit Receiver(HeldPing& owner) : KReceiver(false), gate(owner) {}
        bool StopAllBroadcast(int32_t) override { return true; }
        bool Ping(int32_t) override {
            std::unique_lock<std::mutex> lock(gate.mutex);
            gate.held = true;
            gate.signal.notify_all();
            // Were Stop to wait for the worker, this bound would end the wait and the test
            // would see the ping released by it.
            if (!gate.signal.wait_for(lock, std::chrono::seconds(30), [&] { return gate.released; }))
                gate.released = true;
            return false;
        }
        bool ScanTimeSpan(bool&, KGPSTime&, bool&, KGPSTime&, bool&) override { return false; }
        void Reset() override {}
        void OnDetach() override {}

    private:
        HeldPing& gate;
    };

    std::mutex mutex;
    std::condition_variable signal;
    bool held = false;
    bool released = false;
};

TEST_F(SetBaudPage, StopReturnsAtOnceWhileTheWorkerIsInAPingAndTheStopShowsUntilItEnds) {
    HeldPing ping;
    SheetHarness ui({7, 0, 9600}, 1, [&](KSetBaudPPG& page) {
        page.SetLinkFactory(Line().Links());
        page.SetReceiverFactory(ping.Receivers());
    });
    ui.Press(IDC_SET_BAUD);
    ASSERT_TRUE(ping.WaitUntilHeld());
    const auto pressed = std::chrono::steady_clock::now();
    ui.Press(IDC_SET_BAUD);
    const auto returned = std::chrono::steady_clock::now();
    // The press came back while the ping was still held: the interface thread did not wait.
    EXPECT_FALSE(ping.Released());
    ::testing::Test::RecordProperty(
        "stop_press_us",
        static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(returned - pressed).count()));
    ui.Pump();
    EXPECT_TRUE(ui.Page().IsStopping());
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Stopping...");
    EXPECT_FALSE(ui.Enabled(IDC_SET_BAUD));
    EXPECT_EQ(ui.ListsEnabled(), 0);
    // A second press while stopping changes nothing.
    ui.Press(IDC_SET_BAUD);
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Stopping...");

    ping.Release();
    ASSERT_TRUE(ui.PumpUntil([&] { return !ui.Page().IsRunning(); }));
    EXPECT_FALSE(ui.Page().IsStopping());
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Set Baud");
    EXPECT_TRUE(ui.Enabled(IDC_SET_BAUD));
    EXPECT_EQ(ui.ListsEnabled(), 3);
    EXPECT_EQ(ui.IndicatorColour(), kGrey);
    EXPECT_FALSE(LineOpen());
    EXPECT_EQ(ui.Page().LastKnownBaud(), 9600);
}

TEST_F(SetBaudPage, SettingsNotEditableKeepTheListsDisabledAndTheirSelectionsUnread) {
    PortsPresent({2});
    SheetHarness ui({12, 2, 38400}, 0, [&](KSetBaudPPG& page) { UseLine(page); });
    EXPECT_EQ(ui.ListsEnabled(), 0);
    ui.Choose(IDC_BAUD_LIST, "115200");
    ui.Press(IDC_SET_BAUD);
    EXPECT_EQ(ui.Text(IDC_STATUS), "...Starting...");
    ASSERT_TRUE(ui.StopSession());
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
    EXPECT_EQ(ui.ListsEnabled(), 0);
    EXPECT_EQ(ui.Page().baud, 38400);
    EXPECT_EQ(LinksMade(), 1);
}

TEST_F(SetBaudPage, StopWhileDetectingKeepsTheLastKnownRateAndDropsTheReportOnItsWay) {
    SheetHarness ui({7, 0, 4800}, 1, [&](KSetBaudPPG& page) { UseLine(page); });
    ui.Choose(IDC_BAUD_LIST, "115200");
    ui.Press(IDC_SET_BAUD);
    // A silent receiver: pinged at 115200, then detected pass after pass.
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.Text(IDC_STATUS).starts_with("Auto-detecting"); }))
        << ui.Text(IDC_STATUS);
    EXPECT_EQ(ui.IndicatorColour(), kRed);
    // The worker's next report is posted, not yet shown, when Stop is pressed.
    ASSERT_TRUE(ui.WaitForPostedReport());
    ASSERT_TRUE(ui.StopSession());
    EXPECT_FALSE(LineOpen());
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
    EXPECT_EQ(ui.Text(IDC_SET_BAUD), "Set Baud");
    EXPECT_EQ(ui.IndicatorColour(), kGrey);
    EXPECT_EQ(ui.Page().baud, 115200);
    EXPECT_EQ(ui.Page().LastKnownBaud(), 4800);
}

TEST_F(SetBaudPage, ASessionMonitorsAt115200InGreenAndStopKeepsThatRateForTheNext) {
    // A receiver of every family, each at a rate other than the one the page last knew.
    const struct {
        int32_t type;
        uint32_t deviceBaud;
    } cases[] = {{2, 4800}, {7, 19200}, {8, 38400}, {9, 57600}, {10, 4800}, {11, 19200}, {13, 38400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        NewLine(c.type, c.deviceBaud, {});
        SheetHarness ui({c.type, 0, 9600}, 1, [&](KSetBaudPPG& page) { UseLine(page); });
        ui.Choose(IDC_BAUD_LIST, "115200");
        ui.Press(IDC_SET_BAUD);
        ASSERT_TRUE(ui.PumpUntil(
            [&] { return ui.Text(IDC_STATUS) == "Monitoring receiver at 115200 baud"; }))
            << ui.Text(IDC_STATUS);
        EXPECT_EQ(ui.IndicatorColour(), kGreen);
        ASSERT_TRUE(ui.StopSession());
        EXPECT_EQ(ui.Page().LastKnownBaud(), 115200);
        EXPECT_EQ(Line().DeviceBaud(), 115200u);
        EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
        EXPECT_EQ(ui.IndicatorColour(), kGrey);
        EXPECT_FALSE(LineOpen());
    }
}

// The --simulate switch's receiver runs in real time, as it does for a user trying the dialog.
TEST_F(SetBaudPage, TheSimulatedReceiverPortReachesMonitoringInRealTime) {
    KSimulatedPort simulated(20240607);
    SheetHarness ui({8, 0, 9600}, 1,
                    [&](KSetBaudPPG& page) { page.OfferSimulatedPort(&simulated); });
    EXPECT_THAT(Controls::Items(ui.Control(IDC_PORT_LIST)),
                ElementsAre("COM1", "Simulated receiver"));
    ui.Choose(IDC_PORT_LIST, "Simulated receiver");
    ui.Choose(IDC_BAUD_LIST, "115200");
    ui.Press(IDC_SET_BAUD);
    // The bound only limits a failing run.
    ASSERT_TRUE(ui.PumpUntil(
        [&] { return ui.Text(IDC_STATUS) == "Monitoring receiver at 115200 baud"; }, 180000))
        << ui.Text(IDC_STATUS);
    EXPECT_EQ(ui.IndicatorColour(), kGreen);
    ASSERT_TRUE(ui.StopSession());
    EXPECT_EQ(ui.Page().LastKnownBaud(), 115200);
    EXPECT_EQ(simulated.DeviceBaud(), 115200u);
    EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
}

} // namespace
