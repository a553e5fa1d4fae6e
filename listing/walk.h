// listing/walk.h: the walk of a folder tree, handing every folder to a
// writer in listing order: the start folder, then, when subfolders are
// included, each subfolder's tree in the order of the entries, depth first.
// All its state is its own; it shows nothing and writes nothing itself.
#pragma once
#include <string>

#include "listing.h"
#include "records.h"

// How a walk ended.
enum class WalkEnd {
    Complete,       // the whole tree went to the writer
    Stopped,        // the stop request was seen
    WriterStopped,  // the writer took no more
    OutOfMemory,    // memory ran out: the walk could not go on without leaving folders out
};

struct WalkResult {
    WalkEnd end;
    std::wstring lastEntered;  // the last folder opened, in the "\\?\" form; empty when none
    ListingTotals totals;      // of every folder handed to the writer
    unsigned long long unreadFolders = 0;  // not opened, or read only in part
    unsigned long long unreadFiles = 0;    // not hashed
};

// True when the walk goes into `entry`, a subfolder entry of `folder`, and
// it gets a record of its own: with subfolders asked for, above the depth
// limit, and a link or junction only when links are followed.
bool WalkEnters(const ListingRequest &request, const FolderRecord &folder, const EntryRecord &entry);

// Walks the tree below `startFolder` (absolute) with the request's choices
// (filter, subfolders, depth, files, exclusions, order, hashes), counting
// into its progress, telling its problems and watching its stop request.
// The caller calls the writer's Finish once every start folder is walked.
WalkResult WalkTree(const ListingRequest &request, const std::wstring &startFolder, ListingWriter &writer);
