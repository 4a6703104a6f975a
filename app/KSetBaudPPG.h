#pragma once
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <cstdint>
#include <mutex>
#include <optional>

#include "comm/KPortRegistry.h"
#include "session/KBaudSession.h"

class KSimulatedPort;

// The Set Baud page, the whole of the dialog: the cable warning, the receiver, port and rate
// lists, the button that starts and stops a baud session, the status line and the indicator
// (grey idle, red pinging or detecting, green monitoring).
class KSetBaudPPG {
public:
    // The port number of the "Simulated receiver" entry: one past the last COM port.
    static constexpr int32_t kSimulatedPortNumber = KPortRegistry::kPortCount;
    // The private message that tells the page a status report is waiting.
    static constexpr UINT kReportMessage = WM_APP + 1;

    explicit KSetBaudPPG(int32_t settingsEditable);
    ~KSetBaudPPG();
    KSetBaudPPG(const KSetBaudPPG&) = delete;
    KSetBaudPPG& operator=(const KSetBaudPPG&) = delete;

    // What the sheet needs to create the page; its flags may be changed before that.
    PROPSHEETPAGEA& PageHeader() { return psp; }
    HWND Window() const { return window; }

    // Where sessions get their links; a serial port unless replaced (tests).
    void SetLinkFactory(KBaudSession::LinkFactory factory);
    // Where sessions get their receivers; the catalogue's unless replaced (tests).
    void SetReceiverFactory(KBaudSession::ReceiverFactory factory);
    // Offers the simulated receiver after the COM ports (not owned; outlives the page's window).
    void OfferSimulatedPort(KSimulatedPort* port) { simulatedPort = port; }

    // The session's status callback; runs on the session's worker thread.
    static void OnStatus(void* page, int32_t kind, int32_t baud, int32_t value);

    int32_t LastKnownBaud() const { return lastKnownBaud; }
    bool IsRunning() const { return running; }
    // Whether the last session's worker has finished (it may end on its own, without a report).
    bool SessionWorkerEnded() { return session.WorkerEnded(); }

    // Loaded before the window exists and saved after it has closed; the page changes them only
    // when it initialises and when Set Baud is pressed.
    int32_t receiverType = 1;
    int32_t portNumber = 0;
    int32_t baud = 9600;

private:
    struct Report {
        int32_t kind;
        int32_t baud;
        int32_t value;
    };

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnSetBaud();
    HBRUSH OnCtlColor(HDC deviceContext, HWND control, UINT controlKind);
    void OnDestroy();
    void ReadSelections();
    void ShowStarting();
    void ShowIdle();
    void ShowReport();
    void ShowStatus(const Report& report);
    void DropReport();
    HWND Control(int id) const { return GetDlgItem(window, id); }

    PROPSHEETPAGEA psp{};
    HWND window = nullptr;
    KBaudSession session;
    int32_t lastKnownBaud = 9600;
    bool running = false;
    int32_t settingsEditable;
    HBRUSH redBrush = nullptr;
    HBRUSH greenBrush = nullptr;
    int32_t indicatorValue = 0;

    KBaudSession::LinkFactory linkFactory;
    KSimulatedPort* simulatedPort = nullptr;

    // The newest report on its way from the worker to the interface thread. Only the newest
    // matters (each one replaces the text and colour), so a worker that reports faster than the
    // window repaints never fills the message queue: one message is posted at a time.
    std::mutex reportLock;
    std::optional<Report> pendingReport;
    bool reportPosted = false;
    HWND reportWindow = nullptr;
};
