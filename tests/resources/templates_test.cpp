// Checks the dialog templates as they are compiled into the program: the
// resource inventory and languages, every control of both templates, and
// the main dialog as the dialog manager builds it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resource.h"
#include "support.h"

namespace {

const WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Predefined control classes as a template names them by atom.
const WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082, kListBox = 0x0083,
           kComboBox = 0x0085;

// A name-or-ordinal field of a template: either an ordinal or a string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::u16string text;
};

struct ParsedControl {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    NameOrOrdinal windowClass, title;
    WORD extraBytes = 0;
};

struct ParsedDialog {
    bool extended = false;
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu, windowClass;
    std::u16string title;
    WORD pointSize = 0;
    std::u16string fontName;
    std::vector<ParsedControl> controls;
};

// Reads 16-bit units from a template, failing the test instead of reading
// past the end of the resource.
class TemplateReader {
public:
    TemplateReader(const BYTE *data, size_t size) : data_(data), size_(size) {}

    WORD Word() {
        if (offset_ + 2 > size_) {
            overrun_ = true;
            return 0;
        }
        WORD value = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
        offset_ += 2;
        return value;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    std::u16string String() {
        std::u16string text;
        for (WORD unit = Word(); unit != 0 && !overrun_; unit = Word()) {
            text.push_back(static_cast<char16_t>(unit));
        }
        return text;
    }
    NameOrOrdinal Field() {
        NameOrOrdinal field;
        WORD first = Word();
        if (first == 0xFFFF) {
            field.isOrdinal = true;
            field.ordinal = Word();
        } else if (first != 0) {
            field.text.push_back(static_cast<char16_t>(first));
            field.text += String();
        }
        return field;
    }
    void AlignDword() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t bytes) { offset_ += bytes; }
    bool Overrun() const { return overrun_ || offset_ > size_; }
    size_t Offset() const { return offset_; }

private:
    const BYTE *data_;
    size_t size_;
    size_t offset_ = 0;
    bool overrun_ = false;
};

// Finds a resource of this program in exactly one language and gives its bytes.
std::vector<BYTE> LoadResourceBytes(LPCSTR type, WORD id, WORD language) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), language);
    if (found == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE *data = static_cast<const BYTE *>(LockResource(loaded));
    DWORD size = SizeofResource(module, found);
    return data == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(data, data + size);
}

// Parses a plain dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs).
ParsedDialog ParseDialog(const std::vector<BYTE> &bytes) {
    ParsedDialog dialog;
    TemplateReader in(bytes.data(), bytes.size());
    dialog.style = in.Dword();
    if (dialog.style == 0xFFFF0001) {
        dialog.extended = true;
        return dialog;
    }
    dialog.exStyle = in.Dword();
    WORD count = in.Word();
    dialog.x = in.Short();
    dialog.y = in.Short();
    dialog.cx = in.Short();
    dialog.cy = in.Short();
    dialog.menu = in.Field();
    dialog.windowClass = in.Field();
    dialog.title = in.String();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.Word();
        dialog.fontName = in.String();
    }
    for (WORD i = 0; i < count && !in.Overrun(); ++i) {
        in.AlignDword();
        ParsedControl control;
        control.style = in.Dword();
        control.exStyle = in.Dword();
        control.x = in.Short();
        control.y = in.Short();
        control.cx = in.Short();
        control.cy = in.Short();
        control.id = in.Word();
        control.windowClass = in.Field();
        control.title = in.Field();
        control.extraBytes = in.Word();
        in.Skip(control.extraBytes);
        dialog.controls.push_back(control);
    }
    EXPECT_FALSE(in.Overrun()) << "template ends early";
    EXPECT_LE(in.Offset(), bytes.size());
    return dialog;
}

// The name a predefined class atom stands for.
std::u16string ClassNameOfAtom(WORD atom) {
    switch (atom) {
    case 0x0080: return u"BUTTON";
    case 0x0081: return u"EDIT";
    case 0x0082: return u"STATIC";
    case 0x0083: return u"LISTBOX";
    case 0x0084: return u"SCROLLBAR";
    case 0x0085: return u"COMBOBOX";
    }
    return u"?";
}

// ASCII upper case, enough for the predefined class names.
std::u16string Upper(std::u16string text) {
    for (char16_t &c : text) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return text;
}

