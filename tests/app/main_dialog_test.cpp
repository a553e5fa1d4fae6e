// The main dialog from its real template, driven in this process; the proposed name.
#include <gtest/gtest.h>

#include <cstdio>

#include "app.h"
#include "browser.h"
#include "resource.h"
#include "support.h"

// The main dialog made modeless (EndDialog only hides it) and not yet shown;
// the module instance is set first, as WinMain does.
struct Host {
    HWND dialog = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr),
                                     MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    ~Host() { DestroyWindow(dialog); }
};

// The starting state and the system menu; then the options (subfolders, files, path
// on each line, full path heading, details, sort key) as clicks change the controls.
TEST(MainDialog, StartsWithTheDefaultsAndReadsTheOptionsFromTheControls) {
    Host host;
    std::string checks;  // x: checked, in the order of the ids below
    for (int id : {IDC_INCLUDE_SUBFOLDERS, IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH,
                   IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS, IDC_SORT_NAME, IDC_SORT_EXTENSION,
                   IDC_SORT_SIZE, IDC_SORT_DATE})
        checks += IsDlgButtonChecked(host.dialog, id) == BST_CHECKED ? 'x' : '-';
    EXPECT_EQ(checks + WindowText(GetDlgItem(host.dialog, IDC_FILTER)) +
                  WindowText(GetDlgItem(host.dialog, IDC_OUTPUT_FILE)), "-xxxxx---*.*");
    EXPECT_EQ(GetFocus(), GetDlgItem(host.dialog, IDC_FOLDER_LIST)) << "the focus";
    HMENU menu = GetSystemMenu(host.dialog, FALSE);
    int last = GetMenuItemCount(menu) - 1;
    char text[64] = "";
    GetMenuStringA(menu, UINT(last), text, sizeof text, MF_BYPOSITION);
    EXPECT_TRUE(GetMenuState(menu, UINT(last - 1), MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(std::to_string(GetMenuItemID(menu, last)) + text,
              std::to_string(IDM_ABOUT) + "About...");

    struct OptionsCase { std::vector<int> clicks; const char *expected, *why; };
    const OptionsCase cases[] = {
        {{IDC_INCLUDE_SUBFOLDERS, IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH, IDC_SORT_SIZE},
         "1 0 0 1 1 3", "three check boxes, by size"},
        {{IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS, IDC_SORT_EXTENSION}, "1 0 0 0 0 2", "the rest"},
        {{IDC_SORT_NAME, IDC_SORT_DATE}, "1 0 0 0 0 4", "by date, the last button clicked"},
    };
    for (const OptionsCase &row : cases) {
        SCOPED_TRACE(row.why);
        for (int id : row.clicks) SendDlgItemMessageA(host.dialog, id, BM_CLICK, 0, 0);
        ListingOptions o = ReadListingOptions(host.dialog);
        char got[32];
        std::snprintf(got, sizeof got, "%d %d %d %d %d %d", o.includeSubfolders, o.includeFiles,
                      o.pathOnEachLine, o.fullPathInHeading, o.showDetails, o.sortKey);
        EXPECT_STREQ(got, row.expected);
    }
}

// Keys go through IsDialogMessageA; a create command writes F:\keys.txt.
TEST(MainDialog, EscapeDoesNothingAndEnterPressesOnlyAFocusedPushButton) {
    struct KeyCase { int focus; WPARAM key; bool ends, creates; const char *why; };
    const KeyCase cases[] = {
        {IDC_EXIT, VK_ESCAPE, false, false, "IDCANCEL is not handled"},
        {IDC_FOLDER_LIST, VK_RETURN, false, false, "there is no default push button"},
        {IDC_EXIT, VK_RETURN, true, false, "Enter presses the focused exit button"},
        {IDC_CREATE, VK_RETURN, false, true, "Enter presses the focused create button"},
    };
    for (const KeyCase &row : cases) {
        SCOPED_TRACE(row.why);
        Host host;
        SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, "F:\\keys.txt");  // no save-file dialog
        ShowWindow(host.dialog, SW_SHOW);
        SendMessageA(host.dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(host.dialog, row.focus)), TRUE);
        MSG key = {GetFocus(), WM_KEYDOWN, row.key, 1, 0, {0, 0}};
        EXPECT_TRUE(IsDialogMessageA(host.dialog, &key));
        EXPECT_EQ(!IsWindowVisible(host.dialog), row.ends);
        EXPECT_EQ(DeleteFileA("F:\\keys.txt") != FALSE, row.creates);
    }
}

// The proposal goes into a buffer with guard bytes after its MAX_PATH bytes.
TEST(ProposeOutputName, ProposesTheLastComponentOrNothing) {
    const std::string longest(254, 'a');  // "\" + 254 + ".txt": 259 characters
    struct ProposalCase { std::string folder, expected; const char *why; };
    const ProposalCase cases[] = {
        {"C:\\Music\\Rock", "\\Rock.txt", "the last component, backslash included"},
        {"C:\\", "\\.txt", "a drive root proposes a bare extension"},
        {"Music", "", "no backslash: no name"},
        {"C:\\" + longest, "\\" + longest + ".txt", "259 characters still fit"},
        {"C:\\" + longest + "b", "", "260 characters would not fit: no name"},
    };
    for (const ProposalCase &row : cases) {
        SCOPED_TRACE(row.why);
        std::string buffer(MAX_PATH + 16, 'X');
        ProposeOutputName(row.folder.c_str(), &buffer[0]);
        EXPECT_EQ(buffer.c_str() + buffer.substr(MAX_PATH), row.expected + std::string(16, 'X'));
    }
}

// Escape leaves the About dialog open (IDCANCEL is not handled); Enter presses its
// default button, which closes it.
TEST(AboutDialog, EscapeKeepsItOpenAndEnterClosesIt) {
    HWND about = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr),
                                    MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutDialogProc, 0);
    ShowWindow(about, SW_SHOW);
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        MSG message = {GetDlgItem(about, IDOK), WM_KEYDOWN, key, 1, 0, {0, 0}};
        IsDialogMessageA(about, &message);
        EXPECT_EQ(!IsWindowVisible(about), key == VK_RETURN) << "key " << key;
    }
    DestroyWindow(about);
}
