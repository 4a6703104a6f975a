#include "app/CAboutDlg.h"

#include "app/VelinorResources.h"

INT_PTR CAboutDlg::DoModal(HWND owner) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner,
                           &CAboutDlg::DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}
