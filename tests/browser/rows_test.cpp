// Row painting: icon and text cell placement, colours, the empty row, the
// real list's own painting, and the fatal error when the icons are missing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "browser.h"
#include "host.h"
#include "resource.h"
#include "support.h"

namespace {

const COLORREF Marker = RGB(1, 2, 3);  // in no icon and no system colour

// A 32-bit top-down bitmap selected into a memory DC, filled with Marker.
struct Canvas {
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        void *memory = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
        bits = static_cast<std::uint32_t *>(memory);
        old = SelectObject(dc, bitmap);
        Fill(Marker);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;
    void Fill(COLORREF colour) {
        GdiFlush();
        for (int i = 0; i < width * height; ++i)
            bits[i] = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    }
    COLORREF At(int x, int y) const {
        GdiFlush();
        std::uint32_t p = bits[y * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    std::uint32_t *bits;
};

// Counts the pixels of the block at (x, y) of `painted` that differ from
// the block at (refX, refY) of `reference`.
int DifferentPixels(const Canvas &painted, int x, int y, const Canvas &reference, int refX,
                    int refY, int w, int h) {
    int differ = 0;
    for (int dy = 0; dy < h; ++dy)
        for (int dx = 0; dx < w; ++dx)
            if (painted.At(x + dx, y + dy) != reference.At(refX + dx, refY + dy)) ++differ;
    return differ;
}

// Counts the pixels of a block that are not `colour`.
int OtherPixels(const Canvas &canvas, int x, int y, int w, int h, COLORREF colour) {
    int other = 0;
    for (int dy = 0; dy < h; ++dy)
        for (int dx = 0; dx < w; ++dx)
            if (canvas.At(x + dx, y + dy) != colour) ++other;
    return other;
}

// One of the program's row icons drawn at (0, 0) on `background`.
void DrawReferenceIcon(Canvas &canvas, int id, COLORREF background) {
    canvas.Fill(background);
    HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id),
                                               IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    ASSERT_TRUE(icon);
    DrawIconEx(canvas.dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
}

DRAWITEMSTRUCT Request(HWND list, int index, UINT state, HDC dc, int left, int right) {
    DRAWITEMSTRUCT request = {};
    request.CtlType = ODT_LISTBOX;
    request.CtlID = 1000;
    request.itemID = static_cast<UINT>(index);
    request.itemAction = ODA_DRAWENTIRE;
    request.itemState = state;
    request.hwndItem = list;
    request.hDC = dc;
    request.rcItem = {left, 0, right, 16};
    if (index >= 0) request.itemData = static_cast<ULONG_PTR>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    return request;
}

class RowPainting : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDriveE();
        MakeFolders("E:", {"Program Files"});
        MakeFolders("E:\\Program Files", {"Common"});
        MakeFolders("E:\\Program Files\\Common", {"Shared", "System"});
        ShowFolder(host.list, "E:\\Program Files\\Common");
        ASSERT_EQ(SendMessageA(host.list, LB_GETCOUNT, 0, 0), 5);
    }
    MainDialog host;
};

TEST_F(RowPainting, IconAndTextCellLandAtTheIndent) {
    const int width = 160, right = 150;
    Canvas pathIcon(16, 16), subfolderIcon(16, 16);
    DrawReferenceIcon(pathIcon, IDI_PATH_FOLDER, Marker);
    DrawReferenceIcon(subfolderIcon, IDI_SUBFOLDER, Marker);
    ASSERT_GT(DifferentPixels(pathIcon, 0, 0, subfolderIcon, 0, 0, 16, 16), 0)
        << "the two row icons must be told apart";

    struct PaintCase {
        int row, left;
        UINT state;
        const char *text;
        int indent;
        bool subfolder, highlight;
        const char *why;
    };
    const UINT both = ODS_SELECTED | ODS_FOCUS;
    const PaintCase cases[] = {
        {0, 0, 0, "E:", 0, false, false, "drive row at the row's left edge"},
        {2, 0, both, "Common", 8, false, true, "indent 8: icon at 8, text cell at 26, highlighted"},
        {3, 5, ODS_SELECTED, "Shared", 12, true, false, "selected without focus: window colours"},
        {1, 3, ODS_FOCUS, "Program Files", 4, false, false, "focus alone is no selection"},
        {4, 7, both | ODS_DISABLED, "System", 12, true, true, "other flags change nothing"},
    };
    for (const PaintCase &c : cases) {
        SCOPED_TRACE(c.why);
        Canvas canvas(width, 16);
        DRAWITEMSTRUCT request = Request(host.list, c.row, c.state, canvas.dc, c.left, right);
        DrawFolderRow(host.list, &request);

        int iconLeft = c.left + c.indent, cellLeft = iconLeft + 18;
        EXPECT_EQ(OtherPixels(canvas, 0, 0, iconLeft, 16, Marker), 0) << "the indent is not painted";
        EXPECT_EQ(DifferentPixels(canvas, iconLeft, 0, c.subfolder ? subfolderIcon : pathIcon, 0, 0,
                                  16, 16), 0)
            << "the row kind's icon at the indent";
        EXPECT_EQ(OtherPixels(canvas, iconLeft + 16, 0, 2, 16, Marker), 0) << "the gap is not painted";
        EXPECT_EQ(OtherPixels(canvas, right, 0, width - right, 16, Marker), 0) << "nothing beyond the row";

        COLORREF background = GetSysColor(c.highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW);
        Canvas text(width, 16);
        text.Fill(background);
        SetBkColor(text.dc, background);
        SetTextColor(text.dc, GetSysColor(c.highlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        TextOutA(text.dc, cellLeft, 0, c.text, static_cast<int>(std::strlen(c.text)));
        ASSERT_GT(OtherPixels(text, cellLeft, 0, right - cellLeft, 16, background), 0);
        EXPECT_EQ(DifferentPixels(canvas, cellLeft, 0, text, cellLeft, 0, right - cellLeft, 16), 0)
            << "the cell holds the row text at its top left, in the state's colours";
    }
}

TEST_F(RowPainting, RequestForNoRowPaintsOnlyAnEmptyCell) {
    Canvas canvas(100, 16);
    DRAWITEMSTRUCT named = Request(host.list, 2, 0, canvas.dc, 0, 100);
    DrawFolderRow(host.list, &named);
    canvas.Fill(Marker);
    DRAWITEMSTRUCT none = Request(host.list, -1, ODS_FOCUS, canvas.dc, 0, 100);
    DrawFolderRow(host.list, &none);
    EXPECT_EQ(OtherPixels(canvas, 18, 0, 82, 16, GetSysColor(COLOR_WINDOW)), 0)
        << "no text left over from the row painted before";
    EXPECT_EQ(OtherPixels(canvas, 0, 0, 18, 16, Marker), 0) << "no icon for a row that does not exist";
}

// Copies what the screen shows of `window`'s client area.
void CaptureClient(HWND window, Canvas &canvas) {
    HDC screen = GetDC(window);
    BitBlt(canvas.dc, 0, 0, canvas.width, canvas.height, screen, 0, 0, SRCCOPY);
    ReleaseDC(window, screen);
}

TEST_F(RowPainting, ShownListPaintsIconsAndHighlightOnlyWithFocus) {
    BuildDriveTable();  // the drop-down only completes the picture
    FillDriveCombo(host.combo);
    ShowWindow(host.dialog, SW_SHOW);
    SetForegroundWindow(host.dialog);
    SendMessageA(host.list, LB_SETCURSEL, 2, 0);
    SetFocus(host.list);
    PumpMessages();
    UpdateWindow(host.dialog);
    RECT client;
    GetClientRect(host.list, &client);
    int rowHeight = static_cast<int>(SendMessageA(host.list, LB_GETITEMHEIGHT, 0, 0));
    int iconRows = rowHeight < 16 ? rowHeight : 16;  // the row clips the icon
    Canvas shown(client.right, client.bottom);
    CaptureClient(host.list, shown);

    Canvas pathIcon(16, 16), subfolderIcon(16, 16);
    DrawReferenceIcon(pathIcon, IDI_PATH_FOLDER, GetSysColor(COLOR_WINDOW));
    DrawReferenceIcon(subfolderIcon, IDI_SUBFOLDER, GetSysColor(COLOR_WINDOW));
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(ListText(host.list, row));
        int indent = row < 3 ? 4 * row : 12;
        EXPECT_EQ(DifferentPixels(shown, indent, row * rowHeight, row < 3 ? pathIcon : subfolderIcon,
                                  0, 0, 16, iconRows), 0);
    }
    int selectedTop = 2 * rowHeight;
    EXPECT_EQ(shown.At(client.right - 2, selectedTop + 1), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(shown.At(client.right - 2, 3 * rowHeight + 1), GetSysColor(COLOR_WINDOW));

    const char *shot = std::getenv("DIRTALLY_SCREENSHOT");
    if (shot && *shot) RunUnix("import -window root " + ShellQuote(shot));

    SetFocus(GetDlgItem(host.dialog, IDC_FILTER));
    PumpMessages();
    UpdateWindow(host.list);
    CaptureClient(host.list, shown);
    EXPECT_EQ(SendMessageA(host.list, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(shown.At(client.right - 2, selectedTop + 1), GetSysColor(COLOR_WINDOW))
        << "without the focus the selected row is painted in window colours";
}

// The child run of the fatal-error test: paints a row with a module that
// holds neither row icon, which must not return.
const char ChildFlag[] = "--paint-without-icons";

int PaintWithoutIcons() {
    ModuleInstance = GetModuleHandleA("kernel32.dll");
    if (FindResourceA(ModuleInstance, MAKEINTRESOURCEA(IDI_PATH_FOLDER), MAKEINTRESOURCEA(14)) ||
        FindResourceA(ModuleInstance, MAKEINTRESOURCEA(IDI_SUBFOLDER), MAKEINTRESOURCEA(14)))
        ExitProcess(3);
    Canvas canvas(50, 16);
    DRAWITEMSTRUCT request = {};
    request.itemID = static_cast<UINT>(-1);
    request.hDC = canvas.dc;
    request.rcItem = {0, 0, 50, 16};
    DrawFolderRow(nullptr, &request);
    ExitProcess(2);
}

const int ChildRun = std::strstr(GetCommandLineA(), ChildFlag) ? PaintWithoutIcons() : 0;

TEST(FatalInternalError, MissingIconsEndTheProcessAfterTheMessage) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string line = "\"" + std::string(exe) + "\" " + ChildFlag;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child));
    BoxAnswerer boxes({IDOK}, child.dwProcessId);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    EXPECT_EQ(code, 0xFFFFFFFFu) << "exit code -1";
    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u) << "the message comes before the end";
    EXPECT_EQ(seen[0].text, "The internal error");
    EXPECT_EQ(seen[0].caption, "Dirtally 1.1");
    EXPECT_EQ(ChildRun, 0);
}

}  // namespace
