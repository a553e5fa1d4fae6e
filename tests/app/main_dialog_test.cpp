// The main dialog and the About dialog in this process: the real templates
// with the program's own dialog procedures, driven through real controls
// and real key messages under Xvfb.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app.h"
#include "browser.h"
#include "resource.h"
#include "support.h"

namespace {

// The in-process tests browse in F:\app; the end-to-end tests keep to F:\e2e.
const char StartFolder[] = "F:\\app\\start";

// Handles every waiting message of this thread, passing the dialog's keys
// through IsDialogMessageA as the platform's modal loop does.
void PumpDialog(HWND dialog) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Alt and a letter, as the keyboard delivers it once translated.
const WPARAM AltKey = 0x10000;

// Presses and releases `key` (or Alt and the letter, with AltKey added) on
// the focused control, or on the dialog itself when nothing in it has the focus.
void PressKey(HWND dialog, WPARAM key) {
    HWND target = GetFocus();
    if (!target || (target != dialog && !IsChild(dialog, target))) target = dialog;
    if (key & AltKey) {
        PostMessageA(target, WM_SYSCHAR, key & 0xFF, 0x20000001);  // bit 29: Alt held
    } else {
        PostMessageA(target, WM_KEYDOWN, key, 1);
        PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(static_cast<LONG>(0xC0000001u)));
    }
    PumpDialog(dialog);
}

// Makes F:\app\start (with one subfolder) the process's current directory.
void PrepareStartFolder() {
    ResetFolderUnix(DriveFolderUnix('f') + "/app/start/Sub1");
    ASSERT_TRUE(SetCurrentDirectoryA(StartFolder));
}

// A dialog created modeless from a real template with the program's procedure.
struct DialogHost {
    DialogHost(int templateId, DLGPROC procedure) {
        ModuleInstance = GetModuleHandleA(nullptr);
        dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(templateId), nullptr,
                                    procedure, 0);
        EXPECT_TRUE(dialog) << "template " << templateId;
        focusAtCreation = GetFocus();
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
        PumpDialog(dialog);
    }
    ~DialogHost() {
        if (IsWindow(dialog)) DestroyWindow(dialog);
        PumpDialog(nullptr);
    }
    DialogHost(const DialogHost &) = delete;
    DialogHost &operator=(const DialogHost &) = delete;

    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    // EndDialog hides a modeless dialog; nothing else here hides it.
    bool Ended() const { return !IsWindowVisible(dialog); }
    void Focus(int id) {
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
        PumpDialog(dialog);
    }
    void Click(int id) {
        SendMessageA(Item(id), BM_CLICK, 0, 0);
        PumpDialog(dialog);
    }

    HWND dialog = nullptr;
    HWND focusAtCreation = nullptr;  // the focus that WM_INITDIALOG's answer gave
};

// The main dialog, started in F:\app\start.
struct MainHost : DialogHost {
    MainHost() : DialogHost(IDD_MAIN, MainDialogProc) {}
};

// The About dialog, on its own.
struct AboutHost : DialogHost {
    AboutHost() : DialogHost(IDD_ABOUT, AboutDialogProc) {}
};

// The options as one readable line, so that a mismatch shows every field.
std::string Describe(const ListingOptions &options) {
    return "subfolders=" + std::to_string(options.includeSubfolders) +
           " files=" + std::to_string(options.includeFiles) +
           " sortKey=" + std::to_string(options.sortKey) +
           " pathOnEachLine=" + std::to_string(options.pathOnEachLine) +
           " fullPathInHeading=" + std::to_string(options.fullPathInHeading) +
           " showDetails=" + std::to_string(options.showDetails);
}

// The texts of the folder list's rows.
std::vector<std::string> RowTexts(HWND list) {
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[MAX_PATH] = "";
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        rows.push_back(text);
    }
    return rows;
}

}  // namespace

