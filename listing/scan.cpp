// Folder scan and entry ordering.
#include "scan.h"

#include <algorithm>
#include <stdlib.h>
#include <string.h>

#include "listing.h"
#include "names.h"

static void *(*EntryAllocate)(size_t bytes) = malloc;

void SetEntryAllocator(void *(*allocate)(size_t bytes)) {
    EntryAllocate = allocate ? allocate : malloc;
}

// A folder entry carries its enumerated name after its uppercase name.
const char *FoundName(const FolderEntry *entry) {
    return entry->name + entry->nameLength + 1;
}

size_t EntryBytes(bool isFolder, size_t nameLength) {
    return offsetof(FolderEntry, name) + (nameLength + 1) * (isFolder ? 2 : 1);
}

// The first and last entries of a list being built.
struct ListEnds {
    FolderEntry *first;
    FolderEntry *last;
};

// Appends an entry to the end of a list.
static void AppendEntry(ListEnds *list, FolderEntry *entry) {
    if (list->last) list->last->next = entry;
    else list->first = entry;
    list->last = entry;
}

// Makes an entry from one enumerated record; null when memory runs out.
static FolderEntry *MakeEntry(const WIN32_FIND_DATAA &found, bool isFolder) {
    size_t length = strnlen(found.cFileName, sizeof found.cFileName - 1);
    FolderEntry *entry = static_cast<FolderEntry *>(EntryAllocate(EntryBytes(isFolder, length)));
    if (!entry) return nullptr;
    entry->next = nullptr;
    entry->isFolder = isFolder ? 1 : 0;
    entry->isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
    entry->nameLength = static_cast<int>(length);
    entry->size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entry->lastWriteTime = found.ftLastWriteTime;
    memcpy(entry->name, found.cFileName, length);
    entry->name[length] = '\0';
    if (isFolder) {
        char *kept = entry->name + length + 1;
        memcpy(kept, found.cFileName, length);
        kept[length] = '\0';
        // Only the ASCII letters are raised: no locale or code page is consulted.
        for (size_t i = 0; i < length; ++i) {
            char c = entry->name[i];
            if (c >= 'a' && c <= 'z') entry->name[i] = static_cast<char>(c - ('a' - 'A'));
        }
        entry->extensionOffset = 0;
    } else {
        // The extension begins after the last dot; without a dot it is empty.
        size_t offset = length;
        for (size_t i = length; i > 0; --i) {
            if (entry->name[i - 1] == '.') {
                offset = i;
                break;
            }
        }
        entry->extensionOffset = static_cast<int>(offset);
    }
    return entry;
}

// Enumerates `pattern` in the current directory, appending subfolders to
// `folders` and files to `files` (either may be null to skip that kind).
// Returns false when an entry could not be allocated.
static bool EnumeratePattern(const char *pattern, ListEnds *folders, ListEnds *files) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool allocated = true;
    do {
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        ListEnds *list = isFolder ? folders : files;
        // Folders starting with a dot (".", ".." and hidden ones) are never listed.
        if (!list || (isFolder && found.cFileName[0] == '.')) continue;
        FolderEntry *entry = MakeEntry(found, isFolder);
        if (!entry) {
            allocated = false;
            break;
        }
        AppendEntry(list, entry);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return allocated;
}

// True for the filters that match every name, where one enumeration can
// serve the folder pass and the file pass with the same entries in the same order.
static bool MatchesEveryName(const char *filter) {
    return strcmp(filter, "*.*") == 0 || strcmp(filter, "*") == 0;
}

// Enters the folder and collects its subfolders, then its files.
FolderEntry *ScanFolder(const char *folder, const char *filter, bool includeSubfolders,
                        bool includeFiles, bool *complete) {
    *complete = true;
    if (!SetCurrentDirectoryA(folder)) return nullptr;
    ListEnds folders = {nullptr, nullptr};
    ListEnds files = {nullptr, nullptr};
    bool allocated = true;
    if (includeSubfolders && includeFiles && MatchesEveryName(filter)) {
        allocated = EnumeratePattern("*.*", &folders, &files);
    } else {
        if (includeSubfolders) allocated = EnumeratePattern("*.*", &folders, nullptr);
        if (allocated && includeFiles) allocated = EnumeratePattern(filter, nullptr, &files);
    }
    *complete = allocated;
    if (!folders.first) return files.first;
    folders.last->next = files.first;
    return folders.first;
}

void FreeEntryList(FolderEntry *head) {
    while (head) {
        FolderEntry *next = head->next;
        free(head);
        head = next;
    }
}

// True when `first` must be listed after `second`: folders before files,
// folders by name, files by the key; equal keys never follow each other.
static bool MustFollow(const FolderEntry *first, const FolderEntry *second, int sortKey) {
    if (first->isFolder != second->isFolder) return !first->isFolder;
    if (first->isFolder) return CompareNamesNoCase(first->name, second->name) > 0;
    switch (sortKey) {
    case SortByName: return CompareNamesNoCase(first->name, second->name) > 0;
    case SortByExtension:
        return CompareNamesNoCase(first->name + first->extensionOffset,
                                  second->name + second->extensionOffset) > 0;
    case SortBySize: return first->size > second->size;
    case SortByDate: return CompareFileTime(&first->lastWriteTime, &second->lastWriteTime) > 0;
    default: return false;
    }
}

// Without memory for the scratch array: a stable insertion sort over the
// links alone, slow for long lists but the same order.
static FolderEntry *OrderInPlace(FolderEntry *head, int sortKey) {
    FolderEntry *sorted = nullptr;
    while (head) {
        FolderEntry *entry = head;
        head = head->next;
        // Insert after every entry that it does not precede, so ties stay in scan order.
        FolderEntry **link = &sorted;
        while (*link && !MustFollow(*link, entry, sortKey)) link = &(*link)->next;
        entry->next = *link;
        *link = entry;
    }
    return sorted;
}

// Sorts an array of the entries with the library's stable sort and relinks
// them: the order that exchanging neighbours until none must follow the next gives.
FolderEntry *OrderEntries(FolderEntry *head, int sortKey) {
    if (!head || !head->next) return head;
    size_t count = 0;
    for (FolderEntry *entry = head; entry; entry = entry->next) ++count;
    FolderEntry **items = static_cast<FolderEntry **>(EntryAllocate(count * sizeof(FolderEntry *)));
    if (!items) return OrderInPlace(head, sortKey);
    size_t i = 0;
    for (FolderEntry *entry = head; entry; entry = entry->next) items[i++] = entry;
    std::stable_sort(items, items + count, [sortKey](const FolderEntry *a, const FolderEntry *b) {
        return MustFollow(b, a, sortKey);
    });
    for (i = 0; i + 1 < count; ++i) items[i]->next = items[i + 1];
    items[count - 1]->next = nullptr;
    head = items[0];
    free(items);
    return head;
}
