// The machine-readable catalogues: CSV, JSON Lines, the search tools' file
// list, and the checksum manifest.
#include "formats.h"

#include "hashes.h"
#include "names.h"
#include "scan.h"
#include "version.h"
#include "walk.h"

// A FILETIME as one 64-bit count of 100-nanosecond intervals.
static unsigned long long FileTimeCount(const FILETIME &time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

MachineWriter::MachineWriter(const ListingRequest &request, OutputSink &sink)
    : request_(request), sink_(sink), out_(sink.Pending()) {}

void MachineWriter::Utf8(const wchar_t *text, size_t length, std::string &out) {
    NarrowText(text, length, CP_UTF8, out);
}

void MachineWriter::EntryPath(const FolderRecord &folder, const EntryRecord &entry) {
    if (&folder != pathFolder_) {
        Utf8(folder.path.data(), folder.path.size(), folderPath_);
        if (!folderPath_.empty() && folderPath_.back() != '\\') folderPath_ += '\\';
        pathFolder_ = &folder;
    }
    Utf8(entry.Name(), entry.nameLength, name_);
    entryPath_ = folderPath_;
    entryPath_ += name_;
}

void MachineWriter::FolderPath(const FolderRecord &folder) {
    Utf8(folder.path.data(), folder.path.size(), entryPath_);
    // A root ("D:\") has no name of its own.
    size_t slash = folder.path.rfind(L'\\');
    size_t from = slash == std::wstring::npos ? 0 : slash + 1;
    Utf8(folder.path.data() + from, folder.path.size() - from, name_);
}

// Appends `value` in decimal with at least `count` digits (leading zeros).
static void AppendDigits(std::string &out, unsigned value, int count) {
    char digits[10];  // 4294967295 has 10 digits
    int used = 0;
    do {
        digits[sizeof digits - 1 - static_cast<size_t>(used++)] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || used < count);
    out.append(digits + sizeof digits - static_cast<size_t>(used), static_cast<size_t>(used));
}

// The digits are placed by hand: every row has a time, and the C library's
// formatted printing cost about as much as the rest of the row.
void AppendIsoTime(std::string &out, const FILETIME &time) {
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&time, &t)) return;
    AppendDigits(out, t.wYear, 4);  // a year past 9999 keeps all its digits
    out += '-';
    AppendDigits(out, t.wMonth, 2);
    out += '-';
    AppendDigits(out, t.wDay, 2);
    out += 'T';
    AppendDigits(out, t.wHour, 2);
    out += ':';
    AppendDigits(out, t.wMinute, 2);
    out += ':';
    AppendDigits(out, t.wSecond, 2);
    out += 'Z';
}

void MachineWriter::AppendAttributeLetters(std::string &out, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) out += 'R';
    if (attributes & FILE_ATTRIBUTE_HIDDEN) out += 'H';
    if (attributes & FILE_ATTRIBUTE_SYSTEM) out += 'S';
    if (attributes & FILE_ATTRIBUTE_ARCHIVE) out += 'A';
}

const std::string &MachineWriter::Reason(DWORD error) {
    if (error != reasonCode_ || reason_.empty()) {
        std::wstring message = SystemMessage(error);
        Utf8(message.data(), message.size(), reason_);
        reasonCode_ = error;
    }
    return reason_;
}

bool MachineWriter::Folder(const FolderRecord &folder) {
    // A record may come at the address of an earlier one: its path is converted anew.
    pathFolder_ = nullptr;
    if (folder.status == FolderStatus::NotRead || folder.status == FolderStatus::ReadInPart) ++unreadFolders_;
    FolderRow(folder);
    // Subfolders get rows of their own when their records come, unless the
    // walk does not enter them.
    for (size_t i = 0; i < folder.entries.size(); ++i) {
        if (WalkEnters(request_, folder, *folder.entries[i])) continue;
        if (i < folder.digests.size() && folder.digests[i].error != 0) ++unreadFiles_;
        EntryRow(folder, i);
    }
    return sink_.state() == OutputSink::State::Writing;
}

// CSV

CsvWriter::CsvWriter(const ListingRequest &request, OutputSink &sink) : MachineWriter(request, sink) {
    out_ += "\xEF\xBB\xBF" "Path,Name,Type,Size,Modified,Attributes";
    for (HashAlgorithm algorithm : request.hashes) {
        out_ += ',';
        out_ += HashHeading(algorithm);
    }
    out_ += ",Error";
    EndLine("\r\n");
}

