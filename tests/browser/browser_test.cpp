// The folder browser in the real main dialog over an emptied drive E:: rows, clicks, painting (drives: tests/app).
#include <gtest/gtest.h>
#include <windows.h>

#include "browser.h"
#include "resource.h"
#include "support.h"

// Rows painted since last cleared; whether the folder list draws, rows added while it did; its own procedure.
static int Painted, Drawing = TRUE, AddedWhileDrawing;
static LONG_PTR ListProc;

// Paints the folder list's rows, as the program's own dialog does, and counts them.
static INT_PTR CALLBACK HostProc(HWND, UINT message, WPARAM, LPARAM lParam) {
    const auto *row = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    if (message == WM_DRAWITEM) Painted += DrawFolderRow(row->hwndItem, row, GetModuleHandleA(nullptr));
    return message == WM_DRAWITEM || message == WM_INITDIALOG;
}

// Watches the folder list's drawing switch and its added rows, then lets the list box handle them.
static LRESULT CALLBACK WatchListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETREDRAW) Drawing = wParam != 0;
    AddedWhileDrawing += message == LB_ADDSTRING && Drawing;
    return CallWindowProcA(reinterpret_cast<WNDPROC>(ListProc), list, message, wParam, lParam);
}

// Runs a shell script in the Linux folder behind E: (for names equal but for case, long paths).
static void OnE(const std::string &script) {
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('e')) + " && " + script), 0) << script;
}

// Opens IDD_MAIN modeless and empties E: (after leaving it: a current directory may resist removal).
struct Browser : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(list && combo && SetCurrentDirectoryA("C:\\"));
        OnE("find . -mindepth 1 ! -name .windows-label -delete");
    }
    void TearDown() override { DestroyWindow(dialog); }
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, HostProc, 0);
    HWND list = GetDlgItem(dialog, IDC_FOLDER_LIST), combo = GetDlgItem(dialog, IDC_DRIVE_COMBO);
};

// The rows joined by "|", each "text<indent,offset>" or, for a subfolder row, "text<indent>"; "*" marks the selected.
static std::string Rows(HWND list) {
    std::string rows;
    for (LRESULT i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) {
        char text[MAX_PATH] = "";  // a folder name or a path component is shorter
        SendMessageA(list, LB_GETTEXT, WPARAM(i), LPARAM(text));
        const DWORD tag = DWORD(SendMessageA(list, LB_GETITEMDATA, WPARAM(i), 0)), offset = TagOffset(tag);
        rows += (i ? "|" : "") + std::string(text) + (SendMessageA(list, LB_GETCURSEL, 0, 0) == i ? "*<" : "<") +
                std::to_string(TagIndent(tag)) + (offset == SubfolderOffset ? "" : "," + std::to_string(offset)) + ">";
    }
    return rows;
}

