// The walk: folders are read (and ordered, and their files hashed) ahead on
// reader threads; this thread takes each in listing order, decides whether
// it leads back up the tree, hands it to the writer and descends.
#include "walk.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <thread>
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

// One folder to read: what is known of it before it is opened, and once
// read, its record, its identity and how the read ended.
struct ReadTask {
    FolderRecord record;
    bool ownVolume = true;  // it may lie on another volume than its parent (a link, a mount, the start)
    FolderIdentity parent = {0, 0, false};
    FolderIdentity identity = {0, 0, false};
    bool opened = false;  // the folder was opened and its reading begun
    bool stopped = false;  // the stop request came while it was read
    bool outOfMemory = false;
    enum class State { Waiting, Reading, Done } state = State::Waiting;
};

// Reads folders into tasks: one per thread, with its own scratch space,
// mount table and hash objects.
class FolderReader : private FolderOpened {
public:
    explicit FolderReader(const ListingRequest &request) : request_(request), scan_(request) {}

    // Reads, orders and hashes the task's folder; memory running out is
    // noted in the task, never thrown.
    void Read(ReadTask &task);

private:
    void Opened(HANDLE folder, const unsigned long long *ownId) override;
    bool HashFiles(FolderRecord &record);

    const ListingRequest &request_;
    ScanContext scan_;
    VolumeLookup volumes_;
    std::unique_ptr<FileHasher> hasher_;  // made at the first file to hash
    std::wstring reachName_;              // scratch: the path of a file to hash
    ReadTask *task_ = nullptr;
};

// Takes the identity of the folder just opened: the volume and file id; a
// link or mount point (and the start folder) may lie on another volume than
// its parent. Whether the folder leads back is decided where the path above
// it is known, when the walk takes the task.
void FolderReader::Opened(HANDLE folder, const unsigned long long *ownId) {
    ReadTask &task = *task_;
    task.opened = true;
    unsigned long long file = 0;
    if (ownId) file = *ownId;
    else if (!FileIdOf(folder, &file)) return;
    bool volumeKnown = task.parent.known;
    unsigned long long volume = task.parent.volume;
    if (task.ownVolume) volume = volumes_.KeyOf(folder, &volumeKnown);
    task.identity = {volume, file, volumeKnown};
}

void FolderReader::Read(ReadTask &task) {
    task_ = &task;
    try {
        FolderRecord &record = task.record;
        if (ReadFolder(record, scan_, *this) == ScanEnd::Stopped) {
            task.stopped = true;
            return;
        }
        OrderEntries(record.entries, request_.sortKey, scan_.byRealNames);
        if (request_.reverse) {
            auto files = std::find_if(record.entries.begin(), record.entries.end(),
                                      [](const EntryRecord *entry) { return !entry->IsFolder(); });
            std::reverse(files, record.entries.end());
        }
        if (!request_.hashes.empty() && !HashFiles(record)) task.stopped = true;
    } catch (const std::bad_alloc &) {
        task.outOfMemory = true;
    }
}

// Hashes every file of the folder into its digests, all but the catalogue's
// own file; false when the stop request came during a file.
bool FolderReader::HashFiles(FolderRecord &record) {
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

// The reader threads and the folders waiting for them. Tasks wait deepest
// first, and within a level in listing order: the order in which the walk
// will take them. The walk bounds how many tasks it makes ahead.
class ReadAhead {
public:
    ReadAhead(const ListingRequest &request, unsigned readers);
    ~ReadAhead();

    // Puts a task where the walk will want it: after the waiting tasks as
    // deep or deeper, before the shallower ones.
    void Schedule(ReadTask &task);
    // Returns once the task has been read: by a reader, or here with `own`
    // when no reader has begun it.
    void Take(ReadTask &task, FolderReader &own);

private:
    void Work(FolderReader &reader);

    ListingRequest request_;        // the run's, but stopped by `halt_`
    std::atomic<bool> halt_{false};  // the run's stop request, or the walk's end
    const std::atomic<bool> *cancel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ReadTask *> waiting_;
    bool ending_ = false;
    std::vector<std::unique_ptr<FolderReader>> readers_;
    std::vector<std::thread> threads_;
};

// Makes every reader here, so that memory running out shows on the walk's
// thread; a thread the system cannot start leaves fewer readers.
ReadAhead::ReadAhead(const ListingRequest &request, unsigned readers)
    : request_(request), cancel_(request.cancel) {
    request_.cancel = &halt_;
    for (unsigned i = 0; i < readers; ++i) readers_.emplace_back(new FolderReader(request_));
    threads_.reserve(readers);
    for (unsigned i = 0; i < readers; ++i) {
        try {
            threads_.emplace_back([this, i] { Work(*readers_[i]); });
        } catch (...) {  // no thread, or no memory for one
            break;
        }
    }
}

// Stops the readers: a folder being read is given up at the next piece.
ReadAhead::~ReadAhead() {
    halt_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
        waiting_.clear();
    }
    changed_.notify_all();
    for (std::thread &thread : threads_) thread.join();
}

