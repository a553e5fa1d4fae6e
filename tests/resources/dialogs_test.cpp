// Builds both dialogs from their templates through the dialog manager and
// checks what the code relies on: tab order, mnemonics, the radio group, the
// list and drop-down styles, centring, the About icon and default button.
// Each test also leaves a picture of the dialog in the build folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "bitmap_file.h"
#include "resource.h"
#include "support.h"

namespace {

// The last command id the host procedure received.
int g_lastCommand = 0;

// Stands in for the program's dialog procedures: takes the default focus and
// records commands.
INT_PTR CALLBACK HostProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        g_lastCommand = LOWORD(wParam);
        return TRUE;
    }
    return FALSE;
}

// Delivers pending messages for a little while so the dialog paints.
void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

// A modeless copy of one of the program's dialogs, shown, destroyed at the end.
class ShownDialog {
public:
    explicit ShownDialog(WORD id) {
        window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, HostProc, 0);
        if (window_ != nullptr) {
            ShowWindow(window_, SW_SHOW);
            SetForegroundWindow(window_);
            Pump(100);
        }
    }
    ~ShownDialog() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    ShownDialog(const ShownDialog &) = delete;
    ShownDialog &operator=(const ShownDialog &) = delete;
    HWND Window() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }

private:
    HWND window_;
};

// Copies the dialog's place on the screen into a .bmp in the build folder.
void SaveScreenshot(HWND window, const char *name) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const DWORD *pixels = static_cast<const DWORD *>(bits);
    SaveBitmapFile(name, std::vector<DWORD>(pixels, pixels + width * height), width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

TEST(MainDialog, FocusStartsAtTheFolderListAndTabWalksTheTemplateOrder) {
    ShownDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.Window(), nullptr);
    EXPECT_EQ(GetFocus(), dialog.Item(IDC_FOLDER_LIST)) << "first tab stop takes the focus";

    // Radio buttons, labels and group boxes are not tab stops.
    const int expected[] = {IDC_FOLDER_LIST,    IDC_CREATE,    IDC_EXIT,         IDC_INCLUDE_SUBFOLDERS,
                            IDC_OUTPUT_FILE,    IDC_BROWSE,    IDC_DRIVE_COMBO,  IDC_FILTER,
                            IDC_SAVE_MAIN_PATH, IDC_SAVE_DETAILS, IDC_INCLUDE_FILES, IDC_SAVE_FOLDER_PATH};
    std::vector<int> walked;
    HWND control = dialog.Item(IDC_FOLDER_LIST);
    for (size_t i = 0; i < 2 * sizeof expected / sizeof expected[0] && control != nullptr; ++i) {
        walked.push_back(GetDlgCtrlID(control));
        control = GetNextDlgTabItem(dialog.Window(), control, FALSE);
        if (control == dialog.Item(IDC_FOLDER_LIST)) {
            break;
        }
    }
    EXPECT_EQ(walked, std::vector<int>(std::begin(expected), std::end(expected)));
    SaveScreenshot(dialog.Window(), "resources-main.bmp");
}

TEST(MainDialog, AltMnemonicsPressCreateAndExit) {
    ShownDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.Window(), nullptr);
    struct KeyRow {
        char key;
        int command;
        const char *why;
    };
    const KeyRow rows[] = {
        {'t', IDC_CREATE, "Alt+T: the create caption marks T"},
        {'T', IDC_CREATE, "mnemonics ignore case"},
        {'h', IDC_EXIT, "Alt+H: the exit caption marks h, not its first letter"},
    };
    for (const KeyRow &row : rows) {
        SCOPED_TRACE(row.why);
        g_lastCommand = 0;
        MSG msg = {};
        msg.hwnd = dialog.Item(IDC_FOLDER_LIST);
        msg.message = WM_SYSCHAR;
        msg.wParam = static_cast<WPARAM>(row.key);
        msg.lParam = 0x20000001;  // Alt held
        EXPECT_TRUE(IsDialogMessageA(dialog.Window(), &msg));
        Pump(20);
        EXPECT_EQ(g_lastCommand, row.command);
    }
}

