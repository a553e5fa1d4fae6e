// The folder browser in the real main dialog over an emptied drive E:: rows, clicks, drives, painting.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "browser.h"
#include "names.h"
#include "resource.h"
#include "support.h"

// Rows painted since the count was last cleared.
static int HostDrawItems;

// Forwards the folder list's paint requests, as the program's own dialog does, and counts them.
static INT_PTR CALLBACK HostProc(HWND, UINT message, WPARAM, LPARAM lParam) {
    const auto *row = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    if (message == WM_DRAWITEM) {
        DrawFolderRow(row->hwndItem, row);
        ++HostDrawItems;
    }
    return message == WM_DRAWITEM || message == WM_INITDIALOG;
}

// What a watched list box was told: whether it draws, and rows added while it did.
static struct {
    LONG_PTR listProc;
    bool redrawOn = true;
    int addedWhileDrawing = 0;
} ListWatch;

// Watches the folder list's drawing switch and its added rows, then lets the list box handle them.
static LRESULT CALLBACK WatchListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETREDRAW) ListWatch.redrawOn = wParam != 0;
    if (message == LB_ADDSTRING && ListWatch.redrawOn) ++ListWatch.addedWhileDrawing;
    return CallWindowProcA(reinterpret_cast<WNDPROC>(ListWatch.listProc), list, message, wParam, lParam);
}

// Runs a shell script in the Linux folder behind E: (for names equal but for case, long paths).
static void OnE(const std::string &script) {
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('e')) + " && " + script), 0) << script;
}

// Opens IDD_MAIN modeless and empties E: (after leaving it: a current directory may resist removal).
struct Browser : ::testing::Test {
    void SetUp() override {
        ModuleInstance = GetModuleHandleA(nullptr);
        dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, HostProc, 0);
        list = GetDlgItem(dialog, IDC_FOLDER_LIST);
        combo = GetDlgItem(dialog, IDC_DRIVE_COMBO);
        ASSERT_TRUE(list && combo && SetCurrentDirectoryA("C:\\"));
        OnE("find . -mindepth 1 ! -name .windows-label -delete");
    }
    void TearDown() override { DestroyWindow(dialog); }
    HWND dialog = nullptr, list = nullptr, combo = nullptr;
};

// Makes CurrentFolder `path` and fills the list for it.
static void ShowFolder(HWND list, const std::string &path) {
    lstrcpynA(CurrentFolder, path.c_str(), sizeof CurrentFolder);
    FillFolderList(list);
}

// Text of row `index` of a list box, by default the selected row; "" for no row.
static std::string RowText(HWND list, LRESULT index = -2) {
    char text[MAX_PATH] = "";  // a folder name or a path component is shorter
    SendMessageA(list, LB_GETTEXT, WPARAM(index == -2 ? SendMessageA(list, LB_GETCURSEL, 0, 0) : index), LPARAM(text));
    return text;
}

// The rows joined by "|", each "text<indent,offset>" or, for a subfolder row, "text<indent>".
static std::string Rows(HWND list) {
    std::string rows;
    for (LRESULT i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) {
        DWORD tag = static_cast<DWORD>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        std::string offset = TagOffset(tag) == SubfolderOffset ? "" : "," + std::to_string(TagOffset(tag));
        rows += "|" + RowText(list, i) + "<" + std::to_string(TagIndent(tag)) + offset + ">";
    }
    return rows.erase(0, 1);
}

