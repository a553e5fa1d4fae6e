// listing/scan.h: reads one folder into a record and orders its entries.
// Folders are read through an open handle by their UTF-16 names; each
// entry keeps its real name and the ANSI form that orders it. The scratch
// space belongs to the walk that reads, one per run.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "listing.h"
#include "records.h"

// What reading needs besides the folder: the run's request, what follows
// from it, and scratch space reused for every folder.
struct ScanContext {
    explicit ScanContext(const ListingRequest &run);

    const ListingRequest &request;
    bool matchesEveryName;           // "*.*" or "*": one pass serves folders and files
    bool byRealNames;                // order by the UTF-16 names (else by their ANSI form)
    UINT ansiCodePage;               // the code page the ANSI file calls use
    std::vector<char> buffer;        // the enumeration's buffer, made with the context
    std::string text;                // scratch for conversions
    std::vector<std::wstring> namePatterns;  // exclusions matched against a name
    std::vector<std::wstring> pathPatterns;  // exclusions matched against the path below the start folder, "\\" between names
    std::wstring name;               // scratch for the exclusion match
};

// Told of a folder once it is open and its reading has begun, with its own
// file id (when its enumeration gave one), before anything is kept: the
// folder counts as entered even when reading it goes no further.
struct FolderOpened {
    virtual void Opened(HANDLE folder, const unsigned long long *ownId) = 0;
    virtual ~FolderOpened() = default;
};

// How a read ended besides the record's status.
enum class ScanEnd { Done, Stopped };

// Opens `folder.reachPath` and reads its subfolders (names not starting
// with a dot, unless the request takes them) and its files matching the filter into `folder`, in the order
// found (OrderEntries then puts folders first); sets its status and error.
// Throws std::bad_alloc when memory runs out.
ScanEnd ReadFolder(FolderRecord &folder, ScanContext &context, FolderOpened &opened);

// Orders the entries: folders first by name, then files by `key`; equal
// keys keep scan order. Names compare case-insensitively: by their real
// UTF-16 form as the file system compares names when `byRealNames`, else by
// their ANSI form, as the ANSI listing always has.
void OrderEntries(std::vector<const EntryRecord *> &entries, SortKey key, bool byRealNames);

// True when a filter takes every name, so that one pass serves folders and files.
bool TakesEveryName(const std::wstring &filter);
