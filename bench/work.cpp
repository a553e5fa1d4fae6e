// bench/work.cpp: runs one piece of the program's real work and times it
// inside the process, so that Wine's start-up does not count.
//
//   bench_work list [--utf8] [--totals] [--handle] <startFolder> <filter> <outputPath>
//       RunListing with every option on, sorted by name, as the programs
//       call it (UTF-16 paths); --utf8 and --totals add the console
//       program's extras, --handle writes to an open file handle as the
//       console program does to its standard output;
//       prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB>"
//   bench_work fill <folder>
//       FillFolderList on a hidden owner-drawn list box with CurrentFolder
//       set to <folder>; prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB> <rows>"
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "browser.h"
#include "listing.h"
#include "measure.h"
#include "window.h"

// What one timed listing asks for beyond the dialog's choices.
struct ListingMode {
    bool utf8 = false;
    bool totals = false;
    bool handle = false;
};

// Writes the listing of `startFolder` with every option on and reports it;
// with an output handle, opening and closing the file count as well.
static int TimeListing(const wchar_t *startFolder, const wchar_t *filter, const wchar_t *outputPath,
                       const ListingMode &mode) {
    ListingRequest request;  // the defaults: files, by name, path on each line, full path headings, details
    request.startFolders = {startFolder};
    request.filter = filter;
    request.includeSubfolders = true;
    request.encoding = mode.utf8 ? TextEncoding::Utf8 : TextEncoding::Ansi;
    request.totals = mode.totals;
    Moment start = Now();
    if (mode.handle) {
        request.outputHandle = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (request.outputHandle == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "bench_work: cannot create the output file (error %lu)\n", GetLastError());
            return 1;
        }
    } else {
        request.outputPath = outputPath;
    }
    ListingResult result = RunListing(request);
    if (mode.handle) CloseHandle(request.outputHandle);
    Moment end = Now();
    if (result.outcome != ListingOutcome::Complete) {
        std::fprintf(stderr, "bench_work: the listing ended with outcome %d (error %lu)\n",
                     static_cast<int>(result.outcome), result.systemError);
        return 1;
    }
    PrintMeasure(start, end);
    std::printf("\n");
    return 0;
}

// Fills the folder list for `folder` and reports it with the row count.
static int TimeFolderList(const wchar_t *folder) {
    if (!SetCurrentFolder(folder)) return 2;
    HWND list = MakeHiddenList();
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

// Reads the arguments in UTF-16, as the programs take their paths.
int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc >= 5 && std::wcscmp(argv[1], L"list") == 0) {
        ListingMode mode;
        int next = 2;
        for (; next < argc - 3; ++next) {
            if (std::wcscmp(argv[next], L"--utf8") == 0)
                mode.utf8 = true;
            else if (std::wcscmp(argv[next], L"--totals") == 0)
                mode.totals = true;
            else if (std::wcscmp(argv[next], L"--handle") == 0)
                mode.handle = true;
            else
                break;
        }
        if (next == argc - 3) return TimeListing(argv[next], argv[next + 1], argv[next + 2], mode);
    }
    if (argv && argc == 3 && std::wcscmp(argv[1], L"fill") == 0) return TimeFolderList(argv[2]);
    std::fprintf(stderr, "usage: bench_work list [--utf8] [--totals] [--handle] <startFolder> <filter> <outputPath>\n"
                         "       bench_work fill <folder>\n");
    return 2;
}
