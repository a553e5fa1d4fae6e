// The folder browser in the real main dialog over an emptied drive E:: the folder
// list's rows and double clicks, the drive drop-down, row painting, the fatal error.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "browser.h"
#include "names.h"
#include "resource.h"
#include "support.h"

namespace {

// Forwards the folder list's paint requests, as the program's own dialog does.
INT_PTR CALLBACK HostProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    bool row = message == WM_DRAWITEM && wParam == IDC_FOLDER_LIST;
    const auto *request = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    if (row) DrawFolderRow(request->hwndItem, request);
    return row || message == WM_INITDIALOG;
}

// Opens IDD_MAIN modeless and empties E: (after leaving it: a current directory may resist removal).
class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        ModuleInstance = GetModuleHandleA(nullptr);
        dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, HostProc, 0);
        list = GetDlgItem(dialog, IDC_FOLDER_LIST);
        combo = GetDlgItem(dialog, IDC_DRIVE_COMBO);
        ASSERT_TRUE(list && combo);
        SetCurrentDirectoryA("C:\\");
        RunUnix("find " + ShellQuote(DriveFolderUnix('e')) + " -mindepth 1 ! -name .windows-label -delete");
    }
    void TearDown() override { DestroyWindow(dialog); }
    HWND dialog = nullptr, list = nullptr, combo = nullptr;
};

// Runs a shell script in the Linux folder behind E: (for names equal but for case, long paths).
void OnE(const std::string &script) {
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('e')) + " && " + script), 0) << script;
}

// Makes CurrentFolder `path` and fills the list for it.
void ShowFolder(HWND list, const std::string &path) {
    lstrcpynA(CurrentFolder, path.c_str(), sizeof CurrentFolder);
    FillFolderList(list);
}

// Text of one row of a list box; "" for no row.
std::string RowText(HWND list, LRESULT index) {
    char text[MAX_PATH] = "";  // a folder name or a path component is shorter
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

// The selected row's text; "" when none is.
std::string Selected(HWND list) { return RowText(list, SendMessageA(list, LB_GETCURSEL, 0, 0)); }

// The rows joined by "|", each "text<indent,offset>" or, for a subfolder row,
// "text<indent>"; with `namesOnly` the subfolder rows' texts alone.
std::string Rows(HWND list, bool namesOnly = false) {
    std::string rows;
    for (LRESULT i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) {
        DWORD tag = static_cast<DWORD>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        std::string offset = TagOffset(tag) == SubfolderOffset ? "" : "," + std::to_string(TagOffset(tag));
        if (!namesOnly) rows += "|" + RowText(list, i) + "<" + std::to_string(TagIndent(tag)) + offset + ">";
        else if (offset.empty()) rows += "|" + RowText(list, i);
    }
    return rows.erase(0, 1);
}

// Selects the row that begins with `text` and opens it as a double click does.
void DoubleClick(HWND list, const std::string &text) {
    LPARAM prefix = reinterpret_cast<LPARAM>(text.c_str());
    ASSERT_NE(SendMessageA(list, LB_SELECTSTRING, static_cast<WPARAM>(-1), prefix), LB_ERR) << text;
    OpenFolderRow(list);
}

TEST_F(Browser, WorkedExampleClimbsAndDescends) {
    OnE("mkdir -p P/Other P/Common/System P/Common/Shared P/Common/microsoft && mv P 'Program Files'");
    const char *common = "E:<0,0>|Program Files<4,3>|Common<8,17>|microsoft<12>|Shared<12>|System<12>";
    struct Step { const char *click, *folder, *rows, *why; };
    const Step steps[] = {
        {nullptr, "E:\\Program Files\\Common", common, "a fill: path rows, sorted subfolders, no selection"},
        {"Common", "E:\\Program Files\\Common", common, "the last path row stays"},
        {"Program Files", "E:\\Program Files", "E:<0,0>|Program Files<4,3>|Common<8>|Other<8>",
         "a middle path row cuts after it"},
        {"Common", "E:\\Program Files\\Common", common, "a subfolder row descends"},
        {"Shared", "E:\\Program Files\\Common\\Shared",
         "E:<0,0>|Program Files<4,3>|Common<8,17>|Shared<12,24>", "an empty folder: path rows only"},
        {"E:", "E:\\", "E:<0,0>|Program Files<4>", "the drive row names the root"},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.why);
        step.click ? DoubleClick(list, step.click) : ShowFolder(list, step.folder);
        EXPECT_EQ(CurrentFolder + ("|" + CurrentDirectory()), std::string(step.folder) + "|" + step.folder);
        EXPECT_EQ(Rows(list), step.rows);
        EXPECT_EQ(Selected(list), step.click ? step.click : "") << "the last path row";
    }
}

