// listing/listing.h: writes the listing file for one start folder.
// The engine shows nothing: every outcome goes back to the caller, which
// tells the user (the dialog by message boxes, the console program on
// standard error). Folders are reached by their UTF-16 names and long paths;
// the listing shows each name as the ANSI code page gives it (or as UTF-8
// when asked). Side effect: leaves the process's current directory at the
// last folder scanned, when that folder can be current.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

// Sort keys of the file entries within each folder; any other value keeps
// the files in scan order.
typedef int SortKey;
const SortKey SortByName = 1;
const SortKey SortByExtension = 2;
const SortKey SortBySize = 3;
const SortKey SortByDate = 4;

// The six choices of one run, filled by the main dialog.
struct ListingOptions {
    bool includeSubfolders;
    bool includeFiles;
    SortKey sortKey;
    bool pathOnEachLine;
    bool fullPathInHeading;
    bool showDetails;
};

// How names and paths are written into the listing.
enum ListingEncoding {
    EncodingAnsi,  // the ANSI code page, as the ANSI interfaces give names (the dialog's bytes)
    EncodingUtf8,  // every name losslessly, in UTF-8 without a byte-order mark
};

// Choices only the console program offers; the defaults give the dialog's bytes.
struct ListingExtras {
    // Names (files and folders) matching any of these wildcard patterns are
    // left out, and such folders are not entered (PathMatchSpecExW rules).
    std::vector<std::wstring> excludes;
    ListingEncoding encoding = EncodingAnsi;
    // A totals line after each block's entries and a grand total at the end.
    bool totals = false;
};

// Shared between a run and a watcher on another thread: what has been read
// so far, and a request to stop. The run only adds to the counts and only
// reads the request; it notices the request within a few milliseconds.
struct ListingProgress {
    std::atomic<long> folders{0};  // folder blocks written
    std::atomic<long> files{0};    // file entries listed
    std::atomic<bool> cancel{false};
};

// The counts so far as one line, for a title or a status line: "12,345
// files in 678 folders".
std::string ProgressText(const ListingProgress &progress);

// How a run ended.
enum ListingOutcome {
    ListingComplete,    // every block written, the file closed
    ListingNotCreated,  // the output file could not be created: nothing scanned, nothing left behind
    ListingNotWritten,  // a write failed or memory ran out: the incomplete file was removed
    ListingCancelled,   // stopped on request: the incomplete file was removed
};

struct ListingResult {
    ListingOutcome outcome;
    DWORD systemError;  // GetLastError of the failed step (0 when none applies)
};

// One run, in the form every caller can use.
struct ListingRequest {
    // The listing file, created or replaced; a relative path resolves against
    // the current directory at the start of the run. Null: the listing goes
    // to `outputHandle`, which the run neither closes nor removes.
    const wchar_t *outputPath = nullptr;
    HANDLE outputHandle = INVALID_HANDLE_VALUE;
    const wchar_t *startFolder = L"";  // absolute; shown in the listing as converted
    const wchar_t *filter = L"*.*";    // the wildcard for file names, matched by the system
    ListingOptions options = {false, true, SortByName, true, true, true};
    const ListingExtras *extras = nullptr;  // null: none
    ListingProgress *progress = nullptr;    // null: no counts, no cancel
};

ListingResult RunListing(const ListingRequest &request);

// ANSI text in UTF-16, converted as the ANSI file calls convert it.
std::wstring WidenAnsi(const char *text);

// The dialog's form: ANSI output path, start folder and filter (converted
// with the ANSI code page), no extras, no progress.
ListingOutcome WriteListing(const char *outputPath, const char *startFolder, const char *filter,
                            const ListingOptions &options);
