// The console program's options, read by a command-line parser that works
// on UTF-8: the UTF-16 arguments go through it and come back unchanged.
#include "options.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include "names.h"

// The usage, shown by --help.
static const char Help[] =
    "Usage: dirtally-cli [OPTIONS] [FOLDER...]\r\n"
    "       dirtally-cli --compare OLD [OPTIONS] [FOLDER | NEW]\r\n"
    "Writes a catalogue of each FOLDER in turn (default: the current folder).\r\n"
    "With --compare, writes what changed since the catalogue OLD (written by\r\n"
    "--format jsonl or csv): in FOLDER (default: OLD's start folder, scanned\r\n"
    "with OLD's filter, exclusions and hashes unless options say otherwise) or\r\n"
    "in a second catalogue NEW. Paths are compared below each side's start\r\n"
    "folder, case ignored. One line per difference, by path: + added, - removed,\r\n"
    "~ changed, > moved (same size and hash), ! not read; then the counts.\r\n"
    "--format jsonl writes them as JSON objects.\r\n"
    "\r\n"
    "Options (without any, the listing is the dialog's, with its defaults):\r\n"
    "  -o, --output FILE     write the listing to FILE (created or replaced);\r\n"
    "                        without it, or with -, it goes to standard output\r\n"
    "      --format FORM     text (default: the dialog's listing), csv, jsonl,\r\n"
    "                        efu (a file list for desktop search tools) or\r\n"
    "                        manifest (what sha256sum -c reads; needs --hash);\r\n"
    "                        all but text write names in UTF-8\r\n"
    "      --hash ALG        a fingerprint of every file's content: sha256,\r\n"
    "                        sha1, md5 or sha512; repeatable\r\n"
    "      --filter PATTERN  list only files matching PATTERN (default *.*)\r\n"
    "  -s, --subfolders      list the subfolders too, each in a block of its own\r\n"
    "      --max-depth N     subfolders down to N levels below FOLDER (implies -s;\r\n"
    "                        0: FOLDER's own block); deeper ones listed, not entered\r\n"
    "      --no-files        list folders only\r\n"
    "      --no-path         no path at the start of each line\r\n"
    "      --short-headings  headings show the folder's name, not its full path\r\n"
    "      --no-details      names only: no size, date or time\r\n"
    "      --sort KEY        order the files by name (default), extension, size\r\n"
    "                        or date; folders always come first, by name\r\n"
    "      --reverse         the files in the reverse order\r\n"
    "      --exclude PATTERN leave out files and folders whose names match, and\r\n"
    "                        do not enter such folders; repeatable\r\n"
    "      --encoding ENC    ansi (default: the system's code page, as the\r\n"
    "                        dialog writes) or utf-8 (every name as it is,\r\n"
    "                        ordered by the real names)\r\n"
    "      --date-format iso dates as 2001-03-07 09:05:03 (local time)\r\n"
    "      --totals          a line of counts and bytes after each folder's\r\n"
    "                        entries, and a grand total at the end\r\n"
    "  -q, --quiet           no progress line on standard error\r\n"
    "  -h, --help            show this help and exit\r\n"
    "      --version         show the version and exit\r\n"
    "\r\n"
    "Patterns use the system's wildcard rule for one name: * any run of\r\n"
    "characters, ? one character, case ignored; --filter also matches a file's\r\n"
    "short 8.3 name. Quote patterns in a shell: --exclude '*.bak'.\r\n"
    "\r\n"
    "Exit codes:\r\n"
    "  0    the listing is complete\r\n"
    "  1    the output could not be created or written (nothing is left behind)\r\n"
    "  2    usage error: unknown option, missing value, bad sort key or encoding,\r\n"
    "       start folder missing or not a folder\r\n"
    "  3    --compare: differences found\r\n"
    "  4    written, but something could not be read: each such folder or file\r\n"
    "       is marked in the output and named on standard error (--compare:\r\n"
    "       the comparison may be incomplete)\r\n"
    "  130  stopped by Ctrl+C (nothing is left behind)\r\n";

const char *HelpText() { return Help; }

// UTF-16 to UTF-8 and back, for the parser.
static std::string ToUtf8(const std::wstring &text) {
    std::string out;
    NarrowText(text.data(), text.size(), CP_UTF8, out);
    return out;
}

static std::wstring ToWide(const std::string &text) { return WidenText(text, CP_UTF8); }

// The sort keys by name, in the order of their values.
static const char *const SortNames[] = {"name", "extension", "size", "date"};
static_assert(sizeof SortNames / sizeof SortNames[0] == static_cast<size_t>(SortKey::Date) + 1,
              "SortNames[key] names each key");
// The same for the formats and the hash algorithms.
static const char *const FormatNames[] = {"text", "csv", "jsonl", "efu", "manifest", "html"};
static_assert(sizeof FormatNames / sizeof FormatNames[0] == static_cast<size_t>(OutputFormat::Html) + 1,
              "FormatNames[format] names each format");
static const char *const HashNames[] = {"sha256", "sha1", "md5", "sha512"};
static_assert(sizeof HashNames / sizeof HashNames[0] == static_cast<size_t>(HashAlgorithm::Sha512) + 1,
              "HashNames[algorithm] names each algorithm");

// The index of `value` among `count` names, any case; -1 when none.
static int IndexOf(const std::string &value, const char *const *names, int count) {
    std::string lower = value;
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (int i = 0; i < count; ++i)
        if (lower == names[i]) return i;
    return -1;
}

