// The console program's options, read by a command-line parser that works
// on UTF-8: the UTF-16 arguments go through it and come back unchanged.
#include "options.h"

#include <windows.h>

#include <cstring>

#include <CLI/CLI.hpp>

#include "hashes.h"
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
    "  -o, --output FILE     write the listing to FILE (created or replaced; a\r\n"
    "                        folder or a device is refused); without it, or with\r\n"
    "                        - or /dev/stdout, it goes to standard output\r\n"
    "                        (/dev/stderr: standard error)\r\n"
    "      --format FORM     text (default: the dialog's listing), csv, jsonl,\r\n"
    "                        efu (a file list for desktop search tools) or\r\n"
    "                        manifest (what sha256sum -c reads; needs --hash)\r\n"
    "                        or html (one page to browse and search offline);\r\n"
    "                        all but text write names in UTF-8\r\n"
    "      --hash ALG        a fingerprint of every file's content: sha256,\r\n"
    "                        sha1, md5 or sha512; repeatable\r\n"
    "      --filter PATTERN  list only files matching PATTERN (default *.*)\r\n"
    "  -s, --subfolders      list the subfolders too, each in a block of its own\r\n"
    "      --max-depth N     subfolders down to N levels below FOLDER (implies -s;\r\n"
    "                        0: FOLDER's own block); deeper ones listed, not entered\r\n"
    "  -a, --all             also list and enter folders whose names begin with a\r\n"
    "                        dot, skipped by default (files are always listed)\r\n"
    "      --no-follow       list links and junctions to folders, never enter them\r\n"
    "      --no-files        list folders only; without -s that leaves no entries\r\n"
    "                        at all, and a note on standard error says so\r\n"
    "      --no-path         no path at the start of each line\r\n"
    "      --short-headings  headings show the folder's name, not its full path\r\n"
    "      --no-details      names only: no size, date or time\r\n"
    "      --sort KEY        order the files by name (default), extension, size\r\n"
    "                        or date; folders always come first, by name\r\n"
    "      --reverse         the files in the reverse order\r\n"
    "      --exclude PATTERN leave out files and folders whose names match, and\r\n"
    "                        do not enter such folders; a PATTERN holding / or \\\r\n"
    "                        matches the path below FOLDER instead (docs/old,\r\n"
    "                        photos\\2019); repeatable\r\n"
    "      --encoding ENC    ansi (default: the system's code page, as the\r\n"
    "                        dialog writes) or utf-8 (every name as it is,\r\n"
    "                        ordered by the real names)\r\n"
    "      --date-format iso dates as 2001-03-07 09:05:03 (local time)\r\n"
    "      --totals          a line of counts and bytes after each folder's\r\n"
    "                        entries, and a grand total at the end\r\n"
    "      --threads N       read folders on N threads (1: one after another);\r\n"
    "                        by default 1 on a local drive and up to 8 on a\r\n"
    "                        network folder; the output is the same\r\n"
    "  -q, --quiet           no progress line or notes on standard error\r\n"
    "  -h, --help            show this help and exit\r\n"
    "      --version         show the version and exit\r\n"
    "\r\n"
    "Patterns use the system's wildcard rule: * any run of characters (in a\r\n"
    "path pattern, across folders too), ? one character, case ignored; --filter\r\n"
    "also matches a file's short 8.3 name. Quote patterns in a shell:\r\n"
    "--exclude '*.bak'.\r\n"
    "\r\n"
    "Exit codes:\r\n"
    "  0    the listing is complete\r\n"
    "  1    the output could not be created or written (nothing is left behind)\r\n"
    "  2    usage error: unknown option, missing or repeated value, bad sort key\r\n"
    "       or encoding, start folder missing or not a folder\r\n"
    "  3    --compare: differences found\r\n"
    "  4    written, but something could not be read: each such folder or file\r\n"
    "       is marked in the output and named on standard error (--compare:\r\n"
    "       the comparison may be incomplete)\r\n"
    "  130  stopped by Ctrl+C or Ctrl+Break, or by the console closing, log-off\r\n"
    "       or shutdown (nothing is left behind)\r\n"
    "  141  the reader of standard output went away (as after | head): the run\r\n"
    "       stops without a message, as Unix tools do\r\n";

const char *HelpText() { return Help; }

