// The listing run: creates the file and reports the folder tree in pre-order.
#include "listing.h"

#include <set>
#include <string.h>
#include <utility>

#include "format.h"
#include "identity.h"
#include "scan.h"

// One folder whose block is written and whose subfolders are being reported.
struct Level {
    FolderEntry *list;         // its ordered entries, released when the level ends
    FolderEntry *next;         // the next entry to look at for a descent
    size_t shownLength;        // its path's length in `shown`
    size_t wideLength;         // its path's length in `wide`
    FolderIdentity identity;
};

// Everything one run shares between its folders.
struct Run {
    const ListingRequest *request;
    ListingEncoding encoding;
    ScanContext scan;
    std::string shown;         // the path of the folder at hand, as the listing shows it
    std::wstring wide;         // the same folder as the system reaches it ("\\?\" form)
    std::vector<Level> levels;
    std::set<std::pair<unsigned long long, unsigned long long>> onPath;  // identities being reported
    std::wstring lastEntered;  // the last folder a scan entered
    std::string filterShown;   // the filter as a totals line names it; empty when it takes every name
    ListingTotals grand;
    bool stopped;              // memory ran out
    bool cancelled;
};

// A folder being entered: whether it may be a different volume, and what
// its parent's identity was.
struct Entering {
    Run *run;
    bool ownVolume;            // the start folder, a link or a mount point: ask for its volume
    FolderIdentity parent;
    FolderIdentity identity;   // filled by CheckEnteredFolder
};

// Takes the identity of a folder just opened and refuses it when the same
// folder is already being reported higher up: a link or mount leading back
// would otherwise repeat the tree without end.
static bool CheckEnteredFolder(HANDLE handle, const ScanResult &soFar, void *data) {
    Entering *entering = static_cast<Entering *>(data);
    FolderIdentity &identity = entering->identity;
    identity.known = false;
    unsigned long long file = soFar.ownId;
    if (!soFar.ownIdKnown && !FileIdOf(handle, &file)) return true;
    bool volumeKnown = entering->parent.known;
    unsigned long long volume = entering->parent.volume;
    if (entering->ownVolume) volume = VolumeKeyOf(handle, &volumeKnown);
    if (!volumeKnown) return true;
    identity = {volume, file, true};
    return entering->run->onPath.count(std::make_pair(volume, file)) == 0;
}

