// Folder scan and entry ordering.
#include "scan.h"

#include <shlwapi.h>

#include <algorithm>
#include <stdlib.h>
#include <string.h>

#include "names.h"

static void *(*EntryAllocate)(size_t bytes) = malloc;

void SetEntryAllocator(void *(*allocate)(size_t bytes)) {
    EntryAllocate = allocate ? allocate : malloc;
}

// The wide name sits behind the narrow ones, aligned for its units.
static size_t WideStart(size_t narrowBytes) {
    return (narrowBytes + alignof(wchar_t) - 1) / alignof(wchar_t) * alignof(wchar_t);
}

size_t EntryBytes(bool isFolder, size_t nameLength, size_t keyBytes, size_t wideUnits) {
    size_t narrow = nameLength + 1 + keyBytes;
    size_t bytes = offsetof(FolderEntry, name) + narrow;
    if (isFolder && wideUnits > 0) bytes = offsetof(FolderEntry, name) + WideStart(narrow) + wideUnits * sizeof(wchar_t);
    return std::max(bytes, sizeof(FolderEntry));
}

void ConvertName(const wchar_t *text, size_t length, ListingEncoding encoding, UINT ansiCodePage,
                 std::string &out) {
    out.clear();
    if (length == 0) return;
    // Every ANSI and OEM code page, and UTF-8, keeps the ASCII characters as
    // they are: most names need no call to the system at all.
    size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80) ++ascii;
    if (ascii == length) {
        out.resize(length);
        for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(text[i]);
        return;
    }
    UINT codePage = encoding == EncodingUtf8 ? CP_UTF8 : ansiCodePage;
    int units = static_cast<int>(length);
    // One pass into room that any code page suffices for (at most 4 bytes a unit).
    out.resize(length * 4);
    int bytes = WideCharToMultiByte(codePage, 0, text, units, &out[0], static_cast<int>(out.size()),
                                    nullptr, nullptr);
    out.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
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

// One enumerated name, whichever call found it.
struct Found {
    const wchar_t *name;
    size_t length;
    DWORD attributes;
    unsigned long long size;
    FILETIME lastWriteTime;
};

// Raises a-z only: no locale or code page is consulted, and bytes from 0x80 up stay.
static void RaiseAsciiLetters(char *text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - ('a' - 'A'));
}

// Makes an entry from one enumerated record; null when memory runs out.
static FolderEntry *MakeEntry(const Found &found, bool isFolder, ScanContext &context) {
    ConvertName(found.name, found.length, context.encoding, context.ansiCodePage, context.text);
    // A UTF-8 listing orders by the ANSI form, so that both encodings list in one order.
    std::string key;
    if (context.encoding == EncodingUtf8)
        ConvertName(found.name, found.length, EncodingAnsi, context.ansiCodePage, key);
    size_t length = context.text.size();
    size_t keyBytes = context.encoding == EncodingUtf8 ? key.size() + 1 : 0;
    size_t wideUnits = isFolder ? found.length + 1 : 0;
    FolderEntry *entry = static_cast<FolderEntry *>(EntryAllocate(EntryBytes(isFolder, length, keyBytes, wideUnits)));
    if (!entry) return nullptr;
    entry->next = nullptr;
    entry->isFolder = isFolder ? 1 : 0;
    entry->isReparse = (found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
    entry->nameLength = static_cast<int>(length);
    entry->size = isFolder ? 0 : found.size;
    entry->lastWriteTime = found.lastWriteTime;
    memcpy(entry->name, context.text.data(), length);
    entry->name[length] = '\0';
    entry->keyOffset = 0;
    char *keyText = entry->name;
    size_t keyLength = length;
    if (keyBytes) {
        entry->keyOffset = static_cast<int>(length + 1);
        keyText = entry->name + length + 1;
        keyLength = key.size();
        memcpy(keyText, key.c_str(), key.size() + 1);
    }
    entry->wideOffset = 0;
    if (isFolder) {
        RaiseAsciiLetters(entry->name, length);
        if (keyBytes) RaiseAsciiLetters(keyText, keyLength);
        entry->extensionOffset = 0;
        entry->wideOffset = static_cast<int>(WideStart(length + 1 + keyBytes));
        wchar_t *wide = reinterpret_cast<wchar_t *>(entry->name + entry->wideOffset);
        memcpy(wide, found.name, found.length * sizeof(wchar_t));
        wide[found.length] = L'\0';
    } else {
        // The extension begins after the last dot; without a dot it is empty.
        const char *dot = strrchr(keyText, '.');
        entry->extensionOffset = static_cast<int>(dot ? static_cast<size_t>(dot - keyText) + 1 : keyLength);
    }
    return entry;
}

// True when a name matches one of the exclusion patterns.
static bool IsExcluded(const Found &found, const ScanContext &context, std::wstring &scratch) {
    if (!context.excludes || context.excludes->empty()) return false;
    scratch.assign(found.name, found.length);
    for (const std::wstring &pattern : *context.excludes)
        if (PathMatchSpecW(scratch.c_str(), pattern.c_str())) return true;
    return false;
}

// True once the run has been asked to stop.
static bool StopRequested(const ScanContext &context) {
    return context.cancel && context.cancel->load(std::memory_order_relaxed);
}

// Adds one found record to the folder or file list as the scan's choices
// say; false when memory ran out.
static bool Collect(const Found &found, ListEnds *folders, ListEnds *files, ScanContext &context,
                    ScanResult &result, std::wstring &scratch) {
    bool isFolder = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ListEnds *list = isFolder ? folders : files;
    // Folders starting with a dot (".", ".." and hidden ones) are never listed.
    if (!list || (isFolder && found.length > 0 && found.name[0] == L'.')) return true;
    if (IsExcluded(found, context, scratch)) {
        ++result.excluded;
        return true;
    }
    FolderEntry *entry = MakeEntry(found, isFolder, context);
    if (!entry) return false;
    AppendEntry(list, entry);
    return true;
}

// Enumerates the folder through its open handle: every name with its file
// id, "." among them. Folders go to `folders`, files to `files` (either may
// be null to skip that kind). Before the first name is kept, `opened` may stop the scan.
static bool EnumerateHandle(HANDLE handle, ListEnds *folders, ListEnds *files, ScanContext &context,
                            ScanResult &result,
                            bool (*opened)(HANDLE, const ScanResult &, void *), void *data) {
    std::wstring scratch;
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    bool asked = false;
    while (GetFileInformationByHandleEx(handle, kind, context.buffer.data(),
                                        static_cast<DWORD>(context.buffer.size()))) {
        kind = FileIdBothDirectoryInfo;
        const char *record = context.buffer.data();
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO *info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(record);
            Found found = {info->FileName, info->FileNameLength / sizeof(wchar_t), info->FileAttributes,
                           static_cast<unsigned long long>(info->EndOfFile.QuadPart),
                           {info->LastWriteTime.LowPart, static_cast<DWORD>(info->LastWriteTime.HighPart)}};
            bool self = found.length == 1 && found.name[0] == L'.';
            bool parent = found.length == 2 && found.name[0] == L'.' && found.name[1] == L'.';
            if (self) {
                result.ownId = static_cast<unsigned long long>(info->FileId.QuadPart);
                result.ownIdKnown = true;
            } else if (!parent) {
                if (!asked) {
                    asked = true;
                    if (opened && !opened(handle, result, data)) {
                        result.refused = true;
                        return true;
                    }
                }
                if (!Collect(found, folders, files, context, result, scratch)) return false;
            }
            if (info->NextEntryOffset == 0) break;
            record += info->NextEntryOffset;
        }
        if (StopRequested(context)) {
            result.cancelled = true;
            return true;
        }
    }
    if (!asked && opened && !opened(handle, result, data)) result.refused = true;
    return true;
}

