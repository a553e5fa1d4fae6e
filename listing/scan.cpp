// Reading a folder into its record, and ordering the entries.
#include "scan.h"

#include <shlwapi.h>

#include <algorithm>
#include <string.h>

#include "names.h"

// Entries are laid out one after another in blocks; a folder of a few names
// takes a small block, a large folder blocks of 64 KB.
void *EntryStore::Allocate(size_t bytes) {
    const size_t align = alignof(unsigned long long);
    bytes = (bytes + align - 1) / align * align;
    if (blocks_.empty() || size_ - used_ < bytes) {
        size_t size = blocks_.empty() ? 4096 : std::min<size_t>(size_ * 2, 64 * 1024);
        size = std::max(size, bytes);
        blocks_.emplace_back(new char[size]);
        size_ = size;
        used_ = 0;
    }
    void *room = blocks_.back().get() + used_;
    used_ += bytes;
    return room;
}

ListingTotals FolderTotals(const FolderRecord &folder) {
    ListingTotals totals;
    totals.excluded = folder.excluded;
    for (const EntryRecord *entry : folder.entries) {
        if (entry->IsFolder()) {
            ++totals.folders;
        } else {
            ++totals.files;
            totals.bytes += entry->size;
        }
    }
    return totals;
}

void AddTotals(ListingTotals &sum, const ListingTotals &part) {
    sum.folders += part.folders;
    sum.files += part.files;
    sum.bytes += part.bytes;
    sum.excluded += part.excluded;
}

bool TakesEveryName(const std::wstring &filter) {
    return filter == L"*.*" || filter == L"*";
}

ScanContext::ScanContext(const ListingRequest &run)
    : request(run), matchesEveryName(TakesEveryName(run.filter)),
      byRealNames(run.format != OutputFormat::Text || run.encoding == TextEncoding::Utf8),
      ansiCodePage(FileApiCodePage()), buffer(64 * 1024) {
    for (std::wstring pattern : run.excludes) {
        if (pattern.find_first_of(L"/\\") == std::wstring::npos) {
            namePatterns.push_back(pattern);
            continue;
        }
        // One separator, and the path is below the start folder already:
        // "./docs/" means "docs".
        for (wchar_t &c : pattern)
            if (c == L'/') c = L'\\';
        while (pattern.compare(0, 2, L".\\") == 0) pattern.erase(0, 2);
        while (!pattern.empty() && pattern.front() == L'\\') pattern.erase(0, 1);
        while (!pattern.empty() && pattern.back() == L'\\') pattern.pop_back();
        pathPatterns.push_back(pattern);
    }
}

// One enumerated name, whichever call found it.
struct Found {
    const wchar_t *name;
    size_t length;
    DWORD attributes;
    unsigned long long size;
    FILETIME modified;
    FILETIME created;
};

// Makes an entry of one enumerated name in the folder's store: the record,
// then the UTF-16 name, then its ANSI form. A name's length fits the
// record's fields: the enumeration's 64 KB buffer holds at most 32,767
// units, and the ANSI form takes at most two bytes a unit.
static const EntryRecord *MakeEntry(const Found &found, bool isFolder, FolderRecord &folder,
                                    ScanContext &context) {
    NarrowText(found.name, found.length, context.ansiCodePage, context.text);
    size_t ansiLength = context.text.size();
    size_t wideBytes = (found.length + 1) * sizeof(wchar_t);
    char *room = static_cast<char *>(folder.store.Allocate(sizeof(EntryRecord) + wideBytes + ansiLength + 1));
    EntryRecord *entry = reinterpret_cast<EntryRecord *>(room);
    entry->size = isFolder ? 0 : found.size;
    entry->modified = found.modified;
    entry->created = found.created;
    entry->attributes = found.attributes;
    entry->nameLength = static_cast<unsigned short>(found.length);
    entry->ansiLength = static_cast<unsigned short>(ansiLength);
    wchar_t *name = const_cast<wchar_t *>(entry->Name());
    memcpy(name, found.name, found.length * sizeof(wchar_t));
    name[found.length] = L'\0';
    char *ansiName = const_cast<char *>(entry->AnsiName());
    memcpy(ansiName, context.text.data(), ansiLength);
    ansiName[ansiLength] = '\0';
    entry->extensionOffset = 0;
    entry->nameExtension = 0;
    if (!isFolder) {
        // The extension begins after the last dot; without a dot it is empty.
        const char *dot = strrchr(ansiName, '.');
        entry->extensionOffset = static_cast<unsigned short>(dot ? static_cast<size_t>(dot - ansiName) + 1 : ansiLength);
        const wchar_t *wideDot = wcsrchr(name, L'.');
        entry->nameExtension = static_cast<unsigned short>(wideDot ? static_cast<size_t>(wideDot - name) + 1 : found.length);
    }
    return entry;
}

