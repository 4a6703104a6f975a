#include "app/KSetBaudPPG.h"

#include <cstdio>
#include <span>
#include <string>
#include <utility>

#include "app/KSimulatedPort.h"
#include "app/VelinorResources.h"
#include "comm/KBaudRates.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr int kLists[] = {IDC_RECEIVER_LIST, IDC_PORT_LIST, IDC_BAUD_LIST};

void AddItem(HWND list, const std::string& text, int32_t data, bool select) {
    const LRESULT index =
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0) return;
    SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
    if (select) SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void SelectIfNone(HWND list, int index) {
    if (SendMessageA(list, CB_GETCURSEL, 0, 0) == CB_ERR)
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int32_t SelectedData(HWND list, int32_t none) {
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return none;
    return static_cast<int32_t>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

} // namespace

KSetBaudPPG::KSetBaudPPG(int32_t editable)
    : settingsEditable(editable), linkFactory([] { return std::make_unique<KSerialComm>(); }) {
    psp.dwSize = sizeof psp;
    psp.dwFlags = PSP_DEFAULT;
    psp.hInstance = GetModuleHandleA(nullptr);
    psp.pszTemplate = MAKEINTRESOURCEA(IDD_SET_BAUD);
    psp.pfnDlgProc = &KSetBaudPPG::DialogProc;
    psp.lParam = reinterpret_cast<LPARAM>(this);
}

KSetBaudPPG::~KSetBaudPPG() {
    if (redBrush) DeleteObject(redBrush);
    if (greenBrush) DeleteObject(greenBrush);
    session.Release();
}

void KSetBaudPPG::SetLinkFactory(KBaudSession::LinkFactory factory) {
    linkFactory = std::move(factory);
}

void KSetBaudPPG::SetReceiverFactory(KBaudSession::ReceiverFactory factory) {
    session.SetReceiverFactory(std::move(factory));
}

INT_PTR CALLBACK KSetBaudPPG::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* header = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        auto* page = reinterpret_cast<KSetBaudPPG*>(header->lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
        page->window = hwnd;
        return page->OnInitDialog();
    }
    auto* page = reinterpret_cast<KSetBaudPPG*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!page) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SET_BAUD && HIWORD(wParam) == BN_CLICKED) {
            page->OnSetBaud();
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_RECEIVER_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
            page->OnReceiverChosen();
            return TRUE;
        }
        break;
    case WM_CTLCOLORSTATIC:
        if (HBRUSH brush = page->OnCtlColor(reinterpret_cast<HDC>(wParam),
                                            reinterpret_cast<HWND>(lParam), CTLCOLOR_STATIC))
            return reinterpret_cast<INT_PTR>(brush);
        break;
    case kReportMessage:
        page->ShowReport();
        return TRUE;
    case WM_TIMER:
        if (wParam == kStopTimer) {
            page->FinishStopIfEnded();
            return TRUE;
        }
        break;
    case WM_DESTROY:
        page->OnDestroy();
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        page->window = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}

BOOL KSetBaudPPG::OnInitDialog() {
    running = false;

    HWND receivers = Control(IDC_RECEIVER_LIST);
    for (const KCatalogueType* type : CatalogueTypes())
        AddItem(receivers, type->displayName, type->typeId, type->typeId == receiverType);
    SelectIfNone(receivers, 0);

    // The first use of the registry scans the ports.
    KPortRegistry& registry = KPortRegistry::Instance();
    HWND ports = Control(IDC_PORT_LIST);
    for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i) {
        if (!registry.IsPresent(i)) continue;
        char text[16];
        std::snprintf(text, sizeof text, "COM%d", i + 1);
        AddItem(ports, text, i, i == portNumber);
    }
    if (simulatedPort)
        AddItem(ports, "Simulated receiver", kSimulatedPortNumber,
                portNumber == kSimulatedPortNumber);
    SelectIfNone(ports, 0);

    FillRates(SelectedData(receivers, receiverType), baud);

    ReadSelections();
    lastKnownBaud = baud;
    if (!redBrush) redBrush = CreateSolidBrush(kRed);
    if (!greenBrush) greenBrush = CreateSolidBrush(kGreen);
    if (settingsEditable == 0)
        for (int id : kLists)
            EnableWindow(Control(id), FALSE);
    {
        std::lock_guard<std::mutex> guard(reportLock);
        reportWindow = window;
    }
    return TRUE;
}

