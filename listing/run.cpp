// The listing run: creates the file and reports the folder tree in pre-order.
#include "listing.h"

#include <string.h>

#include <string>

#include "format.h"
#include "scan.h"

// A path of at most 259 characters and its terminator.
const size_t PathSize = MAX_PATH;

// One folder on the current descent path. Its identity (volume and file
// index) is taken only when a link makes a loop possible, since opening a
// folder costs as much as reading a small one.
struct DescentStep {
    DescentStep *parent;
    const char *diskPath;  // the path by which the folder was entered
    bool belowLink;        // reached through a link, or below one
    bool asked;            // the identity has been asked for
    bool known;            // ... and the folder could be opened to tell it
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// Set when the run must end early: an entry could not be allocated.
static bool runStopped = false;

// Takes the identity of the step's folder, once.
static void IdentifyFolder(DescentStep *step) {
    if (step->asked) return;
    step->asked = true;
    HANDLE folder = CreateFileA(step->diskPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(folder, &info)) {
        step->known = true;
        step->volume = info.dwVolumeSerialNumber;
        step->indexHigh = info.nFileIndexHigh;
        step->indexLow = info.nFileIndexLow;
    }
    CloseHandle(folder);
}

// True when `step` is the same folder as one already on the descent path.
// Only links (reparse points) can lead back up a tree: below the last link
// every subfolder is checked, elsewhere none is. A bind mount, which shows
// no link, is not recognised.
static bool IsOnDescentPath(DescentStep *step) {
    if (!step->belowLink) return false;
    IdentifyFolder(step);
    if (!step->known) return false;
    for (DescentStep *above = step->parent; above; above = above->parent) {
        IdentifyFolder(above);
        if (above->known && above->volume == step->volume && above->indexHigh == step->indexHigh &&
            above->indexLow == step->indexLow)
            return true;
    }
    return false;
}

// Joins a folder path and a name into `out` with one "\" (none after a
// root's own); false, leaving `out` unusable, when it would not fit.
static bool JoinPath(char *out, const char *folder, const char *name) {
    size_t folderLength = strlen(folder);
    size_t nameLength = strlen(name);
    size_t separator = (folderLength > 0 && folder[folderLength - 1] != '\\') ? 1 : 0;
    if (folderLength + separator + nameLength > PathSize - 1) return false;
    memcpy(out, folder, folderLength);
    if (separator) out[folderLength] = '\\';
    memcpy(out + folderLength + separator, name, nameLength + 1);
    return true;
}

// Writes the block of one folder and then, when subfolders are included,
// the blocks below it, depth first. `path` is shown in the listing (its
// descended components uppercased); `diskPath` is the same folder with the
// names as enumerated, by which it is entered.
static void ReportFolder(const char *path, const char *diskPath, const char *filter,
                         const ListingOptions &options, DescentStep *step) {
    bool complete = true;
    FolderEntry *list = ScanFolder(diskPath, filter, options.includeSubfolders,
                                   options.includeFiles, &complete);
    if (!complete) {
        // Out of memory: a listing with entries missing would pass for whole,
        // so the run stops and the file is removed.
        FreeEntryList(list);
        runStopped = true;
        return;
    }
    list = OrderEntries(list, options.sortKey);
    WriteFolderHeading(path, options.fullPathInHeading);
    WriteEntryLines(path, list, options.pathOnEachLine, options.showDetails);
    WriteFolderEnd();
    if (options.includeSubfolders) {
        char childPath[PathSize];
        char childDiskPath[PathSize];
        for (const FolderEntry *entry = list; entry; entry = entry->next) {
            if (runStopped || OutputFailed()) break;
            if (!entry->isFolder) continue;
            // A subfolder whose path would pass 259 characters is listed in
            // this block but gets no block of its own: it cannot be reached
            // by a path of that size.
            if (!JoinPath(childPath, path, entry->name) ||
                !JoinPath(childDiskPath, diskPath, FoundName(entry)))
                continue;
            DescentStep child = {step, childDiskPath, step->belowLink || entry->isLink != 0,
                                 false, false, 0, 0, 0};
            // A link back to a folder being reported would repeat the tree
            // without end: listed above, not descended.
            if (IsOnDescentPath(&child)) continue;
            // This folder's whole block is already written, so the shared
            // line buffer is free for the subfolder's blocks.
            ReportFolder(childPath, childDiskPath, filter, options, &child);
        }
    }
    FreeEntryList(list);
}

// Interim form over the ANSI engine, replaced by the wide engine.
static std::string ToAnsi(const wchar_t *text) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

ListingResult RunListing(const ListingRequest &request) {
    std::string output = ToAnsi(request.outputPath ? request.outputPath : L"");
    std::string start = ToAnsi(request.startFolder);
    std::string filter = ToAnsi(request.filter);
    char fullPath[PathSize];
    DWORD length = GetFullPathNameA(output.c_str(), PathSize, fullPath, nullptr);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (length > 0 && length < PathSize)
        file = CreateFileA(fullPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {ListingNotCreated, GetLastError()};
    BeginOutput(file);
    runStopped = false;
    DescentStep top = {nullptr, start.c_str(), false, false, false, 0, 0, 0};
    ReportFolder(start.c_str(), start.c_str(), filter.c_str(), request.options, &top);
    bool written = EndOutput() && !runStopped;
    CloseHandle(file);
    if (!written) {
        DeleteFileA(fullPath);
        return {ListingNotWritten, ERROR_DISK_FULL};
    }
    return {ListingComplete, 0};
}

ListingOutcome WriteListing(const char *outputPath, const char *startFolder, const char *filter,
                            const ListingOptions &options) {
    std::wstring wide[3];
    const char *ansi[3] = {outputPath, startFolder, filter};
    for (int i = 0; i < 3; ++i) {
        int units = MultiByteToWideChar(CP_ACP, 0, ansi[i], -1, nullptr, 0);
        wide[i].assign(static_cast<size_t>(units > 0 ? units : 1), L'\0');
        MultiByteToWideChar(CP_ACP, 0, ansi[i], -1, &wide[i][0], units);
    }
    ListingRequest request;
    request.outputPath = wide[0].c_str();
    request.startFolder = wide[1].c_str();
    request.filter = wide[2].c_str();
    request.options = options;
    return RunListing(request).outcome;
}