// The path as the current directory takes it: without the "\\?\" prefix.
static std::wstring PlainFolder(const std::wstring &wide) {
    if (wide.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + wide.substr(8);
    if (wide.compare(0, 4, L"\\\\?\\") == 0) return wide.substr(4);
    return wide;
}

// Appends "\" and a name to a path, with no second "\" after a root's own.
template <typename Text, typename Char>
static void JoinName(Text &path, const Char *name) {
    if (!path.empty() && path.back() != Char('\\')) path += Char('\\');
    path += name;
}

// Scans, orders and writes the block of the folder at `run.shown` /
// `run.wide`, and pushes it as a level when subfolders follow. Returns false
// when the folder is already on the descent path (it then gets no block).
static bool ReportFolder(Run &run, bool ownVolume, const FolderIdentity &parent) {
    const ListingOptions &options = run.request->options;
    Entering entering = {&run, ownVolume, parent, {0, 0, false}};
    ScanResult scanned = ScanFolder(run.wide, run.scan, CheckEnteredFolder, &entering);
    if (scanned.refused) return false;
    if (scanned.cancelled) {
        FreeEntryList(scanned.entries);
        run.cancelled = true;
        return true;
    }
    if (scanned.opened) run.lastEntered = run.wide;
    if (!scanned.complete) {
        // Out of memory: a listing with entries missing would pass for whole,
        // so the run stops and the file is removed.
        FreeEntryList(scanned.entries);
        run.stopped = true;
        return true;
    }
    FolderEntry *list = OrderEntries(scanned.entries, options.sortKey);
    WriteFolderHeading(run.shown, options.fullPathInHeading);
    WriteEntryLines(run.shown, list, options.pathOnEachLine, options.showDetails);
    ListingTotals block = {0, 0, 0, static_cast<unsigned long long>(scanned.excluded)};
    for (const FolderEntry *entry = list; entry; entry = entry->next) {
        if (entry->isFolder) {
            ++block.folders;
        } else {
            ++block.files;
            block.bytes += entry->size;
        }
    }
    const ListingExtras *extras = run.request->extras;
    if (extras && extras->totals) {
        WriteTotalsLine("Total", block, run.filterShown.empty() ? nullptr : &run.filterShown);
        run.grand.folders += block.folders;
        run.grand.files += block.files;
        run.grand.bytes += block.bytes;
        run.grand.excluded += block.excluded;
    }
    WriteFolderEnd();
    if (ListingProgress *progress = run.request->progress) {
        progress->folders.fetch_add(1, std::memory_order_relaxed);
        progress->files.fetch_add(static_cast<long>(block.files), std::memory_order_relaxed);
    }
    if (!options.includeSubfolders || !scanned.opened) {
        FreeEntryList(list);
        return true;
    }
    // The block is written whole before any subfolder's: nothing of it is
    // held while the descent goes on but its entries.
    Level level = {list, list, run.shown.size(), run.wide.size(), entering.identity};
    if (level.identity.known) run.onPath.insert(std::make_pair(level.identity.volume, level.identity.file));
    run.levels.push_back(level);
    return true;
}

// True when the run must end early.
static bool MustStop(Run &run) {
    if (OutputCancelled()) run.cancelled = true;
    if (run.stopped || run.cancelled || OutputFailed()) return true;
    ListingProgress *progress = run.request->progress;
    if (progress && progress->cancel.load(std::memory_order_relaxed)) run.cancelled = true;
    return run.cancelled;
}

// Reports the start folder and then every folder below it, depth first:
// each level takes its next subfolder entry, and a level whose entries are
// used up is released and left.
static void ReportTree(Run &run) {
    FolderIdentity none = {0, 0, false};
    ReportFolder(run, true, none);
    while (!run.levels.empty() && !MustStop(run)) {
        Level &level = run.levels.back();
        FolderEntry *entry = level.next;
        while (entry && !entry->isFolder) entry = entry->next;
        if (!entry) {
            if (level.identity.known) run.onPath.erase(std::make_pair(level.identity.volume, level.identity.file));
            FreeEntryList(level.list);
            run.levels.pop_back();
            if (!run.levels.empty()) {
                run.shown.resize(run.levels.back().shownLength);
                run.wide.resize(run.levels.back().wideLength);
            }
            continue;
        }
        level.next = entry->next;
        FolderIdentity parent = level.identity;
        run.shown.resize(level.shownLength);
        run.wide.resize(level.wideLength);
        JoinName(run.shown, entry->name);
        JoinName(run.wide, WideName(entry));
        // `level` may move when the subfolder pushes its own.
        ReportFolder(run, entry->isReparse != 0, parent);
    }
    for (Level &level : run.levels) FreeEntryList(level.list);
    run.levels.clear();
}

// The wide path by which a folder is reached: absolute, in the "\\?\" form
// that takes any length.
static std::wstring ReachablePath(const wchar_t *folder) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(folder, static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length = GetFullPathNameW(folder, static_cast<DWORD>(full.size()), &full[0], nullptr);
    }
    full.resize(length < full.size() ? length : 0);
    if (full.empty()) return folder;
    // Already long ("\\?\") or a device ("\\.\NUL"): as it is.
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// True when a filter takes every name, so that one pass serves folders and files.
static bool TakesEveryName(const wchar_t *filter) {
    return wcscmp(filter, L"*.*") == 0 || wcscmp(filter, L"*") == 0;
}

// Creates the output file by its full path, taken now: the same name
// removes an incomplete file at the end, wherever the current directory is.
static HANDLE CreateOutput(const wchar_t *outputPath, std::wstring &fullPath) {
    fullPath = ReachablePath(outputPath);
    // A path that fits is used in its ordinary form, with the system's usual
    // rules for names (a trailing dot dropped, as before).
    std::wstring plain = PlainFolder(fullPath);
    if (plain.size() < MAX_PATH) fullPath = plain;
    return CreateFileW(fullPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

ListingResult RunListing(const ListingRequest &request) {
    std::wstring fullOutput;
    HANDLE file = request.outputHandle;
    if (request.outputPath) {
        if (request.outputPath[0] == L'\0') return {ListingNotCreated, ERROR_PATH_NOT_FOUND};
        file = CreateOutput(request.outputPath, fullOutput);
        if (file == INVALID_HANDLE_VALUE) return {ListingNotCreated, GetLastError()};
    }
    Run run;
    run.request = &request;
    run.encoding = request.extras ? request.extras->encoding : EncodingAnsi;
    run.scan.filter = request.filter;
    run.scan.matchesEveryName = TakesEveryName(request.filter);
    run.scan.includeSubfolders = request.options.includeSubfolders;
    run.scan.includeFiles = request.options.includeFiles;
    run.scan.encoding = run.encoding;
    run.scan.ansiCodePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    run.scan.excludes = request.extras ? &request.extras->excludes : nullptr;
    run.scan.cancel = request.progress ? &request.progress->cancel : nullptr;
    if (!run.scan.matchesEveryName)
        ConvertName(request.filter, wcslen(request.filter), run.encoding, run.scan.ansiCodePage, run.filterShown);
    run.grand = {0, 0, 0, 0};
    run.stopped = false;
    run.cancelled = false;
    ConvertName(request.startFolder, wcslen(request.startFolder), run.encoding, run.scan.ansiCodePage, run.shown);
    run.wide = ReachablePath(request.startFolder);

    BeginOutput(file, run.encoding, run.scan.cancel);
    BeginVolumeLookup();
    ReportTree(run);
    EndVolumeLookup();
    if (request.extras && request.extras->totals && !run.stopped && !run.cancelled)
        WriteTotalsLine("Grand total", run.grand, run.filterShown.empty() ? nullptr : &run.filterShown);
    DWORD writeError = 0;
    if (OutputCancelled()) run.cancelled = true;
    bool written = EndOutput();
    if (!written) writeError = OutputError();
    if (request.outputPath) CloseHandle(file);
    // The scans leave the current directory where the last one entered. A
    // current directory holds at most MAX_PATH - 2 characters (and Wine
    // corrupts its process state when given more): a deeper last folder
    // leaves the current directory where it was.
    std::wstring last = PlainFolder(run.lastEntered);
    if (!last.empty() && last.size() <= MAX_PATH - 2) SetCurrentDirectoryW(last.c_str());
    ListingResult result = {ListingComplete, 0};
    if (run.cancelled) result = {ListingCancelled, 0};
    else if (!written) result = {ListingNotWritten, writeError};
    else if (run.stopped) result = {ListingNotWritten, ERROR_NOT_ENOUGH_MEMORY};
    if (result.outcome != ListingComplete && request.outputPath) DeleteFileW(fullOutput.c_str());
    return result;
}

// A count with a comma between groups of three digits ("12,345").
static std::string GroupedCount(long count) {
    std::string digits = std::to_string(count < 0 ? 0L : count), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string ProgressText(const ListingProgress &progress) {
    long files = progress.files.load(), folders = progress.folders.load();
    return GroupedCount(files) + (files == 1 ? " file in " : " files in ") + GroupedCount(folders) +
           (folders == 1 ? " folder" : " folders");
}

std::wstring WidenAnsi(const char *text) {
    UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    int units = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &wide[0], units);
    wide.resize(static_cast<size_t>(units - 1));
    return wide;
}

ListingOutcome WriteListing(const char *outputPath, const char *startFolder, const char *filter,
                            const ListingOptions &options) {
    std::wstring output = WidenAnsi(outputPath);
    std::wstring start = WidenAnsi(startFolder);
    std::wstring pattern = WidenAnsi(filter);
    ListingRequest request;
    request.outputPath = output.c_str();
    request.startFolder = start.c_str();
    request.filter = pattern.c_str();
    request.options = options;
    return RunListing(request).outcome;
}
