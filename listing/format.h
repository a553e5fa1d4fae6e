// listing/format.h: the bytes of the listing file.
// Lines are assembled straight into one growing output buffer, written to
// the OutputFile in big pieces; no line has a length limit. The first
// failed or short write stops all further writing; OutputFailed tells.
#pragma once
#include <windows.h>

#include <string>

#include "scan.h"

// The open listing file, valid from BeginOutput to EndOutput.
extern HANDLE OutputFile;

// Starts a listing on an open file: nothing collected, no failure yet.
// `encoding` decides how widths count: bytes, or characters of UTF-8.
// `cancel` (may be null) is looked at whenever a piece is written: a long
// block stops there rather than at its end.
void BeginOutput(HANDLE file, ListingEncoding encoding, const std::atomic<bool> *cancel = nullptr);

// True once writing stopped because the run was asked to stop.
bool OutputCancelled();

// Writes what is still collected; true when every write of the listing took
// all of its bytes. Does not close the file.
bool EndOutput();

// True once a write has failed or come up short; the error is kept.
bool OutputFailed();
DWORD OutputError();

// Heading (the full path, or its last component), underline as long as the
// full path, empty line.
void WriteFolderHeading(const std::string &path, bool fullPathInHeading);

// One line per entry of the ordered list, in list order.
void WriteEntryLines(const std::string &path, const FolderEntry *head, bool pathOnEachLine,
                     bool showDetails);

// The two empty lines that close a folder block.
void WriteFolderEnd();

// Replaces the call that writes to the file (WriteFile when null). Lets
// tests hand the listing short and failing writes.
typedef BOOL(WINAPI *OutputWriter)(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written,
                                   LPOVERLAPPED overlapped);
void SetOutputWriter(OutputWriter writer);

// What a totals line counts.
struct ListingTotals {
    unsigned long long folders;
    unsigned long long files;
    unsigned long long bytes;
    unsigned long long excluded;
};

// "Total: ..." after a block's entries, or "Grand total: ..." at the end;
// `filter` is named when it does not take every name.
void WriteTotalsLine(const char *label, const ListingTotals &totals, const std::string *filter);