void KSetBaudPPG::FillRates(int32_t type, int32_t wanted) {
    const KCatalogueType* row = FindCatalogueType(type);
    const std::span<const int32_t> list = row ? row->rates : std::span<const int32_t>(kBaudRates);
    HWND rates = Control(IDC_BAUD_LIST);
    SendMessageA(rates, CB_RESETCONTENT, 0, 0);
    int fallback = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        AddItem(rates, std::to_string(list[i]), list[i], list[i] == wanted);
        if (list[i] == 9600) fallback = static_cast<int>(i);
    }
    SelectIfNone(rates, fallback);
}

// The page's fields stay as they are until Set Baud is pressed; only the list changes.
void KSetBaudPPG::OnReceiverChosen() {
    const int32_t type = SelectedData(Control(IDC_RECEIVER_LIST), receiverType);
    FillRates(type, SelectedData(Control(IDC_BAUD_LIST), baud));
}

void KSetBaudPPG::ReadSelections() {
    if (settingsEditable == 0) return;
    receiverType = SelectedData(Control(IDC_RECEIVER_LIST), 4);
    portNumber = SelectedData(Control(IDC_PORT_LIST), 0);
    baud = SelectedData(Control(IDC_BAUD_LIST), 9600);
}

void KSetBaudPPG::OnSetBaud() {
    if (stopping) return;
    if (running)
        BeginStop();
    else
        StartSession();
}

// The worker may be in the middle of a ping (5 s for some receivers) or of a baud change: the
// interface thread only asks it to end and goes idle once it has, so the window keeps answering.
void KSetBaudPPG::BeginStop() {
    session.RequestStop();
    stopping = true;
    DropReport();
    SetDlgItemTextA(window, IDC_SET_BAUD, kStoppingText);
    EnableWindow(Control(IDC_SET_BAUD), FALSE);
    FinishStopIfEnded();
    if (stopping) SetTimer(window, kStopTimer, kStopPollMs, nullptr);
}

void KSetBaudPPG::FinishStopIfEnded() {
    if (!stopping || !session.WorkerEnded()) return;
    KillTimer(window, kStopTimer);
    // The worker has returned: this only collects it.
    const bool confirmed = session.Stop();
    stopping = false;
    DropReport();
    if (confirmed) lastKnownBaud = baud;
    EnableWindow(Control(IDC_SET_BAUD), TRUE);
    // Disabling the button took the keyboard focus from it; it gets it back.
    if (!GetFocus() && GetForegroundWindow() == GetAncestor(window, GA_ROOT))
        SendMessageA(GetParent(window), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(IDC_SET_BAUD)), TRUE);
    ShowIdle();
    running = false;
}

void KSetBaudPPG::StartSession() {
    ReadSelections();
    session.statusCallback = &KSetBaudPPG::OnStatus;
    session.statusUser = this;
    KBaudSession::LinkFactory links = linkFactory;
    if (simulatedPort && portNumber == kSimulatedPortNumber)
        links = simulatedPort->Prepare(receiverType, baud);
    // A failed open comes to this page instead of a message box that would hold the worker.
    session.SetLinkFactory([this, links]() -> std::unique_ptr<KSerialComm> {
        std::unique_ptr<KSerialComm> link = links();
        if (link) {
            KSerialComm* opened = link.get();
            link->SetOpenFailureHook([this, opened](const KOpenError& error) {
                OnOpenFailure(this, error, opened->BaudRate);
            });
        }
        return link;
    });
    // Until the new session reports, the indicator must not show the last one's green.
    indicatorValue = 0;
    failureShownFor.reset();
    ShowStarting();
    if (session.Start(portNumber, baud, lastKnownBaud, receiverType)) {
        running = true;
    } else {
        running = false;
        ShowIdle();
    }
}

void KSetBaudPPG::ShowStarting() {
    for (int id : kLists)
        EnableWindow(Control(id), FALSE);
    SetDlgItemTextA(window, IDC_STATUS, "...Starting...");
    SetDlgItemTextA(window, IDC_SET_BAUD, "Stop");
}

