// The console program run as a separate process on real trees: its listings
// against WriteListing's, its exit codes and messages, what it leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <tuple>

#include "support.h"
#include "version.h"

using Args = std::vector<std::string>;  // every path and argument here is ASCII

// The Linux folder of this program's scratch trees, and the Windows path of a name in it.
static std::string Scratch() { return DriveFolderUnix('d') + "-cli"; }
static std::string Win(const std::string &name) { return UnixToWindows(Scratch() + "/" + name); }
static std::string Exe() { const char *exe = std::getenv("DIRTALLY_CLI_EXE"); return exe ? exe : ""; }

// The system's sentence for an error code, as the program should quote it.
static std::string SystemText(DWORD code) {
    char text[512];
    std::string out(text, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512, nullptr));
    return out.substr(0, out.find_last_not_of("\r\n ") + 1);
}

// Empties <scratch>/<name> and runs `commands` there from a script file, where names keep their
// UTF-8 bytes and times are UTC (`f SIZE TIME NAME` makes a file written at TIME); gives its Windows path.
static std::string Tree(const std::string &name, const std::string &commands) {
    std::string folder = Scratch() + "/" + name;
    ResetFolderUnix(folder);
    std::ofstream(UnixToWindows(folder + ".sh"), std::ios::binary) << "export TZ=UTC && cd '" << folder
        << "' && f() { truncate -s \"$1\" \"$3\" && touch -d \"$2\" \"$3\"; } && " << commands;
    EXPECT_EQ(0, RunUnix("sh " + ShellQuote(folder + ".sh")));
    return UnixToWindows(folder);
}

// One run of the program: exit code, standard output and standard error.
using Outcome = std::tuple<DWORD, std::string, std::string>;

// An inheritable handle, for a child's standard stream.
static HANDLE Open(const std::string &path, DWORD disposition = CREATE_ALWAYS) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, 0, nullptr);
}

// Runs the program in `folder` with its output and errors to the handles given, calling `watch`
// every 20 ms until it ends; gives its exit code. Quoted as CommandLineToArgvW splits (no quotes inside).
static DWORD Launch(const Args &args, HANDLE out, HANDLE err, const std::string &folder,
                    const std::function<void()> &watch = nullptr) {
    std::string line = "\"" + UnixToWindows(Exe()) + "\"";
    for (const std::string &arg : args)
        line += " \"" + arg + std::string(arg.size() - (arg.find_last_not_of('\\') + 1), '\\') + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdOutput = out, startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process));
    while (WaitForSingleObject(process.hProcess, watch ? 20 : INFINITE) == WAIT_TIMEOUT) watch();
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread), CloseHandle(process.hProcess);
    return code;
}

// One run in `folder` (default: the scratch folder), its standard output and errors read back from files.
static Outcome RunCli(const Args &args, const std::string &folder = "") {
    HANDLE out = Open(Win("stdout.bin")), err = Open(Win("stderr.txt"));
    DWORD code = Launch(args, out, err, folder.empty() ? Win("") : folder);
    CloseHandle(out), CloseHandle(err);
    return {code, ReadWholeFile(Win("stdout.bin")), ReadWholeFile(Win("stderr.txt"))};
}

// The choices as flags (the dialog's, and the console program's totals and encoding), and the request they make.
enum Choice { Sub = 1, NoFiles = 2, NoPath = 4, Short = 8, NoDetails = 16, Totals = 32, Utf8 = 64 };
static ListingRequest Choices(int c, SortKey key = SortKey::Name, const wchar_t *filter = L"*.*",
                              const std::vector<std::wstring> &excludes = {}) {
    ListingRequest request;
    request.includeSubfolders = c & Sub, request.includeFiles = !(c & NoFiles), request.pathOnEachLine = !(c & NoPath);
    request.fullPathInHeading = !(c & Short), request.showDetails = !(c & NoDetails), request.totals = c & Totals;
    request.encoding = c & Utf8 ? TextEncoding::Utf8 : TextEncoding::Ansi;
    request.sortKey = key, request.filter = filter, request.excludes = excludes;
    return request;
}