// True when a name matches one of the name patterns, or its path below the
// start folder one of the path patterns.
static bool IsExcluded(const Found &found, const FolderRecord &folder, ScanContext &context) {
    if (context.request.excludes.empty()) return false;
    context.name.assign(found.name, found.length);
    for (const std::wstring &pattern : context.namePatterns)
        if (PathMatchSpecW(context.name.c_str(), pattern.c_str())) return true;
    if (context.pathPatterns.empty()) return false;
    // The folder's path past the start folder begins with a separator,
    // except below a root, whose own backslash ends the start folder.
    size_t below = folder.startLength;
    if (below < folder.path.size() && folder.path[below] == L'\\') ++below;
    context.name.assign(folder.path, below, std::wstring::npos);
    if (!context.name.empty()) context.name += L'\\';
    context.name.append(found.name, found.length);
    for (const std::wstring &pattern : context.pathPatterns)
        if (PathMatchSpecW(context.name.c_str(), pattern.c_str())) return true;
    return false;
}

// True once the run has been asked to stop.
static bool StopRequested(const ScanContext &context) {
    return context.request.cancel && context.request.cancel->load(std::memory_order_relaxed);
}

// What one read takes: subfolders, files, or both. The entries go into the
// record in the order found; the ordering puts folders first, and since it
// keeps the order of equals, folders and files found mixed come out as if
// gathered apart.
struct Collected {
    bool takeFolders;
    bool takeFiles;
};

// Adds one found name to the folder's entries as the run's choices say.
static void Collect(const Found &found, Collected collected, FolderRecord &folder, ScanContext &context) {
    bool isFolder = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder ? !collected.takeFolders : !collected.takeFiles) return;
    // Folders starting with a dot are hidden ones on Unix systems: listed
    // only when asked for; "." and ".." never.
    if (isFolder && found.length > 0 && found.name[0] == L'.') {
        bool selfOrParent = found.length == 1 || (found.length == 2 && found.name[1] == L'.');
        if (selfOrParent || !context.request.dotFolders) return;
    }
    if (IsExcluded(found, folder, context)) {
        ++folder.excluded;
        return;
    }
    folder.entries.push_back(MakeEntry(found, isFolder, folder, context));
}

// Closes a handle when the read ends, however it ends.
struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() { CloseHandle(handle); }
};

// Reads the folder through its open handle: every name with its file id,
// "." among them. Before the first name is kept, the folder is reported opened.
static ScanEnd ReadHandle(HANDLE handle, Collected collected, FolderRecord &folder, ScanContext &context,
                          FolderOpened &opened) {
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    bool asked = false;
    unsigned long long ownId = 0;
    bool ownIdKnown = false;
    while (GetFileInformationByHandleEx(handle, kind, context.buffer.data(),
                                        static_cast<DWORD>(context.buffer.size()))) {
        kind = FileIdBothDirectoryInfo;
        const char *record = context.buffer.data();
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO *info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(record);
            Found found = {info->FileName, info->FileNameLength / sizeof(wchar_t), info->FileAttributes,
                           static_cast<unsigned long long>(info->EndOfFile.QuadPart),
                           {info->LastWriteTime.LowPart, static_cast<DWORD>(info->LastWriteTime.HighPart)},
                           {info->CreationTime.LowPart, static_cast<DWORD>(info->CreationTime.HighPart)}};
            bool self = found.length == 1 && found.name[0] == L'.';
            bool parent = found.length == 2 && found.name[0] == L'.' && found.name[1] == L'.';
            if (self) {
                ownId = static_cast<unsigned long long>(info->FileId.QuadPart);
                ownIdKnown = true;
            } else if (!parent) {
                if (!asked) {
                    asked = true;
                    opened.Opened(handle, ownIdKnown ? &ownId : nullptr);
                }
                Collect(found, collected, folder, context);
            }
            if (info->NextEntryOffset == 0) break;
            record += info->NextEntryOffset;
        }
        if (StopRequested(context)) return ScanEnd::Stopped;
    }
    DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND) {
        folder.status = FolderStatus::ReadInPart;
        folder.error = error;
    }
    if (!asked) opened.Opened(handle, ownIdKnown ? &ownId : nullptr);
    return ScanEnd::Done;
}