bool ReadCommandLine(const std::vector<std::wstring> &arguments, CommandLine *line,
                     std::wstring *error) {
    CLI::App parser("dirtally-cli", "dirtally-cli");
    parser.set_help_flag();  // our own --help text, which states the exit codes
    parser.allow_windows_style_options(false);
    ListingRequest &request = line->request;
    std::string output, filter = ToUtf8(request.filter), sort = SortNames[static_cast<int>(request.sortKey)];
    std::string encoding = request.encoding == TextEncoding::Utf8 ? "utf-8" : "ansi";
    std::string format = FormatNames[static_cast<int>(request.format)], dateFormat;
    std::vector<std::string> excludes, folders, hashes;
    bool subfolders = false, noFiles = false, noPath = false, shortHeadings = false;
    bool noDetails = false;
    int maxDepth = -1;
    parser.add_flag("-h,--help", line->help);
    parser.add_flag("--version", line->version);
    parser.add_flag("-q,--quiet", line->quiet);
    CLI::Option *outputOption = parser.add_option("-o,--output", output);
    parser.add_option("--filter", filter);
    parser.add_flag("-s,--subfolders", subfolders);
    CLI::Option *depthOption = parser.add_option("--max-depth", maxDepth);
    parser.add_flag("--reverse", request.reverse);
    parser.add_option("--format", format);
    parser.add_option("--hash", hashes)->allow_extra_args(false);
    parser.add_option("--date-format", dateFormat);
    parser.add_flag("--no-files", noFiles);
    parser.add_flag("--no-path", noPath);
    parser.add_flag("--short-headings", shortHeadings);
    parser.add_flag("--no-details", noDetails);
    parser.add_option("--sort", sort);
    // One pattern per --exclude, so that a FOLDER after it stays the folder.
    parser.add_option("--exclude", excludes)->allow_extra_args(false);
    parser.add_option("--encoding", encoding);
    parser.add_flag("--totals", request.totals);
    parser.add_option("FOLDER", folders);

    // The parser wants the arguments last first.
    std::vector<std::string> reversed;
    for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument)
        reversed.push_back(ToUtf8(*argument));
    try {
        parser.parse(reversed);
    } catch (const CLI::ExtrasError &) {
        std::string extra = parser.remaining().empty() ? "" : parser.remaining().front();
        *error = L"unknown option '" + ToWide(extra) + L"'";
        return false;
    } catch (const CLI::ArgumentMismatch &failure) {
        // The parser says "--output: 1 required TEXT missing".
        std::string text = failure.what();
        *error = L"option '" + ToWide(text.substr(0, text.find(':'))) + L"' needs a value";
        return false;
    } catch (const CLI::ParseError &failure) {
        *error = ToWide(failure.what());
        return false;
    }
    if (line->help || line->version) return true;

    int key = IndexOf(sort, SortNames, static_cast<int>(SortKey::Date) + 1);
    if (key < 0) {
        *error = L"unknown sort key '" + ToWide(sort) + L"' (name, extension, size or date)";
        return false;
    }
    request.sortKey = static_cast<SortKey>(key);
    static const char *const EncodingNames[] = {"ansi", "utf-8", "utf8"};
    int encodingIndex = IndexOf(encoding, EncodingNames, 3);
    if (encodingIndex < 0) {
        *error = L"unknown encoding '" + ToWide(encoding) + L"' (ansi or utf-8)";
        return false;
    }
    request.encoding = encodingIndex == 0 ? TextEncoding::Ansi : TextEncoding::Utf8;
    int formatIndex = IndexOf(format, FormatNames, static_cast<int>(OutputFormat::Html) + 1);
    if (formatIndex < 0) {
        *error = L"unknown format '" + ToWide(format) + L"' (text, csv, jsonl, efu or manifest)";
        return false;
    }
    request.format = static_cast<OutputFormat>(formatIndex);
    for (const std::string &name : hashes) {
        int algorithm = IndexOf(name, HashNames, static_cast<int>(HashAlgorithm::Sha512) + 1);
        if (algorithm < 0) {
            *error = L"unknown hash '" + ToWide(name) + L"' (sha256, sha1, md5 or sha512)";
            return false;
        }
        request.hashes.push_back(static_cast<HashAlgorithm>(algorithm));
    }
    if (request.format == OutputFormat::Manifest && request.hashes.empty()) {
        *error = L"the manifest format needs --hash (for example --hash sha256)";
        return false;
    }
    static const char *const DateNames[] = {"classic", "iso"};
    int dateIndex = dateFormat.empty() ? 0 : IndexOf(dateFormat, DateNames, 2);
    if (dateIndex < 0) {
        *error = L"unknown date format '" + ToWide(dateFormat) + L"' (iso)";
        return false;
    }
    request.dateStyle = dateIndex == 1 ? DateStyle::Iso : DateStyle::Classic;
    if (depthOption->count() > 0) {
        if (maxDepth < 0) {
            *error = L"--max-depth needs a number of levels, 0 or more";
            return false;
        }
        request.maxDepth = maxDepth;
        subfolders = true;
    }
    if (filter.empty()) {
        *error = L"the filter is empty (use *.* for every file)";
        return false;
    }
    if (outputOption->count() > 0 && output.empty()) {
        *error = L"the output file name is empty";
        return false;
    }
    for (const std::string &folder : folders) {
        if (folder.empty()) {
            *error = L"a start folder is empty";
            return false;
        }
        line->folders.push_back(ToWide(folder));
    }
    // "-" is standard output, as for other tools.
    line->output = output == "-" ? std::wstring() : ToWide(output);
    request.filter = ToWide(filter);
    if (subfolders) request.includeSubfolders = true;
    if (noFiles) request.includeFiles = false;
    if (noPath) request.pathOnEachLine = false;
    if (shortHeadings) request.fullPathInHeading = false;
    if (noDetails) request.showDetails = false;
    for (const std::string &pattern : excludes) request.excludes.push_back(ToWide(pattern));
    return true;
}
