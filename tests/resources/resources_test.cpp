// The program's compiled resources: both dialog templates field by field, the
// inventory and its languages, the sort buttons' radio group as the dialog
// manager builds it, and the icons against the text grids they are drawn in.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"
#include "support.h"

namespace {

// The bytes of one of the program's resources in exactly this language.
std::vector<BYTE> ResourceBytes(LPCSTR type, WORD id, WORD primary, WORD sub) {
    HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), MAKELANGID(primary, sub));
    const BYTE *data = found ? static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found))) : nullptr;
    return data ? std::vector<BYTE>(data, data + SizeofResource(nullptr, found)) : std::vector<BYTE>();
}

// Code units as text: printable ASCII as is, line feeds as \n, others as \xNNNN; with
// `aboutText`, the author and contact lines (free to choose) each as "*" when not empty.
std::string Shown(const std::u16string &text, bool aboutText = false) {
    std::string out;
    int line = 0;
    for (char16_t unit : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%04X", unsigned(unit));
        line += unit == u'\n';
        if (aboutText && (line == 3 || line == 4) && unit != u'\n') out += out.back() == '*' ? "" : "*";
        else out += unit == u'\n' ? "\\n" : unit >= 0x20 && unit < 0x7F ? std::string(1, char(unit)) : hex;
    }
    return out;
}

// A template header or control as one line, so that a mismatch shows every field.
std::string Line(DWORD style, DWORD exStyle, int x, int y, int cx, int cy, const std::string &rest) {
    char head[96];
    std::snprintf(head, sizeof head, "style %08lX ex %08lX at %d,%d size %dx%d ", style, exStyle, x, y, cx, cy);
    return head + rest;
}

