// The dialogs' captions with and without the TCVN3 font, from the real templates and
// dialog procedures; the TCVN3 chart.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "app.h"
#include "browser.h"
#include "captions.h"
#include "resource.h"
#include "support.h"

// One caption: where it is (id 0: the dialog's title), as the template stores it, as a reader should see it.
struct CaptionRow {
    int dialog, id;
    const wchar_t *stored, *legible;
    const char *why;
};
static const CaptionRow kCaptions[] = {
    {IDD_MAIN, IDC_CREATE, L"&T\u00B9o", L"&T\u1EA1o", "Tao, mnemonic T kept"},
    {IDD_MAIN, IDC_EXIT, L"T&ho\u00B8t", L"T&ho\u00E1t", "Thoat, mnemonic h kept"},
    {IDD_MAIN, IDC_INCLUDE_SUBFOLDERS, L"Bao g\u00E5m c\u00B6 th\u00AD m\u00F4c con",
     L"Bao g\u1ED3m c\u1EA3 th\u01B0 m\u1EE5c con", "o circumflex grave, a hook, u horn, u dot"},
    {IDD_MAIN, IDC_BROWSE, L"T\u00D7m...", L"T\u00ECm...", "i grave"},
    {IDD_MAIN, IDC_PATH_LABEL, L"\u00A7\u00AD\u00EAng d\u00C9n:", L"\u0110\u01B0\u1EDDng d\u1EABn:",
     "capital D stroke, o horn grave, a circumflex tilde"},
    {IDD_MAIN, IDC_SAVE_LABEL, L"L\u00ADu:", L"L\u01B0u:", "u horn"},
    {IDD_MAIN, IDC_DRIVE_LABEL, L"\u00A7\u00DCa:", L"\u0110\u0129a:", "i tilde"},
    {IDD_MAIN, IDC_OPTIONS_GROUP, L"L\u00F9a ch\u00E4n", L"L\u1EF1a ch\u1ECDn", "a group box: u horn dot, o dot"},
    {IDD_MAIN, IDC_FILTER_LABEL, L"L\u00E4c Files:", L"L\u1ECDc Files:", "o dot"},
    {IDD_MAIN, IDC_SAVE_MAIN_PATH, L"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n ch\u00DDnh",
     L"L\u01B0u \u0111\u01B0\u1EDDng d\u1EABn ch\u00EDnh", "small d stroke, i acute"},
    {IDD_MAIN, IDC_SAVE_DETAILS, L"L\u00ADu th\u00ABng tin chi ti\u00D5t", L"L\u01B0u th\u00F4ng tin chi ti\u1EBFt",
     "o circumflex, e circumflex acute"},
    {IDD_MAIN, IDC_SORT_GROUP, L"S\u00BEp x\u00D5p Files", L"S\u1EAFp x\u1EBFp Files", "a breve acute"},
    {IDD_MAIN, IDC_INCLUDE_FILES, L"Bao g\u00E5m c\u00B6 Files", L"Bao g\u1ED3m c\u1EA3 Files", "a check box"},
    {IDD_MAIN, IDC_SAVE_FOLDER_PATH, L"L\u00ADu \u00AE\u00AD\u00EAng d\u00C9n theo th\u00AD m\u00F4c",
     L"L\u01B0u \u0111\u01B0\u1EDDng d\u1EABn theo th\u01B0 m\u1EE5c", "the longest caption"},
    {IDD_MAIN, IDC_SORT_NAME, L"by name", L"by name", "English stays"},
    {IDD_MAIN, IDC_SORT_DATE, L"by date", L"by date", "English stays"},
    {IDD_MAIN, 0, L"Dirtally 1.1", L"Dirtally 1.1", "the English title stays"},
    {IDD_ABOUT, 0, L"Th\u00ABng tin v\u00D2 Quillomat", L"Th\u00F4ng tin v\u1EC1 Quillomat",
     "the About title: e circumflex grave lies outside the ANSI code page"},
    {IDD_ABOUT, IDOK, L"\u00A7\u00E3ng", L"\u0110\u00F3ng", "o acute"},
    {IDD_ABOUT, IDC_ABOUT_TEXT,
     L"-- Quillomat --\nC\u00ABng c\u00F4 t\u00B9o list cho c\u00B8c CD nh\u00B9c, ph\u00C7n m\u00D2m...\n\n"
     L"Dirtally developers\nBug reports: see the project's README\n\n",
     L"-- Quillomat --\nC\u00F4ng c\u1EE5 t\u1EA1o list cho c\u00E1c CD nh\u1EA1c, ph\u1EA7n m\u1EC1m...\n\n"
     L"Dirtally developers\nBug reports: see the project's README\n\n",
     "seven lines: the line feeds stay"},
};

// The text a window holds, as anyone asking for it (the caption painting too) gets it.
static std::wstring TextOf(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

// The face name of the font a window draws its text with.
static std::wstring FaceOf(HWND window) {
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfFaceName;
}

// Both dialogs made modeless from their templates with the program's own procedures.
struct Dialogs {
    HWND main = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN),
                                   nullptr, MainDialogProc, 0);
    HWND about = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), main, AboutDialogProc, 0);
    ~Dialogs() { DestroyWindow(main); }  // the About dialog, owned, goes with it
    HWND Of(int dialog) const { return dialog == IDD_MAIN ? main : about; }
};

