// The comparison of two catalogues, and the console command that makes one
// side from a file and the other from a file or a scan made now.
#include "compare.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include <nlohmann/json.hpp>

#include "catalogue_reader.h"
#include "formats.h"
#include "hashes.h"
#include "names.h"
#include "options.h"

using Json = nlohmann::json;

namespace {

// An entry of a folder, in the merged order of its subfolders and files.
struct Item {
    bool folder;
    unsigned index;  // into the catalogue's folders or files
};

// Walks one folder's entries by name, subfolders and files merged; a
// subfolder comes before a file of the same name.
class Entries {
public:
    Entries(const Catalogue &catalogue, unsigned folder) : catalogue_(catalogue) {
        const CatalogueFolder &f = catalogue.Folders()[folder];
        child_ = f.firstChild, childEnd_ = f.firstChild + f.childCount;
        file_ = f.firstFile, fileEnd_ = f.firstFile + f.fileCount;
    }
    bool More() const { return child_ < childEnd_ || file_ < fileEnd_; }
    Item Next() const {
        if (file_ == fileEnd_) return {true, catalogue_.Subfolders()[child_]};
        if (child_ == childEnd_) return {false, file_};
        Item folder = {true, catalogue_.Subfolders()[child_]}, file = {false, file_};
        return Compare(catalogue_, folder, catalogue_, file) <= 0 ? folder : file;
    }
    void Advance(const Item &item) { item.folder ? ++child_ : ++file_; }

