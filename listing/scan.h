// listing/scan.h: reads one folder into a list of entries and orders it.
// The caller of ScanFolder owns the list and releases it with FreeEntryList;
// OrderEntries only relinks it. Side effect: ScanFolder makes the folder the
// process's current directory.
#pragma once
#include <windows.h>

#include <stddef.h>

// Room for the names inside an entry: an enumerated name has at most 259
// characters and its terminator, so no name is ever cut; a folder keeps its
// enumerated form after its uppercase one. A record is allocated only as
// long as its names need, so a folder of many short names stays small.
const size_t EntryNameSize = 2 * 260;

// One scanned subfolder or file; the entries of one scan are chained by `next`.
struct FolderEntry {
    FolderEntry *next;
    unsigned char isFolder;       // 1 for a subfolder, 0 for a file
    unsigned char isLink;         // a folder reached through a link (reparse point)
    int nameLength;               // bytes of `name` before its terminator
    int extensionOffset;          // one past the last dot of a file name, else its length; 0 for folders
    unsigned long long size;      // the full 64-bit size in bytes
    FILETIME lastWriteTime;       // UTC
    char name[EntryNameSize];     // folders in uppercase, files in their own case
};

// The name of a folder entry as the file system enumerated it, in its own
// case: the way to reach the folder where names are case-sensitive.
const char *FoundName(const FolderEntry *entry);

// The bytes to allocate for an entry whose name has `nameLength` characters.
size_t EntryBytes(bool isFolder, size_t nameLength);

// Enters `folder` (SetCurrentDirectoryA) and lists its subfolders (those not
// starting with a dot), then its files matching `filter`, each group in
// enumeration order. Null when the folder cannot be entered or holds nothing.
// `*complete` turns false when an entry could not be allocated: the list then
// holds only what was read before, and the caller must not use it as whole.
FolderEntry *ScanFolder(const char *folder, const char *filter, bool includeSubfolders,
                        bool includeFiles, bool *complete);

// Relinks the list: folders first by name, then files by `sortKey` (any other
// key keeps them in scan order); equal keys keep scan order. Returns the new head.
FolderEntry *OrderEntries(FolderEntry *head, int sortKey);

// Releases every entry of the list.
void FreeEntryList(FolderEntry *head);

// Replaces the allocator of entries and of the ordering's scratch array
// (malloc when null); they are released with free. Lets tests run out of memory.
void SetEntryAllocator(void *(*allocate)(size_t bytes));