// The header line and one line per control of one of the program's dialogs.
std::vector<std::string> ParsedTemplate(WORD id) {
    const std::vector<BYTE> data = ResourceBytes(RT_DIALOG, id, LANG_RUSSIAN, SUBLANG_DEFAULT);
    size_t at = 0;  // reads past the end give zeros, and the check at the end notices them
    auto word = [&] { return (at += 2) <= data.size() ? WORD(data[at - 2] | data[at - 1] << 8) : WORD(0); };
    auto dword = [&] { DWORD low = word(); return low | DWORD(word()) << 16; };
    auto text = [&](WORD unit) { std::u16string s; for (; unit != 0; unit = word()) s += char16_t(unit); return s; };
    // A name-or-ordinal field as "#n" or its text; a predefined class named by its name reads as its atom.
    auto field = [&](bool aboutText) {
        const WORD first = word();
        if (first == 0xFFFF) return "#" + std::to_string(word());
        const std::string shown = Shown(text(first), aboutText);
        const char *classes[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
        for (int i = 0; i < 6; ++i)
            if (lstrcmpiA(shown.c_str(), classes[i]) == 0) return "#" + std::to_string(0x80 + i);
        return shown;
    };
    DWORD style = dword(), exStyle = dword();
    const WORD count = word();
    short box[4];
    for (short &value : box) value = short(word());
    std::string rest = "menu '" + field(false);
    rest += "' class '" + field(false);
    rest += "' title " + Shown(text(word()));
    rest += " font " + std::to_string(word());  // DS_SETFONT is expected
    rest += " " + Shown(text(word()));
    std::vector<std::string> lines = {Line(style, exStyle, box[0], box[1], box[2], box[3], rest)};
    for (WORD i = 0; i < count && at <= data.size(); ++i) {
        at = (at + 3) & ~size_t(3);
        style = dword();
        exStyle = dword();
        for (short &value : box) value = short(word());
        const WORD control = word();
        rest = "id " + std::to_string(control) + " class " + field(false);
        rest += " text " + field(control == IDC_ABOUT_TEXT);
        const WORD extra = word();
        at += extra;
        lines.push_back(Line(style, exStyle, box[0], box[1], box[2], box[3], rest + " extra " + std::to_string(extra)));
    }
    if (data.empty() || at > data.size()) lines.push_back("missing in language 1049, or ends early");
    return lines;
}

const WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83, kComboBox = 0x85;
const DWORD kCheck = WS_TABSTOP | BS_AUTOCHECKBOX, kPush = WS_TABSTOP | BS_PUSHBUTTON, kRadio = BS_AUTORADIOBUTTON;

// One control: style beyond WS_CHILD | WS_VISIBLE, and text ("#101" names an icon by number).
struct ControlRow { WORD id, atom; DWORD style; short x, y, cx, cy; const char16_t *text; const char *why; };

// IDD_MAIN in template order, which is also the tab order and the groups.
const ControlRow kMain[] = {
    {IDC_FOLDER_LIST, kListBox, WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS
     | LBS_NOINTEGRALHEIGHT, 5, 35, 140, 140, u"", "owner-drawn, keeps its strings, unsorted"},
    {IDC_CREATE, kButton, kPush, 35, 215, 80, 20, u"&T\u00B9o", "Alt+T; no default button in the dialog"},
    {IDC_EXIT, kButton, kPush, 170, 215, 80, 20, u"T&ho\u00B8t", "Alt+H, not its first letter"},
    {IDC_INCLUDE_SUBFOLDERS, kButton, kCheck, 165, 40, 115, 10, u"Bao g\u00E5m c\u00B6 th\u00AD m\u00F4c con", "TCVN3"},
    {IDC_OUTPUT_FILE, kEdit, WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 5, 190, 210, 12, u"", "output file"},
    {IDC_BROWSE, kButton, kPush, 220, 190, 60, 15, u"T\u00D7m...", "browse"},
    {IDC_PATH_LABEL, kStatic, WS_GROUP | SS_LEFT, 5, 25, 135, 10, u"\u00A7\u00AD\u00EAng d\u00C9n:", "path label"},
    {IDC_SAVE_LABEL, kStatic, WS_GROUP | SS_LEFT, 5, 180, 130, 10, u"L\u00ADu:", "save label"},
    {IDC_DRIVE_LABEL, kStatic, WS_GROUP | SS_RIGHT, 5, 7, 25, 10, u"\u00A7\u00DCa:", "drive label, right-aligned"},
    {IDC_DRIVE_COMBO, kComboBox, WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT, 35, 5, 110, 185, u"",
     "sorted, no typing; 185 is the opened height"},
    {IDC_OPTIONS_GROUP, kButton, BS_GROUPBOX, 155, 5, 130, 110, u"L\u00F9a ch\u00E4n", "options box"},
    {IDC_FILTER_LABEL, kStatic, WS_GROUP | SS_RIGHT, 160, 20, 40, 10, u"L\u00E4c Files:", "the sort buttons' group"},
    {IDC_FILTER, kEdit, WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 206, 20, 65, 12, u"", "filter field"},
    {IDC_SAVE_MAIN_PATH, kButton, kCheck, 165, 70, 115, 10, u"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n ch\u00DDnh",
     "main path"},
    {IDC_SAVE_DETAILS, kButton, kCheck, 165, 100, 115, 10, u"L\u00ADu th\u00ABng tin chi ti\u00D5t", "details"},
    {IDC_SORT_GROUP, kButton, BS_GROUPBOX, 155, 125, 130, 50, u"S\u00BEp x\u00D5p Files", "sort box, no WS_GROUP"},
    {IDC_SORT_NAME, kButton, kRadio, 165, 140, 60, 10, u"by name", "sort buttons have no tab stop"},
    {IDC_SORT_EXTENSION, kButton, kRadio, 165, 155, 60, 10, u"by extension", "left column, lower"},
    {IDC_SORT_SIZE, kButton, kRadio | BS_LEFT, 235, 140, 45, 10, u"by size", "only size has BS_LEFT"},
    {IDC_SORT_DATE, kButton, kRadio, 235, 156, 45, 10, u"by date", "156: one unit below extension"},
    {IDC_INCLUDE_FILES, kButton, kCheck, 165, 55, 115, 10, u"Bao g\u00E5m c\u00B6 Files", "late, but second on screen"},
    {IDC_SAVE_FOLDER_PATH, kButton, kCheck, 165, 85, 115, 10,
     u"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n theo th\u00AD m\u00F4c", "last in the template"},
};
const ControlRow kAbout[] = {
    {IDOK, kButton, WS_TABSTOP | BS_DEFPUSHBUTTON, 74, 55, 50, 14, u"\u00A7\u00E3ng", "the only button, the default"},
    {IDC_ABOUT_ICON, kStatic, SS_ICON, 15, 20, 20, 20, u"#101", "names the application icon by number"},
    {IDC_ABOUT_TEXT, kStatic, WS_GROUP | SS_CENTER, 40, 5, 150, 45,
     u"-- Quillomat --\nC\u00ABng c\u00F4 t\u00B9o list cho c\u00B8c CD nh\u00B9c, ph\u00C7n m\u00D2m...\n\n*\n*\n\n",
     "seven lines joined by line feeds alone, the last two empty"},
};

// Checks a template's header, then its controls row by row.
void ExpectTemplate(WORD id, int cx, int cy, const char16_t *title, const ControlRow *rows, size_t count) {
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    std::vector<std::string> lines = ParsedTemplate(id);
    EXPECT_EQ(lines[0],
              Line(style, 0, 0, 0, cx, cy, "menu '' class '' title " + Shown(title) + " font 8 ABC Sans Serif"));
    ASSERT_EQ(lines.size(), count + 1);
    for (const ControlRow *row = rows; row < rows + count; ++row) {
        SCOPED_TRACE(std::string("control: ") + row->why);
        const std::string rest = "id " + std::to_string(row->id) + " class #" + std::to_string(row->atom);
        EXPECT_EQ(lines[size_t(row - rows) + 1], Line(WS_CHILD | WS_VISIBLE | row->style, 0, row->x, row->y, row->cx,
                                                      row->cy, rest + " text " + Shown(row->text) + " extra 0"));
    }
}

TEST(Templates, BothDialogsFieldByField) {
    ExpectTemplate(IDD_MAIN, 292, 241, u"Dirtally 1.1", kMain, sizeof kMain / sizeof kMain[0]);
    ExpectTemplate(IDD_ABOUT, 197, 76, u"Th\u00ABng tin v\u00D2 Quillomat", kAbout, 3);
}

// Appends "/language" for each language of one resource.
BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
    *reinterpret_cast<std::string *>(out) += "/" + std::to_string(language);
    return TRUE;
}
// Appends " id" and its languages for each resource of one type.
BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR out) {
    *reinterpret_cast<std::string *>(out) += IS_INTRESOURCE(name) ? " " + std::to_string(ULONG_PTR(name)) : " ?";
    return EnumResourceLanguagesA(module, type, name, AddLanguage, out);
}
// Appends " type:" and its resources for each resource type.
BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR out) {
    *reinterpret_cast<std::string *>(out) += IS_INTRESOURCE(type) ? " " + std::to_string(ULONG_PTR(type)) + ":" : " ?:";
    return EnumResourceNamesA(module, type, AddName, out);
}

