// The text listing: line assembly, columns and totals.
#include "text_writer.h"

#include <cstdio>

#include "names.h"
#include "scan.h"

// A FILETIME as one 64-bit count of 100-nanosecond intervals.
static unsigned long long FileTimeValue(const FILETIME &time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The offset between local time and UTC in force now, in FILETIME units: the
// one FileTimeToLocalFileTime would apply to every entry, asked once per
// listing because asking per entry is slow.
static long long LocalOffsetNow() {
    FILETIME now, local;
    GetSystemTimeAsFileTime(&now);
    if (!FileTimeToLocalFileTime(&now, &local)) return 0;
    return static_cast<long long>(FileTimeValue(local) - FileTimeValue(now));
}

// Makes a name or path fit on its line: control characters (a line feed,
// a tab: possible in names on other systems) become "?", as characters the
// code page cannot show do; with `raise`, a-z become A-Z (no locale or code
// page is consulted, and bytes from 0x80 up stay).
static void ShowOnOneLine(char *text, size_t length, bool raise) {
    for (size_t i = 0; i < length; ++i) {
        if (raise && text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - ('a' - 'A'));
        else if (static_cast<unsigned char>(text[i]) < 0x20) text[i] = '?';
    }
}

TextListingWriter::TextListingWriter(const ListingRequest &request, OutputSink &sink)
    : request_(request), sink_(sink), out_(sink.Pending()),
      codePage_(request.encoding == TextEncoding::Utf8 ? CP_UTF8 : FileApiCodePage()),
      utf8_(request.encoding == TextEncoding::Utf8), localOffset_(LocalOffsetNow()) {
    if (!TakesEveryName(request.filter))
        NarrowText(request.filter.data(), request.filter.size(), codePage_, filterShown_);
}

// Characters of text as the columns count them: bytes in the ANSI code
// page, characters (lead bytes) in UTF-8.
size_t TextListingWriter::Width(const char *text, size_t bytes) const {
    if (!utf8_) return bytes;
    size_t width = 0;
    for (size_t i = 0; i < bytes; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++width;
    return width;
}

// Appends the decimal text of a number (no separators, no leading zeros) and
// returns its length.
static int AppendNumber(std::string &out, unsigned long long value) {
    char digits[20];  // 18446744073709551615 has 20 digits
    int count = 0;
    do {
        digits[sizeof digits - 1 - static_cast<size_t>(count)] = static_cast<char>('0' + value % 10);
        value /= 10;
        ++count;
    } while (value != 0);
    out.append(digits + sizeof digits - static_cast<size_t>(count), static_cast<size_t>(count));
    return count;
}

// Appends max(count, 1) spaces.
static void Pad(std::string &out, long long count) {
    out.append(static_cast<size_t>(count < 1 ? 1 : count), ' ');
}

// Ends the line with CR LF and hands it to the sink.
void TextListingWriter::EndLine() {
    out_.append("\r\n", 2);
    sink_.LineDone();
}

// Heading (the full path, or its last component), underline as long as the
// full path, empty line.
void TextListingWriter::Heading(const std::string &path) {
    size_t heading = 0;
    if (!request_.fullPathInHeading) {
        // The last component, unless the path ends with its last "\" (a drive root).
        size_t slash = path.rfind('\\');
        if (slash != std::string::npos && slash + 1 < path.size()) heading = slash + 1;
    }
    out_.append(path, heading, std::string::npos);
    EndLine();
    out_.append(Width(path.data(), path.size()), '=');
    EndLine();
    EndLine();
}

// Appends size (or DIR), date and time, starting at the name width plus 4.
void TextListingWriter::Details(const EntryRecord &entry, size_t lineStart, size_t width) {
    Pad(out_, static_cast<long long>(width) - static_cast<long long>(Width(out_.data() + lineStart, out_.size() - lineStart)) + 4);
    if (entry.IsFolder()) {
        out_.append("DIR");
        Pad(out_, 7);
    } else {
        Pad(out_, 10 - AppendNumber(out_, entry.size));
    }
    // A time that cannot be converted (none a file system hands out) shows
    // as 0-0-0 0:0:0 rather than stray values.
    unsigned long long localValue = FileTimeValue(entry.modified) + static_cast<unsigned long long>(localOffset_);
    FILETIME local;
    local.dwLowDateTime = static_cast<DWORD>(localValue);
    local.dwHighDateTime = static_cast<DWORD>(localValue >> 32);
    SYSTEMTIME calendar = {};
    if (!FileTimeToSystemTime(&local, &calendar)) calendar = SYSTEMTIME{};
    if (request_.dateStyle == DateStyle::Iso) {
        char text[24];  // "2001-03-07 09:05:03" and the terminator
        snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", calendar.wYear, calendar.wMonth, calendar.wDay,
                 calendar.wHour, calendar.wMinute, calendar.wSecond);
        out_ += text;
        timeEnd_ = out_.size();
        return;
    }
    int digits = AppendNumber(out_, calendar.wMonth);
    out_ += '-';
    digits += AppendNumber(out_, calendar.wDay);
    out_ += '-';
    digits += AppendNumber(out_, calendar.wYear);
    Pad(out_, 10 - digits);
    timeEnd_ = out_.size() + 8;  // "23:59:59"
    AppendNumber(out_, calendar.wHour);
    out_ += ':';
    AppendNumber(out_, calendar.wMinute);
    out_ += ':';
    AppendNumber(out_, calendar.wSecond);
}

// One line per entry, in the record's order. The name width is the longest
// name of the block, plus the path when it prefixes every line (the joining
// "\" is not counted). Folder names are shown in capitals (A-Z only).
void TextListingWriter::EntryLines(const FolderRecord &folder, const std::string &path) {
    const std::vector<const EntryRecord *> &entries = folder.entries;
    // UTF-8 names are converted once, for both the width and the line.
    if (utf8_) {
        names_.clear();
        nameEnds_.clear();
        std::string name;
        for (const EntryRecord *entry : entries) {
            NarrowText(entry->Name(), entry->nameLength, CP_UTF8, name);
            names_ += name;
            nameEnds_.push_back(names_.size());
        }
    }
    size_t width = 0;
    if (request_.showDetails) {
        for (size_t i = 0; i < entries.size(); ++i) {
            size_t nameWidth = utf8_ ? Width(names_.data() + (i ? nameEnds_[i - 1] : 0),
                                             nameEnds_[i] - (i ? nameEnds_[i - 1] : 0))
                                     : entries[i]->ansiLength;
            if (nameWidth > width) width = nameWidth;
        }
        if (request_.pathOnEachLine) width += Width(path.data(), path.size());
    }
    bool joins = !path.empty() && path.back() != '\\';
    for (size_t i = 0; i < entries.size(); ++i) {
        const EntryRecord &entry = *entries[i];
        size_t lineStart = out_.size();
        if (request_.pathOnEachLine) {
            out_ += path;
            if (joins) out_ += '\\';
        }
        size_t nameStart = out_.size();
        if (utf8_) {
            size_t begin = i ? nameEnds_[i - 1] : 0;
            out_.append(names_, begin, nameEnds_[i] - begin);
        } else {
            out_.append(entry.AnsiName(), entry.ansiLength);
        }
        ShowOnOneLine(&out_[nameStart], out_.size() - nameStart, entry.IsFolder());
        if (request_.showDetails) Details(entry, lineStart, width);
        if (i < folder.digests.size() && !entry.IsFolder()) Digests(folder.digests[i]);
        EndLine();
    }
}

// "Total: ..." after a block's entries, or "Grand total: ..." at the end;
// the filter is named when it does not take every name.
void TextListingWriter::TotalsLine(const char *label, const ListingTotals &totals) {
    out_ += label;
    out_ += ": ";
    AppendNumber(out_, totals.folders);
    out_ += totals.folders == 1 ? " folder, " : " folders, ";
    AppendNumber(out_, totals.files);
    out_ += totals.files == 1 ? " file" : " files";
    if (!filterShown_.empty()) {
        out_ += " matching ";
        out_ += filterShown_;
    }
    out_ += ", ";
    AppendNumber(out_, totals.bytes);
    out_ += totals.bytes == 1 ? " byte" : " bytes";
    if (totals.excluded > 0) {
        out_ += ", ";
        AppendNumber(out_, totals.excluded);
        out_ += " excluded";
    }
    EndLine();
}

// Two spaces and each hex digest, or the reason the file could not be read;
// after the details, from where the widest time would end, so that the
// digests of a block line up whatever the time's length.
void TextListingWriter::Digests(const EntryDigests &digests) {
    if (request_.showDetails && timeEnd_ > out_.size()) out_.append(timeEnd_ - out_.size(), ' ');
    if (digests.error != 0) {
        out_ += "  ";
        Mark("<cannot read this file: ", digests.error);
        return;
    }
    for (const std::string &hex : digests.hex) {
        out_ += "  ";
        out_ += hex;
    }
}

// Appends `<opening REASON>`, REASON the system's sentence for `error` in
// the listing's code page. `<` cannot begin a file name, so the mark is
// never taken for an entry.
void TextListingWriter::Mark(const char *opening, DWORD error) {
    out_ += opening;
    std::wstring reason = SystemMessage(error);
    NarrowText(reason.data(), reason.size(), codePage_, part_);
    out_ += part_;
    out_ += '>';
}

// The block of one folder. A folder that leads back up the tree gets none;
// one that could not be read says so in place of its entries (after those
// read, when reading stopped part way).
bool TextListingWriter::Folder(const FolderRecord &folder) {
    if (folder.status != FolderStatus::LeadsBack) {
        ShowPath(folder);
        Heading(path_);
        EntryLines(folder, path_);
        if (folder.status == FolderStatus::NotRead) {
            Mark("<cannot read this folder: ", folder.error);
            EndLine();
        } else if (folder.status == FolderStatus::ReadInPart) {
            Mark("<cannot read the rest of this folder: ", folder.error);
            EndLine();
        }
        if (request_.totals) TotalsLine("Total", FolderTotals(folder));
        EndLine();
        EndLine();
    }
    return sink_.state() == OutputSink::State::Writing;
}

// The folder's path as shown: the start folder as given, then the names
// below it as the entry lines show folders, in capitals. Records come in
// listing order, so a folder's parent is the last one shown one level up:
// only the folder's own part is converted.
void TextListingWriter::ShowPath(const FolderRecord &folder) {
    size_t from = 0;  // where the folder's own part begins in its UTF-16 path
    if (folder.depth == 0) {
        path_.clear();
        shownLevels_.clear();
    } else {
        shownLevels_.resize(folder.depth);
        from = shownLevels_.back().wideLength;
        path_.resize(shownLevels_.back().shownLength);
    }
    NarrowText(folder.path.data() + from, folder.path.size() - from, codePage_, part_);
    if (!part_.empty()) ShowOnOneLine(&part_[0], part_.size(), folder.depth > 0);
    path_ += part_;
    shownLevels_.push_back(ShownLevel{folder.path.size(), path_.size()});
}

void TextListingWriter::Finish(const ListingTotals &totals) {
    if (request_.totals) TotalsLine("Grand total", totals);
}
