// The console program run as a separate process on real trees: its listings
// against WriteListing's, its exit codes and messages, what it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "names.h"
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
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512, nullptr);
    return std::string(text, length).erase(std::string(text, length).find_last_not_of("\r\n ") + 1);
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

// Runs the program in `folder` with its output and errors to the handles given, calling `watch` with its
// process id every 20 ms until it ends; gives its exit code. Quoted as CommandLineToArgvW splits (no quotes inside).
static DWORD Launch(const Args &args, HANDLE out, HANDLE err, const std::string &folder,
                    const std::function<void(DWORD)> &watch = nullptr, DWORD flags = 0) {
    std::string line = "\"" + UnixToWindows(Exe()) + "\"";
    for (const std::string &arg : args)
        line += " \"" + arg + std::string(arg.size() - (arg.find_last_not_of('\\') + 1), '\\') + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdOutput = out, startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr, folder.c_str(), &startup, &process));
    while (WaitForSingleObject(process.hProcess, watch ? 20 : INFINITE) == WAIT_TIMEOUT) watch(process.dwProcessId);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    return CloseHandle(process.hThread), CloseHandle(process.hProcess), code;
}

// One run in `folder` (default: the scratch folder), its standard output and errors read back from files.
static Outcome RunCli(const Args &args, const std::string &folder = "") {
    HANDLE out = Open(Win("stdout.bin")), err = Open(Win("stderr.txt"));
    DWORD code = Launch(args, out, err, folder.empty() ? Win("") : folder);
    CloseHandle(out), CloseHandle(err);
    return {code, ReadWholeFile(Win("stdout.bin")), ReadWholeFile(Win("stderr.txt"))};
}

// The choices as flags (the dialog's, and the console program's totals and encoding), and the request they make.
enum Choice { Sub = 1, NoFiles = 2, NoPath = 4, Short = 8, NoDetails = 16, Totals = 32, Utf8 = 64, All = 128, NoFollow = 256 };
static ListingRequest Choices(int c, SortKey key = SortKey::Name, const wchar_t *filter = L"*.*",
                              const std::vector<std::wstring> &excludes = {}) {
    ListingRequest request;
    request.includeSubfolders = c & Sub, request.includeFiles = !(c & NoFiles), request.pathOnEachLine = !(c & NoPath);
    request.fullPathInHeading = !(c & Short), request.showDetails = !(c & NoDetails), request.totals = c & Totals;
    request.encoding = c & Utf8 ? TextEncoding::Utf8 : TextEncoding::Ansi;
    request.sortKey = key, request.filter = filter, request.excludes = excludes;
    request.dotFolders = c & All, request.followLinks = !(c & NoFollow);
    return request;
}

// Each flag alone changes its one choice, combinations add up, to standard output (also as - and /dev/stdout)
// or to a file (-o, relative here), and each form of the start folder (one past 259 characters too), the
// filter, the encoding and the exclusions gives WriteListing's bytes for the same request; on a tree (with a
// name outside the code page, a dot-folder and a link) where every row's listing differs.
TEST(Cli, EachChoiceAndFolderFormGivesWriteListingsBytes) {
    struct RunCase { Args args; ListingRequest request; std::string folder; const char *why; std::string start = ""; const char *err = ""; };
    const std::string longName = std::string(120, 'L') + "\\" + std::string(140, 'M');
    std::string tree = Tree("mixed", "mkdir -p Docs Build .cache Docs/" + std::string(120, 'L') + "/" + std::string(140, 'M') +
                            " && f 1234 '2001-03-07 14:30:15' readme.txt && f 5000000000 2003-05-06"
                            " disk.img && f 30 1999-12-31 a.b.c && f 0 2000-01-01 Notes && f 6 2002-01-02 x.bak && f 5 2003-05-07"
                            " 東京.txt && f 12 2004-02-29 Docs/x.TXT && ln -s Docs Link && touch -d '2001-03-07 09:05:03' Docs Build"
                            " .cache Docs/L*");
    const RunCase cases[] = {
        {{"--subfolders", tree}, Choices(Sub), "", "--subfolders"},
        {{"--no-files", tree}, Choices(NoFiles), "", "--no-files without -s: an empty listing, and a note", "",
         "dirtally-cli: note: --no-files without -s lists no entries, only each start folder's heading\r\n"},
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
        {{"--no-files", "-q", "Z:\\"}, Choices(NoFiles), "", "a drive root keeps its backslash (an empty block: no change can race)", "Z:\\"},
        {{".\\mixed\\Docs\\.."}, Choices(0), "", "dots in the path are resolved"},
        {{"--filter", "*.txt", tree}, Choices(0, SortKey::Name, L"*.txt"), "", "the filter goes to the system's matcher"},
        {{"--filter=*.img", "-q", tree}, Choices(0, SortKey::Name, L"*.img"), "", "the --option=value form"},
        {{"--encoding", "utf-8", tree}, Choices(Utf8), "", "--encoding utf-8 (the encoding is the listing tests' business)"},
        {{"--exclude", "*.bak", "--exclude", "build", tree}, Choices(0, SortKey::Name, L"*.*", {L"*.bak", L"build"}), "",
         "--exclude twice, the last one leaving FOLDER be"},
        {{"--exclude", "docs/*.txt", "-s", tree}, Choices(Sub, SortKey::Name, L"*.*", {L"docs/*.txt"}), "", "--exclude with a path"},
        {{"-a", "-s", tree}, Choices(All | Sub), "", "-a: the dot-folder too"},
        {{"--no-follow", "-s", tree}, Choices(NoFollow | Sub), "", "--no-follow: the link listed, not entered"},
        {{"-o", "-", "--no-path", "--no-details", tree}, Choices(NoPath | NoDetails), "", "-o - is standard output"},
        {{"-o", "/dev/stdout", "--short-headings", "--no-details", tree}, Choices(Short | NoDetails), "",
         "-o /dev/stdout is this program's standard output, not the one of Wine's server"},
        {{"Docs\\" + longName}, Choices(0), tree, "a relative start folder past 259 characters", tree + "\\Docs\\" + longName},
    };
    std::set<std::string> listings;
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ListingOutcome::Complete, WriteListing(Win("expected.txt"), c.start.empty() ? tree : c.start, c.request));
        std::string expected = *listings.insert(ReadWholeFile(Win("expected.txt"))).first;
        DeleteFileA(Win("out.txt").c_str());
        auto [code, out, err] = RunCli(c.args, c.folder);
        EXPECT_EQ((Outcome{0, expected, c.err}), (Outcome{code, out + ReadWholeFile(Win("out.txt")), err}));
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
        {{"--threads", "0"}, "--threads needs a number from 1 to 64, not '0'", "no thread to read on"},
        {{"--threads=65"}, "--threads needs a number from 1 to 64, not '65'", "more threads than offered"},
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
                                 "--date-format iso", "-a, --all", "--no-follow", "Exit codes", "  4 ", "130", "141"})
            EXPECT_NE(std::string::npos, out.find(word)) << help << ": " << word;
    }
    EXPECT_EQ((Outcome{0, PROGRAM_TITLE "\r\n", ""}), RunCli({"--version"}));
}

