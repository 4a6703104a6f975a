// Looks into the running dialog program from outside, as a user's eyes would, for the end-to-end
// script under Wine: where a control of the Set Baud page is on the screen and what it shows.
//
//   velinor-probe rect ID              "left top right bottom" of control ID, screen coordinates
//   velinor-probe sheet-rect ID        the same for a control of the sheet itself (1: its Close)
//   velinor-probe text ID              the control's text
//   velinor-probe wait-text ID TEXT S  waits up to S seconds until the control's text starts with
//                                      TEXT; exit 0 when it does, 1 when it never did
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

std::string TextOf(HWND control) {
    char text[512] = {};
    GetWindowTextA(control, text, sizeof text);
    return text;
}

int Usage() {
    std::fputs("usage: velinor-probe rect ID | sheet-rect ID | text ID | wait-text ID TEXT SECONDS\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const int id = std::atoi(argv[2]);
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