TEST(MainDialog, SortButtonsFormOneGroupAndOptionsToggleOnTheirOwn) {
    ShownDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.Window(), nullptr);
    const int sorts[] = {IDC_SORT_NAME, IDC_SORT_EXTENSION, IDC_SORT_SIZE, IDC_SORT_DATE};
    CheckDlgButton(dialog.Window(), IDC_SORT_NAME, BST_CHECKED);

    struct ClickRow {
        int click;
        int checkedSort;  // the one sort button checked afterwards
        const char *why;
    };
    const ClickRow rows[] = {
        {IDC_SORT_SIZE, IDC_SORT_SIZE, "size unchecks name across the columns"},
        {IDC_SORT_EXTENSION, IDC_SORT_EXTENSION, "extension unchecks size"},
        {IDC_SORT_DATE, IDC_SORT_DATE, "date, one unit lower, is in the same group"},
        {IDC_SORT_DATE, IDC_SORT_DATE, "clicking the checked one keeps it: never none checked"},
        {IDC_INCLUDE_FILES, IDC_SORT_DATE, "a check box outside the radio set leaves the sort alone"},
        {IDC_SORT_NAME, IDC_SORT_NAME, "name again"},
    };
    UINT includeFiles = IsDlgButtonChecked(dialog.Window(), IDC_INCLUDE_FILES);
    for (const ClickRow &row : rows) {
        SCOPED_TRACE(row.why);
        SendMessageA(dialog.Item(row.click), BM_CLICK, 0, 0);
        for (int sort : sorts) {
            EXPECT_EQ(IsDlgButtonChecked(dialog.Window(), sort), sort == row.checkedSort ? BST_CHECKED : BST_UNCHECKED)
                << "sort button " << sort;
        }
        if (row.click == IDC_INCLUDE_FILES) {
            EXPECT_NE(IsDlgButtonChecked(dialog.Window(), IDC_INCLUDE_FILES), includeFiles) << "auto check box";
        }
    }
}

TEST(MainDialog, FolderListKeepsRowOrderAndDriveListSorts) {
    ShownDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.Window(), nullptr);
    struct OrderRow {
        int id;
        UINT add, count, get;
        std::vector<std::string> added, shown;
        const char *why;
    };
    const OrderRow rows[] = {
        {IDC_FOLDER_LIST, LB_ADDSTRING, LB_GETCOUNT, LB_GETTEXT, {"C:\\", "Zeta", "_tmp", "alpha"},
         {"C:\\", "Zeta", "_tmp", "alpha"}, "rows stay where the browser puts them"},
        {IDC_DRIVE_COMBO, CB_ADDSTRING, CB_GETCOUNT, CB_GETLBTEXT, {"E:  TESTVOL", "C:  SYSTEM", "D:  "},
         {"C:  SYSTEM", "D:  ", "E:  TESTVOL"}, "drive labels come out in letter order"},
    };
    for (const OrderRow &row : rows) {
        SCOPED_TRACE(row.why);
        HWND control = dialog.Item(row.id);
        for (const std::string &text : row.added) {
            SendMessageA(control, row.add, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        ASSERT_EQ(SendMessageA(control, row.count, 0, 0), static_cast<LRESULT>(row.shown.size()));
        for (size_t i = 0; i < row.shown.size(); ++i) {
            char text[64] = "";
            SendMessageA(control, row.get, i, reinterpret_cast<LPARAM>(text));
            EXPECT_EQ(std::string(text), row.shown[i]) << "row " << i;
        }
    }
    Pump(100);
    SaveScreenshot(dialog.Window(), "resources-main-filled.bmp");
}

TEST(MainDialog, CentredOnTheScreen) {
    ShownDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.Window(), nullptr);
    RECT window, screen;
    GetWindowRect(dialog.Window(), &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0);
    EXPECT_NEAR((window.left + window.right) / 2, (screen.left + screen.right) / 2, 2);
    EXPECT_NEAR((window.top + window.bottom) / 2, (screen.top + screen.bottom) / 2, 2);
    EXPECT_EQ(GetWindowLongA(dialog.Window(), GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
}

TEST(AboutDialog, ShowsTheAppIconAndClosesWithItsDefaultButton) {
    ShownDialog dialog(IDD_ABOUT);
    ASSERT_NE(dialog.Window(), nullptr);
    HICON icon = reinterpret_cast<HICON>(SendMessageA(dialog.Item(IDC_ABOUT_ICON), STM_GETICON, 0, 0));
    EXPECT_NE(icon, nullptr) << "the icon control found icon 101 in the program";

    LRESULT defId = SendMessageA(dialog.Window(), DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(defId), DC_HASDEFID);
    EXPECT_EQ(LOWORD(defId), IDOK);

    // The ANSI text the code sees carries the TCVN3 bytes unchanged.
    char text[256] = "";
    GetDlgItemTextA(dialog.Window(), IDC_ABOUT_TEXT, text, sizeof text);
    EXPECT_EQ(std::string(text).substr(0, 21), "-- Quillomat --\nC\xABng ");
    char title[64] = "";
    GetWindowTextA(dialog.Window(), title, sizeof title);
    EXPECT_STREQ(title, "Th\xABng tin v\xD2 Quillomat");
    SaveScreenshot(dialog.Window(), "resources-about.bmp");
}

}  // namespace
