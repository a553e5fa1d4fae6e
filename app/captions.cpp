// The legible captions: the TCVN3 chart, the test for the font and the
// conversion of a dialog's captions.
#include "captions.h"

#include <commctrl.h>

#include <cstddef>
#include <string>
#include <vector>

#include "resource.h"

// The face the templates ask for; its glyphs sit at the TCVN3 codes.
static const wchar_t TcvnFontFace[] = L"ABC Sans Serif";

// TCVN3 (TCVN 5712) codes 0x80 to 0xFF: the letters with diacritics, the
// lowercase ones from 0xA8 up, the uppercase ones TCVN3 defines between them
// and below 0xA0; 0xB0 to 0xB4 are the five tone marks on their own.
static const wchar_t UpperHalf[128] = {
    0x00C0, 0x1EA2, 0x00C3, 0x00C1, 0x1EA0, 0x1EB6, 0x1EAC, 0x00C8,
    // 80..87: A grave, A hook, A tilde, A acute, A dot, A breve dot, A circ dot, E grave
    0x1EBA, 0x1EBC, 0x00C9, 0x1EB8, 0x1EC6, 0x00CC, 0x1EC8, 0x0128,
    // 88..8F: E hook, E tilde, E acute, E dot, E circ dot, I grave, I hook, I tilde
    0x00CD, 0x1ECA, 0x00D2, 0x1ECE, 0x00D5, 0x00D3, 0x1ECC, 0x1ED8,
    // 90..97: I acute, I dot, O grave, O hook, O tilde, O acute, O dot, O circ dot
    0x1EDC, 0x1EDE, 0x1EE0, 0x1EDA, 0x1EE2, 0x00D9, 0x1EE6, 0x0168,
    // 98..9F: O horn grave, O horn hook, O horn tilde, O horn acute, O horn dot, U grave, U hook, U tilde
    0x00A0, 0x0102, 0x00C2, 0x00CA, 0x00D4, 0x01A0, 0x01AF, 0x0110,
    // A0..A7: no-break space, A breve, A circ, E circ, O circ, O horn, U horn, D stroke
    0x0103, 0x00E2, 0x00EA, 0x00F4, 0x01A1, 0x01B0, 0x0111, 0x1EB0,
    // A8..AF: a breve, a circ, e circ, o circ, o horn, u horn, d stroke, A breve grave
    0x0300, 0x0309, 0x0303, 0x0301, 0x0323, 0x00E0, 0x1EA3, 0x00E3,
    // B0..B7: grave mark, hook above mark, tilde mark, acute mark, dot below mark, a grave, a hook, a tilde
    0x00E1, 0x1EA1, 0x1EB2, 0x1EB1, 0x1EB3, 0x1EB5, 0x1EAF, 0x1EB4,
    // B8..BF: a acute, a dot, A breve hook, a breve grave, a breve hook, a breve tilde, a breve acute, A breve tilde
    0x1EAE, 0x1EA6, 0x1EA8, 0x1EAA, 0x1EA4, 0x1EC0, 0x1EB7, 0x1EA7,
    // C0..C7: A breve acute, A circ grave, A circ hook, A circ tilde, A circ acute, E circ grave, a breve dot, a circ grave
    0x1EA9, 0x1EAB, 0x1EA5, 0x1EAD, 0x00E8, 0x1EC2, 0x1EBB, 0x1EBD,
    // C8..CF: a circ hook, a circ tilde, a circ acute, a circ dot, e grave, E circ hook, e hook, e tilde
    0x00E9, 0x1EB9, 0x1EC1, 0x1EC3, 0x1EC5, 0x1EBF, 0x1EC7, 0x00EC,
    // D0..D7: e acute, e dot, e circ grave, e circ hook, e circ tilde, e circ acute, e circ dot, i grave
    0x1EC9, 0x1EC4, 0x1EBE, 0x1ED2, 0x0129, 0x00ED, 0x1ECB, 0x00F2,
    // D8..DF: i hook, E circ tilde, E circ acute, O circ grave, i tilde, i acute, i dot, o grave
    0x1ED4, 0x1ECF, 0x00F5, 0x00F3, 0x1ECD, 0x1ED3, 0x1ED5, 0x1ED7,
    // E0..E7: O circ hook, o hook, o tilde, o acute, o dot, o circ grave, o circ hook, o circ tilde
    0x1ED1, 0x1ED9, 0x1EDD, 0x1EDF, 0x1EE1, 0x1EDB, 0x1EE3, 0x00F9,
    // E8..EF: o circ acute, o circ dot, o horn grave, o horn hook, o horn tilde, o horn acute, o horn dot, u grave
    0x1ED6, 0x1EE7, 0x0169, 0x00FA, 0x1EE5, 0x1EEB, 0x1EED, 0x1EEF,
    // F0..F7: O circ tilde, u hook, u tilde, u acute, u dot, u horn grave, u horn hook, u horn tilde
    0x1EE9, 0x1EF1, 0x1EF3, 0x1EF7, 0x1EF9, 0x00FD, 0x1EF5, 0x1ED0,
    // F8..FF: u horn acute, u horn dot, y grave, y hook, y tilde, y acute, y dot, O circ acute
};

// The uppercase letters TCVN3 places among the control codes below 0x20;
// every other code below 0x80 is ASCII.
struct LowLetter {
    unsigned char code;
    wchar_t letter;
};
static const LowLetter LowLetters[] = {
    {0x01, 0x00DA}, {0x02, 0x1EE4}, {0x04, 0x1EEA}, {0x05, 0x1EEC},  // U acute, U dot, U horn grave, U horn hook
    {0x06, 0x1EEE}, {0x11, 0x1EE8}, {0x12, 0x1EF0}, {0x13, 0x1EF2},  // U horn tilde, U horn acute, U horn dot, Y grave
    {0x14, 0x1EF6}, {0x15, 0x1EF8}, {0x16, 0x00DD}, {0x17, 0x1EF4},  // Y hook, Y tilde, Y acute, Y dot
};