// `text` in code page `page`: CP_ACP as the ANSI calls give it, CP_UTF8 to show a real name.
static std::string Bytes(const std::wstring &text, UINT page = CP_UTF8) {
    char out[MAX_PATH * 4] = "";
    WideCharToMultiByte(page, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

// A double click climbs and descends, by real names, never past 259 characters; path rows carry their ItemTags.
TEST_F(Browser, DoubleClicksClimbAndDescendByRealNamesWithinTheLengthLimit) {
    // E:\lll... has a 197-character name: its children make paths of 259 and 260 characters. Code page 1252 reads
    // CJK and Cyrillic names as a question mark per character.
    const std::string l(197, 'l'), fits(58, 'f'), over(59, 'g'), up = "E:<0,0>|" + l, stays = fits + "<8>|" + over;
    OnE("bash -c \"mkdir -p " + l + "/{Gone," + fits + ',' + over + "}\"");
    const std::wstring ja = L"\u65E5\u672C\u8A9E", zh = L"\u4E2D\u6587\u5B57", ru = L"\u041F\u0440\u0438\u0432\u0435\u0442";
    const std::wstring mix = L"caf\u00E9 \U0001F600 \u03BC\u03AC\u0101", t = L"E:\\t", r = t + L"\\" + ru, g = r + L"\\gamma";
    const std::wstring in = L"E:\\" + std::wstring(197, L'l');
    for (const std::wstring &made : {t, t + L"\\ab", t + L"\\" + mix, t + L"\\" + ja, t + L"\\" + ja + L"\\alpha",
                                     t + L"\\" + zh, t + L"\\" + zh + L"\\beta", r, g, g + L"\\" + ja})
        ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr));
    const std::wstring tied[] = {zh, ja};  // both read "???": rows in scan order, Wine's by code unit (U+4E2D first)
    const std::string q3(3, '?'), q6(6, '?'), et = "E:<0,0>|t", ru6 = et + "<4,3>|" + q6;
    const std::string top = "<4,3>|" + q3 + "<8>|" + q3 + "<8>|" + q6 + "<8>|ab<8>|" + Bytes(mix, CP_ACP) + "<8>";
    auto into = [&](int i) { return et + "<4,3>|" + q3 + "*<8,5>|" + (tied[i] == ja ? "alpha" : "beta") + "<12>"; };
    const struct { int row; std::wstring at; std::string rows, why, script = "", dir = ""; } steps[] = {
        {-1, L"E:\\", "E:<0,0>|" + l + "<4>|t<4>", "a fill selects no row"},
        {1, in, up + "*<4,3>|" + stays + "<8>|Gone<8>", "a subfolder row descends; its last path row is selected"},
        {3, in, up + "<4,3>|" + stays + "*<8>|Gone<8>", "260 characters do not fit: all stays", "mkdir " + l + "/late"},
        {2, in + L"\\" + std::wstring(58, L'f'), up + "<4,3>|" + fits + "*<8,201>", "259 characters fit; path rows only"},
        {1, in, up + "*<4,3>|" + stays + "<8>|Gone<8>|late<8>", "a path row cuts after its own part and refills"},
        {4, in + L"\\Gone", up + "*<4,3>|" + stays + "<8>|Gone<8>|late<8>", "removed: the rows stay, the last path row",
         "rmdir " + l + "/Gone", "E:\\" + l},
        {0, L"E:\\", "E:*<0,0>|" + l + "<4>|t<4>", "the drive row names the root"},
        {2, t, et + "*" + top, "CJK and Cyrillic names read as question marks; the rest as the code page gives it"},
        {2, t + L"\\" + tied[0], into(0), "the first of the two tied rows"},
        {1, t, et + "*" + top, "a path row climbs back"},
        {3, t + L"\\" + tied[1], into(1), "its twin enters the other"},
        {1, t, et + "*" + top, "and back"},
        {4, r, ru6 + "*<8,5>|gamma<12>", "Cyrillic"},
        {3, g, ru6 + "<8,5>|gamma*<12,12>|" + q3 + "<16>", "an ASCII name below"},
        {4, g + L"\\" + ja, ru6 + "<8,5>|gamma<12,12>|" + q3 + "*<16,18>", "a second unreadable level"},
        {2, r, ru6 + "*<8,5>|gamma<12>", "a path row of question marks climbs by its real name"},
        {-2, r, ru6 + "*<8,5>|gamma<12>", "a start in this folder takes it by its real name"},
        {1, t, et + "*" + top, "to the top"},
        {6, t + L"\\" + mix, et + "<4,3>|" + Bytes(mix, CP_ACP) + "*<8,5>", "a name the code page half holds"},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.why);  // row: the row double-clicked; -1: a fill of `at`; -2: a start in the current directory
        if (!s.script.empty()) OnE(s.script);
        if (s.row >= 0 && SendMessageA(list, LB_SETCURSEL, WPARAM(s.row), 0) != LB_ERR) OpenFolderRow(list);
        if (s.row == -1 && SetCurrentFolder(s.at.c_str())) FillFolderList(list);
        if (s.row == -2 && SetCurrentFolder(L"C:\\")) FillDriveCombo(combo);
        EXPECT_EQ(CurrentFolder + ("|" + Bytes(CurrentFolderWide)) + "|" + CurrentDirectory() + "|" + Rows(list),
                  Bytes(s.at, CP_ACP) + "|" + Bytes(s.at) + "|" + (s.dir.empty() ? Bytes(s.at, CP_ACP) : s.dir) + "|" + s.rows);
    }
}

