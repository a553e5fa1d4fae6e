// The dialogs' captions with and without the TCVN3 font, and where the message font lacks Vietnamese letters, from
// the real templates and dialog procedures; the chart.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app.h"
#include "captions.h"
#include "program.h"
#include "resource.h"
#include "support.h"
#include "version.h"

// One caption (id 0: the dialog's title) as a reader should see it without the font: each kind of control and both
// titles, the last control, and every TCVN3 code the templates use (the resource test holds each caption's bytes).
static const struct { int dialog, id; const wchar_t *legible; const char *why; } kCaptions[] = {
    {IDD_MAIN, IDC_BROWSE, L"T\u00ECm...", "a push button: i grave"}, {IDD_MAIN, IDC_DRIVE_LABEL, L"\u0110\u0129a:", "a static"},
    {IDD_MAIN, IDC_OPTIONS_GROUP, L"L\u1EF1a ch\u1ECDn", "a group box: u horn dot, o dot"},
    {IDD_MAIN, IDC_SAVE_MAIN_PATH, L"L\u01B0u \u0111\u01B0\u1EDDng d\u1EABn ch\u00EDnh", "u horn not a soft hyphen, i acute"},
    {IDD_MAIN, IDC_SORT_GROUP, L"S\u1EAFp x\u1EBFp Files", "a breve acute, e circ acute"},
    {IDD_MAIN, IDC_INCLUDE_FILES, L"Bao g\u1ED3m c\u1EA3 Files", "a check box: o circ grave, a hook"},
    {IDD_MAIN, IDC_SAVE_FOLDER_PATH, L"L\u01B0u \u0111\u01B0\u1EDDng d\u1EABn theo th\u01B0 m\u1EE5c", "the last control"},
    {IDD_MAIN, 0, L"" PROGRAM_TITLE, "the English title stays"}, {IDD_ABOUT, IDOK, L"\u0110\u00F3ng", "o acute"},
    {IDD_ABOUT, 0, L"Th\u00F4ng tin v\u1EC1 Quillomat", "the About title: e circ grave is outside the code page"},
    {IDD_ABOUT, IDC_ABOUT_TEXT, L"-- Quillomat --\nC\u00F4ng c\u1EE5 t\u1EA1o list cho c\u00E1c CD nh\u1EA1c, "
     L"ph\u1EA7n m\u1EC1m...\n\nDirtally developers\nBug reports: see the project's README\n\n", "line feeds stay"},
};

static std::wstring TextOf(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}
// Whether `font` (not the system's default) has a glyph for every letter of `text` (line breaks are not drawn).
static bool HasEveryLetter(HFONT font, const std::wstring &text) {
    if (!font) return false;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size() + 1);
    bool all = GetGlyphIndicesW(dc, text.c_str(), int(text.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) !=
               GDI_ERROR;
    for (size_t i = 0; i < text.size(); ++i) all = all && (text[i] < L' ' || glyphs[i] != 0xFFFF);
    SelectObject(dc, previous);
    DeleteDC(dc);
    return all;
}
static HFONT FontOf(HWND window) { return HFONT(SendMessageW(window, WM_GETFONT, 0, 0)); }
static std::wstring FaceOf(HWND window) {
    LOGFONTW font = {};
    GetObjectW(FontOf(window), sizeof font, &font);
    return font.lfFaceName;
}

// A procedure that leaves the template as it is.
static INT_PTR CALLBACK PlainProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// Both dialogs made modeless from their templates, by the program's procedures or by `plain` ones.
struct Dialogs {
    explicit Dialogs(bool plain = false)
        : main(CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN),
                                  nullptr, plain ? PlainProc : MainDialogProc, 0)),
          about(CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), main,
                                   plain ? PlainProc : AboutDialogProc, 0)) {}
    ~Dialogs() { DestroyWindow(main); }  // the About dialog, owned, goes with it
    HWND Of(int dialog, int id) const { return id ? GetDlgItem(Of(dialog, 0), id) : dialog == IDD_MAIN ? main : about; }
    HWND main, about;
};

// Without the font every caption reads as Vietnamese in a font that has all its letters, the message font where
// that has them (the folder list keeps the template's), and that font is freed with the dialog.
TEST(Captions, WithoutTheFontEveryCaptionReadsAsVietnameseInTheDialogFont) {
    ASSERT_FALSE(TcvnFontPresent()) << "a TCVN3 font is installed on this machine";
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    HFONT font = nullptr, message = CreateFontIndirectW(&metrics.lfMessageFont);
    {
        Dialogs dialogs;
        for (const auto &row : kCaptions) {
            SCOPED_TRACE(row.why);
            EXPECT_TRUE(TextOf(dialogs.Of(row.dialog, row.id)) == row.legible);
            EXPECT_TRUE(!row.id || HasEveryLetter(FontOf(dialogs.Of(row.dialog, row.id)), row.legible));
            EXPECT_TRUE(!row.id || FaceOf(dialogs.Of(row.dialog, row.id)) == metrics.lfMessageFont.lfFaceName ||
                        !HasEveryLetter(message, row.legible));
        }
        EXPECT_TRUE(FaceOf(dialogs.Of(IDD_MAIN, IDC_FOLDER_LIST)) == L"ABC Sans Serif");
        font = FontOf(dialogs.Of(IDD_MAIN, IDC_CREATE));
        EXPECT_NE(GetObjectType(font), 0u);
    }
    EXPECT_EQ(GetObjectType(font), 0u) << "the dialog font is freed with the dialog";
    DeleteObject(message);
}

