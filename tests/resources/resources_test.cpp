// The program's compiled resources, each in its own language: both dialog templates, and the icons against their grids.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <regex>
#include <sstream>

#include "resource.h"
#include "support.h"
#include "version.h"

// The bytes of one of the program's resources in exactly this language.
static std::vector<BYTE> ResourceBytes(LPCSTR type, WORD id, WORD language) {
    HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), language);  // null, then no data
    const BYTE *data = found ? static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found))) : nullptr;
    return std::vector<BYTE>(data, data + (data ? SizeofResource(nullptr, found) : 0));
}

// A Russian-tagged dialog as text, a line for its header (menu and class as its class, then its font) and one
// for each control in tab order: id, class, style, text; where and how large is the layout's business, not
// the code's. Code units as bytes, '?' if wider.
static std::string TemplateText(WORD id) {
    const std::vector<BYTE> d = ResourceBytes(RT_DIALOG, id, MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    size_t at = 0;  // reads past the end leave zeros, and the check at the end notices them
    auto read = [&](auto v) { if ((at += sizeof v) <= d.size()) std::memcpy(&v, &d[at - sizeof v], sizeof v); return v; };
    auto word = [&] { return read(WORD(0)); };
    auto text = [&](WORD unit) { std::string s; for (; unit != 0; unit = word()) s += unit < 0x100 ? char(unit) : '?'; return s; };
    auto field = [&] { WORD w = word(); return w == 0xFFFF ? "#" + std::to_string(word()) : text(w); };
    const DLGTEMPLATE t = read(DLGTEMPLATE{});
    std::ostringstream out;  // C++17 evaluates << operands from left to right
    out << std::hex << id << " " << field() << field() << " " << t.style << " " << text(word()) << " font " << word()
        << " " << text(word()) << "\n";
    for (WORD i = 0; i < t.cdit && (at = (at + 3) & ~size_t(3)) <= d.size(); ++i, at += word()) {  // skips extra bytes
        const DLGITEMTEMPLATE c = read(DLGITEMTEMPLATE{});
        out << c.id << " " << field() << " " << c.style << " " << field() << "\n";
    }
    if (d.empty() || at > d.size()) out << "missing in language 1049, or ends early\n";
    return out.str();
}

const DWORD kChild = WS_CHILD | WS_VISIBLE, kStatic = kChild | WS_GROUP, kRadio = kChild | BS_AUTORADIOBUTTON;
const DWORD kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX, kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
const DWORD kDialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;  // centred, system menu
struct Item { int id; const char *type; DWORD style; std::string text; };

// Each dialog (no class, the TCVN3 font its captions need), then its controls in tab order; TCVN3 text as octal bytes.
const Item kDialogs[] = {
    {IDD_MAIN, "", kDialog, PROGRAM_TITLE},
    {IDC_FOLDER_LIST, "LISTBOX", kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS
     | LBS_NOINTEGRALHEIGHT, ""},  // owner-drawn, keeps its strings, unsorted, tells of double clicks
    {IDC_CREATE, "BUTTON", kPush, "&T\271o"},  // no default button in the dialog
    {IDC_EXIT, "BUTTON", kPush, "T&ho\270t"},  // Alt+H, not its first letter
    {IDC_INCLUDE_SUBFOLDERS, "BUTTON", kCheck, "Bao g\345m c\266 th\255 m\364c con"},
    {IDC_OUTPUT_FILE, "EDIT", kEdit, ""},
    {IDC_BROWSE, "BUTTON", kPush, "T\327m..."},
    {IDC_PATH_LABEL, "STATIC", kStatic | SS_LEFT, "\247\255\352ng d\311n:"},
    {IDC_SAVE_LABEL, "STATIC", kStatic | SS_LEFT, "L\255u:"},
    {IDC_DRIVE_LABEL, "STATIC", kStatic | SS_RIGHT, "\247\334a:"},
    {IDC_DRIVE_COMBO, "COMBOBOX", kChild | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT, ""},  // drives in order
    {IDC_OPTIONS_GROUP, "BUTTON", kChild | BS_GROUPBOX, "L\371a ch\344n"},
    {IDC_FILTER_LABEL, "STATIC", kStatic | SS_RIGHT, "L\344c Files:"},  // opens the group of the sort buttons
    {IDC_FILTER, "EDIT", kEdit, ""},
    {IDC_SAVE_MAIN_PATH, "BUTTON", kCheck, "L\255u \256\255\352ng d\311n ch\335nh"},
    {IDC_SAVE_DETAILS, "BUTTON", kCheck, "L\255u th\253ng tin chi ti\325t"},
    {IDC_SORT_GROUP, "BUTTON", kChild | BS_GROUPBOX, "S\276p x\325p Files"},  // no WS_GROUP: the group goes on
    {IDC_SORT_NAME, "BUTTON", kRadio, "by name"},  // the sort buttons: one group, no tab stop
    {IDC_SORT_EXTENSION, "BUTTON", kRadio, "by extension"},
    {IDC_SORT_SIZE, "BUTTON", kRadio | BS_LEFT, "by size"},
    {IDC_SORT_DATE, "BUTTON", kRadio, "by date"},
    {IDC_INCLUDE_FILES, "BUTTON", kCheck, "Bao g\345m c\266 Files"},  // late in tab order, second on screen
    {IDC_SAVE_FOLDER_PATH, "BUTTON", kCheck, "L\255u \256\255\352ng d\311n theo th\255 m\364c"},
    {IDD_ABOUT, "", kDialog, "Th\253ng tin v\322 Quillomat"},
    {IDOK, "BUTTON", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, "\247\343ng"},  // the only button, Enter's
    {IDC_ABOUT_ICON, "STATIC", kChild | SS_ICON, "#" + std::to_string(IDI_APP)},  // names the icon by number
    {IDC_ABOUT_TEXT, "STATIC", kStatic | SS_CENTER, "-- Quillomat --\nC\253ng c\364 t\271o list cho c\270c CD nh\271c, "
     "ph\307n m\322m...\n\nDirtally developers\nBug reports: see the project's README\n\n"},  // seven lines, by line feeds
};

// Both dialogs as the table says; each icon group's images (US English) as its grids draw them in legend.txt's letters.
TEST(Resources, TemplatesAndIcons) {
    std::ostringstream expected;
    for (const Item &row : kDialogs)
        expected << std::hex << row.id << " " << row.type << " " << row.style << " " << row.text
                 << (*row.type ? "\n" : " font 8 ABC Sans Serif\n");
    EXPECT_EQ(TemplateText(IDD_MAIN) + TemplateText(IDD_ABOUT), expected.str());
    std::string decoded, grids, letters = "KMGONPTSDRLYBFAW";  // letters: legend.txt's, by palette index
    for (const char *grid : {"app32.txt", "app16.txt", "subfolder.txt", "pathfolder.txt"})  // IDI_APP's two, then one each
        grids += ReadWholeFile(UnixToWindows(std::string(__FILE__) + "/../../../res/icons/" + grid));
    const WORD us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    for (int group : {IDI_APP, IDI_SUBFOLDER, IDI_PATH_FOLDER})  // a group: 6 bytes, then 14 per image, its number last
        for (auto d = ResourceBytes(RT_GROUP_ICON, WORD(group), us); d.size() >= 20; d.erase(d.begin() + 6, d.begin() + 20)) {
            const size_t n = d[6], xorAt = sizeof(BITMAPINFOHEADER) + 16 * 4, andAt = xorAt + n * n / 2;
            const std::vector<BYTE> bytes = ResourceBytes(RT_ICON, WORD(d[18] | d[19] << 8), us);
            ASSERT_EQ(bytes.size(), andAt + 4 * n) << group << ": header, 16 colours, colour bitmap, mask rows of 4 bytes";
            const DWORD *words = reinterpret_cast<const DWORD *>(bytes.data());  // 4 bits, the 16 standard colours
            EXPECT_EQ(std::vector<DWORD>(words, words + 26), std::vector<DWORD>({40, DWORD(n), DWORD(2 * n), 1 | 4 << 16,
                BI_RGB, DWORD(andAt + 4 * n - xorAt), 0, 0, 0, 0, 0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF})) << group;
            for (size_t y = n; y-- > 0; decoded += '\n')  // bottom-up; a transparent pixel not of colour 0 inverts: '!'
                for (size_t x = 0; x < n; ++x) {
                    const size_t colour = size_t(bytes[xorAt + y * n / 2 + x / 2] >> (x % 2 ? 0 : 4) & 0x0F);
                    decoded += bytes[andAt + y * 4 + x / 8] >> (7 - x % 8) & 1 ? (colour ? '!' : '.') : letters[colour];
                }
        }
    EXPECT_EQ(decoded, std::regex_replace(grids, std::regex("#[^\n]*\n|\r"), "")) << "the grids without their comments";
}
