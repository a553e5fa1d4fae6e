// listing/formats.h: the catalogues made for other programs to read. Each
// writes names losslessly in UTF-8 and gives every folder one row (or
// object) of its own, carrying the error when it could not be read, followed
// by its files; a folder that is listed but not entered (below the depth
// limit) gets its row in its parent's place. Rows come in listing order:
// a folder, its files, then its subfolders' trees.
#pragma once
#include <string>

#include "listing.h"
#include "output.h"
#include "records.h"

// Appends a UTC time as 2001-03-07T08:05:03Z, as every machine format and
// the comparison write it; nothing for a time the calendar cannot show.
void AppendIsoTime(std::string &out, const FILETIME &time);

// What the machine formats share: the request, the sink, and the text of
// paths, times and attributes.
class MachineWriter : public ListingWriter {
protected:
    MachineWriter(const ListingRequest &request, OutputSink &sink);

    // Writes each row: the folder's own (unless it leads back up), then its
    // entries that have no record of their own to come.
    bool Folder(const FolderRecord &folder) override;
    virtual void FolderRow(const FolderRecord &folder) = 0;
    virtual void EntryRow(const FolderRecord &folder, size_t index) = 0;

    // Sets `out` to UTF-8 text.
    void Utf8(const wchar_t *text, size_t length, std::string &out);
    // The entry's full path in `entryPath_` and its name in `name_`.
    void EntryPath(const FolderRecord &folder, const EntryRecord &entry);
    // The folder's full path in `entryPath_` and its last name in `name_`.
    void FolderPath(const FolderRecord &folder);
    // Appends the letters of R, H, S, A that apply, in that order.
    static void AppendAttributeLetters(std::string &out, DWORD attributes);
    // The reason a folder or file could not be read, in UTF-8.
    const std::string &Reason(DWORD error);
    void EndLine(const char *end) {
        out_ += end;
        sink_.LineDone();
    }

    const ListingRequest &request_;
    OutputSink &sink_;
    std::string &out_;
    std::string entryPath_, name_;
    unsigned long long unreadFolders_ = 0, unreadFiles_ = 0;

private:
    // The UTF-8 path of the folder whose entries are being written, ending
    // with a backslash: converted once per folder, not once per entry.
    std::string folderPath_;
    const FolderRecord *pathFolder_ = nullptr;
    std::string reason_;
    DWORD reasonCode_ = 0;
};

// RFC 4180 rows with CR LF ends, after a byte-order mark and a header row:
// Path,Name,Type,Size,Modified,Attributes, a column per hash, Error.
class CsvWriter : public MachineWriter {
public:
    CsvWriter(const ListingRequest &request, OutputSink &sink);
    void Finish(const ListingTotals &totals) override;

private:
    void FolderRow(const FolderRecord &folder) override;
    void EntryRow(const FolderRecord &folder, size_t index) override;
    void Field(const std::string &text);
};

// JSON Lines: a first object describing the catalogue, one object per
// folder and file, a last object with the totals.
class JsonLinesWriter : public MachineWriter {
public:
    JsonLinesWriter(const ListingRequest &request, OutputSink &sink);
    void Finish(const ListingTotals &totals) override;

private:
    void FolderRow(const FolderRecord &folder) override;
    void EntryRow(const FolderRecord &folder, size_t index) override;
    void Common(const char *type, const FILETIME &modified, DWORD attributes);
};

// The file list of desktop search tools: Filename,Size,Date Modified,Date
// Created,Attributes, with times as FILETIME counts and attributes as the
// system's flags, so that a catalogued drive can be searched unplugged.
class EfuWriter : public MachineWriter {
public:
    EfuWriter(const ListingRequest &request, OutputSink &sink);
    void Finish(const ListingTotals &) override {}

private:
    void FolderRow(const FolderRecord &folder) override;
    void EntryRow(const FolderRecord &folder, size_t index) override;
};

// "HEX  relative/path" per file with the first hash asked for, LF ends: what
// the checksum tools verify when run in the start folder. Files that could
// not be hashed are left out (the run reports them).
class ManifestWriter : public MachineWriter {
public:
    ManifestWriter(const ListingRequest &request, OutputSink &sink);
    void Finish(const ListingTotals &) override {}

private:
    void FolderRow(const FolderRecord &) override {}
    void EntryRow(const FolderRecord &folder, size_t index) override;
};