// Each flag alone changes its one choice, combinations add up, to standard output or to a file (-o, relative
// here), and each form of the start folder, the filter, the encoding and the exclusions gives WriteListing's
// bytes for the same request; on a tree (with a name outside the code page) where every row's listing differs.
TEST(Cli, EachChoiceAndFolderFormGivesWriteListingsBytes) {
    struct RunCase { Args args; ListingRequest request; std::string folder; const char *why, *start = nullptr; };
    std::string tree = Tree("mixed", "mkdir Docs Build && f 1234 '2001-03-07 14:30:15' readme.txt && f 5000000000 2003-05-06"
                            " disk.img && f 30 1999-12-31 a.b.c && f 0 2000-01-01 Notes && f 6 2002-01-02 x.bak && f 5 2003-05-07"
                            " 東京.txt && f 12 2004-02-29 Docs/x.TXT && touch -d '2001-03-07 09:05:03' Docs Build");
    const RunCase cases[] = {
        {{"--subfolders", tree}, Choices(Sub), "", "--subfolders"},
        {{"--no-files", tree}, Choices(NoFiles), "", "--no-files"},
        {{"--no-path", tree}, Choices(NoPath), "", "--no-path"},
        {{"--short-headings", tree}, Choices(Short), "", "--short-headings"},
        {{"--no-details", tree}, Choices(NoDetails), "", "--no-details"},
        {{"--sort", "extension", tree}, Choices(0, SortKey::Extension), "", "--sort extension"},
        {{"--sort", "size", tree}, Choices(0, SortKey::Size), "", "--sort size"},
        {{"--sort", "date", tree}, Choices(0, SortKey::Date), "", "--sort date"},
        {{"--totals", "--exclude", "*.bak", "--filter", "*", tree}, Choices(Totals, SortKey::Name, L"*.*", {L"*.bak"}), "",
         "--totals counts what --exclude leaves out; --filter * takes every name, so no total names it"},
        {{"-o", "out.txt", "-s", "--no-files", "--sort", "name", tree}, Choices(Sub | NoFiles), "", "flags add up; to a file"},
        {{}, Choices(0), tree, "no FOLDER: the current folder"},
        {{"mixed"}, Choices(0), "", "a relative FOLDER is made absolute"},
        {{tree + "\\"}, Choices(0), "", "a trailing backslash is dropped"},
        {{"--no-files", "Z:\\"}, Choices(NoFiles), "", "a drive root keeps its backslash (an empty block: no change can race)", "Z:\\"},
        {{".\\mixed\\Docs\\.."}, Choices(0), "", "dots in the path are resolved"},
        {{"--filter", "*.txt", tree}, Choices(0, SortKey::Name, L"*.txt"), "", "the filter goes to the system's matcher"},
        {{"--filter=*.img", "-q", tree}, Choices(0, SortKey::Name, L"*.img"), "", "the --option=value form"},
        {{"--encoding", "utf-8", tree}, Choices(Utf8), "", "--encoding utf-8 (the encoding is the listing tests' business)"},
        {{"--exclude", "*.bak", "--exclude", "build", tree}, Choices(0, SortKey::Name, L"*.*", {L"*.bak", L"build"}), "",
         "--exclude twice, the last one leaving FOLDER be"},
    };
    std::set<std::string> listings;
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ListingOutcome::Complete, WriteListing(Win("expected.txt"), c.start ? c.start : tree, c.request));
        std::string expected = *listings.insert(ReadWholeFile(Win("expected.txt"))).first;
        DeleteFileA(Win("out.txt").c_str());
        auto [code, out, err] = RunCli(c.args, c.folder);
        EXPECT_EQ((Outcome{0, expected, ""}), (Outcome{code, out + ReadWholeFile(Win("out.txt")), err}));
    }
    EXPECT_EQ(std::size(cases) - 3, listings.size()) << "only the four folder forms list alike: a choice mixed up shows";
}

