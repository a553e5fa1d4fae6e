// The folder list: path rows for CurrentFolder, then its subfolders.
#include <algorithm>
#include <cstring>
#include <vector>

#include "browser.h"
#include "names.h"

const unsigned IndentStep = 4;  // pixels per level of the folder list

// Adds one row with its text and its ItemTag.
void AddFolderRow(HWND list, const char *text, unsigned indent, unsigned pathOffset) {
    LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index),
                 static_cast<LPARAM>(MakeItemTag(indent, pathOffset)));
}

// Adds one path row per component of CurrentFolder ("C:", "Program Files",
// ...) and returns how many it added; a closing "\" adds none and a path
// that begins with "\" has no path rows at all.
static unsigned AddPathRows(HWND list) {
    char parts[MAX_PATH + 1];  // CurrentFolder, its terminator, one empty component
    std::memcpy(parts, CurrentFolder, sizeof CurrentFolder);
    parts[MAX_PATH - 1] = '\0';
    parts[MAX_PATH] = '\0';
    size_t length = std::strlen(parts);
    parts[length + 1] = '\0';
    for (size_t i = 0; i < length; ++i)
        if (parts[i] == '\\') parts[i] = '\0';
    unsigned rows = 0;
    for (size_t offset = 0; parts[offset] != '\0'; offset += std::strlen(parts + offset) + 1) {
        AddFolderRow(list, parts + offset, IndentStep * rows, static_cast<unsigned>(offset));
        ++rows;
    }
    return rows;
}

// The names of the subfolders of the current directory, each zero-terminated
// in one growing block, in the order the enumeration delivered them.
struct SubfolderNames {
    std::vector<char> block;
    std::vector<size_t> starts;
};

// Collects every subfolder of the current directory whose name does not
// begin with "." (which also drops the entries for the folder itself and its
// parent); hidden and system folders are kept.
static void CollectSubfolders(SubfolderNames &names) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    names.block.reserve(0x40000);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.cFileName[0] == '.')
                continue;
            size_t length = std::strlen(found.cFileName);
            names.starts.push_back(names.block.size());
            names.block.insert(names.block.end(), found.cFileName, found.cFileName + length);
            names.block.push_back('\0');
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetCursor(previous);
}

// Puts the names in case-insensitive order; names that compare equal keep
// the order in which they were found.
static void SortSubfolders(SubfolderNames &names) {
    const char *block = names.block.data();
    std::stable_sort(names.starts.begin(), names.starts.end(), [block](size_t a, size_t b) {
        return CompareNamesNoCase(block + a, block + b) < 0;
    });
}

// Rebuilds the list for CurrentFolder, which it makes the current directory
// first; when that fails the list is left exactly as it was.
void FillFolderList(HWND list) {
    if (!SetCurrentDirectoryA(CurrentFolder)) return;
    // No repaint per added row: in a shown list, 20,000 subfolders take
    // over a minute that way and a fraction of a second without.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    unsigned pathRows = AddPathRows(list);
    SubfolderNames names;
    CollectSubfolders(names);
    SortSubfolders(names);
    SendMessageA(list, LB_INITSTORAGE, names.starts.size(), static_cast<LPARAM>(names.block.size()));
    for (size_t start : names.starts)
        AddFolderRow(list, names.block.data() + start, IndentStep * pathRows, SubfolderOffset);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// Makes CurrentFolder the subfolder named by row `index`, unless the longer
// path would not fit; returns whether it moved.
static bool DescendInto(HWND list, WPARAM index) {
    char name[MAX_PATH];
    LRESULT nameLength = SendMessageA(list, LB_GETTEXTLEN, index, 0);
    if (nameLength == LB_ERR || nameLength >= static_cast<LRESULT>(sizeof name)) return false;
    SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name));
    size_t length = std::strlen(CurrentFolder);
    bool needsSeparator = length == 0 || CurrentFolder[length - 1] != '\\';
    size_t total = length + (needsSeparator ? 1 : 0) + std::strlen(name);
    if (total >= sizeof CurrentFolder) return false;
    if (needsSeparator) CurrentFolder[length++] = '\\';
    std::strcpy(CurrentFolder + length, name);
    return true;
}

// Cuts CurrentFolder right after the component that begins at `offset`; the
// drive's component keeps its closing "\" so that it names the root.
static void ClimbTo(unsigned offset) {
    size_t length = std::strlen(CurrentFolder);
    size_t cut = std::min<size_t>(offset, length);
    while (cut < length && CurrentFolder[cut] != '\\') ++cut;
    CurrentFolder[cut] = '\0';
    if (cut > 0 && CurrentFolder[cut - 1] == ':' && cut + 1 < sizeof CurrentFolder) {
        CurrentFolder[cut] = '\\';
        CurrentFolder[cut + 1] = '\0';
    }
}

// Selects the last path row: the row before the first subfolder row, or
// the last row when there is no subfolder row; nothing without path rows.
static void SelectLastPathRow(HWND list) {
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    LRESULT first = 0;
    while (first < count &&
           TagOffset(static_cast<DWORD>(SendMessageA(list, LB_GETITEMDATA,
                                                     static_cast<WPARAM>(first), 0))) !=
               SubfolderOffset)
        ++first;
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(first - 1), 0);
}

// Moves CurrentFolder to the double-clicked row (down into a subfolder or up
// to a path component), refills the list and selects its last path row.
void OpenFolderRow(HWND list) {
    LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return;
    DWORD tag = static_cast<DWORD>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    if (TagOffset(tag) == SubfolderOffset) {
        if (!DescendInto(list, static_cast<WPARAM>(index))) return;
    } else {
        ClimbTo(TagOffset(tag));
    }
    FillFolderList(list);
    SelectLastPathRow(list);
}