// The captions that do not read as expected, each as "<dialog>/<id>"; "" when all do.
static std::string CaptionsDiffering(const Dialogs &dialogs, bool fontPresent) {
    std::string differing;
    for (const CaptionRow &row : kCaptions) {
        HWND window = row.id ? GetDlgItem(dialogs.Of(row.dialog), row.id) : dialogs.Of(row.dialog);
        if (!window || TextOf(window) != (fontPresent ? row.stored : row.legible))
            differing += " " + std::to_string(row.dialog) + "/" + std::to_string(row.id) + " (" + row.why + ")";
    }
    return differing;
}

TEST(Captions, WithoutTheFontEveryCaptionReadsAsVietnameseInTheDialogFont) {
    ASSERT_FALSE(TcvnFontPresent()) << "a TCVN3 font is installed on this machine";
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    HFONT font = nullptr;
    {
        Dialogs dialogs;
        EXPECT_EQ(CaptionsDiffering(dialogs, false), "") << "captions not in Vietnamese";
        for (const CaptionRow &row : kCaptions) {
            if (!row.id) continue;
            SCOPED_TRACE(row.why);
            EXPECT_TRUE(FaceOf(GetDlgItem(dialogs.Of(row.dialog), row.id)) == metrics.lfMessageFont.lfFaceName);
        }
        EXPECT_TRUE(FaceOf(GetDlgItem(dialogs.main, IDC_FOLDER_LIST)) == std::wstring(L"ABC Sans Serif"))
            << "the folder list keeps the template's font";
        font = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(dialogs.main, IDC_CREATE), WM_GETFONT, 0, 0));
        EXPECT_NE(GetObjectType(font), 0u) << "the font lives as long as the dialog";
    }
    EXPECT_EQ(GetObjectType(font), 0u) << "and is freed with it";
}

#ifdef DIRTALLY_TEST_FONT
// With the renamed font registered: whether the font is seen, the captions that changed, the button's face.
static std::string WithTheFont() {
    std::string path = UnixToWindows(DIRTALLY_TEST_FONT);
    std::wstring widePath(path.begin(), path.end());  // an ASCII path
    if (AddFontResourceExW(widePath.c_str(), FR_PRIVATE, nullptr) == 0) return "not registered: " + path;
    std::string report = TcvnFontPresent() ? "seen" : "not seen";
    {
        Dialogs dialogs;
        report += "; changed:" + CaptionsDiffering(dialogs, true);
        report += FaceOf(GetDlgItem(dialogs.main, IDC_CREATE)) == L"ABC Sans Serif" ? "; its font" : "; another font";
    }
    RemoveFontResourceExW(widePath.c_str(), FR_PRIVATE, nullptr);
    return report;
}
#endif

TEST(Captions, WithTheFontInstalledTheTemplatesStayAsTheyAre) {
#ifndef DIRTALLY_TEST_FONT
    GTEST_SKIP() << "no font could be renamed at build time (python3-fonttools and DejaVu Sans are needed)";
#else
    // In a process of its own: Wine keeps the face it once found for a request, so a process that
    // asked for "ABC Sans Serif" before the font came would still be given the substitute.
    EXPECT_EXIT(([] {
        std::fprintf(stderr, "[%s]\n", WithTheFont().c_str());
        std::fflush(stderr);
        std::exit(0);
    })(), ::testing::ExitedWithCode(0), "^\\[seen; changed:; its font\\]\n$");
#endif
}

TEST(Captions, TheChartGivesEachCaptionLetterAndIsOneToOne) {
    const struct { unsigned code; wchar_t letter; const char *why; } letters[] = {
        {0xA7, 0x0110, "capital D stroke"},    {0xAE, 0x0111, "small d stroke"},
        {0xAB, 0x00F4, "o circumflex"},        {0xAD, 0x01B0, "u horn, not a soft hyphen"},
        {0xB6, 0x1EA3, "a hook above"},        {0xB8, 0x00E1, "a acute"},
        {0xB9, 0x1EA1, "a dot below"},         {0xBE, 0x1EAF, "a breve acute"},
        {0xC7, 0x1EA7, "a circumflex grave"},  {0xC9, 0x1EAB, "a circumflex tilde"},
        {0xD2, 0x1EC1, "e circumflex grave"},  {0xD5, 0x1EBF, "e circumflex acute"},
        {0xD7, 0x00EC, "i grave"},             {0xDC, 0x0129, "i tilde"},
        {0xDD, 0x00ED, "i acute"},             {0xE3, 0x00F3, "o acute"},
        {0xE4, 0x1ECD, "o dot below"},         {0xE5, 0x1ED3, "o circumflex grave"},
        {0xEA, 0x1EDD, "o horn grave"},        {0xF4, 0x1EE5, "u dot below"},
        {0xF9, 0x1EF1, "u horn dot below"},    {0xA1, 0x0102, "capital A breve"},
        {0xA6, 0x01AF, "capital U horn"},      {0xFE, 0x1EF5, "the last code: y dot below"},
        {0x80, 0x00C0, "the first upper code: capital A grave"}, {0x16, 0x00DD, "capital Y acute among the controls"},
        {'&', L'&', "the mnemonic mark is ASCII"}, {'\n', L'\n', "a line feed stays"},
        {0x1B3, 0x1B3, "beyond a byte: unchanged"},
    };
    for (const auto &l : letters) {
        SCOPED_TRACE(l.why);
        EXPECT_EQ(unsigned(TcvnToUnicode(l.code)), unsigned(l.letter));
    }
    std::set<wchar_t> seen;
    for (unsigned code = 0; code < 256; ++code) {
        wchar_t letter = TcvnToUnicode(code);
        EXPECT_TRUE(seen.insert(letter).second) << "code " << code << " gives a letter another code gives";
        EXPECT_TRUE(code < 0x80 || letter >= 0xA0) << "code " << code << " falls into ASCII or the controls";
    }
}
