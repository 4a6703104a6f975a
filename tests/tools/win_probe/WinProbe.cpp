// Looks into the running dialog program from outside, as a user's eyes would, for the end-to-end
// script under Wine: where a control of the Set Baud page is on the screen and what it shows.
//
//   velinor-probe rect ID              "left top right bottom" of control ID, screen coordinates
//   velinor-probe sheet-rect ID        the same for a control of the sheet itself (1: its Close)
//   velinor-probe text ID              the control's text
//   velinor-probe wait-text ID TEXT S  waits up to S seconds until the control's text starts with
//                                      TEXT; exit 0 when it does, 1 when it never did
//   velinor-probe answers ID TEXT S    until control ID's text starts with TEXT (at most S
//                                      seconds), asks the window again and again whether it
//                                      answers (WM_NULL) and prints the longest wait in ms
//
// The page is the current page of the top-level window titled "Quorvex Velinor" (on the Wine
// desktop named by VELINOR_DESKTOP, when there is one). Exit 2 when the window or the control
// does not exist.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND FindSheet() {
    if (HWND sheet = FindWindowA(nullptr, "Quorvex Velinor")) return sheet;
    // A program shown on a Wine desktop of its own ("explorer /desktop=NAME") is found only from
    // that desktop: VELINOR_DESKTOP names it.
    if (const char* name = std::getenv("VELINOR_DESKTOP")) {
        if (HDESK desktop = OpenDesktopA(name, 0, FALSE, GENERIC_ALL)) {
            SetThreadDesktop(desktop);
            return FindWindowA(nullptr, "Quorvex Velinor");
        }
    }
    return nullptr;
}

HWND FindControl(int id, bool ofSheet = false) {
    HWND sheet = FindSheet();
    if (!sheet) return nullptr;
    if (ofSheet) return GetDlgItem(sheet, id);
    HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    return page ? GetDlgItem(page, id) : nullptr;
}

// Asked with WM_GETTEXT: GetWindowTextA does not ask a window of another process, and a
// drop-down list answers with its selected item only when asked.
std::string TextOf(HWND control) {
    char text[512] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                        &length);
    text[sizeof text - 1] = '\0';
    return text;
}

int Usage() {
    std::fputs("usage: velinor-probe rect ID | sheet-rect ID | text ID | wait-text ID TEXT SECONDS | "
               "answers ID TEXT SECONDS\n",
               stderr);
    return 2;
}

// How long the window's thread keeps a message waiting, at its longest, until the control shows
// `wanted`: what a user would feel as a frozen window.
int Answers(int id, const std::string& wanted, int seconds) {
    HWND sheet = FindSheet();
    if (!sheet) return 2;
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    DWORD longest = 0;
    std::string last;
    while (GetTickCount() < end) {
        const DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(sheet, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result)) break;
        const DWORD waited = GetTickCount() - start;
        if (waited > longest) longest = waited;
        if (HWND control = FindControl(id)) last = TextOf(control);
        if (last.compare(0, wanted.size(), wanted) == 0) {
            std::printf("%lu\n", static_cast<unsigned long>(longest));
            return 0;
        }
        Sleep(5);
    }
    std::fprintf(stderr, "control %d still shows \"%s\" (longest wait %lu ms)\n", id, last.c_str(),
                 static_cast<unsigned long>(longest));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const int id = std::atoi(argv[2]);
    if (command == "answers") {
        if (argc < 5) return Usage();
        return Answers(id, argv[3], std::atoi(argv[4]));
    }
    if (command == "wait-text") {
        if (argc < 5) return Usage();
        const std::string wanted = argv[3];
        const int tenths = std::atoi(argv[4]) * 10;
        std::string last;
        for (int i = 0; i <= tenths; ++i) {
            if (HWND control = FindControl(id)) {
                last = TextOf(control);
                if (last.compare(0, wanted.size(), wanted) == 0) {
                    std::printf("%s\n", last.c_str());
                    return 0;
                }
            }
            Sleep(100);
        }
        std::fprintf(stderr, "control %d still shows \"%s\"\n", id, last.c_str());
        return 1;
    }
    HWND control = FindControl(id, command == "sheet-rect");
    if (!control) {
        std::fprintf(stderr, "no control %d on the Quorvex Velinor page\n", id);
        return 2;
    }
    if (command == "rect" || command == "sheet-rect") {
        RECT r{};
        GetWindowRect(control, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (command == "text") {
        std::printf("%s\n", TextOf(control).c_str());
        return 0;
    }
    return Usage();
}