TEST(MainDialog, StartsWithTheDefaultsInTheCurrentDirectory) {
    PrepareStartFolder();
    MainHost host;

    struct StartState { int id; UINT state; const char *why; };
    const StartState states[] = {
        {IDC_INCLUDE_SUBFOLDERS, BST_UNCHECKED, "descending is asked for, not assumed"},
        {IDC_INCLUDE_FILES, BST_CHECKED, "files are listed by default"},
        {IDC_SAVE_MAIN_PATH, BST_CHECKED, "path on each line by default"},
        {IDC_SAVE_FOLDER_PATH, BST_CHECKED, "full path headings by default"},
        {IDC_SAVE_DETAILS, BST_CHECKED, "details by default"},
        {IDC_SORT_NAME, BST_CHECKED, "files sort by name by default"},
        {IDC_SORT_EXTENSION, BST_UNCHECKED, "one sort button only"},
        {IDC_SORT_SIZE, BST_UNCHECKED, "one sort button only"},
        {IDC_SORT_DATE, BST_UNCHECKED, "one sort button only"},
    };
    for (const StartState &row : states) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(IsDlgButtonChecked(host.dialog, row.id), row.state) << "control " << row.id;
    }
    EXPECT_EQ(WindowText(host.Item(IDC_FILTER)), "*.*");
    EXPECT_EQ(WindowText(host.Item(IDC_OUTPUT_FILE)), "");
    EXPECT_EQ(host.focusAtCreation, host.Item(IDC_FOLDER_LIST)) << "the folder list takes the focus";
    EXPECT_EQ(GetFocus(), host.Item(IDC_FOLDER_LIST)) << "and keeps it when the dialog shows";

    // The drop-down is filled first and sets the folder the list then shows.
    HWND combo = host.Item(IDC_DRIVE_COMBO);
    char drive[64] = "";
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(SendMessageA(combo, CB_GETCURSEL, 0, 0)),
                 reinterpret_cast<LPARAM>(drive));
    EXPECT_EQ(std::string(drive).substr(0, 2), "F:") << "the current directory's drive";
    EXPECT_STREQ(CurrentFolder, StartFolder);
    std::vector<std::string> expectedRows = {"F:", "app", "start", "Sub1"};
    EXPECT_EQ(RowTexts(host.Item(IDC_FOLDER_LIST)), expectedRows);
}

TEST(MainDialog, SystemMenuEndsWithASeparatorAndAbout) {
    PrepareStartFolder();
    MainHost host;
    HMENU menu = GetSystemMenu(host.dialog, FALSE);
    int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);

    MENUITEMINFOA separator = {};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 2), TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR) << "a separator before the entry";

    char text[64] = "";
    MENUITEMINFOA about = {};
    about.cbSize = sizeof about;
    about.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    about.dwTypeData = text;
    about.cch = sizeof text;
    ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 1), TRUE, &about));
    EXPECT_EQ(about.fType & MFT_SEPARATOR, 0u);
    EXPECT_EQ(about.wID, static_cast<UINT>(IDM_ABOUT));
    EXPECT_STREQ(text, "About...");
}

TEST(MainDialog, EndsOnTheExitButtonTheCloseBoxAndTheSystemMenusClose) {
    PrepareStartFolder();
    struct Way { UINT message; WPARAM wParam; int button; const char *why; };
    const Way ways[] = {
        {0, 0, IDC_EXIT, "the exit button"},
        {WM_CLOSE, 0, 0, "the close box and Alt+F4"},
        {WM_SYSCOMMAND, SC_CLOSE, 0, "system commands other than About reach the platform"},
        {WM_SYSCOMMAND, SC_CLOSE | 0x0002, 0, "the low four bits do not matter to the platform"},
    };
    for (const Way &way : ways) {
        SCOPED_TRACE(way.why);
        MainHost host;
        ASSERT_FALSE(host.Ended());
        if (way.button) host.Click(way.button);
        else SendMessageA(host.dialog, way.message, way.wParam, 0);
        PumpDialog(host.dialog);
        EXPECT_TRUE(host.Ended());
    }
}