void ReadAhead::Schedule(ReadTask &task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto place = std::find_if(waiting_.begin(), waiting_.end(),
                                  [&task](const ReadTask *other) { return other->record.depth < task.record.depth; });
        waiting_.insert(place, &task);
    }
    changed_.notify_one();
}

void ReadAhead::Take(ReadTask &task, FolderReader &own) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (task.state == ReadTask::State::Waiting) {
        auto place = std::find(waiting_.begin(), waiting_.end(), &task);
        if (place != waiting_.end()) waiting_.erase(place);
        task.state = ReadTask::State::Reading;
        lock.unlock();
        own.Read(task);
        lock.lock();
        task.state = ReadTask::State::Done;
        return;
    }
    // The readers see the run's stop request through `halt_`, passed on here.
    while (task.state != ReadTask::State::Done) {
        changed_.wait_for(lock, std::chrono::milliseconds(10));
        if (cancel_ && cancel_->load(std::memory_order_relaxed)) halt_ = true;
    }
}

// A reader: takes the first waiting task.
void ReadAhead::Work(FolderReader &reader) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
        if (ending_) return;
        ReadTask *task = waiting_.front();
        waiting_.pop_front();
        task->state = ReadTask::State::Reading;
        lock.unlock();
        reader.Read(*task);
        lock.lock();
        task->state = ReadTask::State::Done;
        changed_.notify_all();
    }
}

// One folder whose record has been written and whose subfolders are being
// walked: the tasks made for its next subfolders, in listing order.
struct Level {
    FolderRecord record;
    FolderIdentity identity;
    size_t next;  // the next entry to look at for a task
    std::deque<std::unique_ptr<ReadTask>> tasks;
};

// Everything one walk keeps.
class TreeWalk {
public:
    TreeWalk(const ListingRequest &request, const std::wstring &startFolder, ListingWriter &writer)
        : request_(request), startFolder_(startFolder), writer_(writer), reader_(request) {}

    WalkResult Run();

private:
    void Walk();
    bool Visit(ReadTask &task);
    bool MakeTask(Level &level);
    void MakeTasksAhead();
    void TellProblems(const FolderRecord &record);
    bool StopRequested() const { return request_.cancel && request_.cancel->load(std::memory_order_relaxed); }

    const ListingRequest &request_;
    const std::wstring &startFolder_;
    ListingWriter &writer_;
    FolderReader reader_;  // this thread's own
    std::unique_ptr<ReadAhead> ahead_;  // null: every folder is read on this thread
    // Tasks made and not yet taken, and how many may be: what bounds the
    // memory of folders read ahead, however large the tree.
    size_t made_ = 0;
    size_t window_ = 0;
    std::vector<std::unique_ptr<Level>> levels_;
    std::set<std::pair<unsigned long long, unsigned long long>> onPath_;  // identities being walked
    WalkResult result_{WalkEnd::Complete, std::wstring(), ListingTotals()};
};