// A usage error exits with 2, a line of reason in the program's own words (the whole path when it names one)
// and one of hint, and makes no file; --help names every option and the exit codes; --version is one line.
TEST(Cli, UsageErrorsExitWithTwoHelpAndVersionWithZero) {
    struct UsageCase { Args args; std::string message; const char *why; };
    const std::string missingLong = Win(std::string(150, 'x') + "\\" + std::string(150, 'y'));
    const UsageCase cases[] = {
        {{"--bogus"}, "unknown option '--bogus'", "an unknown long option"},
        {{"--help", "-x"}, "unknown option '-x'", "an unknown option, even beside --help"},
        {{"-o"}, "option '--output' needs a value", "-o at the end"},
        {{"-o", "", Win("")}, "the output file name is empty", "an empty output name"},
        {{"--output=", Win("")}, "the output file name is empty", "--output= takes nothing, not the next argument"},
        {{"-o", "a", "-o", "b"}, "option '--output' given more than once (it takes one value)", "-o twice"},
        {{"--sort", "name", "--sort=size"}, "option '--sort' given more than once", "a one-value option twice, either form"},
        {{"--totals=banana"}, "option '--totals' takes no value", "a value for a flag: no words of the parser's"},
        {{"-s=1"}, "option '-s' takes no value", "a value for a short flag"},
        {{"--nothing=1"}, "unknown option '--nothing'", "an unknown option with a value"},
        {{"--max-depth=abc"}, "--max-depth needs a number of levels, 0 or more, not 'abc'", "a depth that is no number"},
        {{"--exclude", ""}, "an --exclude pattern is empty", "an empty exclusion would match nothing"},
        {{"-o", "/dev/fd/5"}, "only standard output and standard error can be named", "another descriptor by its Unix name"},
        {{"--sort", "weight"}, "unknown sort key 'weight'", "a sort key the dialog does not have"},
        {{"--format", "xml"}, "unknown format 'xml'", "a format not offered"},
        {{"--hash", "crc32"}, "unknown hash 'crc32'", "a hash not offered"},
        {{"--encoding", "latin1"}, "unknown encoding 'latin1'", "an encoding not offered"},
        {{"--filter", ""}, "the filter is empty", "an empty filter would match nothing"},
        {{"--format", "MANIFEST"}, "the manifest format needs --hash", "a manifest without fingerprints (any case)"},
        {{Win(""), "other"}, "start folder not found: ", "the second of two folders is missing"},
        {{Win("nowhere")}, "start folder not found: ", "a missing start folder"},
        {{missingLong}, "start folder not found: " + missingLong + " (", "a missing start folder past 259 characters, uncut"},
        {{UnixToWindows(Exe())}, "not a folder: ", "a file as the start folder"},
    };
    for (const UsageCase &c : cases) {
        SCOPED_TRACE(c.why);
        DeleteFileA(Win("usage.txt").c_str());
        bool namesOutput = c.args[0].rfind("-o", 0) == 0 || c.args[0].rfind("--output", 0) == 0;
        Args args = namesOutput ? Args{} : Args{"-o", Win("usage.txt")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto [code, out, err] = RunCli(args);
        EXPECT_EQ(0u, err.find("dirtally-cli: " + c.message)) << err;
        EXPECT_EQ((Outcome{2, "", "Try 'dirtally-cli --help' for more information.\r\n"}),
                  (Outcome{code, out, err.substr(err.find('\n') + 1)}));
        EXPECT_FALSE(FileExists(Win("usage.txt"))) << "no output file is made";
    }
    for (const char *help : {"--help", "-h"}) {
        auto [code, out, err] = RunCli({help});
        EXPECT_EQ((Outcome{0, out, ""}), (Outcome{code, out, err})) << help;
        for (const char *word : {"-o, --output FILE", "--filter PATTERN", "-s, --subfolders", "--no-files", "--no-path", "--short-headings",
                                 "--no-details", "--sort KEY", "--exclude PATTERN", "--encoding ENC", "--totals", "-q, --quiet",
                                 "-h, --help", "--version", "--format FORM", "--hash ALG", "--max-depth N", "--reverse",
                                 "--date-format iso", "Exit codes", "  4 ", "130"})
            EXPECT_NE(std::string::npos, out.find(word)) << help << ": " << word;
    }
    EXPECT_EQ((Outcome{0, PROGRAM_TITLE "\r\n", ""}), RunCli({"--version"}));
}

// Output that cannot be created or written, a file or standard output, exits with 1 and says why.
TEST(Cli, OutputThatCannotBeMadeOrWrittenExitsWithOne) {
    struct FailCase { std::string output; DWORD error; const char *verb, *why; };
    std::string tree = Tree("fail", "ln -s /dev/full full.txt");
    const FailCase cases[] = {
        {tree + "\\missing\\out.txt", ERROR_PATH_NOT_FOUND, "create", "a file in a missing folder"},
        {tree + "\\full.txt", ERROR_DISK_FULL, "write", "every write fails: a full disk"},
    };
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ((Outcome{1, "", "dirtally-cli: can't " + std::string(c.verb) + " output file " + c.output + ": " +
                                      SystemText(c.error) + "\r\n"}), RunCli({"-o", c.output, tree}));
    }
    EXPECT_EQ(1, RunUnix("wine " + ShellQuote(Exe()) + " " + ShellQuote(tree) + " >/dev/full 2>" + ShellQuote(Scratch() + "/full.err")));
    EXPECT_EQ("dirtally-cli: can't write standard output: " + SystemText(ERROR_DISK_FULL) + "\r\n", ReadWholeFile(Win("full.err")));
}

