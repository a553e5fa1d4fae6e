// listing/text_writer.h: the text listing, the first writer of records.
// Every folder gives one block: a heading, an underline as long as the
// folder's full path, an empty line, one line per entry, two empty lines;
// with totals, a totals line before the empty lines and a grand total at
// the end. Lines end with CR LF; no line has a length limit.
#pragma once
#include <string>

#include "listing.h"
#include "output.h"
#include "records.h"

class TextListingWriter : public ListingWriter {
public:
    // Takes the choices of `request` that shape the text, and the local
    // time offset in force now; writes into `sink`.
    TextListingWriter(const ListingRequest &request, OutputSink &sink);

    bool Folder(const FolderRecord &folder) override;
    void Finish(const ListingTotals &totals) override;

private:
    void ShowPath(const FolderRecord &folder);
    void Heading(const std::string &path);
    void EntryLines(const FolderRecord &folder, const std::string &path);
    void Details(const EntryRecord &entry, size_t lineStart, size_t width);
    void TotalsLine(const char *label, const ListingTotals &totals);
    void Digests(const EntryDigests &digests);
    void Mark(const char *opening, DWORD error);
    void EndLine();
    size_t Width(const char *text, size_t bytes) const;
    void AppendName(const EntryRecord &entry);

    const ListingRequest &request_;
    OutputSink &sink_;
    std::string &out_;          // the sink's pending text
    UINT codePage_;             // the code page of names and paths (CP_UTF8 for UTF-8)
    bool utf8_;
    long long localOffset_;     // local time less UTC now, in FILETIME units
    std::string filterShown_;   // the filter for totals lines; empty when it takes every name
    std::string path_;          // the path of the folder at hand, as shown
    std::string part_;          // scratch: the part of a path being converted
    size_t timeEnd_ = 0;        // in out_: where the widest time of the line being built would end
    // Where each folder from the start down to the folder at hand ends, in
    // its UTF-16 path and in the shown one.
    struct ShownLevel {
        size_t wideLength;
        size_t shownLength;
    };
    std::vector<ShownLevel> shownLevels_;
    std::string names_;         // a block's names as shown (UTF-8 listings), one after another
    std::vector<size_t> nameEnds_;
};