// Appends `text` in quotes, its own quotes doubled, as CSV and the search
// tools' file list quote a field.
static void AppendQuoted(std::string &out, const std::string &text) {
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// Appends a field, quoted when it holds a comma, a quote or a line end.
// Every row has two fields of names: the common case, nothing to quote, is
// one scan and one copy.
void CsvWriter::Field(const std::string &text) {
    bool quoted = false;
    for (char c : text)
        if (c == ',' || c == '"' || c == '\r' || c == '\n') quoted = true;
    if (quoted) AppendQuoted(out_, text);
    else out_ += text;
}

void CsvWriter::FolderRow(const FolderRecord &folder) {
    FolderPath(folder);
    Field(entryPath_);
    out_ += ',';
    Field(name_);
    out_ += ",folder,,";
    if (folder.attributes != 0) AppendIsoTime(out_, folder.modified);
    out_ += ',';
    AppendAttributeLetters(out_, folder.attributes);
    out_.append(request_.hashes.size(), ',');
    out_ += ',';
    if (folder.status == FolderStatus::NotRead || folder.status == FolderStatus::ReadInPart) Field(Reason(folder.error));
    EndLine("\r\n");
}

void CsvWriter::EntryRow(const FolderRecord &folder, size_t index) {
    const EntryRecord &entry = *folder.entries[index];
    EntryPath(folder, entry);
    Field(entryPath_);
    out_ += ',';
    Field(name_);
    if (entry.IsFolder()) {
        out_ += ",folder,";
    } else {
        out_ += ",file,";
        out_ += std::to_string(entry.size);
    }
    out_ += ',';
    AppendIsoTime(out_, entry.modified);
    out_ += ',';
    AppendAttributeLetters(out_, entry.attributes);
    const EntryDigests *digests = index < folder.digests.size() ? &folder.digests[index] : nullptr;
    for (size_t i = 0; i < request_.hashes.size(); ++i) {
        out_ += ',';
        if (digests && i < digests->hex.size()) out_ += digests->hex[i];
    }
    out_ += ',';
    if (digests && digests->error != 0) Field(Reason(digests->error));
    EndLine("\r\n");
}

void CsvWriter::Finish(const ListingTotals &) {}

// JSON Lines

// Appends `text` as a JSON string: quotes, backslashes and control
// characters escaped, everything else as it is (UTF-8).
// The characters that need no escape are copied a run at a time.
static void AppendJsonString(std::string &out, const std::string &text) {
    static const char Hex[] = "0123456789abcdef";
    out += '"';
    size_t copied = 0;  // text before this is in `out`
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        unsigned char u = static_cast<unsigned char>(c);
        if (c != '"' && c != '\\' && u >= 0x20) continue;
        out.append(text, copied, i - copied);
        copied = i + 1;
        if (u >= 0x20) {
            out += '\\';
            out += c;
        } else {
            char escape[6] = {'\\', 'u', '0', '0', Hex[u >> 4], Hex[u & 15]};  // \u001f
            out.append(escape, sizeof escape);
        }
    }
    out.append(text, copied, std::string::npos);
    out += '"';
}


JsonLinesWriter::JsonLinesWriter(const ListingRequest &request, OutputSink &sink) : MachineWriter(request, sink) {
    std::string text;
    out_ += "{\"format\":\"dirtally-catalogue\",\"formatVersion\":1,\"program\":\"" PROGRAM_VERSION "\",\"startFolders\":[";
    for (size_t i = 0; i < request.startFolders.size(); ++i) {
        Utf8(request.startFolders[i].data(), request.startFolders[i].size(), text);
        if (i > 0) out_ += ',';
        AppendJsonString(out_, text);
    }
    out_ += "],\"made\":\"";
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    AppendIsoTime(out_, now);
    out_ += "\",\"filter\":";
    Utf8(request.filter.data(), request.filter.size(), text);
    AppendJsonString(out_, text);
    out_ += ",\"excludes\":[";
    for (size_t i = 0; i < request.excludes.size(); ++i) {
        Utf8(request.excludes[i].data(), request.excludes[i].size(), text);
        if (i > 0) out_ += ',';
        AppendJsonString(out_, text);
    }
    out_ += "],\"subfolders\":";
    out_ += request.includeSubfolders ? "true" : "false";
    out_ += ",\"maxDepth\":";
    out_ += request.includeSubfolders && request.maxDepth >= 0 ? std::to_string(request.maxDepth) : "null";
    out_ += ",\"files\":";
    out_ += request.includeFiles ? "true" : "false";
    out_ += ",\"sort\":\"";
    out_ += SortKeyName(request.sortKey);
    out_ += "\",\"reverse\":";
    out_ += request.reverse ? "true" : "false";
    out_ += ",\"hashes\":[";
    for (size_t i = 0; i < request.hashes.size(); ++i) {
        if (i > 0) out_ += ',';
        out_ += '"';
        out_ += HashName(request.hashes[i]);
        out_ += '"';
    }
    out_ += "]}";
    EndLine("\n");
}

// The fields every object has: type, path, name, modified (when known), attributes.
void JsonLinesWriter::Common(const char *type, const FILETIME &modified, DWORD attributes) {
    out_ += "{\"type\":\"";
    out_ += type;
    out_ += "\",\"path\":";
    AppendJsonString(out_, entryPath_);
    out_ += ",\"name\":";
    AppendJsonString(out_, name_);
    size_t before = out_.size();
    out_ += ",\"modified\":\"";
    size_t time = out_.size();
    AppendIsoTime(out_, modified);
    if (out_.size() == time) out_.resize(before);
    else out_ += '"';
    out_ += ",\"attributes\":\"";
    AppendAttributeLetters(out_, attributes);
    out_ += '"';
}

