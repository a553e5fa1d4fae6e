// Reading catalogues back: JSON Lines through Debian's JSON parser, CSV
// through a small RFC 4180 reader; each row checked before it is taken.
#include "catalogue_reader.h"

#include <cstring>
#include <new>
#include <vector>

#include <nlohmann/json.hpp>

#include "hashes.h"
#include "names.h"

using Json = nlohmann::json;

// A row that is not what the catalogue's form writes; caught once, with the line it came from.
struct Damage {
    std::string what;
};

// No line or field of a catalogue comes near this: a file that has one is
// not read into memory whole.
static const size_t LongestLine = 64u << 20;

// A path for a message: a damaged one may be thousands of names long.
static std::string Shortened(const std::string &path) {
    return path.size() <= 160 ? path : path.substr(0, 100) + "..." + path.substr(path.size() - 50);
}

// Why a file is not a catalogue of either form.
static const char NotCatalogue[] =
    "it begins with neither a catalogue's JSON description nor its CSV header (Path,Name,Type,Size,...)";

// The bytes of an open file, read in big pieces.
class ByteSource {
public:
    explicit ByteSource(HANDLE file) : file_(file), buffer_(1 << 20) {}

    // The next byte, or -1 at the end (or on a read error: see error()).
    int Get() {
        if (at_ == end_ && !Fill()) return -1;
        return static_cast<unsigned char>(buffer_[at_++]);
    }
    // The next byte, left to be read; -1 at the end.
    int Peek() {
        if (at_ == end_ && !Fill()) return -1;
        return static_cast<unsigned char>(buffer_[at_]);
    }
    // The next line without its "\n" (nor a "\r" before it); false at the
    // end. `ended` says whether a "\n" ended it.
    bool Line(std::string &line, bool &ended) {
        line.clear();
        for (;;) {
            if (at_ == end_ && !Fill()) {
                ended = false;
                return !line.empty();
            }
            const char *from = buffer_.data() + at_;
            const char *stop = static_cast<const char *>(std::memchr(from, '\n', end_ - at_));
            size_t take = stop ? static_cast<size_t>(stop - from) : end_ - at_;
            line.append(from, take);
            at_ += take;
            if (line.size() > LongestLine) throw Damage{"a line of more than 64 MiB"};
            if (stop) {
                ++at_;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                ended = true;
                return true;
            }
        }
    }
    // The line ends from here to the end: how many rows there are at most.
    size_t CountLines() {
        size_t lines = 0;
        while (at_ < end_ || Fill()) {
            for (const char *at = buffer_.data() + at_, *end = buffer_.data() + end_;
                 (at = static_cast<const char *>(std::memchr(at, '\n', end - at))) != nullptr; ++at)
                ++lines;
            at_ = end_;
        }
        return lines;
    }
    DWORD error() const { return error_; }

private:
    bool Fill() {
        DWORD got = 0;
        if (!ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) {
            error_ = GetLastError();
            got = 0;
        }
        at_ = 0;
        end_ = got;
        return got > 0;
    }

    HANDLE file_;
    std::vector<char> buffer_;
    size_t at_ = 0, end_ = 0;
    DWORD error_ = 0;
};