// With a font of that family registered (a free font renamed at build time) the captions keep the template's
// code units and font. In a process of its own: Wine keeps the face it once found for a request.
TEST(Captions, WithTheFontInstalledTheTemplatesStayAsTheyAre) {
#ifndef DIRTALLY_TEST_FONT
    GTEST_SKIP() << "no font could be renamed at build time (python3-fonttools and DejaVu Sans are needed)";
#else
    EXPECT_EXIT(([] {
        std::string path = UnixToWindows(DIRTALLY_TEST_FONT), report;
        if (!AddFontResourceExA(path.c_str(), FR_PRIVATE, nullptr)) report = "not registered: " + path;
        report += TcvnFontPresent() ? "seen; changed:" : "not seen; changed:";
        Dialogs dialogs, plain(true);
        for (const auto &row : kCaptions)
            if (TextOf(dialogs.Of(row.dialog, row.id)) != TextOf(plain.Of(row.dialog, row.id))) report += row.why;
        report += FaceOf(dialogs.Of(IDD_MAIN, IDC_CREATE)) == L"ABC Sans Serif" ? "; its font" : "; another font";
        std::fprintf(stderr, "[%s]\n", report.c_str());
        std::exit(0);
    })(), ::testing::ExitedWithCode(0), "^\\[seen; changed:; its font\\]\n$");
#endif
}

// Where the message font lacks the letters from U+1E00 up, as Wine's own Tahoma does (here a copy of the test font
// without them, named "Tahoma" and made the message font for the while, not saved), every caption is still drawn in
// a font that has all its letters (the titles are drawn by the system, in its caption font). In a process of its
// own: Wine keeps the face it once found for a request, and "MS Shell Dlg" was asked for before any test began.
TEST(Captions, WhereTheMessageFontLacksLettersTheCaptionsTakeAFaceThatHasThem) {
#ifndef DIRTALLY_TEST_FONT
    GTEST_SKIP() << "no font could be renamed at build time (python3-fonttools and DejaVu Sans are needed)";
#else
    const std::string gapped = DIRTALLY_TEST_FONT ".tahoma.ttf", python = R"(import sys
from fontTools.ttLib import TTFont
font = TTFont(sys.argv[1])
for table in font['cmap'].tables: table.cmap = {c: g for c, g in table.cmap.items() if c < 0x1E00}
for record in font['name'].names:
    if record.nameID in (1, 3, 4, 6, 16): record.string = 'Tahoma'
font.save(sys.argv[2]))";
    ASSERT_EQ(0, RunUnix("/usr/bin/python3 -c " + ShellQuote(python) + " " + ShellQuote(DIRTALLY_TEST_FONT) + " " +
                         ShellQuote(gapped)));
    EXPECT_EXIT(([&] {
        AddFontResourceExA(UnixToWindows(gapped).c_str(), FR_PRIVATE, nullptr);
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
        NONCLIENTMETRICSW tahoma = metrics;
        lstrcpynW(tahoma.lfMessageFont.lfFaceName, L"Tahoma", LF_FACESIZE);
        SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, tahoma.cbSize, &tahoma, 0);
        HFONT message = CreateFontIndirectW(&tahoma.lfMessageFont);
        std::string report = HasEveryLetter(message, L"\u1EA1") ? "the message font has them" : "it lacks them";
        DeleteObject(message);
        Dialogs dialogs;
        for (const auto &row : kCaptions)
            if (row.id && !HasEveryLetter(FontOf(dialogs.Of(row.dialog, row.id)), row.legible))
                report += "; " + std::string(row.why);
        SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
        std::fprintf(stderr, "[%s]\n", report.c_str());
        std::exit(0);
    })(), ::testing::ExitedWithCode(0), "^\\[it lacks them\\]\n$");
#endif
}

// The chart's ends, a low letter and a code past it (the captions cover the letters they use); no two codes give
// one letter.
TEST(Captions, TheChartGivesEachCodeItsLetterAndIsOneToOne) {
    const struct { unsigned code; wchar_t letter; const char *why; } letters[] = {
        {0x80, 0x00C0, "the first upper code: A grave"}, {0xFF, 0x1ED0, "the last code: O circ acute"},
        {0x16, 0x00DD, "Y acute among the controls"}, {0x1B3, 0x1B3, "beyond a byte: unchanged"}};
    for (const auto &l : letters) EXPECT_EQ(unsigned(TcvnToUnicode(l.code)), unsigned(l.letter)) << l.why;
    std::set<wchar_t> seen;
    for (unsigned code = 0; code < 256; ++code) {
        wchar_t letter = TcvnToUnicode(code);
        EXPECT_TRUE(seen.insert(letter).second) << "code " << code << " gives a letter another code gives";
        EXPECT_TRUE(code < 0x80 || letter >= 0xA0) << "code " << code << " falls into ASCII or the controls";
    }
}
