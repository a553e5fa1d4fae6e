// cli/compare.h: what changed between an earlier catalogue and a tree now,
// or a second catalogue. Both sides are held in memory by their paths below
// their own start folders, so a tree under another drive letter or in
// another place compares cleanly; names match as the file system matches
// them, ignoring case. The differences go out in path order, one line (or
// JSON object) each, then a line of counts. Shows nothing else; writes
// only to its output.
#pragma once
#include <string>
#include <vector>

#include "catalogue.h"
#include "output.h"

// How many differences of each kind were written.
struct DifferenceCounts {
    unsigned long long added = 0, removed = 0, changed = 0, moved = 0, unreadable = 0;
};

// Writes every difference from `before` to `after` (both finished) to
// `sink`, as text lines (CR LF) or JSON Lines, then the counts; gives the
// counts. Moves are paired only by equal size and digests of an algorithm
// both sides have.
DifferenceCounts WriteDifferences(const Catalogue &before, const Catalogue &after, bool jsonLines, OutputSink &sink);

// Whether the console program's arguments ask for a comparison.
bool IsCompareCommand(const std::vector<std::wstring> &arguments);

// Runs the comparison the arguments ask for and gives the exit code: 0 no
// difference, 3 differences, 4 something could not be read, 1 the output
// could not be written, 2 a usage error (OLD or NEW not a catalogue
// included), 130 stopped by Ctrl+C. Errors go to standard error.
int RunCompare(const std::vector<std::wstring> &arguments);
