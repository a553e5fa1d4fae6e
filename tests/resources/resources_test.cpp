// The program's compiled resources: both dialog templates field by field, the inventory and its languages,
// the sort buttons' radio group as the dialog manager builds it, and the icons against their text grids.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"
#include "support.h"

// The bytes of one of the program's resources in exactly this language.
static std::vector<BYTE> ResourceBytes(LPCSTR type, WORD id, WORD language) {
    HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), language);
    const BYTE *data = found ? static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found))) : nullptr;
    return data ? std::vector<BYTE>(data, data + SizeofResource(nullptr, found)) : std::vector<BYTE>();
}

// Code units as bytes ('?' if wider), line feeds as "\n"; `about` stars the free author and contact lines (4, 5).
static std::string Shown(const std::u16string &text, bool about = false) {
    std::string out;
    for (size_t i = 0, feeds = 0; i < text.size(); feeds += text[i++] == u'\n')
        if (text[i] == u'\n') out += "\\n";
        else if (!about || feeds < 3 || feeds > 4) out += text[i] < 0x100 ? char(text[i]) : '?';
        else if (out.back() != '*') out += '*';
    return out;
}

// A dialog header or control, printed alike from a compiled template and from the table below.
struct Item { DWORD style, exStyle; int x, y, cx, cy, id; std::string type, text; };
static std::ostream &operator<<(std::ostream &out, const Item &i) {
    return out << std::hex << "style " << i.style << " ex " << i.exStyle << std::dec << " at " << i.x << "," << i.y
               << " size " << i.cx << "x" << i.cy << " id " << i.id << " class " << i.type << " text " << i.text;
}