// Escape never ends the dialog; Enter acts only on a focused push button;
// Alt+T and Alt+H press create and exit from anywhere.
// The filter is emptied first, so that a create command started by a key
// shows "Empty filter" (which the answerer records) instead of running.
TEST(MainDialog, EscapeDoesNothingAndEnterOnlyPressesAFocusedPushButton) {
    PrepareStartFolder();
    struct KeyCase { int focus; WPARAM key; bool ends; size_t boxes; const char *why; };
    const KeyCase cases[] = {
        {IDC_FOLDER_LIST, VK_ESCAPE, false, 0, "no IDCANCEL handling on the list"},
        {IDC_FILTER, VK_ESCAPE, false, 0, "no IDCANCEL handling in a field"},
        {IDC_EXIT, VK_ESCAPE, false, 0, "Escape does not press the exit button"},
        {IDC_FOLDER_LIST, VK_RETURN, false, 0, "no default push button"},
        {IDC_OUTPUT_FILE, VK_RETURN, false, 0, "Enter in a field does nothing"},
        {IDC_FILTER, VK_RETURN, false, 0, "Enter in the filter does nothing"},
        {IDC_INCLUDE_FILES, VK_RETURN, false, 0, "Enter on a check box does nothing"},
        {IDC_DRIVE_COMBO, VK_RETURN, false, 0, "Enter on the drop-down does nothing"},
        {IDC_EXIT, VK_RETURN, true, 0, "Enter presses the focused exit button"},
        {IDC_CREATE, VK_RETURN, false, 1, "Enter presses the focused create button"},
        {IDC_FOLDER_LIST, AltKey | 'h', true, 0, "Alt+H is the exit button's mnemonic"},
        {IDC_INCLUDE_FILES, AltKey | 't', false, 1, "Alt+T is the create button's mnemonic"},
    };
    for (const KeyCase &row : cases) {
        SCOPED_TRACE(row.why);
        BoxAnswerer answerer;
        MainHost host;
        SetWindowTextA(host.Item(IDC_OUTPUT_FILE), "F:\\app\\keys.txt");
        SetWindowTextA(host.Item(IDC_FILTER), "");
        BOOL checkedBefore = IsDlgButtonChecked(host.dialog, IDC_INCLUDE_FILES);
        host.Focus(row.focus);
        ASSERT_EQ(GetFocus(), host.Item(row.focus));
        PressKey(host.dialog, row.key);
        EXPECT_EQ(host.Ended(), row.ends);
        answerer.WaitFor(row.boxes, 2000);
        std::vector<SeenBox> seen = answerer.Seen();
        ASSERT_EQ(seen.size(), row.boxes);
        if (row.boxes) {
            EXPECT_EQ(seen[0].text, "Empty filter");
        }
        EXPECT_EQ(IsDlgButtonChecked(host.dialog, IDC_INCLUDE_FILES), checkedBefore)
            << "Enter does not toggle a check box";
        EXPECT_FALSE(FileExists("F:\\app\\keys.txt"));
    }
}

// Each row clicks controls, as a user would, on a freshly started dialog.
TEST(MainDialog, OptionsFollowTheControls) {
    PrepareStartFolder();
    struct OptionsCase { std::vector<int> clicks; ListingOptions expected; const char *why; };
    const OptionsCase cases[] = {
        {{}, {false, true, SortByName, true, true, true}, "the starting state"},
        {{IDC_INCLUDE_SUBFOLDERS}, {true, true, SortByName, true, true, true}, "subfolders"},
        {{IDC_INCLUDE_FILES}, {false, false, SortByName, true, true, true}, "files"},
        {{IDC_SAVE_MAIN_PATH}, {false, true, SortByName, false, true, true}, "path on each line"},
        {{IDC_SAVE_FOLDER_PATH}, {false, true, SortByName, true, false, true}, "full path heading"},
        {{IDC_SAVE_DETAILS}, {false, true, SortByName, true, true, false}, "details"},
        {{IDC_SORT_EXTENSION}, {false, true, SortByExtension, true, true, true}, "by extension"},
        {{IDC_SORT_SIZE}, {false, true, SortBySize, true, true, true}, "by size"},
        {{IDC_SORT_DATE}, {false, true, SortByDate, true, true, true}, "by date"},
        {{IDC_SORT_DATE, IDC_SORT_NAME}, {false, true, SortByName, true, true, true},
         "the last sort button clicked wins"},
        {{IDC_SORT_SIZE, IDC_SORT_EXTENSION}, {false, true, SortByExtension, true, true, true},
         "an earlier button in query order after a later one"},
        {{IDC_INCLUDE_SUBFOLDERS, IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH, IDC_SAVE_FOLDER_PATH,
          IDC_SAVE_DETAILS, IDC_SORT_SIZE},
         {true, false, SortBySize, false, false, false}, "every control away from its default"},
        {{IDC_SAVE_DETAILS, IDC_SAVE_DETAILS}, {false, true, SortByName, true, true, true},
         "a second click takes a check back"},
    };
    for (const OptionsCase &row : cases) {
        SCOPED_TRACE(row.why);
        MainHost host;
        for (int id : row.clicks) host.Click(id);
        EXPECT_EQ(Describe(ReadListingOptions(host.dialog)), Describe(row.expected));
    }
}