// A template may name a predefined class by atom or by name; both must be `atom`'s class.
bool IsClass(const NameOrOrdinal &field, WORD atom) {
    if (field.isOrdinal) {
        return field.ordinal == atom;
    }
    return Upper(field.text) == ClassNameOfAtom(atom);
}

// Code units as hex, so a failed caption shows exactly which unit differs.
std::string Units(const std::u16string &text) {
    std::string out;
    char unit[8];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

// Collects every id of one resource type.
BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    auto *ids = reinterpret_cast<std::set<WORD> *>(param);
    ids->insert(IS_INTRESOURCE(name) ? static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)) : 0xFFFF);
    return TRUE;
}

// Collects every resource type present.
BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR param) {
    auto *types = reinterpret_cast<std::set<ULONG_PTR> *>(param);
    types->insert(IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : 0xFFFFFFFF);
    return TRUE;
}

// Collects every language of one resource.
BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD> *>(param)->push_back(language);
    return TRUE;
}

const DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
const DWORD kChild = WS_CHILD | WS_VISIBLE;

struct ControlRow {
    WORD id;
    WORD atom;
    DWORD style;  // beyond WS_CHILD | WS_VISIBLE
    short x, y, cx, cy;
    const char16_t *caption;  // kIconTitle or kTextApart instead of a caption
    const char *why;
};

// Stand-ins for a caption in a row: the control names IDI_APP by number, or
// its text is checked apart from the table.
const char16_t kIconTitle[] = u"(icon)";
const char16_t kTextApart[] = u"(apart)";

// IDD_MAIN in template order, which is also the tab order and the groups.
const ControlRow kMainControls[] = {
    {IDC_FOLDER_LIST, kListBox,
     WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT,
     5, 35, 140, 140, u"", "folder list: owner-drawn, keeps strings, unsorted, first tab stop"},
    {IDC_CREATE, kButton, WS_TABSTOP | BS_PUSHBUTTON, 35, 215, 80, 20, u"&T\u00B9o",
     "create (Tao): Alt+T, not a default button"},
    {IDC_EXIT, kButton, WS_TABSTOP | BS_PUSHBUTTON, 170, 215, 80, 20, u"T&ho\u00B8t", "exit (Thoat): Alt+H"},
    {IDC_INCLUDE_SUBFOLDERS, kButton, WS_TABSTOP | BS_AUTOCHECKBOX, 165, 40, 115, 10,
     u"Bao g\u00E5m c\u00B6 th\u00AD m\u00F4c con", "include subfolders, U+00AD is TCVN3 u-horn"},
    {IDC_OUTPUT_FILE, kEdit, WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 5, 190, 210, 12, u"",
     "output file field"},
    {IDC_BROWSE, kButton, WS_TABSTOP | BS_PUSHBUTTON, 220, 190, 60, 15, u"T\u00D7m...", "browse (Tim...)"},
    {IDC_PATH_LABEL, kStatic, WS_GROUP | SS_LEFT, 5, 25, 135, 10, u"\u00A7\u00AD\u00EAng d\u00C9n:",
     "path label (Duong dan)"},
    {IDC_SAVE_LABEL, kStatic, WS_GROUP | SS_LEFT, 5, 180, 130, 10, u"L\u00ADu:", "save label (Luu)"},
    {IDC_DRIVE_LABEL, kStatic, WS_GROUP | SS_RIGHT, 5, 7, 25, 10, u"\u00A7\u00DCa:", "drive label (Dia)"},
    {IDC_DRIVE_COMBO, kComboBox, WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT, 35, 5, 110, 185, u"",
     "drive drop-down: sorted list, 185 is the opened height"},
    {IDC_OPTIONS_GROUP, kButton, BS_GROUPBOX, 155, 5, 130, 110, u"L\u00F9a ch\u00E4n", "options box (Lua chon)"},
    {IDC_FILTER_LABEL, kStatic, WS_GROUP | SS_RIGHT, 160, 20, 40, 10, u"L\u00E4c Files:",
     "filter label opens the group that holds the sort buttons"},
    {IDC_FILTER, kEdit, WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 206, 20, 65, 12, u"", "filter field"},
    {IDC_SAVE_MAIN_PATH, kButton, WS_TABSTOP | BS_AUTOCHECKBOX, 165, 70, 115, 10,
     u"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n ch\u00DDnh", "save main path"},
    {IDC_SAVE_DETAILS, kButton, WS_TABSTOP | BS_AUTOCHECKBOX, 165, 100, 115, 10,
     u"L\u00ADu th\u00ABng tin chi ti\u00D5t", "save details"},
    {IDC_SORT_GROUP, kButton, BS_GROUPBOX, 155, 125, 130, 50, u"S\u00BEp x\u00D5p Files", "sort box (Sap xep Files)"},
    {IDC_SORT_NAME, kButton, BS_AUTORADIOBUTTON, 165, 140, 60, 10, u"by name", "sort buttons have no tab stop"},
    {IDC_SORT_EXTENSION, kButton, BS_AUTORADIOBUTTON, 165, 155, 60, 10, u"by extension", "left column, lower"},
    {IDC_SORT_SIZE, kButton, BS_AUTORADIOBUTTON | BS_LEFT, 235, 140, 45, 10, u"by size", "only size has BS_LEFT"},
    {IDC_SORT_DATE, kButton, BS_AUTORADIOBUTTON, 235, 156, 45, 10, u"by date", "y 156, one below extension"},
    {IDC_INCLUDE_FILES, kButton, WS_TABSTOP | BS_AUTOCHECKBOX, 165, 55, 115, 10, u"Bao g\u00E5m c\u00B6 Files",
     "include files comes late in the template but sits second on screen"},
    {IDC_SAVE_FOLDER_PATH, kButton, WS_TABSTOP | BS_AUTOCHECKBOX, 165, 85, 115, 10,
     u"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n theo th\u00AD m\u00F4c", "save folder path, last in the template"},
};