TEST(Templates, OnlyDialogsAndIconsEachInOneLanguage) {
    std::string inventory;
    EnumResourceTypesA(nullptr, AddType, reinterpret_cast<LONG_PTR>(&inventory));
    // Images 1-4 and icon groups 101, 103, 104 in US English; dialogs 102 and 105 Russian-tagged.
    EXPECT_EQ(inventory, " 3: 1/1033 2/1033 3/1033 4/1033 5: 102/1049 105/1049 14: 101/1033 103/1033 104/1033");
}

// Takes the default focus and nothing else, so that the dialog manager acts alone.
INT_PTR CALLBACK HostProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(Templates, SortButtonsFormOneRadioGroup) {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, HostProc, 0);
    // Each click leaves exactly the clicked sort button checked, across both columns, clicked twice, and back.
    CheckDlgButton(dialog, IDC_SORT_NAME, BST_CHECKED);
    for (int clicked : {IDC_SORT_SIZE, IDC_SORT_EXTENSION, IDC_SORT_DATE, IDC_SORT_DATE, IDC_SORT_NAME}) {
        SendDlgItemMessageA(dialog, clicked, BM_CLICK, 0, 0);
        std::vector<int> checked;
        for (int sort = IDC_SORT_NAME; sort <= IDC_SORT_DATE; ++sort)
            if (IsDlgButtonChecked(dialog, sort)) checked.push_back(sort);
        EXPECT_EQ(checked, std::vector<int>{clicked}) << "after clicking " << clicked;
    }
    DestroyWindow(dialog);
}