// A long run (200,000 empty files in 400 folders, kept between test runs as they take seconds to make):
// Ctrl+C (a terminal's SIGINT, once the file exists) stops it, removes the file and exits silently with 130;
// with errors to a console and the listing to a file it shows a progress line, cleared at the end, unless -q.
TEST(Cli, ALongRunStopsOnCtrlCAndShowsProgressOnAConsoleUnlessQuiet) {
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(Scratch()) + " && { test -e big/d400/f500 || { rm -rf big && mkdir big && cd big"
                         " && for d in $(seq 400); do mkdir d$d && (cd d$d && seq -f f%g 500 | xargs touch); done; }; }"));
    EXPECT_EQ(130, RunUnix("cd " + ShellQuote(Scratch()) + " && rm -f ctrlc.txt && { wine " + ShellQuote(Exe()) +
                           " -s -o ctrlc.txt big >/dev/null 2>ctrlc.err & p=$!; i=0; while [ ! -e ctrlc.txt ] && "
                           "[ $i -lt 2000 ]; do sleep 0.005; i=$((i+1)); done; kill -INT $p; wait $p; }"));
    EXPECT_FALSE(FileExists(Win("ctrlc.txt"))) << "the incomplete file is removed";
    EXPECT_EQ("", ReadWholeFile(Win("ctrlc.err"))) << "no message";
    FreeConsole();  // a console of its own: one started from Linux may have none, or one without a screen
    HANDLE screen = AllocConsole() ? Open("CONOUT$", OPEN_EXISTING) : INVALID_HANDLE_VALUE;
    if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this process has no console and cannot make one";
    auto screenText = [screen, text = std::string(80 * 300, ' ')]() mutable {  // 300 rows of 80, the part cleared below
        DWORD read = 0;
        ReadConsoleOutputCharacterA(screen, &text[0], 80 * 300, {0, 0}, &read);
        return text.substr(0, read);
    };
    for (bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "-q" : "no -q");
        DWORD written = 0;
        FillConsoleOutputCharacterA(screen, ' ', 80 * 300, {0, 0}, &written);
        bool seen = false;
        EXPECT_EQ(0u, Launch({quiet ? "-sq" : "-s", "-o", Win("progress.txt"), Win("big")}, screen, screen, Win(""),
                             [&] { seen = seen || screenText().find(" files in ") != std::string::npos; }));
        EXPECT_EQ(!quiet, seen);
        EXPECT_EQ(std::string::npos, screenText().find_first_not_of(' ')) << "the line is cleared at the end";
    }
    CloseHandle(screen);
}