TEST_F(Browser, WorkedExampleClimbingDescendingAndTheDoubleClicksCorners) {
    // E:\t has a 197-character name: its children make paths of 259 and 260 characters.
    const std::string t(197, 't'), fits(58, 'f'), tooLong(59, 'g'), in = "E:\\" + t, path = "E:<0,0>|" + t + "<4,3>|";
    const std::string common = "E:<0,0>|Program Files<4,3>|Common<8,17>|microsoft<12>|Shared<12>|System<12>";
    const std::string stays = path + fits + "<8>|" + tooLong + "<8>|Gone<8>", climbed = stays + "|late<8>";
    const struct { std::string script; const char *click; std::string folder, rows, chosen, why, dir = ""; } steps[] = {
        {"bash -c \"mkdir -p 'Program Files'/Common/{System,Shared,microsoft} " + t + "/{Gone," + fits + ',' + tooLong +
             "}\"", "", "E:\\Program Files\\Common", common, "", "a fill selects none: a double click does nothing"},
        {"", "E:", "E:\\", "E:<0,0>|Program Files<4>|" + t + "<4>", "E:", "the drive row names the root"},
        {"", t.c_str(), in, stays, t, "a subfolder row descends"},
        {"mkdir " + t + "/late", tooLong.c_str(), in, stays, tooLong, "260 characters do not fit: all stays"},
        {"", fits.c_str(), in + "\\" + fits, path + fits + "<8,201>", fits, "259 characters fit; path rows only"},
        {"", t.c_str(), in, climbed, t, "a path row cuts after its own part and refills"},
        {"rmdir " + t + "/Gone", "Gone", in + "\\Gone", climbed, t, "removed: the rows stay, the last path row", in},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.why);
        if (!s.script.empty()) OnE(s.script);
        if (*s.click) ASSERT_GE(SendMessageA(list, LB_SELECTSTRING, WPARAM(-1), LPARAM(s.click)), 0);
        else ShowFolder(list, s.folder);
        OpenFolderRow(list);  // as a double click does
        EXPECT_EQ(CurrentDirectory() + "|" + CurrentFolder + "|" + Rows(list) + "|" + RowText(list),
                  (s.dir.empty() ? s.folder : s.dir) + "|" + s.folder + "|" + s.rows + "|" + s.chosen);
    }
}

TEST_F(Browser, SubfoldersSortByFoldedNameTiesInScanOrderTwentyThousandAddedUnseen) {
    // Letters fold to small ones, so 0x5B..0x60 sort before them and bytes from 0x80 after; abcde ties 32 ways.
    OnE("mkdir t && cd t && mkdir b B2 a1 Zeta _tmp '[x]' cafz CAFE ab abc AB- .config ..x a.b Secret && "
        "touch file && ln -s a.b linked && bash -c 'mkdir {a,A}{b,B}{c,C}{d,D}{e,E}'");
    ASSERT_TRUE(CreateDirectoryA("E:\\t\\caf\xE9", nullptr));
    ASSERT_TRUE(SetFileAttributesA("E:\\t\\Secret", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::string tied;  // the spellings in the order the enumeration gives them, which ties keep
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("E:\\t\\*", &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (CompareNamesNoCase(found.cFileName, "abcde") == 0) tied += std::string(found.cFileName) + "<8>|";
    FindClose(search);
    ShowFolder(list, "E:\\t");
    EXPECT_EQ(Rows(list), "E:<0,0>|t<4,3>|[x]<8>|_tmp<8>|a.b<8>|a1<8>|ab<8>|AB-<8>|abc<8>|" + tied +
                              "b<8>|B2<8>|CAFE<8>|cafz<8>|caf\xE9<8>|linked<8>|Secret<8>|Zeta<8>");

    // "_" sorts before letters here, after them in the enumeration's upper case.
    OnE("mkdir many && cd many && seq -f 'k%05g_' 0 9999 | xargs mkdir && seq -f 'k%05gB' 0 9999 | xargs mkdir");
    std::string expected = "E:<0,0>|many<4,3>";
    for (int i = 100000; i < 110000; ++i)  // five digits after the leading 1
        expected += "|k" + std::to_string(i).substr(1) + "_<8>|k" + std::to_string(i).substr(1) + "B<8>";
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    ListWatch = {};
    SetLastError(0);
    ListWatch.listProc = SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchListProc));
    ASSERT_TRUE(ListWatch.listProc);
    HostDrawItems = 0;
    ShowFolder(list, "E:\\many");
    EXPECT_EQ(ListWatch.addedWhileDrawing + HostDrawItems, 0) << "rows added, or painted, while the list drew";
    EXPECT_TRUE(ListWatch.redrawOn) << "drawing is back on after the fill";
    UpdateWindow(list);
    LRESULT visible = SendMessageA(list, LB_GETCOUNT, 0, 0) - SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    RECT inside;
    GetClientRect(list, &inside);
    visible = std::min<LRESULT>(visible, inside.bottom / SendMessageA(list, LB_GETITEMHEIGHT, 0, 0) + 1);
    EXPECT_TRUE(HostDrawItems >= 1 && HostDrawItems <= visible) << HostDrawItems << " rows painted, "
                                                                << visible << " in view";
    SetWindowLongPtrA(list, GWLP_WNDPROC, ListWatch.listProc);
    EXPECT_TRUE(Rows(list) == expected) << "all 20,000, far over 1,024, in order";
}

// A name for the shell: printf writes its UTF-8 bytes, so that no code page stands between.
static std::string Utf8Name(const std::wstring &name) {
    std::string bytes(name.size() * 4, '\0'), octal;
    bytes.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, name.c_str(), int(name.size()), &bytes[0], int(bytes.size()),
                                            nullptr, nullptr)));
    char escape[8];
    for (unsigned char code : bytes) {
        std::snprintf(escape, sizeof escape, "\\%03o", code);
        octal += escape;
    }
    return "\"$(printf '" + octal + "')\"";
}