// Checks one dialog's controls against a table, row by row.
void ExpectControls(const ParsedDialog &dialog, const ControlRow *rows, size_t count) {
    ASSERT_EQ(dialog.controls.size(), count);
    for (size_t i = 0; i < count; ++i) {
        const ControlRow &row = rows[i];
        const ParsedControl &control = dialog.controls[i];
        SCOPED_TRACE(std::string("control ") + std::to_string(i) + ": " + row.why);
        EXPECT_EQ(control.id, row.id);
        EXPECT_TRUE(IsClass(control.windowClass, row.atom));
        EXPECT_EQ(control.style, kChild | row.style) << std::hex << (control.style ^ (kChild | row.style));
        EXPECT_EQ(control.exStyle, 0u);
        EXPECT_EQ(control.x, row.x);
        EXPECT_EQ(control.y, row.y);
        EXPECT_EQ(control.cx, row.cx);
        EXPECT_EQ(control.cy, row.cy);
        if (row.caption == kIconTitle) {
            EXPECT_TRUE(control.title.isOrdinal) << "the icon is named by number";
            EXPECT_EQ(control.title.ordinal, IDI_APP);
        } else if (row.caption == kTextApart) {
            EXPECT_FALSE(control.title.isOrdinal);
        } else {
            EXPECT_FALSE(control.title.isOrdinal);
            EXPECT_EQ(Units(control.title.text), Units(row.caption));
        }
        EXPECT_EQ(control.extraBytes, 0);
    }
}

// Checks what both templates share: plain form, styles, no menu or class, the font.
void ExpectDialogHeader(const ParsedDialog &dialog, short cx, short cy, const std::u16string &title) {
    ASSERT_FALSE(dialog.extended) << "must be a plain DIALOG, not DIALOGEX";
    EXPECT_EQ(dialog.style, kDialogStyle) << std::hex << (dialog.style ^ kDialogStyle);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, cx);
    EXPECT_EQ(dialog.cy, cy);
    EXPECT_TRUE(!dialog.menu.isOrdinal && dialog.menu.text.empty()) << "no menu";
    EXPECT_TRUE(!dialog.windowClass.isOrdinal && dialog.windowClass.text.empty()) << "no class of its own";
    EXPECT_EQ(Units(dialog.title), Units(title));
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(Units(dialog.fontName), Units(u"ABC Sans Serif"));
}

