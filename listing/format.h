// listing/format.h: the bytes of the listing file.
// Lines are assembled in one process-wide line buffer and collected in a
// larger output buffer, written to the OutputFile in big pieces. The first
// failed or short write stops all further writing; OutputFailed tells.
#pragma once
#include <windows.h>

#include "scan.h"

// The open listing file, valid from BeginOutput to EndOutput.
extern HANDLE OutputFile;

// Starts a listing on an open file: nothing collected, no failure yet.
void BeginOutput(HANDLE file);

// Writes what is still collected; true when every write of the listing took
// all of its bytes. Does not close the file.
bool EndOutput();

// True once a write has failed or come up short.
bool OutputFailed();

// Heading (the full path, or its last component), underline as long as the
// full path, empty line.
void WriteFolderHeading(const char *path, bool fullPathInHeading);

// One line per entry of the ordered list, in list order.
void WriteEntryLines(const char *path, const FolderEntry *head, bool pathOnEachLine,
                     bool showDetails);

// The two empty lines that close a folder block.
void WriteFolderEnd();