// The path in the ANSI code page, as CurrentFolder should hold it.
static std::string Ansi(const std::wstring &path) {
    char text[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, text, sizeof text, nullptr, nullptr);
    return text;
}

TEST_F(Browser, NamesOutsideTheCodePageShowConvertedAndEachRowEntersItsOwnFolder) {
    ASSERT_EQ(GetACP(), 1252u) << "the expected rows are code page 1252's";
    const std::wstring japanese = L"\u65E5\u672C\u8A9E", chinese = L"\u4E2D\u6587\u5B57",
                       russian = L"\u041F\u0440\u0438\u0432\u0435\u0442", t = L"E:\\t";
    OnE("mkdir -p t/" + Utf8Name(japanese) + "/alpha t/" + Utf8Name(chinese) + "/beta t/" + Utf8Name(russian) +
        "/gamma/" + Utf8Name(japanese) + "/deep t/" + Utf8Name(L"caf\u00E9 \U0001F600 \u03BC\u03AC\u0101") + " t/ab");
    // The two names that both read "???" tie, so their rows come in the order the enumeration finds them.
    std::vector<std::wstring> tied;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"E:\\t\\*", &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        if (found.cFileName == japanese || found.cFileName == chinese) tied.push_back(found.cFileName);
    FindClose(search);
    ASSERT_EQ(tied.size(), 2u);
    auto childOf = [&](const std::wstring &name) { return name == japanese ? "alpha" : "beta"; };
    const std::string q3(3, '?'), q6(6, '?');  // one question mark per character
    const std::string top = "E:<0,0>|t<4,3>|" + q3 + "<8>|" + q3 + "<8>|" + q6 + "<8>|ab<8>|" + Ansi(L"caf\u00E9 \U0001F600 \u03BC\u03AC\u0101") + "<8>";
    const struct { int row; std::wstring folder; std::string rows, why; } steps[] = {
        {-1, t, top, "CJK and Cyrillic names read as question marks; the rest as the code page gives it"},
        {2, t + L"\\" + tied[0], "E:<0,0>|t<4,3>|" + q3 + "<8,5>|" + std::string(childOf(tied[0])) + "<12>", "the first of the two tied rows"},
        {1, t, top, "a path row climbs back"},
        {3, t + L"\\" + tied[1], "E:<0,0>|t<4,3>|" + q3 + "<8,5>|" + std::string(childOf(tied[1])) + "<12>", "its twin enters the other"},
        {1, t, top, "and back"},
        {4, t + L"\\" + russian, "E:<0,0>|t<4,3>|" + q6 + "<8,5>|gamma<12>", "Cyrillic"},
        {3, t + L"\\" + russian + L"\\gamma", "E:<0,0>|t<4,3>|" + q6 + "<8,5>|gamma<12,12>|" + q3 + "<16>", "an ASCII name below"},
        {4, t + L"\\" + russian + L"\\gamma\\" + japanese, "E:<0,0>|t<4,3>|" + q6 + "<8,5>|gamma<12,12>|" + q3 + "<16,18>|deep<20>",
         "a second unreadable level"},
        {2, t + L"\\" + russian, "E:<0,0>|t<4,3>|" + q6 + "<8,5>|gamma<12>", "a path row of question marks climbs by its real name"},
        {1, t, top, "to the top"},
        {6, t + L"\\caf\u00E9 \U0001F600 \u03BC\u03AC\u0101", "E:<0,0>|t<4,3>|" + Ansi(L"caf\u00E9 \U0001F600 \u03BC\u03AC\u0101") + "<8,5>",
         "a name the code page half holds"},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.why);
        if (s.row < 0) {
            ASSERT_TRUE(SetCurrentFolder(s.folder.c_str()));
            FillFolderList(list);
        } else {
            ASSERT_NE(SendMessageA(list, LB_SETCURSEL, WPARAM(s.row), 0), LB_ERR);
            OpenFolderRow(list);  // as a double click does
        }
        wchar_t directory[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, directory);
        EXPECT_TRUE(CurrentFolderWide == s.folder && directory == s.folder) << "not in the expected folder";
        EXPECT_EQ(CurrentFolder + ("|" + CurrentDirectory() + "|" + Rows(list)), Ansi(s.folder) + "|" + Ansi(s.folder) + "|" + s.rows);
    }
    // Rows show exactly what the ANSI enumeration gives for the same folder.
    std::vector<std::string> rows, enumerated;
    for (LRESULT i = 2; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) rows.push_back(RowText(list, i));
    ShowFolder(list, "E:\\t");
    WIN32_FIND_DATAA foundA;
    search = FindFirstFileA("E:\\t\\*", &foundA);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &foundA))
        if (foundA.cFileName[0] != '.') enumerated.push_back(foundA.cFileName);
    FindClose(search);
    rows.clear();
    for (LRESULT i = 2; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) rows.push_back(RowText(list, i));
    std::sort(rows.begin(), rows.end());
    std::sort(enumerated.begin(), enumerated.end());
    EXPECT_EQ(rows, enumerated);
}

