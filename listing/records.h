// listing/records.h: what the walk hands to writers. For every folder, in
// listing order, one FolderRecord: its paths, how reading it went, and its
// entries, ordered. A writer turns records into a file; it knows nothing
// of how folders are read, and a new writer needs no change to the walk.
// A record and everything it points to live until the writer's call returns.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// One subfolder or file of a folder. Its names follow it in the folder's
// store: the real name in UTF-16, then the name as the ANSI file calls give
// it; both terminated. The record is kept small: a folder of many files
// holds one per file while it is written.
struct EntryRecord {
    unsigned long long size;         // bytes; 0 for folders
    FILETIME modified;               // last write, UTC
    FILETIME created;                // creation, UTC
    DWORD attributes;                // FILE_ATTRIBUTE_*, as the system reports them
    unsigned short nameLength;       // units of Name()
    unsigned short ansiLength;       // bytes of AnsiName()
    unsigned short extensionOffset;  // in AnsiName(): one past the last dot of a file name, else its length; 0 for folders
    unsigned short nameExtension;    // the same in Name()

    bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    const wchar_t *Name() const { return reinterpret_cast<const wchar_t *>(this + 1); }
    // The form that orders the entries.
    const char *AnsiName() const { return reinterpret_cast<const char *>(Name() + nameLength + 1); }
};

// How reading a folder went.
enum class FolderStatus {
    Read,         // read in full
    ReadInPart,   // reading stopped early (`error` says why): the entries read so far
    NotRead,      // it could not be opened (`error` says why): no entries
    LeadsBack,    // a link or mount leading back to a folder above it: not read, no entries
};

// Where the entries' names live: blocks that never move, released with the record.
class EntryStore {
public:
    // Room for `bytes`, aligned for any entry field; throws std::bad_alloc.
    void *Allocate(size_t bytes);

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0;  // bytes taken of the last block
    size_t size_ = 0;  // bytes of the last block
};

// The fingerprints of one file: one lowercase hex digest per algorithm of
// the request, or none and the reason the file could not be read.
struct EntryDigests {
    DWORD error = 0;
    std::vector<std::string> hex;
};

// One folder, read and ordered.
struct FolderRecord {
    std::wstring path;           // as shown: the start folder as given, then the real names below it
    size_t startLength = 0;      // units of `path` that are the start folder
    std::wstring reachPath;      // the same folder as the system reaches it ("\\?\" form)
    unsigned depth = 0;          // 0 for the start folder
    DWORD attributes = 0;        // the folder's own, as its parent's entry has them; 0 when unknown
    FILETIME modified = {0, 0};  // the same for its last write, UTC
    FolderStatus status = FolderStatus::Read;
    DWORD error = 0;             // GetLastError when not read in full
    std::vector<const EntryRecord *> entries;  // folders first by name, then files in the sort order
    unsigned excluded = 0;       // names left out by the exclusion patterns
    // With hashes asked for: one per entry, in the entries' order (empty for folders).
    std::vector<EntryDigests> digests;
    EntryStore store;
};

// What a totals line counts.
struct ListingTotals {
    unsigned long long folders = 0;
    unsigned long long files = 0;
    unsigned long long bytes = 0;
    unsigned long long excluded = 0;
};

// The counts of one folder's entries: folders, files, the files' bytes, and
// the names excluded.
ListingTotals FolderTotals(const FolderRecord &folder);

// Adds `part` to `sum`.
void AddTotals(ListingTotals &sum, const ListingTotals &part);

// One output form. The walk calls Folder for every folder in listing order
// and, when it has been through the whole tree, Finish once.
class ListingWriter {
public:
    virtual ~ListingWriter() = default;
    // Takes one folder; false when the writer can take no more (its output
    // failed, or the run was asked to stop), which ends the walk.
    virtual bool Folder(const FolderRecord &folder) = 0;
    // The whole tree was walked: the sum of every folder's totals.
    virtual void Finish(const ListingTotals &totals) = 0;
};