void JsonLinesWriter::FolderRow(const FolderRecord &folder) {
    FolderPath(folder);
    FILETIME unknown = {0xFFFFFFFF, 0xFFFFFFFF};  // no calendar date: the field is left out
    Common("folder", folder.attributes != 0 ? folder.modified : unknown, folder.attributes);
    if (folder.status == FolderStatus::LeadsBack) out_ += ",\"leadsBack\":true";
    if (folder.status == FolderStatus::NotRead || folder.status == FolderStatus::ReadInPart) {
        out_ += ",\"error\":";
        AppendJsonString(out_, Reason(folder.error));
    }
    out_ += '}';
    EndLine("\n");
}

void JsonLinesWriter::EntryRow(const FolderRecord &folder, size_t index) {
    const EntryRecord &entry = *folder.entries[index];
    EntryPath(folder, entry);
    Common(entry.IsFolder() ? "folder" : "file", entry.modified, entry.attributes);
    if (!entry.IsFolder()) {
        out_ += ",\"size\":";
        out_ += std::to_string(entry.size);
    }
    if (index < folder.digests.size()) {
        const EntryDigests &digests = folder.digests[index];
        for (size_t i = 0; i < digests.hex.size() && i < request_.hashes.size(); ++i) {
            out_ += ",\"";
            out_ += HashName(request_.hashes[i]);
            out_ += "\":\"";
            out_ += digests.hex[i];
            out_ += '"';
        }
        if (digests.error != 0) {
            out_ += ",\"error\":";
            AppendJsonString(out_, Reason(digests.error));
        }
    }
    out_ += '}';
    EndLine("\n");
}

void JsonLinesWriter::Finish(const ListingTotals &totals) {
    out_ += "{\"type\":\"totals\",\"folders\":" + std::to_string(totals.folders) +
            ",\"files\":" + std::to_string(totals.files) + ",\"bytes\":" + std::to_string(totals.bytes) +
            ",\"excluded\":" + std::to_string(totals.excluded) + ",\"unreadFolders\":" + std::to_string(unreadFolders_) +
            ",\"unreadFiles\":" + std::to_string(unreadFiles_) + "}";
    EndLine("\n");
}

// The search tools' file list

EfuWriter::EfuWriter(const ListingRequest &request, OutputSink &sink) : MachineWriter(request, sink) {
    out_ += "Filename,Size,Date Modified,Date Created,Attributes";
    EndLine("\r\n");
}

void EfuWriter::FolderRow(const FolderRecord &folder) {
    // The start folder is the list's root, not an entry of it.
    if (folder.depth == 0) return;
    FolderPath(folder);
    AppendQuoted(out_, entryPath_);  // the list always quotes the path
    out_ += ",," + std::to_string(FileTimeCount(folder.modified)) + ",," + std::to_string(folder.attributes);
    EndLine("\r\n");
}

void EfuWriter::EntryRow(const FolderRecord &folder, size_t index) {
    const EntryRecord &entry = *folder.entries[index];
    EntryPath(folder, entry);
    AppendQuoted(out_, entryPath_);  // the list always quotes the path
    out_ += ',';
    if (!entry.IsFolder()) out_ += std::to_string(entry.size);
    out_ += ',' + std::to_string(FileTimeCount(entry.modified)) + ',' + std::to_string(FileTimeCount(entry.created)) +
            ',' + std::to_string(entry.attributes);
    EndLine("\r\n");
}

// The checksum manifest

ManifestWriter::ManifestWriter(const ListingRequest &request, OutputSink &sink) : MachineWriter(request, sink) {}

void ManifestWriter::EntryRow(const FolderRecord &folder, size_t index) {
    const EntryRecord &entry = *folder.entries[index];
    if (entry.IsFolder() || index >= folder.digests.size() || folder.digests[index].hex.empty()) return;
    // The path below the start folder, with forward slashes.
    size_t from = folder.startLength;
    while (from < folder.path.size() && folder.path[from] == L'\\') ++from;
    Utf8(folder.path.data() + from, folder.path.size() - from, entryPath_);
    Utf8(entry.Name(), entry.nameLength, name_);
    if (!entryPath_.empty()) entryPath_ += '\\';
    entryPath_ += name_;
    // A name holding a backslash or a line end is written escaped, on a line
    // that begins with a backslash, as the checksum tools write and read it.
    bool escaped = name_.find_first_of("\\\n\r") != std::string::npos;
    if (escaped) out_ += '\\';
    out_ += folder.digests[index].hex[0];
    out_ += "  ";
    size_t nameStart = entryPath_.size() - name_.size();
    for (size_t i = 0; i < entryPath_.size(); ++i) {
        char c = entryPath_[i];
        if (i < nameStart && c == '\\') out_ += '/';
        else if (escaped && c == '\\') out_ += "\\\\";
        else if (escaped && c == '\n') out_ += "\\n";
        else if (escaped && c == '\r') out_ += "\\r";
        else out_ += c;
    }
    EndLine("\n");
}