// Reads the files matching the filter with the system's own matcher (long
// names and generated short names alike, as the find calls match them).
static ScanEnd ReadFiltered(Collected collected, FolderRecord &folder, ScanContext &context) {
    std::wstring pattern = folder.reachPath;
    JoinName(pattern, context.request.filter.c_str());
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return ScanEnd::Done;
    struct FindCloser {
        HANDLE search;
        ~FindCloser() { FindClose(search); }
    } closer = {search};
    unsigned count = 0;
    do {
        Found found = {data.cFileName, wcslen(data.cFileName), data.dwFileAttributes,
                       (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                       data.ftLastWriteTime, data.ftCreationTime};
        Collect(found, collected, folder, context);
        if ((++count & 1023) == 0 && StopRequested(context)) return ScanEnd::Stopped;
    } while (FindNextFileW(search, &data));
    return ScanEnd::Done;
}

ScanEnd ReadFolder(FolderRecord &folder, ScanContext &context, FolderOpened &opened) {
    if (StopRequested(context)) return ScanEnd::Stopped;
    HANDLE handle = CreateFileW(folder.reachPath.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        folder.status = FolderStatus::NotRead;
        folder.error = GetLastError();
        return ScanEnd::Done;
    }
    bool onePass = context.request.includeFiles && context.matchesEveryName;
    Collected collected = {context.request.includeSubfolders, onePass};
    ScanEnd end;
    {
        HandleCloser closer = {handle};
        end = ReadHandle(handle, collected, folder, context, opened);
    }
    if (end == ScanEnd::Done && context.request.includeFiles && !onePass)
        end = ReadFiltered(Collected{false, true}, folder, context);
    return end;
}

// The sort keys by name, in the order of their values.
static const char *const SortKeyNames[] = {"name", "extension", "size", "date"};
static_assert(sizeof SortKeyNames / sizeof SortKeyNames[0] == static_cast<size_t>(SortKey::Date) + 1,
              "SortKeyNames[key] names each key");

const char *SortKeyName(SortKey key) { return SortKeyNames[static_cast<int>(key)]; }

// Compares two names, or their extensions, in the form that orders them.
static int CompareNames(const EntryRecord *first, const EntryRecord *second, bool extensions, bool byRealNames) {
    if (byRealNames) {
        size_t a = extensions ? first->nameExtension : 0, b = extensions ? second->nameExtension : 0;
        return CompareRealNamesNoCase(first->Name() + a, first->nameLength - a, second->Name() + b,
                                      second->nameLength - b);
    }
    if (extensions)
        return CompareNamesNoCase(first->AnsiName() + first->extensionOffset,
                                  second->AnsiName() + second->extensionOffset);
    return CompareNamesNoCase(first->AnsiName(), second->AnsiName());
}

// True when `first` must be listed after `second`: folders before files,
// folders by name, files by the key; equal keys never follow each other.
static bool MustFollow(const EntryRecord *first, const EntryRecord *second, SortKey key, bool byRealNames) {
    if (first->IsFolder() != second->IsFolder()) return !first->IsFolder();
    if (first->IsFolder()) return CompareNames(first, second, false, byRealNames) > 0;
    switch (key) {
    case SortKey::Name: return CompareNames(first, second, false, byRealNames) > 0;
    case SortKey::Extension: return CompareNames(first, second, true, byRealNames) > 0;
    case SortKey::Size: return first->size > second->size;
    case SortKey::Date: return CompareFileTime(&first->modified, &second->modified) > 0;
    }
    return false;
}

// The library's stable sort gives the order that exchanging neighbours
// until none must follow the next would give; without memory for its
// scratch space it sorts in place, in the same order.
void OrderEntries(std::vector<const EntryRecord *> &entries, SortKey key, bool byRealNames) {
    std::stable_sort(entries.begin(), entries.end(), [key, byRealNames](const EntryRecord *a, const EntryRecord *b) {
        return MustFollow(b, a, key, byRealNames);
    });
}
