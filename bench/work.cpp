// bench/work.cpp: runs one piece of the program's real work and times it
// inside the process, so that Wine's start-up does not count.
//
//   bench_work list <startFolder> <filter> <outputPath>
//       WriteListing with every option on, sorted by name;
//       prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB>"
//   bench_work fill <folder>
//       FillFolderList on a hidden owner-drawn list box with CurrentFolder
//       set to <folder>; prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB> <rows>"
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "browser.h"
#include "listing.h"
#include "measure.h"

// Rows of the hidden list box, in pixels, as the dialog's list would ask.
static const UINT kRowHeight = 16;

// The hidden parent of the list box: answers the row-height request of an
// owner-drawn list and leaves the rest to the default handling.
static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MEASUREITEM) {
        reinterpret_cast<MEASUREITEMSTRUCT *>(lParam)->itemHeight = kRowHeight;
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A hidden list box with the folder list's styles, under a hidden parent.
static HWND CreateHiddenList() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ParentProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "DirtallyBenchParent";
    RegisterClassA(&windowClass);
    HWND parent = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0,
                                  400, 400, nullptr, nullptr, windowClass.hInstance, nullptr);
    return CreateWindowExA(0, "LISTBOX", "",
                           WS_CHILD | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY,
                           0, 0, 300, 300, parent, nullptr, windowClass.hInstance, nullptr);
}

// Writes the listing of `startFolder` with every option on and reports it.
static int TimeListing(const char *startFolder, const char *filter, const char *outputPath) {
    // Subfolders, files, by name, path on each line, full path headings, details.
    const ListingOptions options = {true, true, SortByName, true, true, true};
    Moment start = Now();
    WriteListing(outputPath, startFolder, filter, options);
    Moment end = Now();
    PrintMeasure(start, end);
    std::printf("\n");
    return 0;
}

// Fills the folder list for `folder` and reports it with the row count.
static int TimeFolderList(const char *folder) {
    if (std::strlen(folder) >= sizeof CurrentFolder) return 2;
    std::strcpy(CurrentFolder, folder);
    ModuleInstance = GetModuleHandleA(nullptr);
    HWND list = CreateHiddenList();
    if (!list) {
        std::fprintf(stderr, "bench_work: no list box (is there an X display?)\n");
        return 1;
    }
    Moment start = Now();
    FillFolderList(list);
    Moment end = Now();
    PrintMeasure(start, end);
    std::printf(" %ld\n", static_cast<long>(SendMessageA(list, LB_GETCOUNT, 0, 0)));
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "list") == 0) return TimeListing(argv[2], argv[3], argv[4]);
    if (argc == 3 && std::strcmp(argv[1], "fill") == 0) return TimeFolderList(argv[2]);
    std::fprintf(stderr, "usage: bench_work list <startFolder> <filter> <outputPath>\n"
                         "       bench_work fill <folder>\n");
    return 2;
}