// The reader threads beside the walk's own: one fewer than asked. By
// default, what a folder read costs decides. On a network folder each read
// waits on a round trip: four readers per processor, at most eight, keep
// several round trips under way. A local folder is read in microseconds,
// and where the system serialises folder reads within a process (Wine
// holds one lock over every folder read), readers there only add threads
// and memory: none, as measured.
static unsigned ReaderThreads(const ListingRequest &request, const std::wstring &startFolder) {
    if (request.threads > 0) return static_cast<unsigned>(request.threads - 1);
    if (!request.includeSubfolders) return 0;  // one folder: nothing to read ahead
    std::wstring root = PlainPath(LongPath(startFolder));
    bool remote = root.compare(0, 2, L"\\\\") == 0;
    if (!remote && root.size() >= 3 && root[1] == L':')
        remote = GetDriveTypeW(root.substr(0, 3).c_str()) == DRIVE_REMOTE;
    if (!remote) return 0;
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    unsigned processors = system.dwNumberOfProcessors ? system.dwNumberOfProcessors : 1;
    return std::min(4 * processors, 8u);
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

// Takes one folder, read, in listing order. A folder already being walked
// higher up (a link or mount leading back) is not entered: it would repeat
// the tree without end. The check runs here, on the path above the folder,
// which this walk alone holds. An opened folder is the last one entered,
// even when reading it went no further. Then the record goes to the writer
// and, when its subfolders follow, it becomes a level. False when the walk
// must end.
bool TreeWalk::Visit(ReadTask &task) {
    if (ahead_) ahead_->Take(task, reader_);
    else reader_.Read(task);
    FolderRecord &record = task.record;
    const FolderIdentity &identity = task.identity;
    bool leadsBack = identity.known && onPath_.count(std::make_pair(identity.volume, identity.file)) != 0;
    if (task.opened && !leadsBack) result_.lastEntered.assign(record.reachPath);
    if (task.outOfMemory) throw std::bad_alloc();
    if (task.stopped) {
        result_.end = WalkEnd::Stopped;
        return false;
    }
    if (leadsBack) {
        record.status = FolderStatus::LeadsBack;
        record.entries.clear();
        record.digests.clear();
        record.excluded = 0;
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
    // Only the entries are kept while the descent goes on: the writer has
    // had the whole record already.
    if (identity.known) onPath_.insert(std::make_pair(identity.volume, identity.file));
    std::unique_ptr<Level> level(new Level{std::move(record), identity, 0, {}});
    levels_.push_back(std::move(level));
    return true;
}

// Makes tasks for the readers while fewer than the window are waiting to
// be taken: the deepest level's next subfolders first, the order in which
// the walk will want them.
void TreeWalk::MakeTasksAhead() {
    for (size_t i = levels_.size(); i > 0 && made_ < window_; --i) {
        while (made_ < window_ && MakeTask(*levels_[i - 1])) {
        }
    }
}

bool WalkEnters(const ListingRequest &request, const FolderRecord &folder, const EntryRecord &entry) {
    if (!entry.IsFolder() || !request.includeSubfolders) return false;
    if (folder.status == FolderStatus::NotRead || folder.status == FolderStatus::LeadsBack) return false;
    if (request.maxDepth >= 0 && folder.depth >= static_cast<unsigned>(request.maxDepth)) return false;
    return request.followLinks || (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Makes the task of the level's next subfolder and hands it to the
// readers; false when no subfolder is left.
bool TreeWalk::MakeTask(Level &level) {
    const std::vector<const EntryRecord *> &entries = level.record.entries;
    while (level.next < entries.size() && !WalkEnters(request_, level.record, *entries[level.next])) ++level.next;
    if (level.next == entries.size()) return false;
    const EntryRecord &entry = *entries[level.next++];
    std::unique_ptr<ReadTask> task(new ReadTask);
    FolderRecord &child = task->record;
    child.path = level.record.path;
    JoinName(child.path, entry.Name());
    child.startLength = level.record.startLength;
    child.reachPath = level.record.reachPath;
    JoinName(child.reachPath, entry.Name());
    child.depth = level.record.depth + 1;
    child.attributes = entry.attributes;
    child.modified = entry.modified;
    task->ownVolume = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    task->parent = level.identity;
    level.tasks.push_back(std::move(task));
    ++made_;
    if (ahead_) ahead_->Schedule(*level.tasks.back());
    return true;
}

// Walks the tree; memory running out ends the walk.
WalkResult TreeWalk::Run() {
    try {
        Walk();
    } catch (const std::bad_alloc &) {
        // A catalogue with folders missing would pass for whole: the walk ends.
        result_.end = WalkEnd::OutOfMemory;
    }
    // The readers stop before the tasks they may hold are released.
    ahead_.reset();
    return result_;
}

// Walks the start folder and then every folder below it, depth first: each
// level gives its subfolders' tasks in order, and a level whose tasks are
// used up is released and left.
void TreeWalk::Walk() {
    unsigned readers = ReaderThreads(request_, startFolder_);
    if (readers > 0) {
        window_ = 8 * static_cast<size_t>(readers);
        ahead_.reset(new ReadAhead(request_, readers));
    }
    ReadTask start;
    start.record.path = startFolder_;
    start.record.startLength = startFolder_.size();
    start.record.reachPath = LongPath(startFolder_);
    WIN32_FILE_ATTRIBUTE_DATA own;
    if (GetFileAttributesExW(start.record.reachPath.c_str(), GetFileExInfoStandard, &own)) {
        start.record.attributes = own.dwFileAttributes;
        start.record.modified = own.ftLastWriteTime;
    }
    bool going = Visit(start);
    while (going && !levels_.empty()) {
        if (StopRequested()) {
            result_.end = WalkEnd::Stopped;
            break;
        }
        MakeTasksAhead();
        Level &level = *levels_.back();
        if (level.tasks.empty() && !MakeTask(level)) {
            if (level.identity.known) onPath_.erase(std::make_pair(level.identity.volume, level.identity.file));
            levels_.pop_back();
            continue;
        }
        std::unique_ptr<ReadTask> task = std::move(level.tasks.front());
        level.tasks.pop_front();
        --made_;
        // `level` may be joined by the child's own level; the task is kept
        // until its record has been taken over.
        going = Visit(*task);
    }
}

WalkResult WalkTree(const ListingRequest &request, const std::wstring &startFolder, ListingWriter &writer) {
    TreeWalk walk(request, startFolder, writer);
    return walk.Run();
}