// Looks the code up in the chart: the upper half by index, the few low letters by search.
wchar_t TcvnToUnicode(unsigned code) {
    if (code >= 0x80 && code <= 0xFF) return UpperHalf[code - 0x80];
    for (const LowLetter &low : LowLetters)
        if (low.code == code) return low.letter;
    return static_cast<wchar_t>(code);
}

// Asks for the face and compares the one the system selects: a missing font
// is replaced by another face (a substitute's own name), never refused.
bool TcvnFontPresent() {
    LOGFONTW wanted = {};
    wanted.lfHeight = -11;
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, TcvnFontFace, LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&wanted);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    return lstrcmpiW(face, TcvnFontFace) == 0;
}

// The window's text, read as the template's code units.
static std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

// The text read as TCVN3: true when that changed any character.
static bool ConvertText(std::wstring &text) {
    bool changed = false;
    for (wchar_t &unit : text) {
        wchar_t letter = TcvnToUnicode(unit);
        changed = changed || letter != unit;
        unit = letter;
    }
    return changed;
}

// Buttons and static texts carry the captions; the edit fields, the drop-down
// and the folder list hold the user's text and names, never TCVN3.
static bool HoldsCaption(HWND control) {
    wchar_t kind[16] = L"";
    GetClassNameW(control, kind, 16);
    return lstrcmpiW(kind, L"Button") == 0 || lstrcmpiW(kind, L"Static") == 0;
}

// Frees the dialog's font when the dialog goes; the font rides in the
// subclass's reference data.
static LRESULT CALLBACK FontKeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR font) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, FontKeeperProc, id);
        DeleteObject(reinterpret_cast<HFONT>(font));
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// The message font of the system, which dialogs without a font of their own
// use; "MS Shell Dlg" at 8 points when the system gives none.
static LOGFONTW DialogFont() {
    // The structure as the oldest systems know it, which every later one accepts.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = static_cast<UINT>(offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof(LOGFONTW));
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return metrics.lfMessageFont;
    LOGFONTW font = {};
    HDC screen = GetDC(nullptr);
    font.lfHeight = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    return font;
}

// Faces tried, in order, when the dialog font lacks a letter of the captions
// (Wine's own Tahoma, which it may pick for the message font, has none of the
// Vietnamese letters from U+1E00 up): the dialog faces of later systems, then
// faces that most machines carry and that cover Vietnamese where they are.
static const wchar_t *const FallbackFaces[] = {L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans"};

// True when `font` has a glyph for every character of `texts` that is drawn;
// line breaks and the other control characters are not.
static bool HasEveryLetter(HFONT font, const std::vector<std::wstring> &texts) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    bool all = true;
    for (const std::wstring &text : texts) {
        std::vector<WORD> glyphs(text.size() + 1);
        all = all && GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                                      GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR;
        for (size_t i = 0; all && i < text.size(); ++i) all = text[i] < L' ' || glyphs[i] != 0xFFFF;
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    return all;
}

// The dialog font when it has every letter of `captions`; else the first
// fallback face, at the dialog font's size, that has them all; else the dialog
// font after all. A missing face is substituted, never refused, so each one
// is judged by its glyphs, not by its name.
static HFONT CreateCaptionFont(const std::vector<std::wstring> &captions) {
    LOGFONTW wanted = DialogFont();
    HFONT font = CreateFontIndirectW(&wanted);
    for (const wchar_t *face : FallbackFaces) {
        if (!font || HasEveryLetter(font, captions)) return font;
        LOGFONTW fallback = wanted;
        lstrcpynW(fallback.lfFaceName, face, LF_FACESIZE);
        HFONT covering = CreateFontIndirectW(&fallback);
        if (covering && HasEveryLetter(covering, captions)) {
            DeleteObject(font);
            return covering;
        }
        if (covering) DeleteObject(covering);
    }
    return font;
}

// A dialog made by the ANSI calls hands its title to whoever asks (its own
// caption painting too) through the ANSI code page, which has no room for
// most Vietnamese letters: such a dialog is first made a Unicode window.
// Its dialog procedure still gets ANSI messages, as it was created for.
static void SetTitle(HWND dialog, const std::wstring &title) {
    if (!IsWindowUnicode(dialog))
        SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefDlgProcW));
    SetWindowTextW(dialog, title.c_str());
}

// Converts the title and every caption that reads differently as TCVN3, and
// gives the dialog and its controls (the folder list aside) a font that has
// every letter of the captions. The title is drawn by the system, in its own
// caption font.
void ApplyLegibleCaptions(HWND dialog) {
    if (TcvnFontPresent()) return;
    std::wstring title = TextOf(dialog);
    if (ConvertText(title)) SetTitle(dialog, title);
    std::vector<std::wstring> captions;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        if (!HoldsCaption(control)) continue;
        std::wstring caption = TextOf(control);
        if (ConvertText(caption)) SetWindowTextW(control, caption.c_str());
        captions.push_back(caption);
    }
    HFONT font = CreateCaptionFont(captions);
    if (!font || !SetWindowSubclass(dialog, FontKeeperProc, 0, reinterpret_cast<DWORD_PTR>(font))) {
        if (font) DeleteObject(font);
        return;
    }
    SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT))
        if (GetDlgCtrlID(control) != IDC_FOLDER_LIST)
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