// One of the program's dialogs as text: a line for the header (its class shows its menu and window class), then
// one per control, each on a 4-byte boundary. C++17 evaluates braces and << operands from left to right.
static std::string TemplateText(WORD id) {
    const std::vector<BYTE> d = ResourceBytes(RT_DIALOG, id, MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    size_t at = 0;  // reads past the end leave zeros, and the check at the end notices them
    auto read = [&](auto v) { if ((at += sizeof v) <= d.size()) std::memcpy(&v, &d[at - sizeof v], sizeof v); return v; };
    auto word = [&] { return read(WORD(0)); };
    auto text = [&](WORD unit) { std::u16string s; for (; unit != 0; unit = word()) s += char16_t(unit); return s; };
    auto field = [&](bool about) { WORD w = word(); return w == 0xFFFF ? "#" + std::to_string(word()) : Shown(text(w), about); };
    const DLGTEMPLATE t = read(DLGTEMPLATE{});
    std::ostringstream out;
    out << Item{t.style, t.dwExtendedStyle, t.x, t.y, t.cx, t.cy, id, field(false).append(field(false)),
                Shown(text(word()))} << " font " << word() << " " << Shown(text(word())) << "\n";
    for (WORD i = 0, extra = 0; i < t.cdit && (at = (at + 3) & ~size_t(3)) <= d.size(); ++i, at += extra) {
        const DLGITEMTEMPLATE c = read(DLGITEMTEMPLATE{});
        out << Item{c.style, c.dwExtendedStyle, c.x, c.y, c.cx, c.cy, c.id, field(false), field(c.id == IDC_ABOUT_TEXT)}
            << " extra " << (extra = word()) << "\n";
    }
    if (d.empty() || at > d.size()) out << "missing in language 1049, or ends early\n";
    return out.str();
}

const DWORD kCheck = WS_TABSTOP | BS_AUTOCHECKBOX, kPush = WS_TABSTOP | BS_PUSHBUTTON, kRadio = BS_AUTORADIOBUTTON;
const DWORD kField = WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
const DWORD kDialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;

// Each dialog (no class), then its controls in template order (the tab order): class, style, rectangle, TCVN3 text.
struct Row { WORD id; const char *type; DWORD style; short x, y, cx, cy; const char16_t *text; };
const Row kDialogs[] = {
    {IDD_MAIN, "", kDialog, 0, 0, 292, 241, u"Dirtally 1.1"},
    {IDC_FOLDER_LIST, "LISTBOX", WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS
     | LBS_NOINTEGRALHEIGHT, 5, 35, 140, 140, u""},  // owner-drawn, keeps its strings, unsorted
    {IDC_CREATE, "BUTTON", kPush, 35, 215, 80, 20, u"&T\u00B9o"},  // no default button in the dialog
    {IDC_EXIT, "BUTTON", kPush, 170, 215, 80, 20, u"T&ho\u00B8t"},  // Alt+H, not its first letter
    {IDC_INCLUDE_SUBFOLDERS, "BUTTON", kCheck, 165, 40, 115, 10, u"Bao g\u00E5m c\u00B6 th\u00AD m\u00F4c con"},
    {IDC_OUTPUT_FILE, "EDIT", kField, 5, 190, 210, 12, u""},
    {IDC_BROWSE, "BUTTON", kPush, 220, 190, 60, 15, u"T\u00D7m..."},
    {IDC_PATH_LABEL, "STATIC", WS_GROUP | SS_LEFT, 5, 25, 135, 10, u"\u00A7\u00AD\u00EAng d\u00C9n:"},
    {IDC_SAVE_LABEL, "STATIC", WS_GROUP | SS_LEFT, 5, 180, 130, 10, u"L\u00ADu:"},
    {IDC_DRIVE_LABEL, "STATIC", WS_GROUP | SS_RIGHT, 5, 7, 25, 10, u"\u00A7\u00DCa:"},
    {IDC_DRIVE_COMBO, "COMBOBOX", WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT, 35, 5, 110, 185, u""},
    {IDC_OPTIONS_GROUP, "BUTTON", BS_GROUPBOX, 155, 5, 130, 110, u"L\u00F9a ch\u00E4n"},
    {IDC_FILTER_LABEL, "STATIC", WS_GROUP | SS_RIGHT, 160, 20, 40, 10, u"L\u00E4c Files:"},  // opens the sort group
    {IDC_FILTER, "EDIT", kField, 206, 20, 65, 12, u""},
    {IDC_SAVE_MAIN_PATH, "BUTTON", kCheck, 165, 70, 115, 10, u"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n ch\u00DDnh"},
    {IDC_SAVE_DETAILS, "BUTTON", kCheck, 165, 100, 115, 10, u"L\u00ADu th\u00ABng tin chi ti\u00D5t"},
    {IDC_SORT_GROUP, "BUTTON", BS_GROUPBOX, 155, 125, 130, 50, u"S\u00BEp x\u00D5p Files"},  // no WS_GROUP
    {IDC_SORT_NAME, "BUTTON", kRadio, 165, 140, 60, 10, u"by name"},  // the sort buttons have no tab stop
    {IDC_SORT_EXTENSION, "BUTTON", kRadio, 165, 155, 60, 10, u"by extension"},
    {IDC_SORT_SIZE, "BUTTON", kRadio | BS_LEFT, 235, 140, 45, 10, u"by size"},  // only size has BS_LEFT
    {IDC_SORT_DATE, "BUTTON", kRadio, 235, 156, 45, 10, u"by date"},  // one unit below extension
    {IDC_INCLUDE_FILES, "BUTTON", kCheck, 165, 55, 115, 10, u"Bao g\u00E5m c\u00B6 Files"},  // late, second on screen
    {IDC_SAVE_FOLDER_PATH, "BUTTON", kCheck, 165, 85, 115, 10, u"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n theo th\u00AD m\u00F4c"},
    {IDD_ABOUT, "", kDialog, 0, 0, 197, 76, u"Th\u00ABng tin v\u00D2 Quillomat"},
    {IDOK, "BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, 74, 55, 50, 14, u"\u00A7\u00E3ng"},  // the only button
    {IDC_ABOUT_ICON, "STATIC", SS_ICON, 15, 20, 20, 20, u"#101"},  // names the application icon by number
    {IDC_ABOUT_TEXT, "STATIC", WS_GROUP | SS_CENTER, 40, 5, 150, 45,  // seven lines, by line feeds alone
     u"-- Quillomat --\nC\u00ABng c\u00F4 t\u00B9o list cho c\u00B8c CD nh\u00B9c, ph\u00C7n m\u00D2m...\n\n*\n*\n\n"},
};

// Appends " type:" for each resource type, " name" for each resource, "/language" for each of its languages.
static BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
    *reinterpret_cast<std::string *>(out) += "/" + std::to_string(language);
    return TRUE;
}
static BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR out) {
    *reinterpret_cast<std::string *>(out) += IS_INTRESOURCE(name) ? " " + std::to_string(ULONG_PTR(name)) : " ?";
    return EnumResourceLanguagesA(module, type, name, AddLanguage, out);
}
static BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR out) {
    *reinterpret_cast<std::string *>(out) += IS_INTRESOURCE(type) ? " " + std::to_string(ULONG_PTR(type)) + ":" : " ?:";
    return EnumResourceNamesA(module, type, AddName, out);
}