TEST(ResourceInventory, OnlyDialogsAndIconsInTheirLanguages) {
    HMODULE module = GetModuleHandleA(nullptr);
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<ULONG_PTR> expectedTypes = {reinterpret_cast<ULONG_PTR>(RT_ICON),
                                               reinterpret_cast<ULONG_PTR>(RT_DIALOG),
                                               reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON)};
    EXPECT_EQ(types, expectedTypes) << "no string table, version block, manifest or menu";

    struct TypeRow {
        LPCSTR type;
        std::set<WORD> ids;
        WORD language;
        const char *why;
    };
    const TypeRow rows[] = {
        {RT_DIALOG, {IDD_MAIN, IDD_ABOUT}, kRussian, "both dialogs are Russian-tagged"},
        {RT_GROUP_ICON, {IDI_APP, IDI_SUBFOLDER, IDI_PATH_FOLDER}, kEnglishUs, "icon groups are US English"},
        {RT_ICON, {1, 2, 3, 4}, kEnglishUs, "the four images are US English"},
    };
    for (const TypeRow &row : rows) {
        SCOPED_TRACE(row.why);
        std::set<WORD> ids;
        EnumResourceNamesA(module, row.type, CollectName, reinterpret_cast<LONG_PTR>(&ids));
        EXPECT_EQ(ids, row.ids);
        for (WORD id : row.ids) {
            SCOPED_TRACE("id " + std::to_string(id));
            std::vector<WORD> languages;
            EnumResourceLanguagesA(module, row.type, MAKEINTRESOURCEA(id), CollectLanguage,
                                   reinterpret_cast<LONG_PTR>(&languages));
            EXPECT_EQ(languages, std::vector<WORD>{row.language}) << "exactly one language per entry";
        }
    }
}

TEST(MainTemplate, HeaderAndEveryControl) {
    std::vector<BYTE> bytes = LoadResourceBytes(RT_DIALOG, IDD_MAIN, kRussian);
    ASSERT_FALSE(bytes.empty()) << "IDD_MAIN in language 1049";
    ParsedDialog dialog = ParseDialog(bytes);
    ExpectDialogHeader(dialog, 292, 241, u"Dirtally 1.1");
    ExpectControls(dialog, kMainControls, sizeof kMainControls / sizeof kMainControls[0]);
}

TEST(AboutTemplate, HeaderControlsAndText) {
    std::vector<BYTE> bytes = LoadResourceBytes(RT_DIALOG, IDD_ABOUT, kRussian);
    ASSERT_FALSE(bytes.empty()) << "IDD_ABOUT in language 1049";
    ParsedDialog dialog = ParseDialog(bytes);
    ExpectDialogHeader(dialog, 197, 76, u"Th\u00ABng tin v\u00D2 Quillomat");
    // The About text is checked line by line below.
    const ControlRow rows[] = {
        {IDOK, kButton, WS_TABSTOP | BS_DEFPUSHBUTTON, 74, 55, 50, 14, u"\u00A7\u00E3ng",
         "close (Dong): the only button, the default one"},
        {IDC_ABOUT_ICON, kStatic, SS_ICON, 15, 20, 20, 20, kIconTitle, "icon control"},
        {IDC_ABOUT_TEXT, kStatic, WS_GROUP | SS_CENTER, 40, 5, 150, 45, kTextApart,
         "the About text, centred"},
    };
    ExpectControls(dialog, rows, 3);

    const ParsedControl &text = dialog.controls[2];
    ASSERT_FALSE(text.title.isOrdinal);
    std::vector<std::u16string> lines(1);
    for (char16_t c : text.title.text) {
        if (c == u'\n') {
            lines.emplace_back();
        } else {
            lines.back().push_back(c);
        }
    }
    EXPECT_EQ(text.title.text.find(u'\r'), std::u16string::npos) << "line feeds only";
    ASSERT_EQ(lines.size(), 7u) << "six line feeds";
    EXPECT_EQ(Units(lines[0]), Units(u"-- Quillomat --"));
    EXPECT_EQ(Units(lines[1]), Units(u"C\u00ABng c\u00F4 t\u00B9o list cho c\u00B8c CD nh\u00B9c, ph\u00C7n m\u00D2m..."));
    EXPECT_TRUE(lines[2].empty());
    EXPECT_FALSE(lines[3].empty()) << "author line";
    EXPECT_FALSE(lines[4].empty()) << "contact line";
    EXPECT_TRUE(lines[5].empty());
    EXPECT_TRUE(lines[6].empty()) << "two line feeds end the text";
}

}  // namespace