// UTF-16 to UTF-8 and back, for the parser.
static std::string ToUtf8(const std::wstring &text) {
    std::string out;
    NarrowText(text.data(), text.size(), CP_UTF8, out);
    return out;
}

static std::wstring ToWide(const std::string &text) { return WidenText(text, CP_UTF8); }

// The formats by name, in the order of their values.
static const char *const FormatNames[] = {"text", "csv", "jsonl", "efu", "manifest", "html"};
static_assert(sizeof FormatNames / sizeof FormatNames[0] == static_cast<size_t>(OutputFormat::Html) + 1,
              "FormatNames[format] names each format");

// The index of `value` among the `count` names `name(i)` gives, any case;
// -1 when none.
template <typename Name>
static int IndexOf(const std::string &value, int count, Name name) {
    std::string lower = value;
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (int i = 0; i < count; ++i)
        if (lower == name(i)) return i;
    return -1;
}

// IndexOf over a table of names.
static int IndexOf(const std::string &value, const char *const *names, int count) {
    return IndexOf(value, count, [names](int i) { return names[i]; });
}

// Splits "--name=value" and "-n=value" in two, so that the parser sees an
// empty value as given (it would take the next argument instead), and
// refuses a value for a flag or an option it does not know, in the
// program's own words. Arguments after "--" are left as they are.
static bool SplitValues(const std::vector<std::string> &arguments, CLI::App &parser,
                        std::vector<std::string> &split, std::wstring *error) {
    bool options = true;
    for (const std::string &argument : arguments) {
        if (argument == "--") options = false;
        size_t equals = argument.find('=');
        bool longForm = argument.compare(0, 2, "--") == 0 && equals != std::string::npos;
        bool shortForm = argument.size() > 2 && argument[0] == '-' && argument[1] != '-' && equals == 2;
        if (!options || !(longForm || shortForm)) {
            split.push_back(argument);
            continue;
        }
        std::string name = argument.substr(0, equals);
        const CLI::Option *option = parser.get_option_no_throw(name);
        if (!option) {
            *error = L"unknown option '" + ToWide(name) + L"'";
            return false;
        }
        if (option->get_expected_max() == 0) {
            *error = L"option '" + ToWide(name) + L"' takes no value";
            return false;
        }
        split.push_back(name);
        split.push_back(argument.substr(equals + 1));
    }
    return true;
}

// Which standard stream a Unix name for one means, as a shell user writes
// it: 1 output, 2 errors, 0 not such a name, -1 another descriptor. Under
// Wine such a path is opened by Wine's own server, so the bytes would go to
// the server's descriptor, not this program's: the names are taken here.
static int StandardStreamNamed(const std::string &name) {
    if (name == "/dev/stdout") return 1;
    if (name == "/dev/stderr") return 2;
    for (const char *folder : {"/dev/fd/", "/proc/self/fd/"}) {
        size_t length = std::strlen(folder);
        if (name.compare(0, length, folder) != 0) continue;
        std::string number = name.substr(length);
        return number == "1" ? 1 : number == "2" ? 2 : -1;
    }
    return 0;
}