// Subfolder rows sort by folded name, ties in scan order; a fill of 20,000 adds and paints no row while the list
// draws; a row paints its icon at its indent and its text in a cell after it, highlighted only with the focus
// (a module without the row icons: the dialog test's internal error).
TEST_F(Browser, SubfoldersSortTiesKeepScanOrderAddedUnseenAndRowsPaintIconIndentAndText) {
    // Letters fold to small ones, so 0x5B..0x60 ("_" too, after letters in the scan's upper case) sort before them and
    // bytes from 0x80 after; abcde ties 32 ways.
    OnE("mkdir t && cd t && mkdir b B2 a1 Zeta _tmp '[x]' cafz CAFE ab abc AB- .config ..x a.b Secret \"$(printf "
        "'caf\\303\\251')\" && touch file && ln -s a.b linked && bash -c 'mkdir {a,A}{b,B}{c,C}{d,D}{e,E}' && "
        "seq -f 'k%05g_' 0 9999 | xargs mkdir && seq -f 'k%05gB' 0 9999 | xargs mkdir");
    ASSERT_TRUE(SetFileAttributesA("E:\\t\\Secret", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::string tied, many;  // the tied spellings in the order the enumeration gives them; 20,000 rows, far over 1,024
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("E:\\t\\*", &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (lstrcmpiA(found.cFileName, "abcde") == 0) tied += std::string(found.cFileName) + "<8>|";
    FindClose(search);
    for (int i = 100000; i < 110000; ++i)  // five digits after the leading 1
        many += "k" + std::to_string(i).substr(1) + "_<8>|k" + std::to_string(i).substr(1) + "B<8>|";
    HDC dc = CreateCompatibleDC(nullptr);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    ListProc = SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchListProc));
    Painted = 0;
    ASSERT_TRUE(SetCurrentFolder(L"E:\\t"));
    FillFolderList(list);
    EXPECT_TRUE(AddedWhileDrawing + Painted == 0 && Drawing) << AddedWhileDrawing << " rows added, " << Painted
                                                             << " painted while the list drew; drawing back on: " << Drawing;
    UpdateWindow(list);
    EXPECT_GE(Painted, 1) << "the list shows its rows once drawing is back on";
    EXPECT_TRUE(Rows(list) == "E:<0,0>|t<4,3>|[x]<8>|_tmp<8>|a.b<8>|a1<8>|ab<8>|AB-<8>|abc<8>|" + tied + "b<8>|B2<8>|" +
                                  "CAFE<8>|cafz<8>|caf\xE9<8>|" + many + "linked<8>|Secret<8>|Zeta<8>") << "sorted, all 20,000";
    const struct { int row, left; UINT state; int icon, indent; bool highlight; const char *text, *why; } cases[] = {
        {1, 0, ODS_SELECTED | ODS_FOCUS, IDI_PATH_FOLDER, 4, true, "t", "path row: icon at 4, text cell at 22, highlighted"},
        {2, 5, ODS_SELECTED, IDI_SUBFOLDER, 8, false, "[x]", "a row's own left edge; selected without focus: window colours"},
        {-1, 0, ODS_FOCUS, 0, 0, false, "", "no row: an empty cell, no icon, no stale text"},
    };
    const int Width = 160, Right = 150;  // the bitmap: the row painted in its top half, the expected row in its bottom
    HBITMAP bitmap = CreateBitmap(Width, 32, 1, 32, nullptr);
    SelectObject(dc, bitmap);
    SelectObject(dc, GetStockObject(DKGRAY_BRUSH));  // in no icon and no colour a row is painted in
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        PatBlt(dc, 0, 0, Width, 32, PATCOPY);
        ULONG_PTR tag = c.row < 0 ? 0 : ULONG_PTR(SendMessageA(list, LB_GETITEMDATA, WPARAM(c.row), 0));
        DRAWITEMSTRUCT request = {ODT_LISTBOX, IDC_FOLDER_LIST, UINT(c.row), ODA_DRAWENTIRE, c.state, list, dc,
                                  {c.left, 0, Right, 16}, tag};
        EXPECT_TRUE(DrawFolderRow(list, &request, GetModuleHandleA(nullptr)));
        HANDLE icon = c.icon ? LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.icon), IMAGE_ICON, 16, 16, 0) : nullptr;
        if (icon) DrawIconEx(dc, c.left + c.indent, 16, static_cast<HICON>(icon), 16, 16, 0, nullptr, DI_NORMAL);
        SetBkColor(dc, GetSysColor(c.highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(c.highlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        RECT cell = {c.left + c.indent + 18, 16, Right, 32};  // the text cell, filled behind the text
        ExtTextOutA(dc, cell.left, 16, ETO_OPAQUE, &cell, c.text, UINT(lstrlenA(c.text)), nullptr);
        int differ = 0;
        for (int x = 0; x < Width * 16; ++x)
            differ += GetPixel(dc, x % Width, x / Width) != GetPixel(dc, x % Width, 16 + x / Width);
        EXPECT_EQ(differ, 0) << "pixels that differ from the expected row";
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
}
