// Listing file format: line assembly, columns and buffered writing.
#include "format.h"

#include <string.h>

HANDLE OutputFile = INVALID_HANDLE_VALUE;

// A FILETIME as one 64-bit count of 100-nanosecond intervals.
static unsigned long long FileTimeValue(const FILETIME &time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The longest line text that can arise: a folder path (259), a separator
// (1), a name (259), gap (4), size (20 digits and a space), date (12) and
// time (8) come to 564; the buffer allows more and every append is bounded.
const int LineTextMax = 777;
// Line text, CR LF, terminator.
static char LineBuffer[LineTextMax + 3];
static int lineLength = 0;

// Lines waiting to be written: big pieces cost far less than one write per line.
const DWORD CollectSize = 64 * 1024;
static char collected[CollectSize];
static DWORD collectedLength = 0;
static bool writeFailed = false;

// The offset between local time and UTC in force when the listing is
// written, in FILETIME units: the one FileTimeToLocalFileTime would apply to
// every entry, asked once per listing because asking per entry is slow.
static long long localOffset = 0;

// Asks the system for the offset in force now.
static void TakeLocalOffset() {
    FILETIME now, local;
    GetSystemTimeAsFileTime(&now);
    localOffset = 0;
    if (FileTimeToLocalFileTime(&now, &local))
        localOffset = static_cast<long long>(FileTimeValue(local) - FileTimeValue(now));
}

void BeginOutput(HANDLE file) {
    TakeLocalOffset();
    OutputFile = file;
    collectedLength = 0;
    writeFailed = false;
    lineLength = 0;
    LineBuffer[0] = '\0';
}

bool OutputFailed() {
    return writeFailed;
}

// Writes the collected lines; a failed or short write marks the listing failed.
static void WriteCollected() {
    if (writeFailed || collectedLength == 0) return;
    DWORD written = 0;
    BOOL ok = WriteFile(OutputFile, collected, collectedLength, &written, nullptr);
    if (!ok || written != collectedLength) writeFailed = true;
    collectedLength = 0;
}

bool EndOutput() {
    WriteCollected();
    OutputFile = INVALID_HANDLE_VALUE;
    return !writeFailed;
}

// Empties the line buffer.
static void ClearLine() {
    lineLength = 0;
    LineBuffer[0] = '\0';
}

// Appends `length` bytes of `text`, never past the buffer's text room.
static void AppendBytes(const char *text, int length) {
    if (length > LineTextMax - lineLength) length = LineTextMax - lineLength;
    if (length <= 0) return;
    memcpy(LineBuffer + lineLength, text, static_cast<size_t>(length));
    lineLength += length;
    LineBuffer[lineLength] = '\0';
}

// Appends a zero-terminated string.
static void AppendText(const char *text) {
    AppendBytes(text, static_cast<int>(strlen(text)));
}

// Appends the decimal text of a number (no separators, no leading zeros) and
// returns its length.
static int AppendNumber(unsigned long long value) {
    char digits[20];  // 18446744073709551615 has 20 digits
    int count = 0;
    do {
        digits[sizeof digits - 1 - static_cast<size_t>(count)] = static_cast<char>('0' + value % 10);
        value /= 10;
        ++count;
    } while (value != 0);
    AppendBytes(digits + sizeof digits - static_cast<size_t>(count), count);
    return count;
}

// Appends max(count, 1) spaces.
static void PadLine(int count) {
    if (count < 1) count = 1;
    if (count > LineTextMax - lineLength) count = LineTextMax - lineLength;
    if (count <= 0) return;
    memset(LineBuffer + lineLength, ' ', static_cast<size_t>(count));
    lineLength += count;
    LineBuffer[lineLength] = '\0';
}

// Ends the line with CR LF and collects it for the file; the line buffer
// keeps its text. Nothing more is collected once a write has failed.
static void WriteLine() {
    if (writeFailed) return;
    LineBuffer[lineLength] = '\r';
    LineBuffer[lineLength + 1] = '\n';
    DWORD bytes = static_cast<DWORD>(lineLength) + 2;
    if (collectedLength + bytes > CollectSize) WriteCollected();
    if (!writeFailed) {
        memcpy(collected + collectedLength, LineBuffer, bytes);
        collectedLength += bytes;
    }
    LineBuffer[lineLength] = '\0';
}

void WriteFolderHeading(const char *path, bool fullPathInHeading) {
    int pathLength = static_cast<int>(strlen(path));
    const char *heading = path;
    if (!fullPathInHeading) {
        // The last component, unless the path ends with its last "\" (a drive root).
        const char *slash = strrchr(path, '\\');
        if (slash && slash[1] != '\0') heading = slash + 1;
    }
    ClearLine();
    AppendText(heading);
    WriteLine();
    ClearLine();
    if (pathLength > LineTextMax) pathLength = LineTextMax;
    memset(LineBuffer, '=', static_cast<size_t>(pathLength));
    lineLength = pathLength;
    LineBuffer[lineLength] = '\0';
    WriteLine();
    ClearLine();
    WriteLine();
}

// Appends size (or DIR), date and time, starting at the name width plus 4.
static void AppendDetails(const FolderEntry *entry, int width) {
    PadLine(width - lineLength + 4);
    if (entry->isFolder) {
        AppendText("DIR");
        PadLine(7);
    } else {
        int length = AppendNumber(entry->size);
        PadLine(10 - length);
    }
    // A time that cannot be converted (none a file system hands out) shows
    // as 0-0-0 0:0:0 rather than stray values.
    unsigned long long localValue = FileTimeValue(entry->lastWriteTime) + static_cast<unsigned long long>(localOffset);
    FILETIME local;
    local.dwLowDateTime = static_cast<DWORD>(localValue);
    local.dwHighDateTime = static_cast<DWORD>(localValue >> 32);
    SYSTEMTIME calendar = {};
    if (!FileTimeToSystemTime(&local, &calendar)) calendar = SYSTEMTIME{};
    int digits = AppendNumber(calendar.wMonth);
    AppendBytes("-", 1);
    digits += AppendNumber(calendar.wDay);
    AppendBytes("-", 1);
    digits += AppendNumber(calendar.wYear);
    PadLine(10 - digits);
    AppendNumber(calendar.wHour);
    AppendBytes(":", 1);
    AppendNumber(calendar.wMinute);
    AppendBytes(":", 1);
    AppendNumber(calendar.wSecond);
}

void WriteEntryLines(const char *path, const FolderEntry *head, bool pathOnEachLine,
                     bool showDetails) {
    int pathLength = static_cast<int>(strlen(path));
    // The name width: the longest name of the block, plus the path when it
    // prefixes every line (the joining "\" is not counted).
    int width = 0;
    for (const FolderEntry *entry = head; entry; entry = entry->next)
        if (entry->nameLength > width) width = entry->nameLength;
    if (pathOnEachLine) width += pathLength;
    for (const FolderEntry *entry = head; entry; entry = entry->next) {
        ClearLine();
        if (pathOnEachLine) {
            AppendBytes(path, pathLength);
            if (lineLength > 0 && LineBuffer[lineLength - 1] != '\\') AppendBytes("\\", 1);
        }
        AppendBytes(entry->name, entry->nameLength);
        if (showDetails) AppendDetails(entry, width);
        WriteLine();
    }
}

void WriteFolderEnd() {
    ClearLine();
    WriteLine();
    WriteLine();
}
