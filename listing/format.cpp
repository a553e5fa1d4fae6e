// Listing file format: line assembly, columns and buffered writing.
#include "format.h"

#include <string.h>

HANDLE OutputFile = INVALID_HANDLE_VALUE;

// A FILETIME as one 64-bit count of 100-nanosecond intervals.
static unsigned long long FileTimeValue(const FILETIME &time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Lines waiting to be written: big pieces cost far less than one write per line.
const size_t CollectSize = 64 * 1024;
static std::string collected;
static bool writeFailed = false;
static DWORD writeError = 0;
static ListingEncoding widthEncoding = EncodingAnsi;
static OutputWriter WriteOutput = WriteFile;

void SetOutputWriter(OutputWriter writer) {
    WriteOutput = writer ? writer : WriteFile;
}

// Where the line being built begins in `collected`.
static size_t lineStart = 0;

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

static const std::atomic<bool> *cancelRequest = nullptr;
static bool writeCancelled = false;

void BeginOutput(HANDLE file, ListingEncoding encoding, const std::atomic<bool> *cancel) {
    TakeLocalOffset();
    cancelRequest = cancel;
    writeCancelled = false;
    OutputFile = file;
    collected.clear();
    collected.reserve(CollectSize + 4096);
    writeFailed = false;
    writeError = 0;
    widthEncoding = encoding;
    lineStart = 0;
}

bool OutputFailed() {
    return writeFailed;
}

bool OutputCancelled() {
    return writeCancelled;
}

DWORD OutputError() {
    return writeError;
}

// Writes the collected lines, looping over partial writes; a failed write,
// or one that takes no bytes, marks the listing failed.
static void WriteCollected() {
    if (writeFailed || collected.empty()) return;
    if (cancelRequest && cancelRequest->load(std::memory_order_relaxed)) {
        // Nothing more is written: the file is about to be removed.
        writeCancelled = true;
        writeFailed = true;
        collected.clear();
        return;
    }
    const char *data = collected.data();
    size_t left = collected.size();
    while (left > 0) {
        DWORD piece = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteOutput(OutputFile, data, piece, &written, nullptr)) {
            writeError = GetLastError();
            writeFailed = true;
            break;
        }
        if (written == 0) {
            // A short write that came back as success: the disk is full.
            writeError = ERROR_DISK_FULL;
            writeFailed = true;
            break;
        }
        data += written;
        left -= written;
    }
    collected.clear();
}

bool EndOutput() {
    WriteCollected();
    OutputFile = INVALID_HANDLE_VALUE;
    return !writeFailed;
}

// Characters of text as the columns count them: bytes in the ANSI code
// page, characters (lead bytes) in UTF-8.
static size_t TextWidth(const char *text, size_t bytes) {
    if (widthEncoding != EncodingUtf8) return bytes;
    size_t width = 0;
    for (size_t i = 0; i < bytes; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++width;
    return width;
}

// Width of the line built so far.
static size_t LineWidth() {
    return TextWidth(collected.data() + lineStart, collected.size() - lineStart);
}

// Begins a new line.
static void BeginLine() {
    lineStart = collected.size();
}

// Appends `length` bytes of `text` to the line.
static void AppendBytes(const char *text, size_t length) {
    collected.append(text, length);
}

// Appends a zero-terminated string.
static void AppendText(const char *text) {
    collected.append(text);
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
    AppendBytes(digits + sizeof digits - static_cast<size_t>(count), static_cast<size_t>(count));
    return count;
}

// Appends max(count, 1) spaces.
static void PadLine(long long count) {
    if (count < 1) count = 1;
    collected.append(static_cast<size_t>(count), ' ');
}

// Ends the line with CR LF; full pieces go to the file. Nothing more is
// collected once a write has failed.
static void WriteLine() {
    collected.append("\r\n", 2);
    if (writeFailed) {
        collected.clear();
    } else if (collected.size() >= CollectSize) {
        WriteCollected();
    }
    lineStart = collected.size();
}

void WriteFolderHeading(const std::string &path, bool fullPathInHeading) {
    size_t heading = 0;
    if (!fullPathInHeading) {
        // The last component, unless the path ends with its last "\" (a drive root).
        size_t slash = path.rfind('\\');
        if (slash != std::string::npos && slash + 1 < path.size()) heading = slash + 1;
    }
    BeginLine();
    AppendBytes(path.data() + heading, path.size() - heading);
    WriteLine();
    collected.append(TextWidth(path.data(), path.size()), '=');
    WriteLine();
    WriteLine();
}

// Appends size (or DIR), date and time, starting at the name width plus 4.
static void AppendDetails(const FolderEntry *entry, size_t width) {
    PadLine(static_cast<long long>(width) - static_cast<long long>(LineWidth()) + 4);
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

void WriteEntryLines(const std::string &path, const FolderEntry *head, bool pathOnEachLine,
                     bool showDetails) {
    // The name width: the longest name of the block, plus the path when it
    // prefixes every line (the joining "\" is not counted).
    size_t width = 0;
    if (showDetails) {
        for (const FolderEntry *entry = head; entry; entry = entry->next) {
            size_t nameWidth = TextWidth(entry->name, static_cast<size_t>(entry->nameLength));
            if (nameWidth > width) width = nameWidth;
        }
        if (pathOnEachLine) width += TextWidth(path.data(), path.size());
    }
    bool joins = !path.empty() && path.back() != '\\';
    for (const FolderEntry *entry = head; entry; entry = entry->next) {
        BeginLine();
        if (pathOnEachLine) {
            AppendBytes(path.data(), path.size());
            if (joins) AppendBytes("\\", 1);
        }
        AppendBytes(entry->name, static_cast<size_t>(entry->nameLength));
        if (showDetails) AppendDetails(entry, width);
        WriteLine();
    }
}

void WriteFolderEnd() {
    BeginLine();
    WriteLine();
    WriteLine();
}

void WriteTotalsLine(const char *label, const ListingTotals &totals, const std::string *filter) {
    BeginLine();
    AppendText(label);
    AppendText(": ");
    AppendNumber(totals.folders);
    AppendText(totals.folders == 1 ? " folder, " : " folders, ");
    AppendNumber(totals.files);
    AppendText(totals.files == 1 ? " file" : " files");
    if (filter) {
        AppendText(" matching ");
        AppendBytes(filter->data(), filter->size());
    }
    AppendText(", ");
    AppendNumber(totals.bytes);
    AppendText(totals.bytes == 1 ? " byte" : " bytes");
    if (totals.excluded > 0) {
        AppendText(", ");
        AppendNumber(totals.excluded);
        AppendText(" excluded");
    }
    WriteLine();
}
