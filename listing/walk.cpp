// The walk: reads each folder, orders it, hands it to the writer, descends.
#include "walk.h"

#include <new>
#include <set>
#include <utility>

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
    TreeWalk(const ListingRequest &request, ListingWriter &writer)
        : request_(request), writer_(writer), scan_(request) {}

    WalkResult Run();

private:
    void Walk();
    bool Admit(HANDLE folder, const unsigned long long *ownId) override;
    FolderIdentity IdentityOf(HANDLE folder, const unsigned long long *ownId);
    bool Visit(FolderRecord &record, bool ownVolume, const FolderIdentity &parent);
    bool StopRequested() const { return request_.cancel && request_.cancel->load(std::memory_order_relaxed); }

    const ListingRequest &request_;
    ListingWriter &writer_;
    ScanContext scan_;
    VolumeLookup volumes_;
    std::vector<Level> levels_;
    std::set<std::pair<unsigned long long, unsigned long long>> onPath_;  // identities being walked
    std::wstring lastEntered_;
    ListingTotals totals_;
    WalkEnd end_ = WalkEnd::Complete;
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
    lastEntered_.assign(reading_->reachPath);
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
        end_ = WalkEnd::Stopped;
        return false;
    }
    OrderEntries(record.entries, request_.sortKey);
    if (!writer_.Folder(record)) {
        end_ = WalkEnd::WriterStopped;
        return false;
    }
    if (record.status == FolderStatus::LeadsBack) return true;
    ListingTotals block = FolderTotals(record);
    AddTotals(totals_, block);
    if (ListingProgress *progress = request_.progress) {
        progress->folders.fetch_add(1, std::memory_order_relaxed);
        progress->files.fetch_add(static_cast<long>(block.files), std::memory_order_relaxed);
    }
    if (!request_.includeSubfolders || record.status == FolderStatus::NotRead || block.folders == 0) return true;
    // Only the entries are kept while the descent goes on: the writer has
    // had the whole record already.
    if (identity_.known) onPath_.insert(std::make_pair(identity_.volume, identity_.file));
    levels_.push_back(Level{std::move(record), 0, identity_});
    return true;
}

// Walks the tree; memory running out ends the walk.
WalkResult TreeWalk::Run() {
    try {
        Walk();
    } catch (const std::bad_alloc &) {
        // A catalogue with folders missing would pass for whole: the walk ends.
        end_ = WalkEnd::OutOfMemory;
    }
    return {end_, lastEntered_};
}

// Walks the start folder and then every folder below it, depth first: each
// level takes its next subfolder entry, and a level whose entries are used
// up is released and left.
void TreeWalk::Walk() {
    FolderRecord start;
    start.path = request_.startFolder;
    start.startLength = start.path.size();
    start.reachPath = LongPath(request_.startFolder);
    bool going = Visit(start, true, FolderIdentity{0, 0, false});
    while (going && !levels_.empty()) {
        if (StopRequested()) {
            end_ = WalkEnd::Stopped;
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
        FolderIdentity parent = level.identity;
        // `level` may move when the child becomes a level of its own.
        going = Visit(child, (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, parent);
    }
    if (going && end_ == WalkEnd::Complete) writer_.Finish(totals_);
}

WalkResult WalkTree(const ListingRequest &request, ListingWriter &writer) {
    TreeWalk walk(request, writer);
    return walk.Run();
}