TEST_F(Browser, TheStartingFolderByItsRealName) {
    const std::wstring folder = L"E:\\\u041F\u0440\u0438\u0432\u0435\u0442";
    OnE("mkdir " + Utf8Name(L"\u041F\u0440\u0438\u0432\u0435\u0442"));
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));  // as the program starts
    BuildDriveTable();
    FillDriveCombo(combo);
    EXPECT_TRUE(CurrentFolderWide == folder);
    EXPECT_EQ(CurrentFolder, CurrentDirectory());
    EXPECT_EQ(std::string(CurrentFolder), "E:\\" + std::string(6, '?'));
    SendMessageA(combo, CB_SELECTSTRING, WPARAM(-1), LPARAM("E:"));
    ChangeDrive(combo);
    EXPECT_TRUE(CurrentFolderWide == std::wstring(L"E:\\") && std::string(CurrentFolder) == "E:\\") << "a drive change";
}

TEST_F(Browser, DriveLabelsTheStartingDriveAndDriveChanges) {
    BuildDriveTable();
    auto labelOf = [](char letter) {  // the table's label of drive `letter`, row 0's when no row has it
        int i = DriveTable.Count - 1;
        while (i > 0 && DriveTable.Rows[i].RootPath[0] != letter) --i;
        return std::string(DriveTable.Rows[i].Label);
    };
    std::string roots, expected;
    for (int i = 0; i < DriveTable.Count; ++i) roots += DriveTable.Rows[i].RootPath;
    for (char d = 'A'; d <= 'Z'; ++d) expected += GetLogicalDrives() & (1u << (d - 'A')) ? d + std::string(":\\") : "";
    EXPECT_EQ(roots + labelOf('E') + "|" + labelOf('N'), expected + "E:  TESTVOL|N:  ") << "in letter order";

    const struct { const char *start, *pick; std::vector<int> answers; const char *where, *why; } cases[] = {
        {"z:\\tmp", nullptr, {}, "z:\\tmp", "a small letter matches no row: row 0"},
        {"Z:\\tmp", "Z:", {}, "Z:\\", "the root, not Z:\\tmp where the browser started"},
        {"Z:\\tmp", "N:", {IDCANCEL}, "Z:\\tmp", "not ready, cancelled: the drop-down back, the folder kept"},
        {"Z:\\tmp", "N:", {IDRETRY, IDCANCEL}, "N:\\", "retried after the drive appeared"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SendMessageA(combo, CB_RESETCONTENT, 0, 0);
        ASSERT_TRUE(SetCurrentDirectoryA(c.start)) << c.start;  // as the program starts
        FillDriveCombo(combo);
        BoxAnswerer boxes(c.answers);
        boxes.SetBeforeAnswer([](const SeenBox &box, void *) {  // a retry finds the drive there
            if (box.answer == IDRETRY) RunUnix("mkdir -p " + ShellQuote(DriveFolderUnix('n') + "-missing"));
        }, nullptr);
        if (c.pick && SendMessageA(combo, CB_SELECTSTRING, WPARAM(-1), LPARAM(c.pick)) != CB_ERR) ChangeDrive(combo);
        std::string seen, chosen(64, '\0'), label = labelOf(c.where[0]);
        for (const SeenBox &box : boxes.Seen()) seen += "|" + box.caption + ": " + box.text;
        SendMessageA(combo, CB_GETLBTEXT, WPARAM(SendMessageA(combo, CB_GETCURSEL, 0, 0)), LPARAM(&chosen[0]));
        EXPECT_EQ(CurrentFolder + ("|" + CurrentDirectory()) + "|" + chosen.c_str() + "|" +
                      DriveTable.Rows[DriveTable.SelectedIndex].Label + seen,
                  c.where + ("|" + std::string(c.where)) + "|" + label + "|" + label +
                      (c.answers.empty() ? "" : "|Dirtally 1.1: Drive N:\\ is not ready"));  // one prompt
    }
    RunUnix("rm -rf " + ShellQuote(DriveFolderUnix('n') + "-missing"));
}

TEST_F(Browser, RowIconAtTheIndentTextCellAfterItHighlightOnlyWithFocus) {
    OnE("mkdir -p 'Program Files/Common/Shared'");
    ShowFolder(list, "E:\\Program Files\\Common");
    const struct { int row, left; UINT state; int icon, indent; bool highlight; const char *why; } cases[] = {
        {2, 0, ODS_SELECTED | ODS_FOCUS, IDI_PATH_FOLDER, 8, true, "path row: icon at 8, text cell at 26, highlighted"},
        {3, 5, ODS_SELECTED, IDI_SUBFOLDER, 12, false, "a row's own left edge; selected without focus: window colours"},
        {-1, 0, ODS_FOCUS, 0, 0, false, "no row: an empty cell, no icon, no stale text"},
    };
    // The row is painted in the bitmap's top half, the expected row drawn in its bottom half.
    const int Width = 160, Right = 150;  // the bitmap, and the row's right edge
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(Width, 32, 1, 32, nullptr);
    SelectObject(dc, bitmap);
    SelectObject(dc, GetStockObject(DC_BRUSH));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SetDCBrushColor(dc, RGB(1, 2, 3));  // in no icon and no system colour
        PatBlt(dc, 0, 0, Width, 32, PATCOPY);
        ULONG_PTR tag = c.row < 0 ? 0 : ULONG_PTR(SendMessageA(list, LB_GETITEMDATA, WPARAM(c.row), 0));
        DRAWITEMSTRUCT request = {ODT_LISTBOX, IDC_FOLDER_LIST, UINT(c.row), ODA_DRAWENTIRE, c.state, list, dc,
                                  {c.left, 0, Right, 16}, tag};
        DrawFolderRow(list, &request);

        HANDLE icon = c.icon ? LoadImageA(ModuleInstance, MAKEINTRESOURCEA(c.icon), IMAGE_ICON, 16, 16, 0) : nullptr;
        if (icon) DrawIconEx(dc, c.left + c.indent, 16, static_cast<HICON>(icon), 16, 16, 0, nullptr, DI_NORMAL);
        SetBkColor(dc, GetSysColor(c.highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(c.highlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        RECT cell = {c.left + c.indent + 18, 16, Right, 32};  // the text cell, filled behind the text
        std::string text = RowText(list, c.row);
        ExtTextOutA(dc, cell.left, 16, ETO_OPAQUE, &cell, text.c_str(), UINT(text.size()), nullptr);
        int differ = 0;
        for (int x = 0; x < Width * 16; ++x)
            differ += GetPixel(dc, x % Width, x / Width) != GetPixel(dc, x % Width, 16 + x / Width);
        EXPECT_EQ(differ, 0) << "pixels that differ from the expected row";
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
}

// Painting with neither row icon at hand shows the message, answered in the dying child, then exits with -1.
TEST(FatalInternalError, MissingIconsShowTheMessageThenEndWithMinusOne) {
    EXPECT_EXIT(([] {  // in parentheses: the macro splits its arguments at commas
        BoxAnswerer boxes;
        boxes.SetBeforeAnswer([](const SeenBox &box, void *) {  // told to the parent through standard error
            std::fprintf(stderr, "[%s|%s]\n", box.caption.c_str(), box.text.c_str());
        }, nullptr);
        ModuleInstance = GetModuleHandleA("kernel32.dll");
        DRAWITEMSTRUCT request = {0, 0, UINT(-1), 0, 0, nullptr, nullptr, {0, 0, 50, 16}, 0};
        DrawFolderRow(nullptr, &request);
    })(), ::testing::ExitedWithCode(-1), "^\\[Dirtally 1\\.1\\|The internal error\\]\n$");
}
