// The web-page catalogue: the page template around the folders' data.
//
// The data is one JSON array, one element per folder in listing order:
//   [depth, "name", "numbers", "files", status, "reason"]
// where a folder's parent is the last folder before it one level up, so no
// index is written; "name" is the start folder as given at depth 0, else
// the folder's own name; "files" the file names joined by '/' (which no
// file name can hold on Windows; a folder with such a name gets an array of
// names instead); status and reason are left out for a folder read in full.
// "numbers" holds the folder's time and every file's size and time in the
// digits of the page's alphabet (see AppendVarying and AppendFixed).
#include "html_writer.h"

#include <cstdint>

#include "html_page.h"
#include "version.h"

// The statuses as the page's script knows them.
enum PageStatus { PageRead, PageReadInPart, PageNotRead, PageLeadsBack, PageNotEntered };

// The digits of the numbers: every printable ASCII character but '"' and
// '\' (which a JSON string would escape) and '<' (which the page's data
// must not hold). The page's script gets the same string from the data.
static const char Digits[] = " !#$%&'()*+,-./0123456789:;=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{|}~";
static const unsigned Base = sizeof Digits - 1;
static_assert(Base == 92, "95 printable characters less three");
// A varying-length number is digits of base Half: the last one from the
// upper half of the alphabet, the others from the lower.
static const unsigned Half = Base / 2;

// Numbers the page's script reads exactly: below 2^53.
static const unsigned long long ExactLimit = 1ull << 53;

// Seconds since 1601 (the FILETIME epoch), whole.
static unsigned long long Seconds(const FILETIME &time) {
    unsigned long long count = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return count / 10000000;
}

// Appends `value` in the varying-length form.
static void AppendVarying(std::string &out, unsigned long long value) {
    char digits[16];  // 2^64 needs 12 digits of base 46
    size_t count = 0;
    digits[count++] = Digits[Half + value % Half];
    for (value /= Half; value > 0; value /= Half) digits[count++] = Digits[value % Half];
    while (count > 0) out += digits[--count];
}

// Appends `value` as exactly `width` digits of the whole alphabet.
static void AppendFixed(std::string &out, unsigned long long value, unsigned width) {
    size_t end = out.size() + width;
    out.resize(end);
    for (size_t i = end; i-- > end - width; value /= Base) out[i] = Digits[value % Base];
}

// The digits of the whole alphabet that any value below `limit` needs.
static unsigned WidthBelow(unsigned long long limit) {
    unsigned width = 1;
    // Ten digits hold any 64-bit value; the check comes first, so `reach` never wraps.
    for (unsigned long long reach = Base; width < 10 && reach < limit; reach *= Base) ++width;
    return width;
}

// Appends UTF-16 text as a JSON string that may stand inside a <script>
// element: '"', '\', control characters and '<' escaped (so no "</script"
// or "<!--" can appear), everything else in UTF-8; a surrogate without
// its pair is kept as an escape, so no name is altered.
static void AppendJsonText(std::string &out, const wchar_t *text, size_t length) {
    static const char Hex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < length; ++i) {
        unsigned c = text[i];
        if (c < 0x80 && c >= 0x20 && c != '"' && c != '\\' && c != '<') {
            out += static_cast<char>(c);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF && !(c <= 0xDBFF && i + 1 < length &&
                                                                 text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF))) {
            char escape[] = {'\\', 'u', Hex[c >> 12], Hex[(c >> 8) & 15], Hex[(c >> 4) & 15], Hex[c & 15]};
            out.append(escape, sizeof escape);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDBFF) {
            unsigned point = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
            out += static_cast<char>(0xF0 | (point >> 18));
            out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out += '"';
}

static void AppendJsonText(std::string &out, const std::wstring &text) { AppendJsonText(out, text.data(), text.size()); }

// Appends a part of the built-in page.
static void AppendPagePart(std::string &out, const unsigned char *part, size_t size) {
    out.append(reinterpret_cast<const char *>(part), size);
}

HtmlWriter::HtmlWriter(const ListingRequest &request, OutputSink &sink) : MachineWriter(request, sink) {
    GetSystemTimeAsFileTime(&made_);
    AppendPagePart(out_, HtmlPageStart, sizeof HtmlPageStart);
    sink_.LineDone();
}

