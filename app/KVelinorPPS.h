#pragma once
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

class KSetBaudPPG;

// The main window: a property sheet around the Set Baud page, with a window menu that can
// minimise, restore and open the About box, and an Enter key that does nothing.
class KVelinorPPS {
public:
    // The About entry of the window menu.
    static constexpr UINT kAboutCommand = 16;

    KVelinorPPS(const char* caption, HWND parent, UINT firstPage);
    ~KVelinorPPS();
    KVelinorPPS(const KVelinorPPS&) = delete;
    KVelinorPPS& operator=(const KVelinorPPS&) = delete;

    // The sheet's header; its flags may be changed before the sheet is created.
    PROPSHEETHEADERA& Header() { return header; }
    void AddPage(KSetBaudPPG& page);

    // Runs the sheet until one of its buttons (or the window menu) closes it.
    INT_PTR DoModal();
    // Creates the sheet without waiting for it to close; the caller runs its messages through
    // PSM_ISDIALOGMESSAGE and destroys it (tests drive it this way).
    HWND Create();
    HWND Window() const { return window; }

    // Decides about a keyboard message before the dialog manager sees it: true consumes it.
    BOOL PreTranslateMessage(const MSG& message) const;

private:
    static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM lParam);
    static LRESULT CALLBACK SheetProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam);
    INT_PTR Run(bool modeless);
    BOOL OnInitDialog();
    void BuildSystemMenu();
    LRESULT OnSysCommand(UINT command, LPARAM parameter);
    void OnPaint();
    HCURSOR OnQueryDragIcon() const { return icon; }
    void Detach();

    std::string caption;
    PROPSHEETHEADERA header{};
    std::vector<KSetBaudPPG*> pages;
    HICON icon = nullptr;
    HWND window = nullptr;
    HHOOK filter = nullptr;
};
