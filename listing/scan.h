// listing/scan.h: reads one folder into a list of entries and orders it.
// The caller of ScanFolder owns the list and releases it with FreeEntryList;
// OrderEntries only relinks it. Folders are read through an open handle by
// their UTF-16 names; each entry keeps the form the listing shows.
#pragma once
#include <windows.h>

#include <stddef.h>

#include <string>
#include <vector>

#include "listing.h"

// One scanned subfolder or file; the entries of one scan are chained by `next`.
// The record is allocated as long as its names need: `name` holds the shown
// name and its terminator, then (UTF-8 listings only) the ANSI form that
// orders it, then, for a folder, its UTF-16 name aligned behind.
struct FolderEntry {
    FolderEntry *next;
    unsigned char isFolder;       // 1 for a subfolder, 0 for a file
    unsigned char isReparse;      // a link or mount point: may lead to another volume
    int nameLength;               // bytes of the shown name before its terminator
    int keyOffset;                // where in `name` the ordering's form begins (0: the shown name)
    int extensionOffset;          // in that form: one past the last dot of a file name, else its length; 0 for folders
    int wideOffset;               // a folder's UTF-16 name: bytes from `name`, or 0
    unsigned long long size;      // the full 64-bit size in bytes
    FILETIME lastWriteTime;       // UTC
    char name[8];                 // the names; the record runs on past this array
};

// The bytes to allocate for an entry whose shown name has `nameLength`
// bytes, whose ordering form takes `keyBytes` more (its terminator included;
// 0 when the shown name orders it), and whose UTF-16 name takes `wideUnits`
// units with its terminator (folders only).
size_t EntryBytes(bool isFolder, size_t nameLength, size_t keyBytes = 0, size_t wideUnits = 0);

// The form the ordering compares: the shown name, or its ANSI form in UTF-8 listings.
inline const char *OrderKey(const FolderEntry *entry) { return entry->name + entry->keyOffset; }

// A folder entry's real name, by which it is entered.
inline const wchar_t *WideName(const FolderEntry *entry) {
    return reinterpret_cast<const wchar_t *>(entry->name + entry->wideOffset);
}

// What a scan needs besides the folder: the run's choices and its scratch space.
struct ScanContext {
    const wchar_t *filter;           // the file pattern, passed to the system's find call
    bool matchesEveryName;           // "*.*" or "*": one pass serves folders and files
    bool includeSubfolders;
    bool includeFiles;
    ListingEncoding encoding;
    UINT ansiCodePage;               // the code page the ANSI interfaces use
    const std::vector<std::wstring> *excludes;  // may be null
    const std::atomic<bool> *cancel;            // may be null
    std::vector<char> buffer;        // the enumeration's buffer, reused for every folder
    std::string text;                // scratch for conversions
};

// Identity of a folder: the volume and the file id on it.
struct FolderIdentity {
    unsigned long long volume;
    unsigned long long file;
    bool known;
};

// What one scan found besides the entries.
struct ScanResult {
    FolderEntry *entries;   // subfolders (names not starting with a dot), then files
    bool opened;            // the folder could be opened (and was enumerated)
    bool refused;           // `opened` stopped the scan: nothing was kept
    bool complete;          // false when an entry could not be allocated
    bool cancelled;         // the run was asked to stop during the scan
    unsigned long long ownId;  // the folder's own file id, from its "." entry
    bool ownIdKnown;
    int excluded;           // entries left out by the exclusion patterns
};

// Opens `folder` (a `\\?\` path) and reads its subfolders, then its files
// matching the filter, each group in enumeration order. Calls `opened`
// with the open handle and the folder's own id before anything is kept:
// when it returns false the scan stops there (a folder already on the
// descent path) and the result holds no entries.
ScanResult ScanFolder(const std::wstring &folder, ScanContext &context,
                      bool (*opened)(HANDLE handle, const ScanResult &soFar, void *data),
                      void *data);

// Relinks the list: folders first by name, then files by `sortKey` (any other
// key keeps them in scan order); equal keys keep scan order. Returns the new head.
FolderEntry *OrderEntries(FolderEntry *head, int sortKey);

// Releases every entry of the list.
void FreeEntryList(FolderEntry *head);

// Replaces the allocator of entries and of the ordering's scratch array
// (malloc when null); they are released with free. Lets tests run out of memory.
void SetEntryAllocator(void *(*allocate)(size_t bytes));

// Converts `length` UTF-16 units to the listing's form (ANSI as the ANSI
// interfaces convert, or UTF-8) into `out`.
void ConvertName(const wchar_t *text, size_t length, ListingEncoding encoding, UINT ansiCodePage,
                 std::string &out);