// The numbers of a folder with files: the folder's time (0 unknown, else
// seconds + 1), then S (one more than the largest size), the earliest time
// T0 and R (one more than the latest time less T0); then either, in
// mode 0, one number per file, size * R + (time - T0), in W digits, or, in
// mode 1 (the product would not stay exact), the sizes in Ws digits each
// and then the times in Wt. A folder without files has only its time.
void HtmlWriter::FolderRow(const FolderRecord &folder) {
    statusCode_ = folder.status == FolderStatus::ReadInPart ? PageReadInPart
                        : folder.status == FolderStatus::NotRead  ? PageNotRead
                        : folder.status == FolderStatus::LeadsBack ? PageLeadsBack
                                                                    : PageRead;
    if (anyFolder_) out_ += ",\n";
    anyFolder_ = true;
    out_ += '[';
    out_ += std::to_string(folder.depth);
    out_ += ',';
    size_t slash = folder.path.rfind(L'\\');
    size_t from = folder.depth == 0 || slash == std::wstring::npos ? 0 : slash + 1;
    AppendJsonText(out_, folder.path.data() + from, folder.path.size() - from);

    unsigned long long largest = 0, earliest = ~0ull, latest = 0;
    size_t files = 0;
    slashFree_ = true;
    for (const EntryRecord *entry : folder.entries) {
        if (entry->IsFolder()) continue;
        ++files;
        unsigned long long time = Seconds(entry->modified);
        if (entry->size > largest) largest = entry->size;
        if (time < earliest) earliest = time;
        if (time > latest) latest = time;
        for (unsigned short i = 0; i < entry->nameLength && slashFree_; ++i) slashFree_ = entry->Name()[i] != L'/';
    }
    out_ += ",\"";
    AppendVarying(out_, folder.attributes != 0 ? Seconds(folder.modified) + 1 : 0);
    if (files > 0) {
        unsigned long long sizes = largest + 1, span = latest - earliest + 1;
        bool together = sizes < ExactLimit && span < ExactLimit / sizes;
        AppendVarying(out_, sizes);
        AppendVarying(out_, earliest);
        AppendVarying(out_, span);
        AppendVarying(out_, together ? 0 : 1);
        unsigned width = WidthBelow(together ? sizes * span : sizes), timeWidth = WidthBelow(span);
        AppendVarying(out_, width);
        if (!together) AppendVarying(out_, timeWidth);
        for (const EntryRecord *entry : folder.entries) {
            if (entry->IsFolder()) continue;
            unsigned long long offset = Seconds(entry->modified) - earliest;
            AppendFixed(out_, together ? entry->size * span + offset : entry->size, width);
        }
        if (!together)
            for (const EntryRecord *entry : folder.entries)
                if (!entry->IsFolder()) AppendFixed(out_, Seconds(entry->modified) - earliest, timeWidth);
    }
    out_ += "\",";
    out_ += slashFree_ ? "\"" : "[";
    filesWritten_ = 0;
    notEntered_.clear();
}

// A file's name goes into the folder's names; a subfolder comes here only
// when it gets no record, and is written after the folder.
void HtmlWriter::EntryRow(const FolderRecord &folder, size_t index) {
    const EntryRecord &entry = *folder.entries[index];
    if (entry.IsFolder()) {
        notEntered_.push_back(&entry);
        return;
    }
    if (slashFree_) {
        if (filesWritten_ > 0) out_ += '/';
        // The name's own quotes are not wanted inside the joined string.
        size_t start = out_.size();
        AppendJsonText(out_, entry.Name(), entry.nameLength);
        out_.erase(start, 1);
        out_.pop_back();
    } else {
        if (filesWritten_ > 0) out_ += ',';
        AppendJsonText(out_, entry.Name(), entry.nameLength);
    }
    ++filesWritten_;
    // Long folders go out in pieces, not in one string.
    sink_.LineDone();
}

bool HtmlWriter::Folder(const FolderRecord &folder) {
    bool more = MachineWriter::Folder(folder);
    out_ += slashFree_ ? "\"" : "]";
    if (statusCode_ != PageRead) {
        out_ += ',';
        out_ += std::to_string(statusCode_);
        if (statusCode_ == PageReadInPart || statusCode_ == PageNotRead) {
            out_ += ',';
            AppendJsonText(out_, SystemMessage(folder.error));
        }
    }
    out_ += ']';
    for (const EntryRecord *entry : notEntered_) {
        out_ += ",\n[";
        out_ += std::to_string(folder.depth + 1);
        out_ += ',';
        AppendJsonText(out_, entry->Name(), entry->nameLength);
        out_ += ",\"";
        AppendVarying(out_, Seconds(entry->modified) + 1);
        out_ += "\",\"\",";
        out_ += std::to_string(PageNotEntered);
        out_ += ']';
    }
    sink_.LineDone();
    return more && sink_.state() == OutputSink::State::Writing;
}

// Appends a list of strings as a JSON array.
static void AppendJsonList(std::string &out, const std::vector<std::wstring> &items) {
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        AppendJsonText(out, items[i]);
    }
    out += ']';
}

// The description the page's header shows, after the folders: the run's
// choices, when it was made, and the totals, which only now are known.
void HtmlWriter::Finish(const ListingTotals &totals) {
    AppendPagePart(out_, HtmlPageMiddle, sizeof HtmlPageMiddle);
    out_ += "{\"program\":\"" PROGRAM_VERSION "\",\"digits\":\"";
    out_ += Digits;
    out_ += "\",\"made\":" + std::to_string(Seconds(made_)) + ",\"startFolders\":";
    AppendJsonList(out_, request_.startFolders);
    out_ += ",\"filter\":";
    AppendJsonText(out_, request_.filter);
    out_ += ",\"excludes\":";
    AppendJsonList(out_, request_.excludes);
    out_ += ",\"subfolders\":";
    out_ += request_.includeSubfolders ? "true" : "false";
    out_ += ",\"maxDepth\":";
    out_ += request_.includeSubfolders && request_.maxDepth >= 0 ? std::to_string(request_.maxDepth) : "null";
    // Counts as strings: a byte total can pass what the script holds exactly.
    out_ += ",\"folders\":\"" + std::to_string(totals.folders) + "\",\"files\":\"" + std::to_string(totals.files) +
            "\",\"bytes\":\"" + std::to_string(totals.bytes) + "\",\"excluded\":\"" +
            std::to_string(totals.excluded) + "\",\"unreadFolders\":\"" + std::to_string(unreadFolders_) + "\"}";
    AppendPagePart(out_, HtmlPageEnd, sizeof HtmlPageEnd);
    sink_.LineDone();
}
