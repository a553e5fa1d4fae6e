// bench/floor.cpp: the cost of reading folders on this platform, which no
// listing can undercut. Walks a tree the way a listing run does (enter each
// folder, one "*.*" pass, descend into every subfolder not starting with a
// dot) and writes nothing; or reads one folder with a single pass.
//
//   bench_floor walk <folder>   every folder of the tree
//   bench_floor once <folder>   one pass over <folder>
//
// Prints one line: "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB> <folders>
// <files>", timed inside the process around the walk only, and what it saw
// (folders counts <folder> itself for "walk", only its subfolders for "once").
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "measure.h"

// Longest path this walk builds: MAX_PATH - 1 characters and the terminator.
static const size_t kPathSize = MAX_PATH;

static long FolderCount = 0;
static long FileCount = 0;

// A subfolder name kept until its parent's pass has ended.
struct Subfolder {
    Subfolder *next;
    char name[MAX_PATH];
};

// True for an entry that the walk descends into.
static bool IsSubfolder(const WIN32_FIND_DATAA &found) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && found.cFileName[0] != '.';
}

// Enters `folder`, reads it with one pass and, when `descend` is set, walks
// every subfolder by the name as enumerated.
static void Walk(const char *folder, bool descend) {
    if (!SetCurrentDirectoryA(folder)) return;
    Subfolder *first = nullptr;
    Subfolder **last = &first;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsSubfolder(found)) {
                ++FolderCount;
                if (descend) {
                    Subfolder *entry = new Subfolder;
                    entry->next = nullptr;
                    std::memcpy(entry->name, found.cFileName, sizeof entry->name);
                    *last = entry;
                    last = &entry->next;
                }
            } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                ++FileCount;
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    char child[kPathSize];
    size_t length = std::strlen(folder);
    std::memcpy(child, folder, length + 1);
    if (length > 0 && child[length - 1] != '\\') child[length++] = '\\';
    while (first) {
        Subfolder *entry = first;
        size_t nameLength = std::strlen(entry->name);
        if (length + nameLength < kPathSize) {
            std::memcpy(child + length, entry->name, nameLength + 1);
            Walk(child, true);
        }
        first = entry->next;
        delete entry;
    }
}

int main(int argc, char **argv) {
    if (argc != 3 || (std::strcmp(argv[1], "walk") != 0 && std::strcmp(argv[1], "once") != 0)) {
        std::fprintf(stderr, "usage: bench_floor walk|once <folder>\n");
        return 2;
    }
    bool walk = std::strcmp(argv[1], "walk") == 0;
    Moment start = Now();
    Walk(argv[2], walk);
    Moment end = Now();
    if (walk) ++FolderCount;
    PrintMeasure(start, end);
    std::printf(" %ld %ld\n", FolderCount, FileCount);
    return 0;
}