// The platform's standard 16-colour palette, in index order (0x00RRGGBB).
const std::vector<DWORD> kStandardColours = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                             0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                             0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// The four images, numbered in the order of their icons 101 (large, then small), 103 and 104.
struct ImageRow { WORD image; int size; const char *grid, *why; };
const ImageRow kImages[] = {
    {1, 32, "app32.txt", "application icon, large image first"},
    {2, 16, "app16.txt", "application icon, small image"},
    {3, 16, "subfolder.txt", "closed folder of subfolder rows"},
    {4, 16, "pathfolder.txt", "open folder of path rows"},
};

// The non-comment lines of a file in res/icons, found from this source file's path.
std::vector<std::string> IconFileLines(const std::string &name) {
    const std::string source = __FILE__, folder = source.substr(0, source.find_last_of("/\\"));
    std::istringstream in(ReadWholeFile(UnixToWindows(folder + "/../../res/icons/" + name)));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line.substr(0, line.find('\r')));
    return lines;
}

TEST(Icons, ImagesAreFourBitStandardPaletteAndDecodeToTheirGrids) {
    std::string characters(16, '?');  // the grid character of each palette index, from legend.txt
    for (const std::string &line : IconFileLines("legend.txt")) {
        unsigned index = 16, rgb = 0;  // a line that does not parse fails at index 16
        char character = '?';
        std::sscanf(line.c_str(), " %c %u %x", &character, &index, &rgb);
        EXPECT_EQ(rgb, kStandardColours.at(index)) << "legend colours are the standard ones: " << line;
        characters.at(index) = character;
    }
    for (const ImageRow &row : kImages) {
        SCOPED_TRACE(std::string(row.grid) + ": " + row.why);
        const size_t n = size_t(row.size), xorStride = (n * 4 + 31) / 32 * 4, andStride = (n + 31) / 32 * 4;
        const size_t xorAt = sizeof(BITMAPINFOHEADER) + 16 * 4, andAt = xorAt + xorStride * n;
        const std::vector<BYTE> bytes = ResourceBytes(RT_ICON, row.image, LANG_ENGLISH, SUBLANG_ENGLISH_US);
        ASSERT_EQ(bytes.size(), andAt + andStride * n) << "header, 16 colours, colour bitmap, mask";
        const BITMAPINFOHEADER &h = *reinterpret_cast<const BITMAPINFOHEADER *>(bytes.data());
        const std::vector<LONG> header = {LONG(h.biSize), h.biWidth, h.biHeight, h.biPlanes, h.biBitCount,
                                          LONG(h.biCompression), LONG(h.biClrUsed % 16)};  // 0 or 16: all colours
        EXPECT_EQ(header, std::vector<LONG>({40, row.size, 2 * row.size, 1, 4, BI_RGB, 0})) << "mask doubles the height";
        const DWORD *quads = reinterpret_cast<const DWORD *>(&bytes[sizeof h]);  // RGBQUADs read as 0x00RRGGBB
        EXPECT_EQ(std::vector<DWORD>(quads, quads + 16), kStandardColours);
        // Rows are stored bottom-up; a transparent pixel must have colour 0 ('!' if not), or it inverts the background.
        std::string decoded, expected;
        for (size_t y = n; y-- > 0; decoded += '\n')
            for (size_t x = 0; x < n; ++x) {
                const int colour = bytes[xorAt + y * xorStride + x / 2] >> (x % 2 ? 0 : 4) & 0x0F;
                const bool transparent = bytes[andAt + y * andStride + x / 8] >> (7 - x % 8) & 1;
                decoded += transparent ? (colour == 0 ? '.' : '!') : characters[size_t(colour)];
            }
        for (const std::string &line : IconFileLines(row.grid)) expected += line + '\n';
        EXPECT_EQ(decoded, expected);
    }
}

}  // namespace
