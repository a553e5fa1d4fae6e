// listing/listing.h: makes the catalogue of one or more start folders.
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

// The key's name, as options and catalogues spell it ("name", "extension", ...).
const char *SortKeyName(SortKey key);

// The form of the catalogue. Every form but the text listing writes names
// losslessly in UTF-8.
enum class OutputFormat {
    Text,      // the listing made for reading, as the dialog writes it
    Csv,       // one row per folder and file, for spreadsheets
    Jsonl,     // one JSON object per line: a description, the entries, the totals
    Efu,       // a file list that desktop search tools open as an offline index
    Manifest,  // "HEX  relative/path" per file, as the checksum tools read it
    Html,      // one self-contained page to browse and search
};

// The content fingerprints a run can compute, with the platform's cryptography.
enum class HashAlgorithm { Sha256, Sha1, Md5, Sha512 };

// How the text listing shows dates: "3-7-2001  9:05:03", or "2001-03-07 09:05:03".
enum class DateStyle { Classic, Iso };

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

// Told of every folder that could not be read and every file that could
// not be hashed, in listing order, on the run's own thread.
class ListingProblems {
public:
    virtual ~ListingProblems() = default;
    // `path` as the catalogue shows it; `error` the system's code.
    virtual void Unreadable(const std::wstring &path, bool isFolder, DWORD error) = 0;
};

// The counts so far as one line, for a title or a status line: "12,345
// files in 678 folders".
std::string ProgressText(const ListingProgress &progress);

// One run: what to list, how the text listing shows it, where it goes, and
// how it is watched. The defaults are the program's defaults; every caller
// starts from them.
struct ListingRequest {
    // Absolute; each shown in the listing as given, catalogued in turn into one output.
    std::vector<std::wstring> startFolders;
    std::wstring filter = L"*.*";   // the wildcard for file names, matched by the system
    bool includeSubfolders = false;
    int maxDepth = -1;              // with subfolders: folders deeper than this are listed, not entered; -1 none
    bool dotFolders = false;        // folders whose names begin with a dot are listed and entered too
    bool followLinks = true;        // links and junctions to folders are entered, not only listed
    bool includeFiles = true;
    // Names (files and folders) matching any of these patterns are left
    // out, and such folders are not entered (the system's wildcard rule). A
    // pattern holding a separator (/ or \) matches the entry's path below
    // its start folder instead ("docs\old", "photos/2019/*.tmp").
    std::vector<std::wstring> excludes;
    SortKey sortKey = SortKey::Name;
    bool reverse = false;           // the files' order reversed; folders keep theirs
    OutputFormat format = OutputFormat::Text;
    std::vector<HashAlgorithm> hashes;  // computed for every file, in this order

    bool pathOnEachLine = true;     // every entry line begins with its folder's path
    bool fullPathInHeading = true;  // headings show the full path, not the last name
    bool showDetails = true;        // size (or DIR), date and time columns
    TextEncoding encoding = TextEncoding::Ansi;
    bool totals = false;            // a totals line after each block, a grand total at the end
    DateStyle dateStyle = DateStyle::Classic;
    // Threads that read folders, this run's own included: 1 reads every
    // folder on the run's thread; 0 lets the run choose. The output is the
    // same whatever the count.
    int threads = 0;

    // The listing file, created or replaced; a relative path resolves
    // against the current directory at the start of the run. Unused when
    // `outputHandle` is given: the run writes there, and neither closes nor
    // removes it.
    std::wstring outputPath;
    HANDLE outputHandle = INVALID_HANDLE_VALUE;
    // The call that writes each piece of the output, with WriteFile's
    // arguments and results (a console's own conversion, a test's stand-in);
    // null: WriteFile.
    BOOL(WINAPI *writeCall)(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) = nullptr;

    // Set (from any thread) to stop the run; it is noticed within a few
    // milliseconds. Null: the run cannot be stopped.
    const std::atomic<bool> *cancel = nullptr;
    ListingProgress *progress = nullptr;  // null: nothing counted
    ListingProblems *problems = nullptr;  // null: problems only counted
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
    // What the catalogue marks as not read: folders not opened or read only
    // in part, files that could not be hashed.
    unsigned long long unreadFolders = 0;
    unsigned long long unreadFiles = 0;
};

// The system's own sentence for an error code, without its line end.
std::wstring SystemMessage(DWORD code);

// Writes the catalogue that `request` asks for.
ListingResult RunListing(const ListingRequest &request);
