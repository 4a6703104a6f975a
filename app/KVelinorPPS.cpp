#include "app/KVelinorPPS.h"

#include "app/CAboutDlg.h"
#include "app/KSetBaudPPG.h"
#include "app/VelinorResources.h"

namespace {
// The sheet whose PSCB_INITIALIZED callback is due (the callback carries no pointer of ours).
thread_local KVelinorPPS* creatingSheet = nullptr;
// The sheet whose keyboard filter is installed on this thread.
thread_local const KVelinorPPS* filteringSheet = nullptr;
constexpr UINT_PTR kSubclassId = 1;
} // namespace

KVelinorPPS::KVelinorPPS(const char* text, HWND parent, UINT firstPage) : caption(text) {
    header.dwSize = sizeof header;
    // No Help anywhere: nor the caption's question mark.
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_NOCONTEXTHELP;
    header.hwndParent = parent;
    header.hInstance = GetModuleHandleA(nullptr);
    header.pszCaption = caption.c_str();
    header.nStartPage = firstPage;
    header.pfnCallback = &KVelinorPPS::SheetCallback;
    icon = LoadIconA(header.hInstance, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

KVelinorPPS::~KVelinorPPS() {
    if (window) DestroyWindow(window);
    Detach();
}

void KVelinorPPS::AddPage(KSetBaudPPG& page) {
    pages.push_back(&page);
}

INT_PTR KVelinorPPS::DoModal() {
    return Run(false);
}

HWND KVelinorPPS::Create() {
    return reinterpret_cast<HWND>(Run(true));
}

INT_PTR KVelinorPPS::Run(bool modeless) {
    std::vector<PROPSHEETPAGEA> headers;
    for (KSetBaudPPG* page : pages)
        headers.push_back(page->PageHeader());
    header.nPages = static_cast<UINT>(headers.size());
    header.ppsp = headers.data();
    if (modeless)
        header.dwFlags |= PSH_MODELESS;
    else
        header.dwFlags &= ~static_cast<DWORD>(PSH_MODELESS);
    creatingSheet = this;
    const INT_PTR result = PropertySheetA(&header);
    creatingSheet = nullptr;
    header.ppsp = nullptr;
    return result;
}

int CALLBACK KVelinorPPS::SheetCallback(HWND sheet, UINT message, LPARAM /*lParam*/) {
    if (message == PSCB_INITIALIZED && creatingSheet) {
        KVelinorPPS* self = creatingSheet;
        creatingSheet = nullptr;
        self->window = sheet;
        SetWindowSubclass(sheet, &KVelinorPPS::SheetProc, kSubclassId,
                          reinterpret_cast<DWORD_PTR>(self));
        self->OnInitDialog();
    }
    return 0;
}

BOOL KVelinorPPS::OnInitDialog() {
    // The sheet's own initialisation has run when it calls back.
    const BOOL result = TRUE;
    BuildSystemMenu();
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SetWindowLongA(window, GWL_STYLE, GetWindowLongA(window, GWL_STYLE) | WS_MINIMIZEBOX);
    SendMessageA(window, PSM_CANCELTOCLOSE, 0, 0);
    // The dialog manager shows every keyboard message to this thread's filter first.
    filter =
        SetWindowsHookExA(WH_MSGFILTER, &KVelinorPPS::MessageFilter, nullptr, GetCurrentThreadId());
    filteringSheet = this;
    return result;
}

void KVelinorPPS::BuildSystemMenu() {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (!menu) return;
    char about[128] = {};
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about);
    if (about[0] == '\0') return;
    // A dialog's menu holds Move and Close. Some systems (Wine) give every window the full
    // menu; without its other entries the ones added below do not come twice.
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        const UINT id = GetMenuItemID(menu, i);
        if (id != SC_MOVE && id != SC_CLOSE) DeleteMenu(menu, static_cast<UINT>(i), MF_BYPOSITION);
    }
    InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING, SC_RESTORE, "Restore");
    InsertMenuA(menu, 2, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuA(menu, 2, MF_BYPOSITION | MF_STRING, SC_MAXIMIZE, "Maximize");
    InsertMenuA(menu, 2, MF_BYPOSITION | MF_STRING, SC_MINIMIZE, "Minimize");
    InsertMenuA(menu, 2, MF_BYPOSITION | MF_STRING, SC_SIZE, "Size");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kAboutCommand, about);
}

LRESULT CALLBACK KVelinorPPS::SheetProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR /*id*/, DWORD_PTR data) {
    auto* self = reinterpret_cast<KVelinorPPS*>(data);
    switch (message) {
    case WM_SYSCOMMAND:
        return self->OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
        if (IsIconic(sheet)) {
            self->OnPaint();
            return 0;
        }
        break;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(self->OnQueryDragIcon());
    case WM_NCDESTROY:
        self->Detach();
        break;
    default:
        break;
    }
    return DefSubclassProc(sheet, message, wParam, lParam);
}

LRESULT KVelinorPPS::OnSysCommand(UINT command, LPARAM parameter) {
    if ((command & 0xFFF0) == kAboutCommand) {
        CAboutDlg about;
        about.DoModal(window);
        return 0;
    }
    return DefSubclassProc(window, WM_SYSCOMMAND, command, parameter);
}

void KVelinorPPS::OnPaint() {
    PAINTSTRUCT paint;
    HDC deviceContext = BeginPaint(window, &paint);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(deviceContext), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(window, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(deviceContext, x, y, icon);
    EndPaint(window, &paint);
}

BOOL KVelinorPPS::PreTranslateMessage(const MSG& message) const {
    // Enter would press the default button, which closes the sheet: here it does nothing.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && window &&
        (message.hwnd == window || IsChild(window, message.hwnd)))
        return TRUE;
    return FALSE;
}

LRESULT CALLBACK KVelinorPPS::MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && filteringSheet &&
        filteringSheet->PreTranslateMessage(*reinterpret_cast<const MSG*>(lParam)))
        return TRUE;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void KVelinorPPS::Detach() {
    if (filter) UnhookWindowsHookEx(filter);
    filter = nullptr;
    if (filteringSheet == this) filteringSheet = nullptr;
    if (window) RemoveWindowSubclass(window, &KVelinorPPS::SheetProc, kSubclassId);
    window = nullptr;
}
