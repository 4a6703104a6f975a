#pragma once
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "comm/KOpenError.h"
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
    // The button's text while a stop is under way.
    static constexpr const char* kStoppingText = "Stopping...";

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
    // A failed open of a session's link at `baud` (busy port, refused settings); runs on the
    // session's worker thread, which goes on at once: the status line shows it, no message box.
    static void OnOpenFailure(void* page, const KOpenError& error, int32_t baud);

    int32_t LastKnownBaud() const { return lastKnownBaud; }
    bool IsRunning() const { return running; }
    // Stop was pressed and the worker has not ended yet.
    bool IsStopping() const { return stopping; }
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
    struct Failure {
        std::string text;
        int32_t baud;
    };
    static constexpr UINT_PTR kStopTimer = 1;
    static constexpr UINT kStopPollMs = 50;

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnSetBaud();
    // Refills the rate list with the rates of the receiver type now chosen.
    void OnReceiverChosen();
    // The rates of catalogue type `type` (the usual eight for a type it lacks), `wanted`
    // selected when among them, else 9600, else the first.
    void FillRates(int32_t type, int32_t wanted);
    void StartSession();
    void BeginStop();
    void FinishStopIfEnded();
    HBRUSH OnCtlColor(HDC deviceContext, HWND control, UINT controlKind);
    void OnDestroy();
    void ReadSelections();
    void ShowStarting();
    void ShowIdle();
    void ShowReport();
    void ShowStatus(const Report& report);
    void Post();
    void DropReport();
    HWND Control(int id) const { return GetDlgItem(window, id); }

    PROPSHEETPAGEA psp{};
    HWND window = nullptr;
    KBaudSession session;
    int32_t lastKnownBaud = 9600;
    bool running = false;
    bool stopping = false;
    int32_t settingsEditable;
    HBRUSH redBrush = nullptr;
    HBRUSH greenBrush = nullptr;
    int32_t indicatorValue = 0;
    // The rate whose failed open the status line shows: reports about that rate (the ping that
    // follows on the closed link) leave the failure in view; the next rate replaces it.
    std::optional<int32_t> failureShownFor;

    KBaudSession::LinkFactory linkFactory;
    KSimulatedPort* simulatedPort = nullptr;

    // The newest report on its way from the worker to the interface thread. Only the newest
    // matters (each one replaces the text and colour), so a worker that reports faster than the
    // window repaints never fills the message queue: one message is posted at a time.
    std::mutex reportLock;
    std::optional<Report> pendingReport;
    std::optional<Failure> pendingFailure;
    bool reportPosted = false;
    HWND reportWindow = nullptr;
};
