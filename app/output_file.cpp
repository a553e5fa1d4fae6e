// The output file: the proposed name and the save-file dialog.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstring>

#include "app.h"
#include "browser.h"
#include "program.h"
#include "resource.h"

char OutputPath[MAX_PATH];

// The proposed name's ending.
static const char ProposedExtension[] = ".txt";

// Two filter pairs, then the empty string that ends the list (the literal's
// own terminator). The second is the web-page catalogue's.
static const char SaveFilter[] = "Text file (*.*)\0*.*\0HTML catalogue (*.html)\0*.html\0";
static const DWORD HtmlFilterIndex = 2;  // counted from 1

// The ending that a web-page catalogue's name gets when it has none.
static const char HtmlExtension[] = ".html";

// The save-file dialog gets the structure without the fields that later
// platform versions added: 76 bytes in the 32-bit build.
static const DWORD SaveDialogStructSize =
    static_cast<DWORD>(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR));
static_assert(sizeof(void *) != 4 ||
                  offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the 32-bit save-file structure without its later fields is 76 bytes");

// The backslash and last component of `folder` plus ".txt" (C:\Music\Rock
// gives \Rock.txt, C:\ gives \.txt); when the folder has no backslash, or
// the name would not fit in MAX_PATH bytes, no name is proposed.
void ProposeOutputName(const char *folder, char *proposal) {
    proposal[0] = '\0';
    const char *lastBackslash = std::strrchr(folder, '\\');
    if (!lastBackslash) return;
    size_t componentLength = std::strlen(lastBackslash);  // the backslash included
    size_t extensionLength = sizeof ProposedExtension - 1;
    if (componentLength + extensionLength >= MAX_PATH) return;
    std::memcpy(proposal, lastBackslash, componentLength);
    std::memcpy(proposal + componentLength, ProposedExtension, extensionLength + 1);
}

bool IsHtmlName(const char *path) {
    const char *dot = std::strrchr(path, '.');
    return dot && !std::strchr(dot, '\\') && (lstrcmpiA(dot, ".html") == 0 || lstrcmpiA(dot, ".htm") == 0);
}

// A name chosen with the web-page type gets its ending: the proposed
// ".txt" becomes ".html", any other name has ".html" added, when it fits.
static void GiveHtmlEnding(char *path) {
    if (IsHtmlName(path)) return;
    size_t length = std::strlen(path);
    size_t extensionLength = sizeof ProposedExtension - 1;
    if (length >= extensionLength && lstrcmpiA(path + length - extensionLength, ProposedExtension) == 0)
        length -= extensionLength;
    if (length + sizeof HtmlExtension > MAX_PATH) return;
    std::memcpy(path + length, HtmlExtension, sizeof HtmlExtension);
}

// Proposes a name in OutputPath and runs the save-file dialog over it; a
// confirmed choice goes into the output field, a cancel leaves the field
// alone and the proposed name in OutputPath.
void BrowseOutputFile(HWND dialog) {
    ProposeOutputName(CurrentFolder, OutputPath);

    OPENFILENAMEA request = {};
    request.lStructSize = SaveDialogStructSize;
    request.hwndOwner = dialog;
    request.hInstance = ModuleInstance;
    request.lpstrFilter = SaveFilter;
    request.lpstrFile = OutputPath;
    request.nMaxFile = MAX_PATH;
    request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;

    if (GetSaveFileNameA(&request)) {
        if (request.nFilterIndex == HtmlFilterIndex) GiveHtmlEnding(OutputPath);
        SetDlgItemTextA(dialog, IDC_OUTPUT_FILE, OutputPath);
    }
}
