// The walk: reads each folder, orders it, hands it to the writer, descends.
#include "walk.h"

#include <algorithm>
#include <memory>
#include <new>
#include <set>
#include <utility>

#include "hashes.h"
#include "identity.h"
#include "names.h"
#include "scan.h"

// Identity of a folder: the volume and the file id on it.
struct FolderIdentity {
    unsigned long long volume;
    unsigned long long file;
    bool known;
};

// One folder whose record has been written and whose subfolders are being walked.
struct Level {
    FolderRecord record;
    size_t next;  // the next entry to look at for a descent
    FolderIdentity identity;
};

// Everything one walk keeps.
class TreeWalk : private FolderGate {
public:
    TreeWalk(const ListingRequest &request, const std::wstring &startFolder, ListingWriter &writer)
        : request_(request), startFolder_(startFolder), writer_(writer), scan_(request) {}

    WalkResult Run();

private:
    void Walk();
    bool HashFiles(FolderRecord &record);
    void TellProblems(const FolderRecord &record);
    bool Admit(HANDLE folder, const unsigned long long *ownId) override;
    FolderIdentity IdentityOf(HANDLE folder, const unsigned long long *ownId);
    bool Visit(FolderRecord &record, bool ownVolume, const FolderIdentity &parent);
    bool StopRequested() const { return request_.cancel && request_.cancel->load(std::memory_order_relaxed); }

    const ListingRequest &request_;
    const std::wstring &startFolder_;
    ListingWriter &writer_;
    ScanContext scan_;
    VolumeLookup volumes_;
    std::vector<Level> levels_;
    std::set<std::pair<unsigned long long, unsigned long long>> onPath_;  // identities being walked
    std::unique_ptr<FileHasher> hasher_;  // made at the first file to hash
    std::wstring reachName_;              // scratch: the path of a file to hash
    WalkResult result_{WalkEnd::Complete, std::wstring(), ListingTotals()};
    // The folder being opened: whether it may lie on another volume, its
    // parent's identity, and (once admitted) its own.
    FolderRecord *reading_ = nullptr;
    bool ownVolume_ = true;
    FolderIdentity parent_ = {0, 0, false};
    FolderIdentity identity_ = {0, 0, false};
};

// Takes the identity of a folder just opened and refuses it when the same
// folder is already being walked higher up: a link or mount leading back
// would otherwise repeat the tree without end. The check runs on the path
// above the folder, which this walk alone holds. An opened folder is the
// last one entered, even when reading it goes no further.
bool TreeWalk::Admit(HANDLE folder, const unsigned long long *ownId) {
    identity_ = IdentityOf(folder, ownId);
    if (identity_.known && onPath_.count(std::make_pair(identity_.volume, identity_.file)) != 0) return false;
    result_.lastEntered.assign(reading_->reachPath);
    return true;
}

// The volume and file id of the folder being opened; a link or mount point
// (and the start folder) may lie on another volume than its parent.
FolderIdentity TreeWalk::IdentityOf(HANDLE folder, const unsigned long long *ownId) {
    unsigned long long file = 0;
    if (ownId) file = *ownId;
    else if (!FileIdOf(folder, &file)) return {0, 0, false};
    bool volumeKnown = parent_.known;
    unsigned long long volume = parent_.volume;
    if (ownVolume_) volume = volumes_.KeyOf(folder, &volumeKnown);
    return {volume, file, volumeKnown};
}

// Reads and orders one folder, hands it to the writer and, when its
// subfolders follow, keeps it as a level. False when the walk must end.
bool TreeWalk::Visit(FolderRecord &record, bool ownVolume, const FolderIdentity &parent) {
    ownVolume_ = ownVolume;
    parent_ = parent;
    reading_ = &record;
    ScanEnd scanned = ReadFolder(record, scan_, *this);
    if (scanned == ScanEnd::Stopped) {
        result_.end = WalkEnd::Stopped;
        return false;
    }
    OrderEntries(record.entries, request_.sortKey, scan_.byRealNames);
    if (request_.reverse) {
        auto files = std::find_if(record.entries.begin(), record.entries.end(),
                                  [](const EntryRecord *entry) { return !entry->IsFolder(); });
        std::reverse(files, record.entries.end());
    }
    if (!request_.hashes.empty() && !HashFiles(record)) {
        result_.end = WalkEnd::Stopped;
        return false;
    }
    if (!writer_.Folder(record)) {
        result_.end = WalkEnd::WriterStopped;
        return false;
    }
    if (record.status == FolderStatus::LeadsBack) return true;
    TellProblems(record);
    ListingTotals block = FolderTotals(record);
    AddTotals(result_.totals, block);
    if (ListingProgress *progress = request_.progress) {
        progress->folders.fetch_add(1, std::memory_order_relaxed);
        progress->files.fetch_add(static_cast<long>(block.files), std::memory_order_relaxed);
    }
    if (!request_.includeSubfolders || record.status == FolderStatus::NotRead || block.folders == 0) return true;
    if (request_.maxDepth >= 0 && record.depth >= static_cast<unsigned>(request_.maxDepth)) return true;
    // Only the entries are kept while the descent goes on: the writer has
    // had the whole record already.
    if (identity_.known) onPath_.insert(std::make_pair(identity_.volume, identity_.file));
    levels_.push_back(Level{std::move(record), 0, identity_});
    return true;
}

