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
    Complete,       // the whole tree went to the writer, and Finish was called
    Stopped,        // the stop request was seen
    WriterStopped,  // the writer took no more
    OutOfMemory,    // memory ran out: the walk could not go on without leaving folders out
};

struct WalkResult {
    WalkEnd end;
    std::wstring lastEntered;  // the last folder opened, in the "\\?\" form; empty when none
};

// Walks the tree below `request.startFolder` with the request's choices
// (filter, subfolders, files, exclusions, sort key), counting into its
// progress and watching its stop request.
WalkResult WalkTree(const ListingRequest &request, ListingWriter &writer);