bool ReadCommandLine(const std::vector<std::wstring> &arguments, CommandLine *line,
                     std::wstring *error) {
    CLI::App parser("dirtally-cli", "dirtally-cli");
    parser.set_help_flag();  // our own --help text, which states the exit codes
    parser.allow_windows_style_options(false);
    ListingRequest &request = line->request;
    std::string output, filter = ToUtf8(request.filter), sort = SortKeyName(request.sortKey);
    std::string encoding = request.encoding == TextEncoding::Utf8 ? "utf-8" : "ansi";
    std::string format = FormatNames[static_cast<int>(request.format)], dateFormat, maxDepth;
    std::vector<std::string> excludes, folders, hashes;
    bool subfolders = false, noFiles = false, noPath = false, shortHeadings = false;
    bool noDetails = false, noFollow = false;
    std::string threads;
    parser.add_flag("-h,--help", line->help);
    parser.add_flag("--version", line->version);
    parser.add_flag("-q,--quiet", line->quiet);
    parser.add_flag("-s,--subfolders", subfolders);
    parser.add_flag("-a,--all", request.dotFolders);
    parser.add_flag("--no-follow", noFollow);
    parser.add_flag("--reverse", request.reverse);
    parser.add_flag("--no-files", noFiles);
    parser.add_flag("--no-path", noPath);
    parser.add_flag("--short-headings", shortHeadings);
    parser.add_flag("--no-details", noDetails);
    parser.add_flag("--totals", request.totals);
    // Options of one value: each kept to be told apart when given twice.
    CLI::Option *outputOption = parser.add_option("-o,--output", output);
    CLI::Option *depthOption = parser.add_option("--max-depth", maxDepth);
    CLI::Option *threadsOption = parser.add_option("--threads", threads);
    std::vector<CLI::Option *> single = {
        outputOption, depthOption, threadsOption, parser.add_option("--filter", filter), parser.add_option("--format", format),
        parser.add_option("--date-format", dateFormat), parser.add_option("--sort", sort),
        parser.add_option("--encoding", encoding)};
    for (CLI::Option *option : single) option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // One pattern or algorithm per option, so that a FOLDER after it stays the folder.
    parser.add_option("--hash", hashes)->allow_extra_args(false);
    parser.add_option("--exclude", excludes)->allow_extra_args(false);
    parser.add_option("FOLDER", folders);

    std::vector<std::string> utf8, split;
    for (const std::wstring &argument : arguments) utf8.push_back(ToUtf8(argument));
    if (!SplitValues(utf8, parser, split, error)) return false;
    // The parser wants the arguments last first.
    std::vector<std::string> reversed(split.rbegin(), split.rend());
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
    } catch (const CLI::ParseError &) {
        *error = L"the command line cannot be read";
        return false;
    }
    if (line->help || line->version) return true;
    for (const CLI::Option *option : single) {
        if (option->count() > 1) {
            *error = L"option '" + ToWide(option->get_name()) + L"' given more than once (it takes one value)";
            return false;
        }
    }

    int key = IndexOf(sort, static_cast<int>(SortKey::Date) + 1,
                      [](int i) { return SortKeyName(static_cast<SortKey>(i)); });
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
        *error = L"unknown format '" + ToWide(format) + L"' (text, csv, jsonl, efu, manifest or html)";
        return false;
    }
    request.format = static_cast<OutputFormat>(formatIndex);
    for (const std::string &name : hashes) {
        int algorithm = IndexOf(name, static_cast<int>(HashAlgorithm::Sha512) + 1,
                                [](int i) { return HashName(static_cast<HashAlgorithm>(i)); });
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
    if (threadsOption->count() > 0) {
        if (threads.empty() || threads.size() > 2 || threads.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(threads) < 1 || std::stoi(threads) > 64) {
            *error = L"--threads needs a number from 1 to 64, not '" + ToWide(threads) + L"'";
            return false;
        }
        request.threads = std::stoi(threads);
    }
    if (depthOption->count() > 0) {
        // Digits only, and few enough to fit.
        if (maxDepth.empty() || maxDepth.size() > 9 || maxDepth.find_first_not_of("0123456789") != std::string::npos) {
            *error = L"--max-depth needs a number of levels, 0 or more, not '" + ToWide(maxDepth) + L"'";
            return false;
        }
        request.maxDepth = std::stoi(maxDepth);
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
    int stream = output == "-" ? 1 : StandardStreamNamed(output);
    if (stream < 0) {
        *error = L"only standard output and standard error can be named by their descriptors, not '" +
                 ToWide(output) + L"' (use -o - and a redirection)";
        return false;
    }
    for (const std::string &pattern : excludes) {
        if (pattern.empty()) {
            *error = L"an --exclude pattern is empty";
            return false;
        }
        request.excludes.push_back(ToWide(pattern));
    }
    for (const std::string &folder : folders) {
        if (folder.empty()) {
            *error = L"a start folder is empty";
            return false;
        }
        line->folders.push_back(ToWide(folder));
    }
    line->output = stream == 0 ? ToWide(output) : std::wstring();
    line->toStandardError = stream == 2;
    request.filter = ToWide(filter);
    if (subfolders) request.includeSubfolders = true;
    if (noFiles) request.includeFiles = false;
    if (noPath) request.pathOnEachLine = false;
    if (shortHeadings) request.fullPathInHeading = false;
    if (noDetails) request.showDetails = false;
    if (noFollow) request.followLinks = false;
    return true;
}