TEST_F(Browser, SubfoldersSortByFoldedNameDotNamesAndFilesLeftOut) {
    // Letters compare as small letters, so 0x5B..0x60 come before them and bytes
    // from 0x80 after them; a prefix comes first. Hidden folders and links are kept.
    for (const char *name : {"", "\\b", "\\B2", "\\a1", "\\Zeta", "\\_tmp", "\\[x]", "\\caf\xE9", "\\cafz",
                             "\\CAFE", "\\ab", "\\abc", "\\AB-", "\\.config", "\\..x", "\\a.b", "\\Secret"})
        ASSERT_TRUE(CreateDirectoryA(("E:\\t" + std::string(name)).c_str(), nullptr)) << name;
    OnE("touch t/file && ln -s a.b t/linked");
    ASSERT_TRUE(SetFileAttributesA("E:\\t\\Secret", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(GetFileAttributesA("E:\\t\\Secret") & FILE_ATTRIBUTE_HIDDEN);
    ShowFolder(list, "E:\\t");
    EXPECT_EQ(Rows(list, true), "[x]|_tmp|a.b|a1|ab|AB-|abc|b|B2|CAFE|cafz|caf\xE9|linked|Secret|Zeta");
}

TEST_F(Browser, NamesDifferingOnlyInCaseKeepEnumerationOrder) {
    // 32 spellings of one name among 64 others: an unstable sort would shuffle them.
    OnE("mkdir t && cd t && n=0 && for a in a A; do for b in b B; do for c in c C; do for d in d D; do "
        "for e in e E; do n=$((n+1)); mkdir $a$b$c$d$e zz$n _$n; done; done; done; done; done");
    std::string tied;  // the spellings, in the order the enumeration gives them
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("E:\\t\\*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        if (CompareNamesNoCase(found.cFileName, "abcde") == 0) tied += std::string(found.cFileName) + "|";
    while (FindNextFileA(search, &found));
    FindClose(search);
    ASSERT_EQ(tied.size(), 32u * 6);
    ShowFolder(list, "E:\\t");
    std::string listed = "|" + Rows(list, true) + "|";
    EXPECT_NE(listed.find("|" + tied), std::string::npos) << "together, in the order found: " << listed;
}

TEST_F(Browser, NothingSelectedOrAFolderRemovedAfterTheFill) {
    OnE("mkdir -p t/Gone t/Stays");
    ShowFolder(list, "E:\\t");
    OnE("mkdir t/late");  // shows only when the list is refilled
    const std::string before = "E:<0,0>|t<4,3>|Gone<8>|Stays<8>";
    OpenFolderRow(list);
    EXPECT_EQ(CurrentFolder + Rows(list) + Selected(list), "E:\\t" + before)
        << "a double click with nothing selected does nothing";
    OnE("rmdir t/Gone");
    DoubleClick(list, "Gone");
    EXPECT_EQ(CurrentFolder + Rows(list) + Selected(list), "E:\\t\\Gone" + before + "t")
        << "the old rows stay, their last path row selected";
    OpenFolderRow(list);
    EXPECT_EQ(CurrentFolder + Rows(list), "E:\\tE:<0,0>|t<4,3>|late<8>|Stays<8>");
}

TEST_F(Browser, DescentBeyondTheLengthLimitIsRefused) {
    // A 200-character folder whose children make paths of 259 and 260 characters.
    const std::string part(197, 'p'), fits(58, 'f'), tooLong(59, 'g');
    OnE("mkdir -p " + part + "/" + fits + " " + part + "/" + tooLong);
    ShowFolder(list, "E:\\" + part);
    const std::string before = Rows(list);
    DoubleClick(list, tooLong);
    EXPECT_EQ(CurrentFolder + Rows(list) + Selected(list), "E:\\" + part + before + tooLong)
        << "260 characters do not fit: all stays, the selection too";
    DoubleClick(list, fits);
    EXPECT_EQ(CurrentFolder, "E:\\" + part + "\\" + fits) << "259 characters fit";
}

TEST_F(Browser, TwentyThousandSubfoldersListedInOrderWellUnderASecond) {
    // "_" sorts before letters here, after them in the enumeration's upper case.
    OnE("mkdir many && cd many && seq -f 'k%05g_' 0 9999 | xargs mkdir && "
        "seq -f 'k%05gB' 0 9999 | xargs mkdir");
    std::string expected;
    for (int i = 100000; i < 110000; ++i)  // five digits after the leading 1
        expected += "|k" + std::to_string(i).substr(1) + "_|k" + std::to_string(i).substr(1) + "B";
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    DWORD start = GetTickCount();
    ShowFolder(list, "E:\\many");
    UpdateWindow(list);
    EXPECT_LT(GetTickCount() - start, 1000u) << "milliseconds to fill and paint";
    EXPECT_TRUE(Rows(list, true) == expected.substr(1)) << "all 20,000, far over 1,024, in order";
}

// The table's label of drive `letter`.
std::string LabelOf(char letter) {
    for (int i = 0; i < DriveTable.Count; ++i)
        if (DriveTable.Rows[i].RootPath[0] == letter) return DriveTable.Rows[i].Label;
    return "none";
}

// The browser standing in `folder` on drive `letter`, as Where shows it.
std::string At(const std::string &folder, char letter) {
    return folder + "|" + folder + "|" + LabelOf(letter) + "|" + LabelOf(letter);
}

// Starts the browser in `folder` as the dialog does, with E:\work in place.
void StartIn(HWND combo, const char *folder) {
    CreateDirectoryA("E:\\work", nullptr);
    BuildDriveTable();
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    ASSERT_TRUE(SetCurrentDirectoryA(folder)) << folder;
    FillDriveCombo(combo);
}

// CurrentFolder, the current directory, and the selected drive in the table and in the drop-down.
std::string Where(HWND combo) {
    char chosen[64] = "";
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(SendMessageA(combo, CB_GETCURSEL, 0, 0)),
                 reinterpret_cast<LPARAM>(chosen));
    return std::string(CurrentFolder) + "|" + CurrentDirectory() + "|" +
           DriveTable.Rows[DriveTable.SelectedIndex].Label + "|" + chosen;
}

TEST_F(Browser, DriveLabelsInLetterOrderAndTheStartingDrive) {
    BuildDriveTable();
    std::string roots, expected;
    for (int n = 0; n < 26; ++n)
        if (GetLogicalDrives() & (1u << n)) expected += std::string(1, static_cast<char>('A' + n)) + ":\\";
    for (int i = 0; i < DriveTable.Count; ++i) roots += DriveTable.Rows[i].RootPath;
    EXPECT_EQ(roots, expected) << "one row per drive, in letter order";
    EXPECT_EQ(LabelOf('E') + "|" + LabelOf('N'), "E:  TESTVOL|N:  ") << "N: is not ready";

    struct StartCase { const char *folder; char letter; const char *why; };
    const StartCase cases[] = {
        {"E:\\work", 'E', "the folder itself is kept, not its root"},
        {"G:\\", 'G', "a drive root"},
        {"Z:\\tmp", 'Z', "the last drive"},
        {"e:\\work", DriveTable.Rows[0].RootPath[0], "a small letter matches no row: row 0"},
    };
    for (const StartCase &c : cases) {
        SCOPED_TRACE(c.why);
        StartIn(combo, c.folder);
        EXPECT_EQ(Where(combo), At(c.folder, c.letter));
    }
}

TEST_F(Browser, DriveChangeGoesToTheRootOrAsksWhileNotReady) {
    struct ChangeCase { char letter; std::vector<int> answers; size_t boxes; const char *where, *why; };
    const ChangeCase cases[] = {
        {'G', {}, 0, "G:\\", "another drive: its root"},
        {'E', {}, 0, "E:\\", "the root, not E:\\work where the browser started"},
        {'N', {IDCANCEL}, 1, "E:\\work", "cancelled: the drop-down back, the folder unchanged"},
        {'N', {IDRETRY, IDRETRY, IDCANCEL}, 3, "E:\\work", "asked again while the drive stays away"},
        {'N', {IDRETRY, IDCANCEL}, 1, "N:\\", "retried after the drive appeared"},
    };
    for (const ChangeCase &c : cases) {
        SCOPED_TRACE(c.why);
        StartIn(combo, "E:\\work");
        BoxAnswerer boxes(c.answers);
        if (c.where[0] == 'N')  // makes the folder behind N: while the prompt is up
            boxes.SetBeforeAnswer([](const SeenBox &, void *) {
                RunUnix("mkdir -p " + ShellQuote(DriveFolderUnix('n') + "-missing"));
            }, nullptr);
        const char prefix[] = {c.letter, ':', '\0'};  // picks the drive as the user would
        SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(prefix));
        ChangeDrive(combo);
        std::vector<SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), c.boxes);
        for (const SeenBox &box : seen)
            EXPECT_EQ(box.caption + "|" + box.text, "Dirtally 1.1|Drive N:\\ is not ready");
        EXPECT_EQ(Where(combo), At(c.where, c.where[0]));
    }
    RunUnix("rm -rf " + ShellQuote(DriveFolderUnix('n') + "-missing"));
}