TEST(MainDialog, NoSortButtonCheckedSortsByName) {
    PrepareStartFolder();
    MainHost host;
    SendMessageA(host.Item(IDC_SORT_NAME), BM_SETCHECK, BST_UNCHECKED, 0);
    ASSERT_EQ(IsDlgButtonChecked(host.dialog, IDC_SORT_NAME), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(ReadListingOptions(host.dialog).sortKey, SortByName);
}

// The proposal goes into a buffer with guard bytes after its MAX_PATH
// bytes: nothing may be written past them.
TEST(ProposeOutputName, ProposesTheLastComponentOrNothing) {
    const std::string longest(254, 'a');  // "\" + 254 + ".txt" = 259 characters
    struct ProposalCase { std::string folder, expected; const char *why; };
    const ProposalCase cases[] = {
        {"C:\\Music\\Rock", "\\Rock.txt", "the last component, backslash included"},
        {"C:\\", "\\.txt", "a drive root proposes a bare extension"},
        {"D:\\CD 01\\Disc.Two", "\\Disc.Two.txt", "dots and spaces are kept"},
        {"", "", "an empty CurrentFolder has no backslash: no name"},
        {"Music", "", "no backslash: no name"},
        {"C:\\" + longest, "\\" + longest + ".txt", "259 characters still fit"},
        {"C:\\" + longest + "b", "", "260 characters would overflow: no name"},
    };
    for (const ProposalCase &row : cases) {
        SCOPED_TRACE(row.why);
        char buffer[MAX_PATH + 64];
        std::memset(buffer, 'X', sizeof buffer);
        ProposeOutputName(row.folder.c_str(), buffer);
        EXPECT_EQ(std::string(buffer), row.expected);
        EXPECT_EQ(std::string(buffer + MAX_PATH, 64), std::string(64, 'X'))
            << "bytes past MAX_PATH were written";
    }
}

TEST(AboutDialog, ClosesOnItsButtonEnterAndCloseBoxButNotEscape) {
    enum Action { KeyEscape, KeyEnter, CloseBox, Button };
    struct AboutCase { Action action; bool ends; const char *why; };
    const AboutCase cases[] = {
        {KeyEscape, false, "IDCANCEL is not handled"},
        {KeyEnter, true, "Enter presses the default button"},
        {CloseBox, true, "the close box"},
        {Button, true, "the button"},
    };
    for (const AboutCase &row : cases) {
        SCOPED_TRACE(row.why);
        AboutHost host;
        ASSERT_FALSE(host.Ended());
        switch (row.action) {
        case KeyEscape: PressKey(host.dialog, VK_ESCAPE); break;
        case KeyEnter: PressKey(host.dialog, VK_RETURN); break;
        case CloseBox: SendMessageA(host.dialog, WM_CLOSE, 0, 0); break;
        case Button: host.Click(IDOK); break;
        }
        PumpDialog(host.dialog);
        EXPECT_EQ(host.Ended(), row.ends);
    }
}