// "2001-03-07T08:05:03Z" as seconds since 1601; false for any other text
// or a date the calendar does not have. Worked out here rather than by the
// system: a catalogue has a time on every row.
static bool ParseTime(const std::string &text, long long &seconds) {
    static const char Shape[] = "0000-00-00T00:00:00Z";
    if (text.size() != sizeof Shape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (Shape[i] == '0' ? (text[i] < '0' || text[i] > '9') : text[i] != Shape[i]) return false;
    auto number = [&](size_t from, size_t digits) {
        long long value = 0;
        for (size_t i = from; i < from + digits; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    long long year = number(0, 4), month = number(5, 2), day = number(8, 2);
    long long hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    static const int MonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > MonthDays[month - 1] + (month == 2 && leap) ||
        hour > 23 || minute > 59 || second > 59)
        return false;
    // Days since 1601-01-01 by the days-from-civil rule (years from March).
    long long y = year - (month <= 2), era = y / 400, yearOfEra = y - era * 400;
    long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long days = era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 584694;
    seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    return true;
}

// The letters R, H, S, A (each at most once) as bits; false for any other text.
static bool ParseAttributes(const std::string &text, unsigned char &bits) {
    static const char Letters[] = "RHSA";
    bits = 0;
    for (char c : text) {
        const char *at = c ? std::strchr(Letters, c) : nullptr;
        unsigned char bit = at ? static_cast<unsigned char>(1u << (at - Letters)) : 0;
        if (bit == 0 || (bits & bit)) return false;
        bits = static_cast<unsigned char>(bits | bit);
    }
    return true;
}

// A whole number of bytes in decimal, without overflow.
static bool ParseSize(const std::string &text, unsigned long long &size) {
    if (text.empty() || text.size() > 20) return false;
    size = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        unsigned long long next = size * 10 + static_cast<unsigned>(c - '0');
        if (next / 10 != size) return false;
        size = next;
    }
    return true;
}

// The algorithm named as JSON keys and CSV headings name it (any case); false when none.
static bool HashByName(const std::string &name, HashAlgorithm &algorithm) {
    for (int i = 0; i <= static_cast<int>(HashAlgorithm::Sha512); ++i) {
        HashAlgorithm candidate = static_cast<HashAlgorithm>(i);
        if (name == HashName(candidate) || name == HashHeading(candidate)) {
            algorithm = candidate;
            return true;
        }
    }
    return false;
}

// What both forms share: the start folder that paths are taken below, and the rows.
class RowReader {
public:
    explicit RowReader(Catalogue &catalogue) : catalogue_(catalogue) {}

protected:
    // The path below the start folder; a path outside it is damage.
    const std::string &Relative(const std::string &path) {
        const std::string &start = start_;
        bool inside = path.compare(0, start.size(), start) == 0;
        size_t from = start.size();
        if (inside && path.size() > from && start.back() != '\\') inside = path[from++] == '\\';
        if (!inside) throw Damage{"the path " + Shortened(path) + " is not below the start folder " + Shortened(start)};
        relative_.assign(path, from, std::string::npos);
        if (relative_.find('\\') != std::string::npos) deep_ = true;
        return relative_;
    }
    void Folder(const std::string &path, FolderState state, const std::string &reason) {
        if (!catalogue_.AddFolder(Relative(path), state, reason))
            throw Damage{"the path " + Shortened(path) + " has an empty or overlong name, or too many"};
    }
    void File(const std::string &path, unsigned long long size, long long modified, unsigned char attributes,
              bool hashed, const std::string &reason) {
        if (Relative(path).empty()) throw Damage{"a file has the start folder's path"};
        if (!catalogue_.AddFile(relative_, size, modified, attributes, hashed ? digests_.data() : nullptr, reason))
            throw Damage{"the path " + Shortened(path) + " has an empty or overlong name, or too many"};
    }
    // Puts the hex digest of the `index`th algorithm into the digest buffer.
    void Digest(size_t index, const std::string &hex) {
        size_t at = 0;
        for (size_t i = 0; i < index; ++i) at += DigestLength(catalogue_.making.hashes[i]);
        size_t length = DigestLength(catalogue_.making.hashes[index]);
        if (!DecodeHex(hex.data(), hex.size(), &digests_[at], length))
            throw Damage{std::string("the ") + HashName(catalogue_.making.hashes[index]) + " digest is not " +
                         std::to_string(length * 2) + " hex digits"};
    }

    Catalogue &catalogue_;
    std::string start_;             // UTF-8, as the rows have it
    bool deep_ = false;             // a path two or more folders down has been seen
    std::vector<unsigned char> digests_;
    std::string relative_;
};

// The members of a row the catalogue takes, by key; text members that are
// missing are empty. Kept between rows so that reading allocates nothing.
enum RowKey { KeyType, KeyPath, KeyModified, KeyAttributes, KeyError, KeyFirstHash, KeyCount = KeyFirstHash + 4 };
static const char *const RowKeyNames[] = {"type", "path", "modified", "attributes", "error",
                                          "sha256", "sha1", "md5", "sha512"};
static_assert(sizeof RowKeyNames / sizeof RowKeyNames[0] == KeyCount, "RowKeyNames[key] names each key");
static_assert(static_cast<int>(HashAlgorithm::Sha512) == 3, "the hash keys follow the algorithms' order");

struct RowFields {
    std::string text[KeyCount];
    bool has[KeyCount];
    bool hasSize;
    unsigned long long size;
    bool leadsBack;
    std::string key, other;  // the flat reader's scratch: the key read, a value not kept
    void Clear() {
        for (int i = 0; i < KeyCount; ++i) text[i].clear(), has[i] = false;
        hasSize = false, size = 0, leadsBack = false;
    }
};

// The key's index among the text members; KeyCount for any other key.
static int KeyIndex(const std::string &key) {
    for (int i = 0; i < KeyCount; ++i)
        if (key.size() == std::strlen(RowKeyNames[i]) && key.compare(RowKeyNames[i]) == 0) return i;
    return KeyCount;
}

// The length of the well-formed UTF-8 sequence at `p` (RFC 3629: no
// overlong forms, no surrogates, nothing past U+10FFFF); 0 when there is none.
static size_t Utf8Length(const unsigned char *p, const unsigned char *end) {
    unsigned char c = p[0];
    size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || static_cast<size_t>(end - p) < length) return 0;
    unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80, high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

// Appends a code point as UTF-8.
static void AppendUtf8(std::string &out, unsigned point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// Four hex digits at `p`; -1 when they are not.
static long Hex4(const unsigned char *p, const unsigned char *end) {
    if (end - p < 4) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned char c = p[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// A JSON string at `p` (on its opening quote) into `out`, escapes undone;
// false for anything JSON does not allow in a string.
static bool FlatString(const unsigned char *&p, const unsigned char *end, std::string &out) {
    out.clear();
    for (++p;;) {
        const unsigned char *run = p;
        while (p < end && *p != '"' && *p != '\\' && *p >= 0x20 && *p < 0x80) ++p;
        out.append(reinterpret_cast<const char *>(run), static_cast<size_t>(p - run));
        if (p == end || *p < 0x20) return false;
        if (*p == '"') {
            ++p;
            return true;
        }
        if (*p >= 0x80) {
            size_t length = Utf8Length(p, end);
            if (length == 0) return false;
            out.append(reinterpret_cast<const char *>(p), length);
            p += length;
            continue;
        }
        if (++p == end) return false;
        static const char Escapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
        const char *escape = std::strchr(Escapes, *p);
        if (*p != 'u') {
            if (!escape || (escape - Escapes) % 2 != 0) return false;
            out += escape[1];
            ++p;
            continue;
        }
        long unit = Hex4(++p, end);
        if (unit < 0) return false;
        p += 4;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            long low = end - p >= 6 && p[0] == '\\' && p[1] == 'u' ? Hex4(p + 2, end) : -1;
            if (low < 0xDC00 || low > 0xDFFF) return false;
            p += 6;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, static_cast<unsigned>(unit));
    }
}

// Reads a row in the one shape the catalogue's writer gives rows: an
// object of strings, whole numbers and true, false or null, without spaces.
// False for any other line (which may still be JSON, or a damaged line):
// the JSON parser then decides.
static bool ReadFlatRow(const std::string &line, RowFields &row) {
    row.Clear();
    const unsigned char *p = reinterpret_cast<const unsigned char *>(line.data()), *end = p + line.size();
    std::string &key = row.key, &scratch = row.other;
    if (p == end || *p++ != '{') return false;
    if (p < end && *p == '}') return ++p == end;
    for (;;) {
        if (p == end || *p != '"' || !FlatString(p, end, key) || p == end || *p++ != ':' || p == end) return false;
        int index = KeyIndex(key);
        if (*p == '"') {
            std::string &text = index < KeyCount ? row.text[index] : scratch;
            if (!FlatString(p, end, text)) return false;
            if (index < KeyCount) row.has[index] = true;
            else if (key == "size" || key == "leadsBack") return false;
        } else if (*p >= '0' && *p <= '9') {
            unsigned long long value = 0;
            const unsigned char *digits = p;
            for (; p < end && *p >= '0' && *p <= '9'; ++p) {
                if (value > (~0ull - 9) / 10) return false;
                value = value * 10 + (*p - '0');
            }
            if ((*digits == '0' && p - digits > 1) || index < KeyCount) return false;
            if (key == "size") row.hasSize = true, row.size = value;
            else if (key == "leadsBack") return false;
        } else {
            static const char *const Words[] = {"true", "false", "null"};
            size_t word = 0;
            while (word < 3 && line.compare(static_cast<size_t>(p - reinterpret_cast<const unsigned char *>(line.data())),
                                            std::strlen(Words[word]), Words[word]) != 0)
                ++word;
            if (word == 3 || index < KeyCount || key == "size") return false;
            p += std::strlen(Words[word]);
            if (key == "leadsBack") row.leadsBack = word == 0;
        }
        if (p == end) return false;
        if (*p == '}') return ++p == end;
        if (*p++ != ',') return false;
    }
}

// Fills the fields with the JSON parser: for a row the flat reader does not
// take, which is either JSON of another shape or damaged.
static void FieldsFromParser(const std::string &line, RowFields &row) {
    Json object;
    try {
        object = Json::parse(line);
    } catch (const Json::parse_error &error) {
        std::string what = error.what();
        size_t text = what.find("] ");
        throw Damage{"not a JSON object (" + what.substr(text == std::string::npos ? 0 : text + 2) + ")"};
    }
    if (!object.is_object()) throw Damage{"not a JSON object"};
    row.Clear();
    for (auto member = object.begin(); member != object.end(); ++member) {
        int index = KeyIndex(member.key());
        if (index < KeyCount) {
            if (!member->is_string()) throw Damage{"\"" + member.key() + "\" is not text"};
            row.text[index] = member->get<std::string>();
            row.has[index] = true;
        } else if (member.key() == "size" && member->is_number_unsigned()) {
            row.hasSize = true;
            row.size = member->get<unsigned long long>();
        } else if (member.key() == "leadsBack") {
            row.leadsBack = *member == true;
        }
    }
}

class JsonLinesReader : public RowReader {
public:
    using RowReader::RowReader;

    // Takes the first line; false (with `reason`) when it is not a catalogue's.
    bool Header(const std::string &line, std::string &reason) {
        Json header = Json::parse(line, nullptr, false);
        if (!header.is_object() || header.value("format", Json()) != "dirtally-catalogue") {
            reason = NotCatalogue;
            return false;
        }
        if (header.value("formatVersion", Json()) != 1) {
            reason = "it is a catalogue of a form this version cannot read (formatVersion " +
                     header.value("formatVersion", Json()).dump() + ")";
            return false;
        }
        CatalogueMaking &making = catalogue_.making;
        const Json &starts = header.value("startFolders", Json());
        if (!starts.is_array() || starts.size() != 1 || !starts[0].is_string()) {
            reason = "it catalogues several start folders (or none); compare needs one";
            return false;
        }
        start_ = starts[0].get<std::string>();
        making.startFolder = WidenText(start_, CP_UTF8);
        making.filter = WidenText(StringOf(header, "filter", "*.*"), CP_UTF8);
        for (const Json &pattern : ArrayOf(header, "excludes")) {
            if (!pattern.is_string()) throw Damage{"an exclusion is not text"};
            making.excludes.push_back(WidenText(pattern.get<std::string>(), CP_UTF8));
        }
        making.subfolders = header.value("subfolders", Json(false)) == true;
        const Json &depth = header.value("maxDepth", Json());
        making.maxDepth = depth.is_number_unsigned() && depth.get<unsigned long long>() < 0x7FFFFFFF ? depth.get<int>() : -1;
        for (const Json &name : ArrayOf(header, "hashes")) {
            HashAlgorithm algorithm;
            if (!name.is_string() || !HashByName(name.get<std::string>(), algorithm))
                throw Damage{"an unknown hash algorithm " + name.dump()};
            making.hashes.push_back(algorithm);
        }
        digests_.resize(catalogue_.DigestBytes());
        return true;
    }

    // Takes one row after the first: read by the flat-row reader when it
    // can, else by the JSON parser, which also words what is wrong.
    void Row(const std::string &line) {
        if (totalsSeen_) throw Damage{"a line after the totals line"};
        if (!ReadFlatRow(line, fields_)) FieldsFromParser(line, fields_);
        RowFields &row = fields_;
        if (!row.has[KeyType]) throw Damage{"\"type\" is missing"};
        if (row.text[KeyType] == "totals") {
            totalsSeen_ = true;
            return;
        }
        if (!row.has[KeyPath]) throw Damage{"\"path\" is missing"};
        const std::string &type = row.text[KeyType], &path = row.text[KeyPath], &reason = row.text[KeyError];
        if (type == "folder") {
            Folder(path, row.leadsBack ? FolderState::LeadsBack : reason.empty() ? FolderState::Read : FolderState::NotRead,
                   reason);
            return;
        }
        if (type != "file") throw Damage{"an object of unknown type \"" + type + "\""};
        if (!row.hasSize) throw Damage{"a file without a size"};
        long long modified = NoTime;
        const std::string &time = row.text[KeyModified];
        if (!time.empty() && !ParseTime(time, modified))
            throw Damage{"the time \"" + time + "\" is not a time of the form 2001-03-07T08:05:03Z"};
        unsigned char attributes = 0;
        if (!ParseAttributes(row.text[KeyAttributes], attributes)) throw Damage{"attributes other than R, H, S and A"};
        bool hashed = !catalogue_.making.hashes.empty() && reason.empty();
        for (size_t i = 0; hashed && i < catalogue_.making.hashes.size(); ++i) {
            const std::string &hex = row.text[KeyFirstHash + static_cast<int>(catalogue_.making.hashes[i])];
            if (hex.empty()) hashed = false;
            else Digest(i, hex);
        }
        File(path, row.size, modified, attributes, hashed, reason);
    }

    // Whether the subfolders' contents came; and the totals line, which every complete catalogue ends with.
    bool TotalsSeen() const { return totalsSeen_; }

private:
    // A string member; `fallback` when missing (null: it must be there).
    static std::string StringOf(const Json &object, const char *key, const char *fallback) {
        auto member = object.find(key);
        if (member == object.end() && fallback) return fallback;
        if (member == object.end() || !member->is_string())
            throw Damage{std::string("\"") + key + "\" is missing or not text"};
        return member->get<std::string>();
    }
    static const Json &ArrayOf(const Json &object, const char *key) {
        static const Json empty = Json::array();
        auto member = object.find(key);
        if (member == object.end()) return empty;
        if (!member->is_array()) throw Damage{std::string("\"") + key + "\" is not a list"};
        return *member;
    }

    bool totalsSeen_ = false;
    RowFields fields_;
};

class CsvReader : public RowReader {
public:
    using RowReader::RowReader;

    // Reads one row into the fields; false at the end of the file.
    static bool Record(ByteSource &in, std::vector<std::string> &fields) {
        fields.clear();
        int c = in.Get();
        if (c < 0) return false;
        for (;;) {
            fields.emplace_back();
            std::string &field = fields.back();
            if (c == '"') {
                for (;;) {
                    c = in.Get();
                    if (c < 0) throw Damage{"a quoted field is not closed: the file is cut short"};
                    if (c == '"' && (c = in.Get()) != '"') break;
                    field += static_cast<char>(c);
                    if (field.size() > LongestLine) throw Damage{"a field of more than 64 MiB"};
                }
            } else {
                for (; c >= 0 && c != ',' && c != '\r' && c != '\n'; c = in.Get()) {
                    if (c == '"') throw Damage{"a quote inside a field that is not quoted"};
                    field += static_cast<char>(c);
                    if (field.size() > LongestLine) throw Damage{"a field of more than 64 MiB"};
                }
            }
            if (c == ',') {
                c = in.Get();
                continue;
            }
            if (c == '\r' && (c = in.Get()) != '\n') throw Damage{"a carriage return without its line feed"};
            if (c == '\n') return true;
            if (c < 0) throw Damage{"the last row has no line end: the file is cut short"};
            throw Damage{"text after a quoted field"};
        }
    }

    // Takes the header row; false (with `reason`) when it is not a catalogue's.
    bool Header(std::vector<std::string> &fields, std::string &reason) {
        static const char *const Leading[] = {"Path", "Name", "Type", "Size", "Modified", "Attributes"};
        if (!fields.empty() && fields[0].compare(0, 3, "\xEF\xBB\xBF") == 0) fields[0].erase(0, 3);
        bool matches = fields.size() >= 7 && fields.back() == "Error";
        for (size_t i = 0; matches && i < 6; ++i) matches = fields[i] == Leading[i];
        for (size_t i = 6; matches && i + 1 < fields.size(); ++i) {
            HashAlgorithm algorithm;
            matches = HashByName(fields[i], algorithm);
            if (matches) catalogue_.making.hashes.push_back(algorithm);
        }
        if (!matches) {
            reason = NotCatalogue;
            return false;
        }
        columns_ = fields.size();
        digests_.resize(catalogue_.DigestBytes());
        return true;
    }

    void Row(const std::vector<std::string> &fields) {
        if (fields.size() != columns_)
            throw Damage{"a row of " + std::to_string(fields.size()) + " fields; the header has " + std::to_string(columns_)};
        const std::string &path = fields[0], &type = fields[2], &reason = fields.back();
        if (start_.empty()) {
            if (type != "folder" || path.empty()) throw Damage{"the first row is not the start folder's"};
            start_ = path;
            catalogue_.making.startFolder = WidenText(start_, CP_UTF8);
        }
        long long modified = NoTime;
        if (!fields[4].empty() && !ParseTime(fields[4], modified))
            throw Damage{"the time \"" + fields[4] + "\" is not a time of the form 2001-03-07T08:05:03Z"};
        unsigned char attributes = 0;
        if (!ParseAttributes(fields[5], attributes)) throw Damage{"attributes other than R, H, S and A"};
        if (type == "folder") {
            Folder(path, reason.empty() ? FolderState::Read : FolderState::NotRead, reason);
            return;
        }
        if (type != "file") throw Damage{"a row of unknown type \"" + type + "\""};
        unsigned long long size = 0;
        if (!ParseSize(fields[3], size)) throw Damage{"a file's size is not a number"};
        bool hashed = !catalogue_.making.hashes.empty() && reason.empty();
        for (size_t i = 0; hashed && i < catalogue_.making.hashes.size(); ++i) {
            if (fields[6 + i].empty()) hashed = false;
            else Digest(i, fields[6 + i]);
        }
        File(path, size, modified, attributes, hashed, reason);
    }

    // The CSV form does not say how it was made: the subfolders were
    // entered when any path goes two folders down.
    void Made() { catalogue_.making.subfolders = deep_; }

private:
    size_t columns_ = 0;
};

// Reads the open file's rows into `catalogue`; the form from its first
// byte. A failed read gives CannotOpen with the system's code in `error`.
static CatalogueRead ReadOpenFile(HANDLE file, Catalogue &catalogue, std::string &reason, DWORD &error) {
    LARGE_INTEGER zero = {};
    {
        ByteSource counting(file);
        catalogue.ReserveFiles(counting.CountLines());
        error = counting.error();
        if (error != 0) return CatalogueRead::CannotOpen;
    }
    SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    ByteSource source(file);
    int first = source.Peek();
    if (first < 0) {
        error = source.error();
        reason = "it is empty";
        return error != 0 ? CatalogueRead::CannotOpen : CatalogueRead::Foreign;
    }
    size_t line = 1;
    try {
        if (first == '{') {
            JsonLinesReader reader(catalogue);
            std::string text;
            bool ended = false;
            try {
                source.Line(text, ended);
            } catch (const Damage &) {
                reason = NotCatalogue;
                return CatalogueRead::Foreign;
            }
            if (!reader.Header(text, reason)) return CatalogueRead::Foreign;
            while (source.Line(text, ended)) {
                ++line;
                if (!ended) throw Damage{"the last line has no line end: the file is cut short"};
                reader.Row(text);
            }
            if (source.error() == 0 && !reader.TotalsSeen())
                throw Damage{"the totals line is missing: the file is cut short"};
        } else {
            CsvReader reader(catalogue);
            std::vector<std::string> fields;
            bool header = false;
            try {
                header = CsvReader::Record(source, fields) && reader.Header(fields, reason);
            } catch (const Damage &) {
            }
            if (!header) {
                reason = NotCatalogue;
                return CatalogueRead::Foreign;
            }
            for (++line; CsvReader::Record(source, fields); ++line) reader.Row(fields);
            if (source.error() == 0 && line == 2) throw Damage{"it has no start folder row"};
            reader.Made();
        }
    } catch (const Damage &damage) {
        if (source.error() != 0) {
            error = source.error();
            return CatalogueRead::CannotOpen;
        }
        reason = "line " + std::to_string(line) + ": " + damage.what;
        return CatalogueRead::Damaged;
    }
    error = source.error();
    if (error != 0) return CatalogueRead::CannotOpen;
    catalogue.Finish();
    return CatalogueRead::Read;
}

bool ReadCatalogueMaking(const std::wstring &path, CatalogueMaking &making) {
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool read = false;
    try {
        ByteSource source(file);
        std::string line, reason;
        bool ended = false;
        Catalogue scratch;
        JsonLinesReader reader(scratch);
        read = source.Peek() == '{' && source.Line(line, ended) && reader.Header(line, reason);
        if (read) making = scratch.making;
    } catch (const Damage &) {
    } catch (const std::bad_alloc &) {
    }
    CloseHandle(file);
    return read;
}

CatalogueRead ReadCatalogue(const std::wstring &path, Catalogue &catalogue, std::wstring &reason) {
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(GetLastError());
        return CatalogueRead::CannotOpen;
    }
    std::string text;
    DWORD error = 0;
    CatalogueRead read;
    try {
        read = ReadOpenFile(file, catalogue, text, error);
        reason = read == CatalogueRead::CannotOpen ? SystemMessage(error) : WidenText(text, CP_UTF8);
    } catch (const std::bad_alloc &) {
        read = CatalogueRead::CannotOpen;
        reason = SystemMessage(ERROR_NOT_ENOUGH_MEMORY);
    }
    CloseHandle(file);
    return read;
}
