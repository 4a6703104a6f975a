#pragma once
// One harness for the dialog's tests: the sheet and its page as real windows, driven with the
// messages that a user's clicks and keys produce, and read back control by control.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/KSetBaudPPG.h"
#include "app/KVelinorPPS.h"
#include "session/KBaudSession.h"
#include "support/SessionLine.h"

// Whether the environment promises a display: CI (CI=true) or scripts/windows-tests.sh
// (VELINOR_DISPLAY_READY=1). There, a window that cannot be made fails the test.
bool DisplayExpected();

// Every dialog test: skipped where no window can be made (Wine without a display driver) on a
// developer's machine, failed where a display was promised (DisplayExpected), with
// open failures recorded instead of shown in message boxes that would wait for a click, and a
// port registry the test chooses.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Only these zero-based ports are present.
    static void PortsPresent(const std::vector<int32_t>& ports);
    // A simulated receiver in virtual time that sessions reach instead of a serial port: every
    // wait of the session takes no wall time. Silent unless told otherwise, so that sessions
    // ping and detect until stopped. Made at the first call.
    SessionLine& Line();
    // Replaces the line with a receiver of `type` at `deviceBaud`; no session may hold the old.
    SessionLine& NewLine(int32_t type, uint32_t deviceBaud, const KSimDeviceOptions& options);
    // Sends the page's sessions to the line.
    void UseLine(KSetBaudPPG& page);
    // How many links the sessions made so far.
    int LinksMade() const { return line ? line->linksMade.load() : 0; }
    // Whether a session holds the line open.
    bool LineOpen() const { return line && line->world->HostIsOpen(); }

private:
    static KSimDeviceOptions Silent();
    std::unique_ptr<SessionLine> line;
};

// The saved choices the page opens on.
struct SavedChoices {
    int32_t receiverType = 2;
    int32_t portNumber = 0;
    int32_t baud = 9600;
};

// Reading and driving the controls of a dialog window.
namespace Controls {
std::string Text(HWND window);
std::vector<std::string> Items(HWND list);
std::string Selected(HWND list);
// What the user's choice of `item` sends: the selection, then CBN_SELCHANGE to the owner.
void Choose(HWND list, const std::string& item);
// What a click sends to the button's owner.
void Click(HWND button);
// The brush (and background colour) the owner gives `control` for painting.
HBRUSH ColourOf(HWND control, COLORREF* background = nullptr);
COLORREF BrushColour(HBRUSH brush);
} // namespace Controls

// The sheet with its one page, as the program builds them, created without waiting for it to
// close so that the test can drive it.
class SheetHarness {
public:
    explicit SheetHarness(const SavedChoices& saved = {}, int32_t settingsEditable = 1,
                          std::function<void(KSetBaudPPG&)> prepare = {});
    ~SheetHarness();

    KSetBaudPPG& Page() { return page; }
    KVelinorPPS& Sheet() { return sheet; }
    HWND Control(int id) const { return GetDlgItem(page.Window(), id); }
    std::string Text(int id) const { return Controls::Text(Control(id)); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    void Press(int id) { Controls::Click(Control(id)); }
    // Presses Stop and pumps until the page is idle again (the worker has ended); false when it
    // never did.
    bool StopSession();
    void Choose(int listId, const std::string& item) { Controls::Choose(Control(listId), item); }
    // How many of the three lists are enabled.
    int ListsEnabled() const;
    // The colour of the indicator's brush.
    COLORREF IndicatorColour();

    // Handles every message waiting, as the program's message loop does; answers how many of
    // them told the page of a status report.
    int Pump();
    // Pumps until `done` holds; false when it never did within `boundMs` of real time (the
    // bound only limits a failing test).
    bool PumpUntil(const std::function<bool()>& done, int boundMs = 60000);
    // Waits (pumping nothing) until a status report has been posted to the page.
    bool WaitForPostedReport(int boundMs = 60000);

private:
    KSetBaudPPG page; // outlives the sheet's window, whose end stops the page's session
    KVelinorPPS sheet;
};

// Runs `modal`, which shows a modal window and returns once it has closed, and calls `act`
// from inside its message loop with the first window of this thread titled `caption`. False
// when no such window showed up.
bool WhileModal(const std::string& caption, const std::function<void(HWND)>& act,
                const std::function<void()>& modal);