// Hashes every file of the folder into its digests, all but the catalogue's
// own file; false when the stop request came during a file.
bool TreeWalk::HashFiles(FolderRecord &record) {
    if (!hasher_)
        hasher_.reset(new FileHasher(request_.hashes, request_.cancel, request_.outputHandle, request_.outputPath));
    record.digests.resize(record.entries.size());
    for (size_t i = 0; i < record.entries.size(); ++i) {
        const EntryRecord &entry = *record.entries[i];
        if (entry.IsFolder()) continue;
        EntryDigests &digests = record.digests[i];
        digests.error = hasher_->Ready();
        if (digests.error != 0) continue;
        reachName_ = record.reachPath;
        JoinName(reachName_, entry.Name());
        digests.error = hasher_->HashFile(reachName_, digests.hex);
        if (digests.error == ERROR_OPERATION_ABORTED) return false;
        if (digests.error == HashOwnOutput) digests.error = 0;
    }
    return true;
}

// Counts what the folder's record marks as not read, and tells whoever
// asked: the folder itself, then its files that could not be hashed.
void TreeWalk::TellProblems(const FolderRecord &record) {
    ListingProblems *problems = request_.problems;
    if (record.status == FolderStatus::NotRead || record.status == FolderStatus::ReadInPart) {
        ++result_.unreadFolders;
        if (problems) problems->Unreadable(record.path, true, record.error);
    }
    for (size_t i = 0; i < record.digests.size(); ++i) {
        if (record.digests[i].error == 0) continue;
        ++result_.unreadFiles;
        if (!problems) continue;
        std::wstring path = record.path;
        JoinName(path, record.entries[i]->Name());
        problems->Unreadable(path, false, record.digests[i].error);
    }
}

// Walks the tree; memory running out ends the walk.
WalkResult TreeWalk::Run() {
    try {
        Walk();
    } catch (const std::bad_alloc &) {
        // A catalogue with folders missing would pass for whole: the walk ends.
        result_.end = WalkEnd::OutOfMemory;
    }
    return result_;
}

// Walks the start folder and then every folder below it, depth first: each
// level takes its next subfolder entry, and a level whose entries are used
// up is released and left.
void TreeWalk::Walk() {
    FolderRecord start;
    start.path = startFolder_;
    start.startLength = start.path.size();
    start.reachPath = LongPath(startFolder_);
    WIN32_FILE_ATTRIBUTE_DATA own;
    if (GetFileAttributesExW(start.reachPath.c_str(), GetFileExInfoStandard, &own)) {
        start.attributes = own.dwFileAttributes;
        start.modified = own.ftLastWriteTime;
    }
    bool going = Visit(start, true, FolderIdentity{0, 0, false});
    while (going && !levels_.empty()) {
        if (StopRequested()) {
            result_.end = WalkEnd::Stopped;
            break;
        }
        Level &level = levels_.back();
        const std::vector<const EntryRecord *> &entries = level.record.entries;
        while (level.next < entries.size() && !entries[level.next]->IsFolder()) ++level.next;
        if (level.next == entries.size()) {
            if (level.identity.known) onPath_.erase(std::make_pair(level.identity.volume, level.identity.file));
            levels_.pop_back();
            continue;
        }
        const EntryRecord &entry = *entries[level.next++];
        FolderRecord child;
        child.path = level.record.path;
        JoinName(child.path, entry.Name());
        child.startLength = level.record.startLength;
        child.reachPath = level.record.reachPath;
        JoinName(child.reachPath, entry.Name());
        child.depth = level.record.depth + 1;
        child.attributes = entry.attributes;
        child.modified = entry.modified;
        FolderIdentity parent = level.identity;
        // `level` may move when the child becomes a level of its own.
        going = Visit(child, (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, parent);
    }
}

WalkResult WalkTree(const ListingRequest &request, const std::wstring &startFolder, ListingWriter &writer) {
    TreeWalk walk(request, startFolder, writer);
    return walk.Run();
}