    // Two entries' names compared as the file system compares them.
    static int Compare(const Catalogue &a, const Item &x, const Catalogue &b, const Item &y) {
        unsigned xName, xLength, yName, yLength;
        NameOf(a, x, xName, xLength);
        NameOf(b, y, yName, yLength);
        return CompareNamesIgnoringCase(a.Text(xName), xLength, b.Text(yName), yLength);
    }
    static void NameOf(const Catalogue &c, const Item &item, unsigned &name, unsigned &length) {
        if (item.folder) name = c.Folders()[item.index].name, length = c.Folders()[item.index].nameLength;
        else name = c.Files()[item.index].name, length = c.Files()[item.index].nameLength;
    }

private:
    const Catalogue &catalogue_;
    unsigned child_, childEnd_, file_, fileEnd_;
};

// A digest both sides keep: its offsets in each side's digests and its length.
struct SharedDigest {
    size_t before, after, length;
    const char *name;
};

// What a folder added or removed whole holds.
struct Contents {
    unsigned long long files = 0, bytes = 0, unread = 0;
};

// A count with a comma between groups of three digits.
std::string Grouped(unsigned long long count) {
    std::string digits = std::to_string(count), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// A size for reading: "512 bytes", "3.1 GB" (units of 1,024).
std::string SizeText(unsigned long long bytes) {
    static const char *const Units[] = {"KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024) return Grouped(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof Units / sizeof Units[0]) value /= 1024, ++unit;
    char text[32];  // "1023.9 PB" at most, and the terminator
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

// Seconds since 1601 as 2001-03-07T08:05:03Z.
std::string TimeText(long long seconds) {
    unsigned long long count = static_cast<unsigned long long>(seconds) * 10000000u;
    FILETIME time = {static_cast<DWORD>(count), static_cast<DWORD>(count >> 32)};
    std::string text;
    AppendIsoTime(text, time);
    return text.empty() ? "?" : text;
}

// The attribute letters, in the catalogues' order; "none" when there are none.
std::string AttributeText(unsigned char bits) {
    std::string text;
    for (int i = 0; i < 4; ++i)
        if (bits & (1 << i)) text += "RHSA"[i];
    return text.empty() ? "none" : text;
}

// The comparison: two walks over both trees in step. The first finds the
// files added and removed one by one, so that those of the same size and
// digests can be paired as moves; the second writes the differences.
class Comparison {
public:
    Comparison(const Catalogue &before, const Catalogue &after, bool json, OutputSink &sink)
        : before_(before), after_(after), json_(json), sink_(sink) {
        for (size_t i = 0, at = 0; i < before.making.hashes.size(); at += DigestLength(before.making.hashes[i++])) {
            for (size_t j = 0, there = 0; j < after.making.hashes.size(); there += DigestLength(after.making.hashes[j++]))
                if (after.making.hashes[j] == before.making.hashes[i])
                    shared_.push_back({at, there, DigestLength(before.making.hashes[i]), HashName(before.making.hashes[i])});
        }
    }

    // Both walks, the pairing between them, and the counts line.
    DifferenceCounts Run() {
        WalkPair(0, 0);
        PairMoves();
        writing_ = true;
        WalkPair(0, 0);
        WriteCounts();
        return counts_;
    }

private:
    // Both sides have this folder.
    void WalkPair(unsigned before, unsigned after) {
        const CatalogueFolder &b = before_.Folders()[before], &a = after_.Folders()[after];
        if (b.state == FolderState::NotRead || a.state == FolderState::NotRead) {
            Unreadable(true, after_.FolderPath(after), b.state == FolderState::NotRead ? &before_.Reason(b.reason) : nullptr,
                       a.state == FolderState::NotRead ? &after_.Reason(a.reason) : nullptr);
            return;
        }
        // Below the depth limit of either side, or a link leading back up,
        // the contents are not known to both: nothing to compare.
        if (!before_.Entered(before) || !after_.Entered(after)) return;
        Entries old(before_, before), now(after_, after);
        while (old.More() || now.More()) {
            int order = !now.More() ? -1 : !old.More() ? 1 : Entries::Compare(before_, old.Next(), after_, now.Next());
            if (order < 0) {
                Removed(old.Next());
                old.Advance(old.Next());
            } else if (order > 0) {
                Added(now.Next());
                now.Advance(now.Next());
            } else {
                Item x = old.Next(), y = now.Next();
                old.Advance(x), now.Advance(y);
                if (x.folder && y.folder) {
                    NameCase(x, y);
                    WalkPair(x.index, y.index);
                } else if (!x.folder && !y.folder) {
                    CompareFiles(x.index, y.index);
                } else {
                    Removed(x);  // a file became a folder, or a folder a file
                    Added(y);
                }
            }
        }
    }

    // A folder whose name changed only in case.
    void NameCase(const Item &x, const Item &y) {
        const CatalogueFolder &b = before_.Folders()[x.index], &a = after_.Folders()[y.index];
        if (!writing_ || (b.nameLength == a.nameLength && std::memcmp(before_.Text(b.name), after_.Text(a.name), b.nameLength) == 0))
            return;
        ++counts_.changed;
        std::string oldName(before_.Text(b.name), b.nameLength), newName(after_.Text(a.name), a.nameLength);
        if (json_) {
            Begin("changed", after_.FolderPath(y.index) + "\\", "folder");
            Out() += ",\"name\":[" + JsonText(oldName) + "," + JsonText(newName) + "]}";
            End();
        } else {
            Line('~', after_.FolderPath(y.index) + "\\");
            Out() += "  name case " + Shown(oldName) + " -> " + Shown(newName);
            End();
        }
    }

    // A file both sides have: one "!" line when either side could not read
    // its content, else one "~" line naming all that differs, if anything does.
    void CompareFiles(unsigned before, unsigned after) {
        const CatalogueFile &b = before_.Files()[before], &a = after_.Files()[after];
        if (b.unread || a.unread) {
            Unreadable(false, after_.FilePath(after), b.unread ? &before_.Reason(b.detail) : nullptr,
                       a.unread ? &after_.Reason(a.detail) : nullptr);
            return;
        }
        std::string oldName(before_.Text(b.name), b.nameLength), newName(after_.Text(a.name), a.nameLength);
        bool nameCase = oldName != newName;
        bool size = b.size != a.size;
        bool time = b.modified != NoTime && a.modified != NoTime && b.modified != a.modified;
        bool attributes = b.attributes != a.attributes;
        std::vector<const char *> digests;
        if (b.detail != 0xFFFFFFFFu && a.detail != 0xFFFFFFFFu)
            for (const SharedDigest &d : shared_)
                if (std::memcmp(before_.Text(b.detail) + d.before, after_.Text(a.detail) + d.after, d.length) != 0)
                    digests.push_back(d.name);
        if (!writing_ || !(nameCase || size || time || attributes || !digests.empty())) return;
        ++counts_.changed;
        std::string path = after_.FilePath(after);
        if (json_) {
            Begin("changed", path, "file");
            std::string &out = Out();
            if (nameCase) out += ",\"name\":[" + JsonText(oldName) + "," + JsonText(newName) + "]";
            if (size) out += ",\"size\":[" + std::to_string(b.size) + "," + std::to_string(a.size) + "]";
            if (time) out += ",\"modified\":[\"" + TimeText(b.modified) + "\",\"" + TimeText(a.modified) + "\"]";
            if (attributes)
                out += ",\"attributes\":[\"" + AttributeText(b.attributes) + "\",\"" + AttributeText(a.attributes) + "\"]";
            if (!digests.empty()) {
                out += ",\"differs\":[";
                for (size_t i = 0; i < digests.size(); ++i) out += (i ? ",\"" : "\"") + std::string(digests[i]) + "\"";
                out += "]";
            }
            out += '}';
        } else {
            Line('~', path);
            std::string parts;
            auto part = [&](const std::string &text) { parts += (parts.empty() ? "" : ", ") + text; };
            if (nameCase) part("name case " + Shown(oldName) + " -> " + Shown(newName));
            if (size) part("size " + std::to_string(b.size) + " -> " + std::to_string(a.size));
            if (time) part("modified " + TimeText(b.modified) + " -> " + TimeText(a.modified));
            if (attributes) part("attributes " + AttributeText(b.attributes) + " -> " + AttributeText(a.attributes));
            for (const char *name : digests) part(std::string(name) + " differs");
            Out() += "  " + parts;
        }
        End();
    }

    // An entry only the earlier side has.
    void Removed(const Item &item) {
        if (!item.folder) {
            if (!writing_) {
                if (Movable(before_, item.index)) removedFiles_.push_back(item.index);
                return;
            }
            auto move = std::lower_bound(moves_.begin(), moves_.end(), std::make_pair(item.index, 0u));
            if (move != moves_.end() && move->first == item.index) Moved(move->first, move->second);
            else Whole('-', "removed", false, item.index);
            return;
        }
        if (writing_) Whole('-', "removed", true, item.index);
    }

    // An entry only the later side has; an unreadable folder is reported as such.
    void Added(const Item &item) {
        if (!item.folder) {
            if (!writing_) {
                if (Movable(after_, item.index)) addedFiles_.push_back(item.index);
            } else if (!std::binary_search(movedTo_.begin(), movedTo_.end(), item.index)) {
                Whole('+', "added", false, item.index);
            }
            return;
        }
        const CatalogueFolder &folder = after_.Folders()[item.index];
        if (!writing_) return;
        if (folder.state == FolderState::NotRead)
            Unreadable(true, after_.FolderPath(item.index), nullptr, &after_.Reason(folder.reason));
        else
            Whole('+', "added", true, item.index);
    }

    // Whether a file one side alone has can be paired as a move: it has the first shared digest.
    bool Movable(const Catalogue &side, unsigned file) const {
        const CatalogueFile &f = side.Files()[file];
        return !shared_.empty() && !f.unread && f.detail != 0xFFFFFFFFu;
    }

    // Pairs removed and added files of the same size and first shared
    // digest, each in path order, the first with the first.
    void PairMoves() {
        if (shared_.empty()) return;
        const SharedDigest &d = shared_.front();
        auto key = [&](const Catalogue &side, unsigned file, size_t offset) {
            const CatalogueFile &f = side.Files()[file];
            return std::make_pair(f.size, std::string(side.Text(f.detail) + offset, d.length));
        };
        auto order = [&](const Catalogue &side, size_t offset) {
            return [&side, offset, &key](unsigned x, unsigned y) { return key(side, x, offset) < key(side, y, offset); };
        };
        std::stable_sort(removedFiles_.begin(), removedFiles_.end(), order(before_, d.before));
        std::stable_sort(addedFiles_.begin(), addedFiles_.end(), order(after_, d.after));
        for (size_t r = 0, a = 0; r < removedFiles_.size() && a < addedFiles_.size();) {
            auto x = key(before_, removedFiles_[r], d.before), y = key(after_, addedFiles_[a], d.after);
            if (x < y) {
                ++r;
            } else if (y < x) {
                ++a;
            } else {
                moves_.emplace_back(removedFiles_[r++], addedFiles_[a]);
                movedTo_.push_back(addedFiles_[a++]);
            }
        }
        std::sort(moves_.begin(), moves_.end());
        std::sort(movedTo_.begin(), movedTo_.end());
    }

    void Moved(unsigned before, unsigned after) {
        ++counts_.moved;
        std::string from = before_.FilePath(before), to = after_.FilePath(after);
        if (json_) {
            Out() += "{\"kind\":\"moved\",\"type\":\"file\",\"from\":" + JsonText(from) + ",\"to\":" + JsonText(to) + "}";
        } else {
            Line('>', from);
            Out() += " -> " + Shown(to);
        }
        End();
    }

    // A file, or a folder with all it holds, on one side only.
    void Whole(char sign, const char *kind, bool folder, unsigned index) {
        const Catalogue &side = sign == '-' ? before_ : after_;
        (sign == '-' ? counts_.removed : counts_.added)++;
        std::string path = folder ? side.FolderPath(index) + "\\" : side.FilePath(index);
        Contents contents;
        if (folder) Count(side, index, contents);
        // What an added folder holds is new and not all of it could be read.
        if (folder && sign == '+' && contents.unread > 0) ++counts_.unreadable;
        if (json_) {
            Begin(kind, path, folder ? "folder" : "file");
            if (folder)
                Out() += ",\"files\":" + std::to_string(contents.files) + ",\"bytes\":" + std::to_string(contents.bytes) +
                         (contents.unread ? ",\"unreadFolders\":" + std::to_string(contents.unread) : "");
            else
                Out() += ",\"size\":" + std::to_string(side.Files()[index].size);
            Out() += '}';
        } else {
            Line(sign, path);
            if (folder) {
                Out() += "  (" + Grouped(contents.files) + (contents.files == 1 ? " file, " : " files, ") +
                         SizeText(contents.bytes);
                if (contents.unread) Out() += ", " + Grouped(contents.unread) + (contents.unread == 1 ? " folder" : " folders") + " not read";
                Out() += ')';
            }
        }
        End();
    }

    // Adds up a folder's files and bytes, and the folders below it not read.
    void Count(const Catalogue &side, unsigned folder, Contents &contents) const {
        const CatalogueFolder &f = side.Folders()[folder];
        if (f.state == FolderState::NotRead) ++contents.unread;
        for (unsigned i = f.firstFile; i < f.firstFile + f.fileCount; ++i) {
            ++contents.files;
            contents.bytes += side.Files()[i].size;
        }
        for (unsigned i = f.firstChild; i < f.firstChild + f.childCount; ++i) Count(side, side.Subfolders()[i], contents);
    }

    // A folder or file not read in full on one side or both: its contents were not compared.
    void Unreadable(bool folder, std::string path, const std::string *before, const std::string *after) {
        if (!writing_) return;
        ++counts_.unreadable;
        if (folder) path = path.empty() ? ".\\" : path + "\\";
        if (json_) {
            Begin("unreadable", path, folder ? "folder" : "file");
            if (before) Out() += ",\"old\":" + JsonText(*before);
            if (after) Out() += ",\"new\":" + JsonText(*after);
            Out() += '}';
        } else {
            Line('!', path);
            Out() += "  not read";
            if (before) Out() += " in OLD: " + Shown(*before) + (after ? ";" : "");
            if (after) Out() += " in NEW: " + Shown(*after);
        }
        End();
    }

    void WriteCounts() {
        if (json_) {
            Out() += "{\"kind\":\"counts\",\"added\":" + std::to_string(counts_.added) +
                     ",\"removed\":" + std::to_string(counts_.removed) + ",\"changed\":" + std::to_string(counts_.changed) +
                     ",\"moved\":" + std::to_string(counts_.moved) + ",\"unreadable\":" + std::to_string(counts_.unreadable) + "}";
        } else {
            Out() += Grouped(counts_.added) + " added, " + Grouped(counts_.removed) + " removed, " +
                     Grouped(counts_.changed) + " changed, " + Grouped(counts_.moved) + " moved, " +
                     Grouped(counts_.unreadable) + " unreadable";
        }
        End();
    }

    // The pieces of a line.
    std::string &Out() { return sink_.Pending(); }
    void Line(char sign, const std::string &path) {
        Out() += sign;
        Out() += ' ';
        Out() += Shown(path);
    }
    void Begin(const char *kind, const std::string &path, const char *type) {
        Out() += std::string("{\"kind\":\"") + kind + "\",\"type\":\"" + type + "\",\"path\":" + JsonText(path);
    }
    void End() {
        Out() += json_ ? "\n" : "\r\n";
        sink_.LineDone();
    }
    // Text for a line of its own: a control character (a line end in a
    // Linux name) shown as "?", so that each difference stays one line.
    static std::string Shown(std::string text) {
        for (char &c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        return text;
    }
    static std::string JsonText(const std::string &text) {
        return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
    }

    const Catalogue &before_, &after_;
    bool json_;
    OutputSink &sink_;
    std::vector<SharedDigest> shared_;
    bool writing_ = false;
    std::vector<unsigned> removedFiles_, addedFiles_, movedTo_;
    std::vector<std::pair<unsigned, unsigned>> moves_;  // (earlier file, later file), by the earlier
    DifferenceCounts counts_;
};

}  // namespace

DifferenceCounts WriteDifferences(const Catalogue &before, const Catalogue &after, bool jsonLines, OutputSink &sink) {
    Comparison comparison(before, after, jsonLines, sink);
    return comparison.Run();
}

// The command.

// The exit codes of a comparison, as --help states them.
enum CompareExit {
    ExitSame = 0,
    ExitOutputFailed = 1,
    ExitUsage = 2,
    ExitDifferent = 3,
    ExitUnreadable = 4,      // something could not be read: the comparison may be incomplete
    ExitInterrupted = 130,   // 128 + SIGINT, as shells report an interrupted command
};

// Set by Ctrl+C on the console's own thread; the scan and the output watch it.
static std::atomic<bool> CompareStop{false};

static BOOL WINAPI OnCompareControl(DWORD) {
    CompareStop = true;
    return TRUE;
}

// One line on standard error: wide on a console, else UTF-8.
static void Complain(const std::wstring &message) {
    std::wstring text = L"dirtally-cli: " + message + L"\r\n";
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, done = 0;
    if (!error || error == INVALID_HANDLE_VALUE) return;
    if (GetConsoleMode(error, &mode)) {
        WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        return;
    }
    std::string utf8;
    NarrowText(text.data(), text.size(), CP_UTF8, utf8);
    WriteFile(error, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
}

static int UsageError(const std::wstring &message) {
    Complain(message);
    Complain(L"try 'dirtally-cli --help' for more information");
    return ExitUsage;
}

// The absolute form of a path, without trailing backslashes but a root's own.
static std::wstring Absolute(const std::wstring &path) {
    DWORD units = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (units == 0) return path;
    std::wstring full(units, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), units, &full[0], nullptr));
    while (full.size() > 3 && full.back() == L'\\' && full[full.size() - 2] != L'\\') full.pop_back();
    return full;
}

bool IsCompareCommand(const std::vector<std::wstring> &arguments) {
    for (const std::wstring &argument : arguments)
        if (argument == L"--compare" || argument.compare(0, 10, L"--compare=") == 0) return true;
    return false;
}

// Whether any of `names` was given, alone or as "--name=value".
static bool Given(const std::vector<std::wstring> &arguments, std::initializer_list<const wchar_t *> names) {
    for (const std::wstring &argument : arguments)
        for (const wchar_t *name : names)
            if (argument == name || argument.compare(0, wcslen(name) + 1, std::wstring(name) + L"=") == 0) return true;
    return false;
}

// One comparison: what it was asked, and how it ended.
struct CompareJob {
    std::wstring before, after;  // OLD, and NEW (a folder or a catalogue; empty: OLD's start folder)
    bool afterIsFolder = true;
    ListingRequest overrides;    // the scan's choices the command line gave
    bool hashes = false, filter = false, excludes = false, depth = false;
    bool json = false;
    std::wstring output;         // empty: standard output
    int exit = ExitOutputFailed;
};

// Reads a catalogue for one side; false after saying why.
static bool ReadSide(const std::wstring &path, const wchar_t *role, Catalogue &catalogue) {
    std::wstring reason;
    CatalogueRead read = ReadCatalogue(path, catalogue, reason);
    if (read == CatalogueRead::Read) return true;
    if (read == CatalogueRead::CannotOpen) Complain(std::wstring(L"can't read ") + role + L" " + path + L": " + reason);
    else if (read == CatalogueRead::Foreign)
        Complain(std::wstring(role) + L" " + path + L" is not a catalogue written by --format jsonl or --format csv: " + reason);
    else Complain(std::wstring(role) + L" " + path + L" is a damaged catalogue: " + reason);
    return false;
}

// The scan's choices: OLD's, the folder named (else OLD's start folder),
// and what the command line gave; false when the folder is not there
// (said so when `complain`).
static bool ScanChoices(const CompareJob &job, CatalogueMaking &making, bool complain) {
    if (!job.after.empty()) making.startFolder = job.after;
    DWORD attributes = GetFileAttributesW(LongPath(making.startFolder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (complain) UsageError(L"the folder to compare with, " + making.startFolder + L", is not there (name it after OLD)");
        return false;
    }
    if (job.hashes) making.hashes = job.overrides.hashes;
    if (job.filter) making.filter = job.overrides.filter;
    if (job.excludes) making.excludes = job.overrides.excludes;
    if (job.depth) making.subfolders = job.overrides.includeSubfolders, making.maxDepth = job.overrides.maxDepth;
    return true;
}

// A scan on a thread of its own, while OLD's rows are read.
struct ScanJob {
    CatalogueMaking making;
    Catalogue *catalogue;
    ScanEnd end;
};

static DWORD WINAPI ScanThread(void *parameter) {
    ScanJob &scan = *static_cast<ScanJob *>(parameter);
    scan.end = ScanIntoCatalogue(scan.making, &CompareStop, *scan.catalogue);
    return 0;
}

// Makes both sides, writes the differences and gives the exit code. When
// OLD opens with its description (JSON Lines), the scan starts at once and
// goes on while OLD's rows are read; a CSV catalogue tells what it holds
// only through its rows, so its scan waits for them, as does a scan whose
// folder is not there (OLD, if damaged, is named as such first).
static int Compare(CompareJob &job, HANDLE output) {
    Catalogue before, after;
    ScanJob scan = {CatalogueMaking(), &after, ScanEnd::Complete};
    HANDLE scanning = nullptr;
    if (job.afterIsFolder && ReadCatalogueMaking(job.before, scan.making) && ScanChoices(job, scan.making, false))
        scanning = CreateThread(nullptr, 0, ScanThread, &scan, 0, nullptr);
    bool read = ReadSide(job.before, L"OLD", before);
    if (scanning) {
        if (!read) CompareStop = true;  // the scan is of no use
        WaitForSingleObject(scanning, INFINITE);
        CloseHandle(scanning);
    }
    if (!read) return ExitUsage;
    if (!job.afterIsFolder) {
        if (!ReadSide(job.after, L"NEW", after)) return ExitUsage;
    } else if (!scanning) {
        scan.making = before.making;
        if (!ScanChoices(job, scan.making, true)) return ExitUsage;
        ScanThread(&scan);
    }
    if (scan.end == ScanEnd::Stopped) return ExitInterrupted;
    if (scan.end == ScanEnd::OutOfMemory) {
        Complain(L"can't compare: " + SystemMessage(ERROR_NOT_ENOUGH_MEMORY));
        return ExitOutputFailed;
    }
    OutputSink sink(output, &CompareStop);
    DifferenceCounts counts = WriteDifferences(before, after, job.json, sink);
    sink.Flush();
    if (sink.state() == OutputSink::State::Stopped) return ExitInterrupted;
    if (sink.state() == OutputSink::State::Failed) {
        Complain(L"can't write " + (job.output.empty() ? std::wstring(L"standard output") : job.output) + L": " +
                 SystemMessage(sink.error()));
        return ExitOutputFailed;
    }
    if (counts.unreadable > 0) return ExitUnreadable;
    return counts.added + counts.removed + counts.changed + counts.moved > 0 ? ExitDifferent : ExitSame;
}

// The job on a thread of its own, whose stack holds a walk as deep as any path.
static DWORD WINAPI CompareThread(void *parameter) {
    CompareJob &job = *static_cast<CompareJob *>(parameter);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::wstring path = job.output.empty() ? std::wstring() : LongPath(job.output);
    if (!path.empty()) {
        output = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (output == INVALID_HANDLE_VALUE) {
            Complain(L"can't create output file " + job.output + L": " + SystemMessage(GetLastError()));
            job.exit = ExitOutputFailed;
            return 0;
        }
    }
    try {
        job.exit = Compare(job, output);
    } catch (const std::bad_alloc &) {
        Complain(L"can't compare: " + SystemMessage(ERROR_NOT_ENOUGH_MEMORY));
        job.exit = ExitOutputFailed;
    }
    if (!path.empty()) {
        CloseHandle(output);
        // Only a comparison that was written in full leaves its file.
        if (job.exit != ExitSame && job.exit != ExitDifferent && job.exit != ExitUnreadable) DeleteFileW(path.c_str());
    }
    return 0;
}

int RunCompare(const std::vector<std::wstring> &arguments) {
    CompareJob job;
    std::vector<std::wstring> rest;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == L"--compare") {
            if (i + 1 == arguments.size()) return UsageError(L"option '--compare' needs a catalogue file (OLD)");
            job.before = arguments[++i];
        } else if (arguments[i].compare(0, 10, L"--compare=") == 0) {
            job.before = arguments[i].substr(10);
        } else {
            rest.push_back(arguments[i]);
        }
    }
    CommandLine line;
    std::wstring reason;
    if (!ReadCommandLine(rest, &line, &reason)) return UsageError(reason);
    if (line.help || line.version) return UsageError(L"--compare does not take --help or --version");
    if (job.before.empty()) return UsageError(L"option '--compare' needs a catalogue file (OLD)");
    if (line.request.format != OutputFormat::Text && line.request.format != OutputFormat::Jsonl)
        return UsageError(L"--compare writes its differences as text or jsonl");
    if (line.folders.size() > 1) return UsageError(L"--compare takes one FOLDER or catalogue NEW after OLD");
    job.before = Absolute(job.before);
    DWORD attributes = GetFileAttributesW(LongPath(job.before).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return UsageError(L"OLD not found: " + job.before + L" (" + SystemMessage(GetLastError()) + L")");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return UsageError(L"OLD is a folder, not a catalogue file: " + job.before);
    if (!line.folders.empty()) {
        job.after = Absolute(line.folders[0]);
        attributes = GetFileAttributesW(LongPath(job.after).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return UsageError(L"not found: " + job.after + L" (" + SystemMessage(GetLastError()) + L")");
        job.afterIsFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    job.json = line.request.format == OutputFormat::Jsonl;
    job.output = line.output.empty() ? std::wstring() : Absolute(line.output);
    job.overrides = line.request;
    job.hashes = Given(rest, {L"--hash"});
    job.filter = Given(rest, {L"--filter"});
    job.excludes = Given(rest, {L"--exclude"});
    job.depth = Given(rest, {L"-s", L"--subfolders", L"--max-depth"});

    SetConsoleCtrlHandler(OnCompareControl, TRUE);
    HANDLE thread = CreateThread(nullptr, 64u << 20, CompareThread, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        Complain(L"can't start the comparison: " + SystemMessage(GetLastError()));
        return ExitOutputFailed;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return job.exit;
}
