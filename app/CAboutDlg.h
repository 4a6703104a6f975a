#pragma once
#include <windows.h>

// The About box: the program's icon, name and version, and OK.
class CAboutDlg {
public:
    // Shows the box over `owner` until it is closed.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};
