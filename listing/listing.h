// listing/listing.h: writes the listing file for one start folder.
// The run is synchronous and shows a message box only when the output file
// cannot be created or written. Side effect: leaves the process's current
// directory at the last folder scanned.
#pragma once

// Sort keys of the file entries within each folder; any other value keeps
// the files in scan order.
typedef int SortKey;
const SortKey SortByName = 1;
const SortKey SortByExtension = 2;
const SortKey SortBySize = 3;
const SortKey SortByDate = 4;

// The six choices of one run, filled by the main dialog.
struct ListingOptions {
    bool includeSubfolders;
    bool includeFiles;
    SortKey sortKey;
    bool pathOnEachLine;
    bool fullPathInHeading;
    bool showDetails;
};

// Creates `outputPath` (truncating it) and writes the blocks of
// `startFolder` and, when asked, of every folder below it, in pre-order.
void WriteListing(const char *outputPath, const char *startFolder, const char *filter,
                  const ListingOptions &options);
