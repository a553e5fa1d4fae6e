// The folder list: path rows for CurrentFolder, then its subfolders.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
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

// The subfolders of the current directory in the order the enumeration
// delivered them: their real names and, at the same index, their ANSI
// conversions, each zero-terminated in one growing block.
struct SubfolderNames {
    std::vector<wchar_t> wideBlock;
    std::vector<size_t> wideStarts;
    std::vector<char> block;
    std::vector<size_t> starts;
};

// The real names of the subfolder rows of the list last filled, by
// subfolder row (row index less the path rows), so that a double click
// reaches the folder even when its shown name is only question marks.
static HWND ShownList;
static unsigned ShownPathRows;
static std::vector<wchar_t> ShownWideBlock;
static std::vector<size_t> ShownWideStarts;

// Collects the real name of every subfolder of the current directory whose
// name does not begin with "." (which also drops the entries for the folder
// itself and its parent); hidden and system folders are kept.
static void CollectSubfolders(SubfolderNames &names) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    names.wideBlock.reserve(0x40000);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(L"*.*", FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.cFileName[0] == L'.')
                continue;
            size_t length = std::wcslen(found.cFileName);
            names.wideStarts.push_back(names.wideBlock.size());
            names.wideBlock.insert(names.wideBlock.end(), found.cFileName, found.cFileName + length);
            names.wideBlock.push_back(L'\0');
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetCursor(previous);
}

// Converts the whole block in one call: the terminators convert to
// terminators, so each name comes out as its own conversion would.
static void ConvertSubfolders(SubfolderNames &names) {
    if (names.wideBlock.empty()) return;
    int wideLength = static_cast<int>(names.wideBlock.size());
    int bytes = WideCharToMultiByte(CP_ACP, 0, names.wideBlock.data(), wideLength, nullptr, 0,
                                    nullptr, nullptr);
    names.block.resize(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, names.wideBlock.data(), wideLength, names.block.data(), bytes,
                        nullptr, nullptr);
    names.starts.reserve(names.wideStarts.size());
    for (size_t at = 0; at < names.block.size(); at += std::strlen(names.block.data() + at) + 1)
        names.starts.push_back(at);
}

// Puts the subfolders in case-insensitive order of their ANSI names; names
// that compare equal keep the order in which they were found. Sorts the
// subfolders' numbers, which index both blocks.
static std::vector<size_t> SortSubfolders(const SubfolderNames &names) {
    std::vector<size_t> order(names.starts.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    const char *block = names.block.data();
    const size_t *starts = names.starts.data();
    std::stable_sort(order.begin(), order.end(), [block, starts](size_t a, size_t b) {
        return CompareNamesNoCase(block + starts[a], block + starts[b]) < 0;
    });
    return order;
}

// Rebuilds the list for CurrentFolder, which it makes the current directory
// first; when that fails the list is left exactly as it was.
void FillFolderList(HWND list) {
    if (!SetCurrentDirectoryW(CurrentFolderWide)) return;
    // No repaint per added row: in a shown list, 20,000 subfolders take
    // over a minute that way and a fraction of a second without.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    unsigned pathRows = AddPathRows(list);
    SubfolderNames names;
    CollectSubfolders(names);
    ConvertSubfolders(names);
    std::vector<size_t> order = SortSubfolders(names);
    SendMessageA(list, LB_INITSTORAGE, order.size(), static_cast<LPARAM>(names.block.size()));
    ShownWideStarts.clear();
    ShownWideStarts.reserve(order.size());
    for (size_t i : order) {
        AddFolderRow(list, names.block.data() + names.starts[i], IndentStep * pathRows, SubfolderOffset);
        ShownWideStarts.push_back(names.wideStarts[i]);
    }
    ShownWideBlock.swap(names.wideBlock);
    ShownList = list;
    ShownPathRows = pathRows;
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// The real name of subfolder row `index` of `list`; null when the list is
// not the one last filled or has no such row.
static const wchar_t *SubfolderWideName(HWND list, WPARAM index) {
    if (list != ShownList || index < ShownPathRows) return nullptr;
    size_t row = index - ShownPathRows;
    if (row >= ShownWideStarts.size()) return nullptr;
    return ShownWideBlock.data() + ShownWideStarts[row];
}

// Makes CurrentFolder the subfolder of row `index`, reached by its real
// name, unless the longer path would not fit (as ANSI or as UTF-16);
// returns whether it moved.
static bool DescendInto(HWND list, WPARAM index) {
    const wchar_t *name = SubfolderWideName(list, index);
    if (!name) return false;
    wchar_t path[MAX_PATH];
    size_t length = std::wcslen(CurrentFolderWide);
    bool needsSeparator = length == 0 || CurrentFolderWide[length - 1] != L'\\';
    size_t total = length + (needsSeparator ? 1 : 0) + std::wcslen(name);
    if (total >= MAX_PATH) return false;
    std::memcpy(path, CurrentFolderWide, length * sizeof(wchar_t));
    if (needsSeparator) path[length++] = L'\\';
    std::memcpy(path + length, name, (std::wcslen(name) + 1) * sizeof(wchar_t));
    return SetCurrentFolder(path);
}

// Cuts `path` right after the component that begins at `offset`; the
// drive's component keeps its closing "\" so that it names the root.
template <typename Char>
static void CutAfterComponent(Char *path, size_t offset) {
    size_t length = std::char_traits<Char>::length(path);
    size_t cut = std::min<size_t>(offset, length);
    while (cut < length && path[cut] != '\\') ++cut;
    path[cut] = '\0';
    if (cut > 0 && path[cut - 1] == ':' && cut + 1 < MAX_PATH) {
        path[cut] = '\\';
        path[cut + 1] = '\0';
    }
}

// Cuts CurrentFolder right after the component that begins at `offset`,
// and CurrentFolderWide after the component whose path converts to the
// same: the path rows show the ANSI path, the folder is reached by its real
// one. Nothing moves when no component matches.
static void ClimbTo(unsigned offset) {
    char target[MAX_PATH];
    std::memcpy(target, CurrentFolder, sizeof target);
    CutAfterComponent(target, offset);
    size_t length = std::wcslen(CurrentFolderWide);
    for (size_t end = 0; end <= length; ++end) {
        if (end < length && CurrentFolderWide[end] != L'\\') continue;
        wchar_t candidate[MAX_PATH];
        std::memcpy(candidate, CurrentFolderWide, sizeof candidate);
        CutAfterComponent(candidate, end);
        char converted[MAX_PATH];
        int bytes = WideCharToMultiByte(CP_ACP, 0, candidate, -1, converted, sizeof converted,
                                        nullptr, nullptr);
        if (bytes > 0 && std::strcmp(converted, target) == 0) {
            SetCurrentFolder(candidate);
            return;
        }
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