const COLORREF Marker = RGB(1, 2, 3);  // in no icon and no system colour
const int Width = 160, Right = 150;    // the bitmap, and the row's right edge

// A bitmap of Width by 16 pixels in a memory DC, filled with Marker.
struct Canvas {
    Canvas() {
        HDC screen = GetDC(nullptr);
        bitmap = CreateCompatibleBitmap(screen, Width, 16);
        ReleaseDC(nullptr, screen);
        SelectObject(dc, bitmap);
        Fill(0, Width, Marker);
    }
    ~Canvas() { DeleteDC(dc); DeleteObject(bitmap); }
    void Fill(int left, int right, COLORREF colour) {
        RECT part = {left, 0, right, 16};
        SetDCBrushColor(dc, colour);
        FillRect(dc, &part, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    }
    // How many pixels differ from `other`'s.
    int Differ(const Canvas &other) const {
        int differ = 0;
        for (int x = 0; x < Width; ++x)
            for (int y = 0; y < 16; ++y) differ += GetPixel(dc, x, y) != GetPixel(other.dc, x, y);
        return differ;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap;
};

// Draws the program's row icon `id` at `left`, as a row shows it.
void DrawIcon(const Canvas &canvas, int id, int left) {
    HICON icon = static_cast<HICON>(LoadImageA(ModuleInstance, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
    ASSERT_TRUE(icon);
    DrawIconEx(canvas.dc, left, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
}

TEST_F(Browser, RowIconAtTheIndentTextCellAfterItHighlightOnlyWithFocus) {
    OnE("mkdir -p 'Program Files/Common/Shared'");
    ShowFolder(list, "E:\\Program Files\\Common");

    struct PaintCase { int row, left; UINT state; int icon, indent; bool highlight; const char *why; };
    const PaintCase cases[] = {
        {0, 0, 0, IDI_PATH_FOLDER, 0, false, "drive row at the row's left edge"},
        {2, 0, ODS_SELECTED | ODS_FOCUS, IDI_PATH_FOLDER, 8, true, "icon at 8, text cell at 26, highlighted"},
        {3, 5, ODS_SELECTED, IDI_SUBFOLDER, 12, false, "selected without focus: window colours"},
        {1, 3, ODS_FOCUS, IDI_PATH_FOLDER, 4, false, "focus alone is no selection"},
        {3, 7, ODS_SELECTED | ODS_FOCUS | ODS_DISABLED, IDI_SUBFOLDER, 12, true, "other flags: no change"},
        {-1, 0, ODS_FOCUS, 0, 0, false, "no row: an empty cell, no icon, no stale text"},
    };
    for (const PaintCase &c : cases) {
        SCOPED_TRACE(c.why);
        Canvas painted, expected, untexted;
        DWORD tag = c.row < 0 ? 0 : static_cast<DWORD>(SendMessageA(list, LB_GETITEMDATA, c.row, 0));
        DRAWITEMSTRUCT request = {ODT_LISTBOX, IDC_FOLDER_LIST, static_cast<UINT>(c.row), ODA_DRAWENTIRE,
                                  c.state, list, painted.dc, {c.left, 0, Right, 16}, tag};
        DrawFolderRow(list, &request);

        int cell = c.left + c.indent + 18;
        COLORREF background = GetSysColor(c.highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW);
        if (c.icon) DrawIcon(expected, c.icon, c.left + c.indent);
        expected.Fill(cell, Right, background);
        BitBlt(untexted.dc, 0, 0, Width, 16, expected.dc, 0, 0, SRCCOPY);
        SetBkColor(expected.dc, background);
        SetTextColor(expected.dc, GetSysColor(c.highlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        std::string text = RowText(list, c.row);
        TextOutA(expected.dc, cell, 0, text.c_str(), static_cast<int>(text.size()));
        ASSERT_EQ(expected.Differ(untexted) > 0, c.row >= 0) << "the expected row shows its text";
        EXPECT_EQ(painted.Differ(expected), 0) << "pixels that differ from the expected row";
    }
}

// The fatal-error test's child run: paints a row with neither row icon at hand; must not return.
const char ChildFlag[] = "--paint-without-icons";

int PaintWithoutIcons() {
    ModuleInstance = GetModuleHandleA("kernel32.dll");
    Canvas canvas;
    DRAWITEMSTRUCT request = {0, 0, static_cast<UINT>(-1), 0, 0, nullptr, canvas.dc, {0, 0, 50, 16}, 0};
    DrawFolderRow(nullptr, &request);
    ExitProcess(2);
}

[[maybe_unused]] const int ChildRun = std::strstr(GetCommandLineA(), ChildFlag) ? PaintWithoutIcons() : 0;

TEST(FatalInternalError, MissingIconsShowTheMessageThenEndWithMinusOne) {
    std::string line = GetCommandLineA() + std::string(" ") + ChildFlag;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    BoxAnswerer boxes({IDOK}, child.dwProcessId);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    EXPECT_EQ(code, 0xFFFFFFFFu) << "exit code -1";
    ASSERT_EQ(boxes.Seen().size(), 1u) << "the message comes before the end";
    EXPECT_EQ(boxes.Seen()[0].caption + "|" + boxes.Seen()[0].text, "Dirtally 1.1|The internal error");
}

}  // namespace