// A file of res/icons (found from this source file's path) without its comment lines and carriage returns.
static std::string IconFile(const std::string &name) {
    const std::string path = UnixToWindows(std::string(__FILE__) + "/../../../res/icons/" + name);
    return std::regex_replace(ReadWholeFile(path), std::regex("#[^\n]*\n|\r"), "");
}

TEST(Resources, TemplatesInventoryRadioGroupAndIcons) {
    std::ostringstream expected;
    for (const Row &r : kDialogs)  // every control has WS_CHILD and WS_VISIBLE
        expected << Item{*r.type ? WS_CHILD | WS_VISIBLE | r.style : r.style, 0, r.x, r.y, r.cx, r.cy, r.id, r.type,
                         Shown(r.text)} << (*r.type ? " extra 0\n" : " font 8 ABC Sans Serif\n");
    EXPECT_EQ(TemplateText(IDD_MAIN) + TemplateText(IDD_ABOUT), expected.str());

    std::string inventory;  // images 1-4 and icon groups 101, 103, 104 in US English; dialogs Russian-tagged
    EnumResourceTypesA(nullptr, AddType, reinterpret_cast<LONG_PTR>(&inventory));
    EXPECT_EQ(inventory, " 3: 1/1033 2/1033 3/1033 4/1033 5: 102/1049 105/1049 14: 101/1033 103/1033 104/1033");

    // With no dialog procedure, each click leaves only the clicked sort button checked, across both columns.
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, nullptr, 0);
    for (int clicked : {IDC_SORT_SIZE, IDC_SORT_EXTENSION, IDC_SORT_DATE, IDC_SORT_DATE, IDC_SORT_NAME}) {
        SendDlgItemMessageA(dialog, clicked, BM_CLICK, 0, 0);
        for (int sort = IDC_SORT_NAME; sort <= IDC_SORT_DATE; ++sort)
            EXPECT_EQ(IsDlgButtonChecked(dialog, sort), UINT(sort == clicked)) << sort << " after a click on " << clicked;
    }
    DestroyWindow(dialog);

    // Icons: 4-bit images with the 16 standard colours (0x00RRGGBB, index order) and a mask, drawn as the grids.
    const std::vector<DWORD> standard = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
        0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    const std::string characters = std::regex_replace(IconFile("legend.txt"), std::regex(" .*\n"), "");
    ASSERT_EQ(characters.size(), 16u) << "legend.txt: a line per palette index in order, its grid character first";
    const char *grids[] = {"app32.txt", "app16.txt", "subfolder.txt", "pathfolder.txt"};  // 101 large, small; 103; 104
    for (WORD image = 1; image <= 4; ++image) {
        SCOPED_TRACE(grids[image - 1]);
        const size_t n = image == 1 ? 32 : 16, xorAt = sizeof(BITMAPINFOHEADER) + 16 * 4, andAt = xorAt + n * n / 2;
        const std::vector<BYTE> bytes = ResourceBytes(RT_ICON, image, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        ASSERT_EQ(bytes.size(), andAt + 4 * n) << "header, 16 colours, colour bitmap, mask rows of 4 bytes";
        const BITMAPINFOHEADER &h = *reinterpret_cast<const BITMAPINFOHEADER *>(bytes.data());  // mask doubles height
        EXPECT_EQ(std::vector<LONG>({LONG(h.biSize), h.biWidth, h.biHeight, h.biPlanes, h.biBitCount, LONG(h.biCompression),
                                     LONG(h.biClrUsed % 16)}), std::vector<LONG>({40, LONG(n), LONG(2 * n), 1, 4, BI_RGB, 0}));
        const DWORD *quads = reinterpret_cast<const DWORD *>(&bytes[sizeof h]);  // RGBQUADs read as 0x00RRGGBB
        EXPECT_EQ(std::vector<DWORD>(quads, quads + 16), standard);
        std::string decoded;  // rows lie bottom-up; a transparent pixel needs colour 0 ('!' if not), or it inverts
        for (size_t y = n; y-- > 0; decoded += '\n')
            for (size_t x = 0; x < n; ++x) {
                const size_t colour = size_t(bytes[xorAt + y * n / 2 + x / 2] >> (x % 2 ? 0 : 4) & 0x0F);
                decoded += bytes[andAt + y * 4 + x / 8] >> (7 - x % 8) & 1 ? (colour ? '!' : '.') : characters[colour];
            }
        EXPECT_EQ(decoded, IconFile(grids[image - 1]));
    }
}
