// bench/floor.cpp: the cost of reading folders on this platform, which no
// listing can undercut. Walks a tree the way a listing run does (one pass
// over every folder, descending into every subfolder not starting with a
// dot) and writes nothing; or reads one folder with a single pass. Three
// ways of reading are offered, since the fastest one is the floor:
//
//   ansi    FindFirstFileA "*.*", each folder entered by SetCurrentDirectoryA
//           with the names as enumerated (cannot reach a name outside the
//           ANSI code page, nor a path past 259 characters)
//   basic   FindFirstFileExW "*" with FindExInfoBasic and large fetch, over
//           absolute "\\?\" paths, the current directory left alone
//   handle  each folder opened (FILE_LIST_DIRECTORY, backup semantics) and
//           read by GetFileInformationByHandleEx(FileIdBothDirectoryInfo)
//           into a 64 KiB buffer
//
//   bench_floor ansi|basic|handle walk|once <folder>
//
// bench_floor_window, the same walk built with FLOOR_WITH_WINDOW, first makes
// a hidden list box, as a program that fills a folder list must: the floor
// of such a program carries a window's memory.
//
// Prints one line: "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB> <folders>
// <files>", timed inside the process around the reading only, and what it
// saw (folders counts <folder> itself for "walk", only its subfolders for
// "once").
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "measure.h"
#ifdef FLOOR_WITH_WINDOW
#include "window.h"
#endif

static long FolderCount = 0;
static long FileCount = 0;

// Counts one entry of a folder pass; true when the walk descends into it.
static bool CountEntry(DWORD attributes, const wchar_t *name, size_t length) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ++FileCount;
        return false;
    }
    if (length > 0 && name[0] == L'.') return false;
    ++FolderCount;
    return true;
}

// ---- FindFirstFileA, entering folders ----

// A subfolder name kept until its parent's pass has ended.
struct Subfolder {
    Subfolder *next;
    char name[MAX_PATH];
};

// Enters `folder`, reads it with one pass and, when `descend` is set, walks
// every subfolder by the name as enumerated (while the path fits MAX_PATH).
static void WalkAnsi(const char *folder, bool descend) {
    if (!SetCurrentDirectoryA(folder)) return;
    Subfolder *first = nullptr;
    Subfolder **last = &first;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!isFolder) {
                ++FileCount;
            } else if (found.cFileName[0] != '.') {
                ++FolderCount;
                if (descend) {
                    Subfolder *entry = new Subfolder;
                    entry->next = nullptr;
                    std::memcpy(entry->name, found.cFileName, sizeof entry->name);
                    *last = entry;
                    last = &entry->next;
                }
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    char child[MAX_PATH];
    size_t length = std::strlen(folder);
    std::memcpy(child, folder, length + 1);
    if (length > 0 && child[length - 1] != '\\') child[length++] = '\\';
    while (first) {
        Subfolder *entry = first;
        size_t nameLength = std::strlen(entry->name);
        if (length + nameLength < MAX_PATH) {
            std::memcpy(child + length, entry->name, nameLength + 1);
            WalkAnsi(child, true);
        }
        first = entry->next;
        delete entry;
    }
}

// ---- FindFirstFileExW over "\\?\" paths ----

// Reads the folder whose "\\?\" path is `path` (without a trailing
// backslash) and, when `descend` is set, every folder below it; `path` is
// extended in place and given back as it came.
static void WalkBasic(std::wstring &path, bool descend) {
    size_t length = path.size();
    std::vector<std::wstring> subfolders;
    WIN32_FIND_DATAW found;
    path += L"\\*";
    HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (CountEntry(found.dwFileAttributes, found.cFileName, std::wcslen(found.cFileName)) && descend)
                subfolders.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    for (const std::wstring &name : subfolders) {
        path.resize(length);
        path += L'\\';
        path += name;
        WalkBasic(path, true);
    }
    path.resize(length);
}

// ---- GetFileInformationByHandleEx on an open folder ----

static const DWORD kBufferSize = 64 * 1024;

// The buffer of every pass, aligned for the entries it receives.
static LONGLONG Buffer[kBufferSize / sizeof(LONGLONG)];

// Reads the folder whose "\\?\" path is `path` through its handle and, when
// `descend` is set, every folder below it; `path` is given back as it came.
static void WalkHandle(std::wstring &path, bool descend) {
    size_t length = path.size();
    std::vector<std::wstring> subfolders;
    // A drive root is opened as "\\?\X:\"; without the backslash it names the volume.
    std::wstring open = path.back() == L':' ? path + L'\\' : path;
    HANDLE folder = CreateFileW(open.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, request, Buffer, kBufferSize)) {
        request = FileIdBothDirectoryInfo;
        const BYTE *at = reinterpret_cast<const BYTE *>(Buffer);
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(at);
            size_t nameLength = entry->FileNameLength / sizeof(WCHAR);
            bool dots = entry->FileName[0] == L'.' &&
                        (nameLength == 1 || (nameLength == 2 && entry->FileName[1] == L'.'));
            if (!dots && CountEntry(entry->FileAttributes, entry->FileName, nameLength) && descend)
                subfolders.emplace_back(entry->FileName, nameLength);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
    CloseHandle(folder);
    for (const std::wstring &name : subfolders) {
        path.resize(length);
        path += L'\\';
        path += name;
        WalkHandle(path, true);
    }
    path.resize(length);
}

// The "\\?\" form of an absolute ANSI path, without a trailing backslash
// (a drive root keeps its own).
static std::wstring LongPath(const char *folder) {
    int size = MultiByteToWideChar(CP_ACP, 0, folder, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, folder, -1, &wide[0], size);
    wide.resize(std::wcslen(wide.c_str()));
    while (wide.size() > 3 && wide.back() == L'\\') wide.pop_back();
    if (wide.size() == 3 && wide.back() == L'\\') wide.pop_back();
    return L"\\\\?\\" + wide;
}

int main(int argc, char **argv) {
    const char *const methods[] = {"ansi", "basic", "handle"};
    int method = -1;
    for (int i = 0; argc == 4 && i < 3; ++i)
        if (std::strcmp(argv[1], methods[i]) == 0) method = i;
    if (method < 0 || (std::strcmp(argv[2], "walk") != 0 && std::strcmp(argv[2], "once") != 0)) {
        std::fprintf(stderr, "usage: bench_floor ansi|basic|handle walk|once <folder>\n");
        return 2;
    }
#ifdef FLOOR_WITH_WINDOW
    if (!MakeHiddenList()) {
        std::fprintf(stderr, "bench_floor: no list box (is there an X display?)\n");
        return 1;
    }
#endif
    bool walk = std::strcmp(argv[2], "walk") == 0;
    std::wstring path = LongPath(argv[3]);
    path.reserve(32768);
    Moment start = Now();
    if (method == 0)
        WalkAnsi(argv[3], walk);
    else if (method == 1)
        WalkBasic(path, walk);
    else
        WalkHandle(path, walk);
    Moment end = Now();
    if (walk) ++FolderCount;
    PrintMeasure(start, end);
    std::printf(" %ld %ld\n", FolderCount, FileCount);
    return 0;
}
