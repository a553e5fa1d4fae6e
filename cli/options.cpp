// The console program's options, read by a command-line parser that works
// on UTF-8: the UTF-16 arguments go through it and come back unchanged.
#include "options.h"

#include <windows.h>

#include <CLI/CLI.hpp>

// The usage, shown by --help.
static const char Help[] =
    "Usage: dirtally-cli [OPTIONS] [FOLDER]\r\n"
    "Writes a plain-text catalogue of FOLDER (default: the current folder).\r\n"
    "\r\n"
    "Options (without any, the listing is the dialog's, with its defaults):\r\n"
    "  -o, --output FILE     write the listing to FILE (created or replaced);\r\n"
    "                        without it the listing goes to standard output\r\n"
    "      --filter PATTERN  list only files matching PATTERN (default *.*)\r\n"
    "  -s, --subfolders      list the subfolders too, each in a block of its own\r\n"
    "      --no-files        list folders only\r\n"
    "      --no-path         no path at the start of each line\r\n"
    "      --short-headings  headings show the folder's name, not its full path\r\n"
    "      --no-details      names only: no size, date or time\r\n"
    "      --sort KEY        order the files by name (default), extension, size\r\n"
    "                        or date; folders always come first, by name\r\n"
    "      --exclude PATTERN leave out files and folders whose names match, and\r\n"
    "                        do not enter such folders; repeatable\r\n"
    "      --encoding ENC    ansi (default: the system's code page, as the\r\n"
    "                        dialog writes) or utf-8 (every name as it is;\r\n"
    "                        the order stays the ansi listing's)\r\n"
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
    "  130  stopped by Ctrl+C (nothing is left behind)\r\n";

const char *HelpText() { return Help; }

// UTF-16 to UTF-8 and back, for the parser.
static std::string ToUtf8(const std::wstring &text) {
    if (text.empty()) return std::string();
    int units = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), units, &out[0], bytes, nullptr, nullptr);
    return out;
}

static std::wstring ToWide(const std::string &text) {
    if (text.empty()) return std::wstring();
    int bytes = static_cast<int>(text.size());
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0);
    std::wstring out(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, &out[0], units);
    return out;
}

// The sort keys by name, in the order of their values.
static const char *const SortNames[] = {"name", "extension", "size", "date"};
static_assert(SortByName == 1 && SortByExtension == 2 && SortBySize == 3 && SortByDate == 4,
              "SortNames[key - 1] names each key");

bool ReadCommandLine(const std::vector<std::wstring> &arguments, CommandLine *line,
                     std::wstring *error) {
    CLI::App parser("dirtally-cli", "dirtally-cli");
    parser.set_help_flag();  // our own --help text, which states the exit codes
    parser.allow_windows_style_options(false);
    std::string output, filter = "*.*", sort = "name", encoding = "ansi", folder;
    std::vector<std::string> excludes;
    bool subfolders = false, noFiles = false, noPath = false, shortHeadings = false;
    bool noDetails = false;
    parser.add_flag("-h,--help", line->help);
    parser.add_flag("--version", line->version);
    parser.add_flag("-q,--quiet", line->quiet);
    CLI::Option *outputOption = parser.add_option("-o,--output", output);
    parser.add_option("--filter", filter);
    parser.add_flag("-s,--subfolders", subfolders);
    parser.add_flag("--no-files", noFiles);
    parser.add_flag("--no-path", noPath);
    parser.add_flag("--short-headings", shortHeadings);
    parser.add_flag("--no-details", noDetails);
    parser.add_option("--sort", sort);
    // One pattern per --exclude, so that a FOLDER after it stays the folder.
    parser.add_option("--exclude", excludes)->allow_extra_args(false);
    parser.add_option("--encoding", encoding);
    parser.add_flag("--totals", line->extras.totals);
    CLI::Option *folderOption = parser.add_option("FOLDER", folder);

    // The parser wants the arguments last first.
    std::vector<std::string> reversed;
    for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument)
        reversed.push_back(ToUtf8(*argument));
    try {
        parser.parse(reversed);
    } catch (const CLI::ExtrasError &) {
        std::string extra = parser.remaining().empty() ? "" : parser.remaining().front();
        if (!extra.empty() && extra[0] == '-') *error = L"unknown option '" + ToWide(extra) + L"'";
        else *error = L"more than one folder given: '" + ToWide(extra) + L"'";
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

    int key = 0;
    for (int i = 0; i < 4; ++i)
        if (sort == SortNames[i]) key = i + 1;
    if (key == 0) {
        *error = L"unknown sort key '" + ToWide(sort) + L"' (name, extension, size or date)";
        return false;
    }
    if (encoding == "ansi") line->extras.encoding = EncodingAnsi;
    else if (encoding == "utf-8" || encoding == "utf8") line->extras.encoding = EncodingUtf8;
    else {
        *error = L"unknown encoding '" + ToWide(encoding) + L"' (ansi or utf-8)";
        return false;
    }
    if (filter.empty()) {
        *error = L"the filter is empty (use *.* for every file)";
        return false;
    }
    if (outputOption->count() > 0 && output.empty()) {
        *error = L"the output file name is empty";
        return false;
    }
    if (folderOption->count() > 0 && folder.empty()) {
        *error = L"the start folder is empty";
        return false;
    }
    line->folder = ToWide(folder);
    line->output = ToWide(output);
    line->filter = ToWide(filter);
    line->options = {subfolders, !noFiles, key, !noPath, !shortHeadings, !noDetails};
    for (const std::string &pattern : excludes) line->extras.excludes.push_back(ToWide(pattern));
    return true;
}
