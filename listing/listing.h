// listing/listing.h: makes the catalogue of a start folder.
// The engine shows nothing: every outcome goes back to the caller, which
// tells the user. Folders are reached by their UTF-16 names and long paths;
// the text listing shows each name as the ANSI code page gives it (or as
// UTF-8 when asked). Nothing is kept between runs, and runs on different
// threads never meet. Side effect: RunListing leaves the process's current
// directory at the last folder read, when that folder can be current.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

// The order of the files within each folder; folders always come first, by name.
enum class SortKey { Name, Extension, Size, Date };

// How the text listing writes names and paths.
enum class TextEncoding {
    Ansi,  // the ANSI code page, as the ANSI file calls give names
    Utf8,  // every name losslessly, in UTF-8 without a byte-order mark
};

// What one run has done so far, for a watcher on another thread. The run
// only adds to the counts.
struct ListingProgress {
    std::atomic<long> folders{0};  // folders listed
    std::atomic<long> files{0};    // file entries listed
};

// The counts so far as one line, for a title or a status line: "12,345
// files in 678 folders".
std::string ProgressText(const ListingProgress &progress);

// One run: what to list, how the text listing shows it, where it goes, and
// how it is watched. The defaults are the program's defaults; every caller
// starts from them.
struct ListingRequest {
    std::wstring startFolder;       // absolute; shown in the listing as given
    std::wstring filter = L"*.*";   // the wildcard for file names, matched by the system
    bool includeSubfolders = false;
    bool includeFiles = true;
    // Names (files and folders) matching any of these patterns are left
    // out, and such folders are not entered (the system's wildcard rule).
    std::vector<std::wstring> excludes;
    SortKey sortKey = SortKey::Name;

    bool pathOnEachLine = true;     // every entry line begins with its folder's path
    bool fullPathInHeading = true;  // headings show the full path, not the last name
    bool showDetails = true;        // size (or DIR), date and time columns
    TextEncoding encoding = TextEncoding::Ansi;
    bool totals = false;            // a totals line after each block, a grand total at the end

    // The listing file, created or replaced; a relative path resolves
    // against the current directory at the start of the run. Unused when
    // `outputHandle` is given: the run writes there, and neither closes nor
    // removes it.
    std::wstring outputPath;
    HANDLE outputHandle = INVALID_HANDLE_VALUE;

    // Set (from any thread) to stop the run; it is noticed within a few
    // milliseconds. Null: the run cannot be stopped.
    const std::atomic<bool> *cancel = nullptr;
    ListingProgress *progress = nullptr;  // null: nothing counted
};

// How a run ended.
enum class ListingOutcome {
    Complete,    // every block written, the file closed
    NotCreated,  // the output file could not be created: nothing read, nothing left behind
    Failed,      // a write failed or memory ran out: the incomplete file was removed
    Stopped,     // stopped on request: the incomplete file was removed
};

struct ListingResult {
    ListingOutcome outcome;
    DWORD systemError;  // GetLastError of the failed step (0 when none applies)
};

// Writes the text listing that `request` asks for.
ListingResult RunListing(const ListingRequest &request);