// Enumerates the files matching the filter with the system's own matcher
// (long names and generated short names alike, as the find calls match them).
static bool EnumerateFiltered(const std::wstring &folder, ListEnds *files, ScanContext &context,
                              ScanResult &result) {
    std::wstring pattern = folder;
    if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
    pattern += context.filter;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return true;
    std::wstring scratch;
    bool allocated = true;
    unsigned count = 0;
    do {
        Found found = {data.cFileName, wcslen(data.cFileName), data.dwFileAttributes,
                       (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                       data.ftLastWriteTime};
        if (!Collect(found, nullptr, files, context, result, scratch)) {
            allocated = false;
            break;
        }
        if ((++count & 1023) == 0 && StopRequested(context)) {
            result.cancelled = true;
            break;
        }
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return allocated;
}

ScanResult ScanFolder(const std::wstring &folder, ScanContext &context,
                      bool (*opened)(HANDLE handle, const ScanResult &soFar, void *data), void *data) {
    ScanResult result = {nullptr, false, false, true, false, 0, false, 0};
    if (StopRequested(context)) {
        result.cancelled = true;
        return result;
    }
    HANDLE handle = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return result;
    result.opened = true;
    if (context.buffer.size() < 64 * 1024) context.buffer.resize(64 * 1024);
    ListEnds folders = {nullptr, nullptr};
    ListEnds files = {nullptr, nullptr};
    bool onePass = context.includeFiles && context.matchesEveryName;
    bool allocated = EnumerateHandle(handle, context.includeSubfolders ? &folders : nullptr,
                                     onePass ? &files : nullptr, context, result, opened, data);
    CloseHandle(handle);
    if (result.refused) return result;
    if (allocated && !result.cancelled && context.includeFiles && !onePass)
        allocated = EnumerateFiltered(folder, &files, context, result);
    result.complete = allocated;
    if (folders.first) {
        folders.last->next = files.first;
        result.entries = folders.first;
    } else {
        result.entries = files.first;
    }
    return result;
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
    if (first->isFolder) return CompareNamesNoCase(OrderKey(first), OrderKey(second)) > 0;
    switch (sortKey) {
    case SortByName: return CompareNamesNoCase(OrderKey(first), OrderKey(second)) > 0;
    case SortByExtension:
        return CompareNamesNoCase(OrderKey(first) + first->extensionOffset,
                                  OrderKey(second) + second->extensionOffset) > 0;
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