// Output that cannot be created or written, a file or standard output, exits with 1, says why and leaves
// nothing behind: a folder or a device named as the output is refused, as nothing would be written there.
TEST(Cli, OutputThatCannotBeMadeOrWrittenExitsWithOne) {
    struct FailCase { std::string output, reason; const char *verb, *why; };
    std::string tree = Tree("fail", "ln -s /dev/full full.txt && mkdir sub small && seq -f 'name-%g-long-enough-to-fill-a-small-disk' "
                            "1000 | xargs touch");
    const FailCase cases[] = {
        {tree + "\\missing\\out.txt", SystemText(ERROR_PATH_NOT_FOUND), "create", "a file in a missing folder"},
        {tree + "\\sub", "it is a folder", "create", "a folder, not a file"},
        {"Z:\\dev\\null", "it is a device, not a file (for standard output use -o -)", "create", "a device: written, yet nowhere"},
        {tree + "\\full.txt", "it is a device, not a file (for standard output use -o -)", "create", "a link to a device"},
        {tree + "\\small\\out.txt", SystemText(ERROR_DISK_FULL), "write", "a 16 KiB file system fills up part way"},
    };
    bool small = RunUnix("mount -t tmpfs -o size=16k tmpfs " + ShellQuote(Scratch() + "/fail/small")) == 0;
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.why);
        if (!small && c.verb[0] == 'w') continue;  // mounting needs root
        EXPECT_EQ((Outcome{1, "", "dirtally-cli: can't " + std::string(c.verb) + " output file " + c.output + ": " + c.reason + "\r\n"}),
                  RunCli({"-o", c.output, tree}));
        EXPECT_FALSE(c.verb[0] == 'w' && FileExists(c.output)) << "the incomplete file is removed";
    }
    if (small) RunUnix("umount " + ShellQuote(Scratch() + "/fail/small"));
    EXPECT_EQ(1, RunUnix("wine " + ShellQuote(Exe()) + " " + ShellQuote(tree) + " >/dev/full 2>" + ShellQuote(Scratch() + "/full.err")));
    EXPECT_EQ("dirtally-cli: can't write standard output: " + SystemText(ERROR_DISK_FULL) + "\r\n", ReadWholeFile(Win("full.err")));
}

