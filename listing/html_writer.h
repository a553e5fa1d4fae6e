// listing/html_writer.h: the catalogue as one self-contained web page that
// browses and searches the tree offline, in any current browser, from disk.
// The page is the template built into the program (listing/html/) around
// the catalogue's data: one JSON array with an element per folder, written
// as each record arrives, so the writer holds no more than one folder at a
// time. Names are written once and only ever as JSON data, which the
// page's script shows as text.
#pragma once
#include <string>
#include <vector>

#include "formats.h"

class HtmlWriter : public MachineWriter {
public:
    HtmlWriter(const ListingRequest &request, OutputSink &sink);
    void Finish(const ListingTotals &totals) override;

private:
    // The folder's element, then one for each subfolder listed but not
    // entered (below the depth limit, or without subfolders), which has no
    // record of its own.
    bool Folder(const FolderRecord &folder) override;
    void FolderRow(const FolderRecord &folder) override;
    void EntryRow(const FolderRecord &folder, size_t index) override;

    FILETIME made_;                                // when the run began, UTC
    bool anyFolder_ = false;                       // an element has been written
    int statusCode_ = 0;                           // of the folder being written, as the page knows it
    size_t filesWritten_ = 0;                      // of the folder being written
    bool slashFree_ = true;                        // no file name of that folder holds '/'
    std::vector<const EntryRecord *> notEntered_;  // its subfolders that get no record
};
