// The sheet around the page: its window menu, the About box it opens, and the Enter key.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/DialogHarness.h"
#include "app/VelinorResources.h"

namespace {

class VelinorSheet : public DialogTest {};

TEST_F(VelinorSheet, WindowMenuHasItsEntriesInOrderAndOpensTheAboutBox) {
    SheetHarness ui;
    HWND sheet = ui.Sheet().Window();
    HMENU menu = GetSystemMenu(sheet, FALSE);
    std::vector<std::pair<UINT, std::string>> entries;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        entries.emplace_back(GetMenuItemID(menu, i), text);
    }
    // Move and Close keep the system's own words; separators have id 0 and no text.
    ASSERT_EQ(entries.size(), 9u);
    const std::pair<UINT, const char*> expected[] = {
        {SC_RESTORE, "Restore"},   {SC_MOVE, nullptr},
        {SC_SIZE, "Size"},         {SC_MINIMIZE, "Minimize"},
        {SC_MAXIMIZE, "Maximize"}, {0, ""},
        {SC_CLOSE, nullptr},       {0, ""},
        {16, "&About Velinor..."},
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].first, expected[i].first) << i;
        if (expected[i].second) {
            EXPECT_EQ(entries[i].second, expected[i].second) << i;
        }
    }

    std::vector<std::string> about;
    const bool shown = WhileModal(
        "About Velinor",
        [&](HWND box) {
            for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                about.push_back(Controls::Text(c));
            EXPECT_EQ(Controls::Text(GetDlgItem(box, IDOK)), "OK");
            Controls::Click(GetDlgItem(box, IDOK));
        },
        [&] { SendMessageA(sheet, WM_SYSCOMMAND, 16, 0); });
    ASSERT_TRUE(shown);
    EXPECT_NE(std::find(about.begin(), about.end(), "Velinor"), about.end());
    EXPECT_NE(std::find(about.begin(), about.end(), "Version 3.5"), about.end());

    // The others act as in any window.
    SendMessageA(sheet, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(sheet));
    SendMessageA(sheet, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(sheet));
}

TEST_F(VelinorSheet, EnterDoesNothingAnywhere) {
    SheetHarness ui;
    HWND sheet = ui.Sheet().Window();
    const HWND targets[] = {ui.Control(IDC_SET_BAUD), ui.Control(IDC_RECEIVER_LIST), sheet,
                            GetDlgItem(sheet, IDOK)};
    for (HWND target : targets) {
        SetFocus(target);
        MSG key{target, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
        // Handled (consumed) by the sheet's own message filter...
        EXPECT_TRUE(SendMessageA(sheet, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&key)));
        ui.Pump();
        // ...and nothing pressed: neither Close nor Set Baud.
        EXPECT_NE(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0), 0);
        EXPECT_EQ(ui.Text(IDC_STATUS), "Idle");
    }
    MSG other{ui.Control(IDC_SET_BAUD), WM_KEYDOWN, VK_SPACE, 0, 0, {}};
    EXPECT_FALSE(ui.Sheet().PreTranslateMessage(other));
}

} // namespace