// A long run (200,000 empty files in 400 folders, kept between test runs as they take seconds to make):
// Ctrl+C (a terminal's SIGINT, once the file exists) stops it, removes the file and exits silently with 130;
// a reader that leaves the pipe (| head) ends it silently with 141.
TEST(Cli, ALongRunStopsOnCtrlCOrWhenItsReaderLeaves) {
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(Scratch()) + " && { test -e big/d400/f500 || { rm -rf big && mkdir big && cd big"
                         " && for d in $(seq 400); do mkdir d$d && (cd d$d && seq -f f%g 500 | xargs touch); done; }; }"));
    EXPECT_EQ(130, RunUnix("cd " + ShellQuote(Scratch()) + " && rm -f ctrlc.txt && { wine " + ShellQuote(Exe()) +
                           " -s -o ctrlc.txt big >/dev/null 2>ctrlc.err & p=$!; i=0; while [ ! -e ctrlc.txt ] && "
                           "[ $i -lt 2000 ]; do sleep 0.005; i=$((i+1)); done; kill -INT $p; wait $p; }"));
    EXPECT_FALSE(FileExists(Win("ctrlc.txt"))) << "the incomplete file is removed";
    EXPECT_EQ("", ReadWholeFile(Win("ctrlc.err"))) << "no message";
    // The listing is megabytes: the reader has gone long before its end.
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(Scratch()) + " && { wine " + ShellQuote(Exe()) + " -s big 2>pipe.err; echo $? >pipe.rc; }"
                         " | head -c 10 >/dev/null"));
    EXPECT_EQ("141\n", ReadWholeFile(Win("pipe.rc")));
    EXPECT_EQ("", ReadWholeFile(Win("pipe.err"))) << "no message";
}

// On a console: the listing shows its characters, ANSI or UTF-8, as the file holds them; with errors to the
// console and the listing to a file, a progress line shows unless -q, a problem line clears it first, and it
// is cleared at the end. The console is this process's own (one started from Linux may have none, or one
// without a screen).
TEST(Cli, OnAConsoleTextShowsAsWrittenAndProgressNeverMixesWithProblems) {
    FreeConsole();
    HANDLE screen = AllocConsole() ? Open("CONOUT$", OPEN_EXISTING) : INVALID_HANDLE_VALUE;
    if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this process has no console and cannot make one";
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    const DWORD width = static_cast<DWORD>(info.dwSize.X), cells = width * std::min<DWORD>(info.dwSize.Y, 300);
    DWORD done = 0;
    auto screenText = [&] {
        std::wstring text(cells, L' ');
        ReadConsoleOutputCharacterW(screen, &text[0], cells, {0, 0}, &done);
        return text.substr(0, done);
    };
    auto clearScreen = [&] { FillConsoleOutputCharacterW(screen, L' ', cells, {0, 0}, &done), SetConsoleCursorPosition(screen, {0, 0}); };
    // The screen a text shows as, line by line from the top; the rest blank.
    auto laidOut = [&](const std::wstring &text) {
        std::wstring out;
        for (size_t at = 0, end; at < text.size(); at = end + 2) {
            end = std::min(text.find(L"\r\n", at), text.size());
            out += text.substr(at, end - at);
            out.append((width - out.size() % width) % width + (end == at ? width : 0), L' ');
        }
        return out + std::wstring(cells - out.size(), L' ');
    };
    std::string tree = Tree("console", "f 3 2001-02-03 CAFé.txt && f 4 2001-02-03 мой.txt");
    for (int c : {0, static_cast<int>(Utf8)}) {
        SCOPED_TRACE(c ? "UTF-8" : "ANSI");
        EXPECT_EQ(ListingOutcome::Complete, WriteListing(Win("expected.txt"), tree, Choices(c)));
        clearScreen();
        EXPECT_EQ(0u, Launch({"--encoding", c ? "utf-8" : "ansi", tree}, screen, screen, Win("")));
        EXPECT_EQ(laidOut(WidenText(ReadWholeFile(Win("expected.txt")), c ? CP_UTF8 : GetACP())), screenText());
    }

    // The last folder's f500, held open without sharing, cannot be hashed.
    HANDLE held = CreateFileA(Win("big\\d99\\f500").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string problem = "dirtally-cli: can't read file " + Win("big\\d99\\f500") + ": " + SystemText(ERROR_SHARING_VIOLATION);
    struct ProgressCase { Args args; DWORD code; bool progress; std::string left; const char *why; };
    const ProgressCase cases[] = {
        {{"-s"}, 0, true, "", "a progress line, cleared at the end"},
        {{"-sq"}, 0, false, "", "-q: none"},
        {{"-s", "--hash", "md5", "--filter", "f500"}, 4, true, problem, "the problem line alone on its line"},
    };
    for (const ProgressCase &c : cases) {
        SCOPED_TRACE(c.why);
        clearScreen();
        bool seen = false;
        Args args = c.args;
        args.insert(args.end(), {"-o", Win("progress.txt"), Win("big")});
        EXPECT_EQ(c.code, Launch(args, screen, screen, Win(""), [&](DWORD) {
            seen = seen || screenText().find(L" files in ") != std::wstring::npos;
        }));
        EXPECT_EQ(c.progress, seen);
        EXPECT_EQ(laidOut(WidenText(c.left + (c.left.empty() ? "" : "\r\n"), CP_ACP)), screenText());
    }
    CloseHandle(held);
    CloseHandle(screen);
}