void KSetBaudPPG::ShowIdle() {
    if (settingsEditable != 0)
        for (int id : kLists)
            EnableWindow(Control(id), TRUE);
    SetDlgItemTextA(window, IDC_SET_BAUD, "Set Baud");
    SetDlgItemTextA(window, IDC_STATUS, "Idle");
    InvalidateRect(Control(IDC_INDICATOR), nullptr, TRUE);
}

void KSetBaudPPG::OnStatus(void* user, int32_t kind, int32_t rate, int32_t value) {
    auto* page = static_cast<KSetBaudPPG*>(user);
    std::lock_guard<std::mutex> guard(page->reportLock);
    if (!page->reportWindow) return;
    page->pendingReport = Report{kind, rate, value};
    page->Post();
}

void KSetBaudPPG::OnOpenFailure(void* user, const KOpenError& error, int32_t rate) {
    // An absent port fails silently, as it always has.
    if (error.kind != KOpenError::Busy && error.kind != KOpenError::Settings) return;
    auto* page = static_cast<KSetBaudPPG*>(user);
    std::lock_guard<std::mutex> guard(page->reportLock);
    if (!page->reportWindow) return;
    page->pendingFailure = Failure{error.text, rate};
    // A report still waiting is older than this failure: shown after it, it would hide it.
    page->pendingReport.reset();
    page->Post();
}

// Called with reportLock held.
void KSetBaudPPG::Post() {
    if (reportPosted) return;
    // Posted, never sent: the worker never waits for the interface thread.
    reportPosted = PostMessageA(reportWindow, kReportMessage, 0, 0) != FALSE;
}

void KSetBaudPPG::ShowReport() {
    std::optional<Report> report;
    std::optional<Failure> failure;
    {
        std::lock_guard<std::mutex> guard(reportLock);
        report.swap(pendingReport);
        failure.swap(pendingFailure);
        reportPosted = false;
    }
    // Whatever was still on its way when Stop came belongs to a session that is over.
    if (!running || stopping) return;
    if (failure) {
        SetDlgItemTextA(window, IDC_STATUS, failure->text.c_str());
        failureShownFor = failure->baud;
    }
    if (!report) return;
    if (failureShownFor && *failureShownFor == report->baud) {
        indicatorValue = report->value;
        InvalidateRect(Control(IDC_INDICATOR), nullptr, FALSE);
        return;
    }
    failureShownFor.reset();
    ShowStatus(*report);
}

void KSetBaudPPG::ShowStatus(const Report& report) {
    char text[64];
    switch (report.kind) {
    case kStatusPinging:
        std::snprintf(text, sizeof text, "Pinging receiver at %d baud", report.baud);
        break;
    case kStatusMonitoring:
        std::snprintf(text, sizeof text, "Monitoring receiver at %d baud", report.baud);
        break;
    case kStatusDetecting:
        std::snprintf(text, sizeof text, "Auto-detecting receiver baud: %7d", report.baud);
        break;
    default:
        std::snprintf(text, sizeof text, "Inop");
        break;
    }
    SetDlgItemTextA(window, IDC_STATUS, text);
    indicatorValue = report.value;
    InvalidateRect(Control(IDC_INDICATOR), nullptr, FALSE);
}

void KSetBaudPPG::DropReport() {
    std::lock_guard<std::mutex> guard(reportLock);
    pendingReport.reset();
    pendingFailure.reset();
}

HBRUSH KSetBaudPPG::OnCtlColor(HDC deviceContext, HWND control, UINT /*controlKind*/) {
    if (GetDlgCtrlID(control) != IDC_INDICATOR) return nullptr;
    if (!running) return static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    if (indicatorValue == 1) {
        SetBkColor(deviceContext, kGreen);
        return greenBrush;
    }
    SetBkColor(deviceContext, kRed);
    return redBrush;
}

void KSetBaudPPG::OnDestroy() {
    // The window is already hidden: waiting here for the worker freezes nothing the user sees.
    KillTimer(window, kStopTimer);
    if (running) session.Stop();
    running = false;
    stopping = false;
    std::lock_guard<std::mutex> guard(reportLock);
    reportWindow = nullptr;
    pendingReport.reset();
    pendingFailure.reset();
}
