// The console program started as a separate process on real trees, its
// standard output and error in files: its listings against WriteListing's,
// its exit codes and messages, and what it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "listing.h"
#include "support.h"

// The Linux folder of this program's scratch trees (reached through Z:).
static std::string Scratch() { return DriveFolderUnix('d') + "-cli"; }

static std::wstring Widen(const std::string &utf8) {
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], units);
    out.resize(out.size() - 1);
    return out;
}

static std::string Utf8(const std::wstring &text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// The system's sentence for an error code, as the program should quote it.
static std::string SystemText(DWORD code) {
    wchar_t text[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512, nullptr);
    std::string out = Utf8(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

// Empties <scratch>/<name>, runs `commands` there in Linux (`f SIZE 'TIME' NAME`
// makes a file written at a UTC TIME) and returns the folder's Windows path.
static std::string Tree(const std::string &name, const std::string &commands) {
    std::string folder = Scratch() + "/" + name;
    ResetFolderUnix(folder);
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(folder) + " && f() { truncate -s \"$1\" \"$3\" && "
                         "TZ=UTC touch -d \"$2\" \"$3\"; } && " + commands));
    return UnixToWindows(folder);
}

// One run of the program: exit code, standard output and standard error.
struct Outcome {
    DWORD code;
    std::string out, err;
};

// Quotes one argument by the rules CommandLineToArgvW splits by.
static std::wstring Quote(const std::wstring &arg) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') { ++slashes; continue; }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    return out.append(slashes * 2, L'\\') + L"\"";
}

// Starts dirtally-cli (env DIRTALLY_CLI_EXE) with `args` in `folder` (the
// scratch folder when empty); standard output goes to `stdoutPath` when one
// is given, else to a file that is read back.
static Outcome RunCli(const std::vector<std::wstring> &args, const std::string &folder = "",
                      const std::wstring &stdoutPath = L"") {
    const char *exe = std::getenv("DIRTALLY_CLI_EXE");
    std::wstring line = Quote(Widen(UnixToWindows(exe ? exe : "")));
    for (const std::wstring &arg : args) line += L" " + Quote(arg);
    std::wstring outFile = Widen(UnixToWindows(Scratch() + "/stdout.bin"));
    std::wstring errFile = Widen(UnixToWindows(Scratch() + "/stderr.txt"));
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(stdoutPath.empty() ? outFile.c_str() : stdoutPath.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             stdoutPath.empty() ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    HANDLE err = CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::wstring directory = Widen(folder.empty() ? UnixToWindows(Scratch()) : folder);
    Outcome outcome = {STILL_ACTIVE, "", ""};
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(), &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
        GetExitCodeProcess(process.hProcess, &outcome.code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << Utf8(line);
    }
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(in);
    if (stdoutPath.empty()) outcome.out = ReadWholeFile(Utf8(outFile));
    outcome.err = ReadWholeFile(Utf8(errFile));
    return outcome;
}

// WriteListing's bytes for a tree, the expected output of the program.
static std::string DialogListing(const std::string &start, const char *filter, const ListingOptions &options) {
    std::string output = UnixToWindows(Scratch() + "/expected.txt");
    DeleteFileA(output.c_str());
    EXPECT_EQ(ListingComplete, WriteListing(output.c_str(), start.c_str(), filter, options));
    return ReadWholeFile(output);
}

// The program's arguments for the dialog's choices.
static std::vector<std::wstring> OptionArgs(const ListingOptions &options) {
    static const wchar_t *const keys[] = {L"name", L"extension", L"size", L"date"};
    std::vector<std::wstring> args = {L"--sort", keys[options.sortKey - 1]};
    if (options.includeSubfolders) args.push_back(L"--subfolders");
    if (!options.includeFiles) args.push_back(L"--no-files");
    if (!options.pathOnEachLine) args.push_back(L"--no-path");
    if (!options.fullPathInHeading) args.push_back(L"--short-headings");
    if (!options.showDetails) args.push_back(L"--no-details");
    return args;
}

// A tree with subfolders, dot names, sizes past 4 GiB and a link back up.
static std::string MixedTree() {
    return Tree("mixed", "mkdir -p Docs/Deep .git 'Old Stuff' && f 1234 '2001-03-07 14:30:15' readme.txt && "
                "f 5000000000 '2003-05-06 07:08:09' disk.img && f 4294967296 '2003-05-06 07:08:10' four.gib && "
                "f 7 '2002-01-02 10:11:12' .profile && f 30 '1999-12-31 23:59:59' a.b.c && f 0 '2000-01-01' Notes && "
                "f 12 '2004-02-29 12:00:00' Docs/x.TXT && f 9 '2004-02-28' Docs/Deep/y.txt && "
                "f 3 '2005-06-07' .git/HEAD && ln -s .. Docs/Deep/up && "
                "TZ=UTC touch -d '2001-03-07 09:05:03' Docs Docs/Deep .git 'Old Stuff'");
}

TEST(Cli, EveryDialogChoiceGivesWriteListingsBytesInAFileAndOnStandardOutput) {
    std::string tree = MixedTree();
    std::wstring output = Widen(UnixToWindows(Scratch() + "/out.txt"));
    for (int combo = 0; combo < 128; ++combo) {
        ListingOptions options = {(combo & 1) != 0, (combo & 2) != 0, 1 + (combo >> 5),
                                  (combo & 4) != 0, (combo & 8) != 0, (combo & 16) != 0};
        std::vector<std::wstring> args = OptionArgs(options);
        SCOPED_TRACE(Utf8(L"options: " + [&] { std::wstring s; for (auto &a : args) s += a + L" "; return s; }()));
        std::string expected = DialogListing(tree, "*.*", options);
        ASSERT_FALSE(expected.empty());
        args.push_back(Widen(tree));
        Outcome toStdout = RunCli(args);
        EXPECT_EQ(0u, toStdout.code);
        EXPECT_EQ(expected, toStdout.out);
        EXPECT_EQ("", toStdout.err) << "nothing on standard error when all is well";
        args.insert(args.begin(), {L"-o", output});
        Outcome toFile = RunCli(args);
        EXPECT_EQ(0u, toFile.code);
        EXPECT_EQ(expected, ReadWholeFile(Utf8(output)));
        EXPECT_EQ("", toFile.out + toFile.err);
    }
}

struct FormCase { std::vector<std::wstring> args; std::string folder; const char *filter; const char *why; };

TEST(Cli, StartFolderFormsAndFilterReachTheSameListing) {
    std::string tree = MixedTree();
    std::string parent = UnixToWindows(Scratch());
    const ListingOptions defaults = {false, true, SortByName, true, true, true};
    const FormCase cases[] = {
        {{}, tree, "*.*", "no FOLDER: the current folder"},
        {{L"mixed"}, parent, "*.*", "a relative FOLDER is made absolute"},
        {{Widen(tree + "\\")}, parent, "*.*", "a trailing backslash is dropped"},
        {{L".\\mixed\\Docs\\.."}, parent, "*.*", "dots in the path are resolved"},
        {{L"--filter", L"*.txt", Widen(tree)}, parent, "*.txt", "the filter goes to the system's matcher"},
        {{L"--filter=r*", L"-q", Widen(tree)}, parent, "r*", "the --option=value form"},
    };
    for (const FormCase &c : cases) {
        SCOPED_TRACE(c.why);
        Outcome run = RunCli(c.args, c.folder);
        EXPECT_EQ(0u, run.code) << run.err;
        EXPECT_EQ(DialogListing(tree, c.filter, defaults), run.out);
    }
}

struct UsageCase { std::vector<std::wstring> args; const char *message; const char *why; };

TEST(Cli, UsageErrorsExitWithTwoAndOneLineOfReason) {
    std::string tree = MixedTree();
    std::wstring out = Widen(UnixToWindows(Scratch() + "/usage.txt"));
    std::wstring file = Widen(tree + "\\readme.txt");
    std::wstring missing = Widen(tree + "\\nowhere");
    const UsageCase cases[] = {
        {{L"--bogus"}, "unknown option '--bogus'", "an unknown long option"},
        {{L"-x"}, "unknown option '-x'", "an unknown short option"},
        {{L"-o"}, "option '--output' needs a value", "-o at the end"},
        {{L"--filter"}, "option '--filter' needs a value", "--filter at the end"},
        {{L"--sort"}, "option '--sort' needs a value", "--sort at the end"},
        {{L"--sort", L"weight"}, "unknown sort key 'weight'", "a sort key the dialog does not have"},
        {{L"--sort", L"Name"}, "unknown sort key 'Name'", "sort keys are lower case"},
        {{L"--encoding", L"latin1"}, "unknown encoding 'latin1'", "an encoding not offered"},
        {{L"--filter", L""}, "the filter is empty", "an empty filter would match nothing"},
        {{Widen(tree), L"other"}, "more than one folder given: 'other'", "two folders"},
        {{missing}, "start folder not found: ", "a missing start folder"},
        {{file}, "not a folder: ", "a file as the start folder"},
    };
    for (const UsageCase &c : cases) {
        SCOPED_TRACE(c.why);
        DeleteFileW(out.c_str());
        std::vector<std::wstring> args = {L"-o", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome run = RunCli(args);
        EXPECT_EQ(2u, run.code);
        EXPECT_EQ(0u, run.err.find(std::string("dirtally-cli: ") + c.message)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("\r\nTry 'dirtally-cli --help'")) << run.err;
        EXPECT_EQ(2, std::count(run.err.begin(), run.err.end(), '\n')) << "one line of reason, one of hint";
        EXPECT_EQ("", run.out);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(out.c_str())) << "no output file is made";
    }
}

TEST(Cli, HelpNamesEveryOptionAndTheExitCodesVersionIsOneLine) {
    for (const wchar_t *help : {L"--help", L"-h"}) {
        Outcome run = RunCli({help, L"--bogus-is-not-read"});
        EXPECT_EQ(2u, run.code) << "an unknown option is an error even beside --help";
        run = RunCli({help});
        EXPECT_EQ(0u, run.code);
        EXPECT_EQ("", run.err);
        for (const char *word : {"-o, --output FILE", "--filter PATTERN", "-s, --subfolders", "--no-files", "--no-path",
                                 "--short-headings", "--no-details", "--sort KEY", "--exclude PATTERN", "--encoding ENC",
                                 "--totals", "-q, --quiet", "-h, --help", "--version", "Exit codes", "130"})
            EXPECT_NE(std::string::npos, run.out.find(word)) << word;
    }
    Outcome version = RunCli({L"--version"});
    EXPECT_EQ(0u, version.code);
    EXPECT_EQ("Dirtally 1.1\r\n", version.out);
}

struct FailCase { std::wstring output; DWORD error; const char *prefix; const char *why; };

TEST(Cli, OutputThatCannotBeMadeOrWrittenExitsWithOneAndLeavesNothing) {
    std::string tree = MixedTree();
    std::string links = Scratch() + "/links";
    ResetFolderUnix(links);
    ASSERT_EQ(0, RunUnix("ln -s /dev/full " + ShellQuote(links + "/full.txt")));
    std::string linksWin = UnixToWindows(links);
    const FailCase cases[] = {
        {Widen(linksWin + "\\missing\\out.txt"), ERROR_PATH_NOT_FOUND, "can't create output file ", "a missing folder"},
        {Widen(linksWin), ERROR_ACCESS_DENIED, "can't create output file ", "a folder as the output"},
        {Widen(linksWin + "\\full.txt"), ERROR_DISK_FULL, "can't write output file ", "every write fails: a full disk"},
    };
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.why);
        Outcome run = RunCli({L"-s", L"-o", c.output, Widen(tree)});
        EXPECT_EQ(1u, run.code);
        EXPECT_EQ("dirtally-cli: " + std::string(c.prefix) + Utf8(c.output) + ": " + SystemText(c.error) + "\r\n", run.err);
        EXPECT_EQ("", run.out);
    }
    EXPECT_NE(0, RunUnix("test -e " + ShellQuote(links + "/missing"))) << "nothing made in a missing folder";

    Outcome full = RunCli({Widen(tree)}, "", L"Z:\\dev\\full");
    SCOPED_TRACE("standard output on a full disk");
    EXPECT_EQ(1u, full.code);
    EXPECT_EQ("dirtally-cli: can't write standard output: " + SystemText(ERROR_DISK_FULL) + "\r\n", full.err);
}

TEST(Cli, OutputOnASmallFullFileSystemExitsWithOneAndLeavesNothing) {
    std::string mount = Scratch() + "/small";
    ResetFolderUnix(mount);
    if (RunUnix("mount -t tmpfs -o size=16k dirtally-small " + ShellQuote(mount) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not allowed on this machine";
    // 400 files whose listing (about 30 KB) passes the 16 KB of the file system.
    std::string tree = Tree("many", "for i in $(seq 400); do : > file-with-a-long-name-$i.txt; done");
    std::wstring output = Widen(UnixToWindows(mount + "/out.txt"));
    Outcome run = RunCli({L"-o", output, Widen(tree)});
    int gone = RunUnix("test ! -e " + ShellQuote(mount + "/out.txt"));
    RunUnix("umount " + ShellQuote(mount));
    EXPECT_EQ(1u, run.code);
    EXPECT_EQ("dirtally-cli: can't write output file " + Utf8(output) + ": " + SystemText(ERROR_DISK_FULL) + "\r\n", run.err);
    EXPECT_EQ(0, gone) << "the incomplete file is removed";
}

// The lines of a listing, each with its CR; sorted when the order is not the point.
static std::vector<std::string> Lines(const std::string &text, bool sorted = false) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (sorted) std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(Cli, ExcludedNamesAreLeftOutAndExcludedFoldersNotEntered) {
    // The same tree twice (names of one length, as the headings' underlines
    // count the full path), the second without what the patterns exclude:
    // the first's listing with exclusions must be the second's without.
    const std::string common = "mkdir -p Proj/src/deep Proj/docs && f 10 '2001-01-01' Proj/src/main.c && "
                               "f 11 '2001-01-02' Proj/src/deep/util.c && f 12 '2001-01-03' Proj/docs/guide.txt && "
                               "f 13 '2001-01-04' Proj/README";
    const std::string excluded = " && mkdir -p Proj/.git/objects && f 1 '2001' Proj/.git/HEAD && "
                                 "f 2 '2001' Proj/.git/objects/ab && f 3 '2001' Proj/src/main.bak && "
                                 "f 4 '2001' Proj/src/deep/util.BAK && f 5 '2001' Proj/docs/guide.bak && f 6 '2001' Proj/x.bak && "
                                 "mkdir -p 'Proj/$RECYCLE.BIN/S-1' Proj/src/Build/obj && f 7 '2001' 'Proj/$RECYCLE.BIN/S-1/old.c' && "
                                 "f 8 '2001' Proj/src/Build/obj/main.o";
    const std::string dates = " && TZ=UTC touch -d '2002-02-02' Proj Proj/src Proj/src/deep Proj/docs";
    std::string with = Tree("ex-with", common + excluded + dates) + "\\Proj";
    std::string without = Tree("ex-less", common + dates) + "\\Proj";
    const ListingOptions options = {true, true, SortByName, false, false, true};
    Outcome run = RunCli({L"-s", L"--no-path", L"--short-headings", L"--exclude", L".git", L"--exclude", L"*.bak",
                          L"--exclude", L"nothing-*.zz", L"--exclude", L"build", L"--exclude", L"$RECYCLE.BIN", Widen(with)});
    EXPECT_EQ(0u, run.code) << run.err;
    EXPECT_EQ(DialogListing(without, "*.*", options), run.out)
        << "folder patterns (.git, Build in a subfolder, $RECYCLE.BIN), a file pattern in many folders (*.bak, any case), "
           "one that matches nothing";
}

// The number of characters (code points) in UTF-8 text.
static size_t Characters(const std::string &utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// A shell word for a UTF-8 name: the command line to the shell passes through
// the ANSI code page, so bytes from 0x80 up travel as printf's octal escapes.
static std::string ShellBytes(const std::string &name) {
    std::string escaped;
    for (unsigned char c : name) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "\\%03o", c);
        if (c >= 0x80 || c == '\'' || c == '%' || c == '\\') escaped += octal;
        else escaped += static_cast<char>(c);
    }
    return "\"$(printf '" + escaped + "')\"";
}

TEST(Cli, Utf8EncodingWritesEveryNameAsItIs) {
    const std::vector<std::string> names = {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt",  // Привет.txt
                                            "\xE6\x9D\xB1\xE4\xBA\xAC.txt",                            // 東京.txt
                                            "caf\xC3\xA9.doc", "plain.txt"};
    // 日本ДОМ: already upper case, as the listing shows folder names.
    const std::string folder = "\xE6\x97\xA5\xE6\x9C\xAC\xD0\x94\xD0\x9E\xD0\x9C";
    std::string make = "mkdir " + ShellBytes(folder);
    for (const std::string &name : names)
        make += " && f 100 '2001-02-03' " + ShellBytes(name) + " && f 2 '2001-02-03' " + ShellBytes(folder + "/" + name);
    std::string tree = Tree("utf8", make + " && TZ=UTC touch -d '2001-02-03' " + ShellBytes(folder));
    Outcome namesOnly = RunCli({L"-s", L"--no-path", L"--short-headings", L"--no-details", L"--encoding", L"utf-8", Widen(tree)});
    EXPECT_EQ(0u, namesOnly.code) << namesOnly.err;
    EXPECT_EQ(std::string::npos, namesOnly.out.find('?')) << "no name lost to the code page";
    // Two blocks (headings underlined as long as the full path, in characters), order aside.
    std::string top = Utf8(Widen(tree));
    std::vector<std::string> expected = {"utf8\r", std::string(Characters(top), '=') + "\r", folder + "\r",
                                         std::string(Characters(top + "\\" + folder), '=') + "\r", folder + "\r"};
    expected.insert(expected.end(), 6, "\r");
    for (const std::string &name : names) expected.insert(expected.end(), 2, name + "\r");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Lines(namesOnly.out, true)) << namesOnly.out;

    // With details the size column starts at one character position for the
    // Latin and Cyrillic names.
    Outcome details = RunCli({L"--no-path", L"--encoding", L"utf-8", Widen(tree)});
    EXPECT_EQ(0u, details.code);
    std::vector<size_t> columns;
    for (const std::string &line : Lines(details.out)) {
        size_t cut = line.find("  100");
        if (cut != std::string::npos && line.find("\xE6\x9D\xB1") == std::string::npos)
            columns.push_back(Characters(line.substr(0, cut)));
    }
    ASSERT_EQ(3u, columns.size()) << details.out;
    EXPECT_EQ(columns[0], columns[1]);
    EXPECT_EQ(columns[0], columns[2]);
}

// The whole numbers in a line, thousands separators (",") allowed.
static std::vector<unsigned long long> Numbers(const std::string &line) {
    std::vector<unsigned long long> numbers;
    std::string digits;
    for (size_t i = 0; i <= line.size(); ++i) {
        char c = i < line.size() ? line[i] : ' ';
        bool separator = c == ',' && !digits.empty() && i + 1 < line.size() && isdigit(static_cast<unsigned char>(line[i + 1]));
        if (isdigit(static_cast<unsigned char>(c))) digits += c;
        else if (!separator && !digits.empty()) { numbers.push_back(std::stoull(digits)); digits.clear(); }
    }
    return numbers;
}

TEST(Cli, TotalsCountTheFilesAndBytesOfEachBlockAndTheWholeTree) {
    std::string tree = Tree("totals", "mkdir -p a/b && f 5000000000 2001 big && f 123 2001 small && f 7 2001 a/one && "
                            "f 11 2001 a/two && f 13 2001 a/three && f 17 2001 a/b/four");
    const ListingOptions options = {true, true, SortByName, false, true, true};
    Outcome plain = RunCli({L"-s", L"--no-path", Widen(tree)});
    Outcome totals = RunCli({L"-s", L"--no-path", L"--totals", Widen(tree)});
    EXPECT_EQ(0u, totals.code) << totals.err;
    EXPECT_EQ(DialogListing(tree, "*.*", options), plain.out) << "without --totals, the dialog's bytes";
    // The totals only add lines: the plain listing is what is left without them.
    std::vector<std::string> plainLines = Lines(plain.out), added;
    size_t matched = 0;
    for (const std::string &line : Lines(totals.out)) {
        if (matched < plainLines.size() && line == plainLines[matched]) ++matched;
        else if (line != "\r") added.push_back(line);
    }
    EXPECT_EQ(plainLines.size(), matched) << "every line of the plain listing, in order";
    ASSERT_EQ(4u, added.size()) << "one line for each of the 3 blocks and a grand total:\n" << totals.out;
    // Files and bytes: the top block (big, small; a), a (one two three; b), a\b (four), the tree.
    const unsigned long long expected[4][2] = {{2, 5000000123ull}, {3, 31}, {1, 17}, {6, 5000000171ull}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(added[static_cast<size_t>(i)]);
        std::vector<unsigned long long> numbers = Numbers(added[static_cast<size_t>(i)]);
        for (unsigned long long value : expected[i])
            EXPECT_NE(numbers.end(), std::find(numbers.begin(), numbers.end(), value)) << value;
    }
}

// 200,000 empty files in 400 folders: a run that lasts a good while after
// its file appears. Kept between test runs, as it takes seconds to make.
static std::string BigTree() {
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(Scratch()) + " && { test -e big/d400/f500 || { rm -rf big && mkdir big && "
                         "cd big && for d in $(seq 400); do mkdir d$d && (cd d$d && seq -f f%g 500 | xargs touch); done; }; }"));
    return Scratch() + "/big";
}

TEST(Cli, CtrlCStopsTheRunRemovesTheFileAndExitsWith130) {
    BigTree();
    // A terminal's Ctrl+C reaches a program under Wine as SIGINT: sent once
    // the output file exists, that is, once the run has started.
    const char *exe = std::getenv("DIRTALLY_CLI_EXE");
    std::string status = Scratch() + "/ctrlc.status";
    int code = RunUnix("cd " + ShellQuote(Scratch()) + " && rm -f ctrlc.txt && { wine " + ShellQuote(exe ? exe : "") +
                       " -s -o ctrlc.txt big >/dev/null 2>ctrlc.err & p=$!; i=0; while [ ! -e ctrlc.txt ] && "
                       "[ $i -lt 2000 ]; do sleep 0.005; i=$((i+1)); done; kill -INT $p; wait $p; }");
    EXPECT_EQ(130, code);
    EXPECT_NE(0, RunUnix("test -e " + ShellQuote(Scratch() + "/ctrlc.txt"))) << "the incomplete file is removed";
    EXPECT_EQ("", ReadWholeFile(UnixToWindows(Scratch() + "/ctrlc.err"))) << "no message";
}

// The text of the console's screen buffer, row by row.
static std::string ScreenText(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen, &info)) return "";
    std::wstring text(static_cast<size_t>(info.dwSize.X) * static_cast<size_t>(info.dwSize.Y), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, &text[0], static_cast<DWORD>(text.size()), {0, 0}, &read);
    return Utf8(text.substr(0, read));
}

TEST(Cli, ProgressLineShowsOnAConsoleDuringALongRunUnlessQuiet) {
    // Standard error is a console of this process, the listing goes to a file.
    std::string big = BigTree();
    auto openScreen = [] {
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    };
    HANDLE screen = openScreen();
    if (screen == INVALID_HANDLE_VALUE) {
        FreeConsole();  // a console without a screen, as a program started from Linux may get
        if (AllocConsole()) screen = openScreen();
    }
    if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this process has no console and cannot make one";
    const char *exe = std::getenv("DIRTALLY_CLI_EXE");
    for (bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "-q" : "no -q");
        COORD origin = {0, 0};
        DWORD written = 0;
        FillConsoleOutputCharacterW(screen, L' ', 80 * 300, origin, &written);
        std::wstring line = Quote(Widen(UnixToWindows(exe ? exe : ""))) + L" -s -o " +
                            Quote(Widen(UnixToWindows(Scratch() + "/progress.txt"))) + (quiet ? L" -q " : L" ") +
                            Quote(Widen(UnixToWindows(big)));
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE error = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = error;
        startup.hStdOutput = error;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
        bool seen = false;
        while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT)
            if (ScreenText(screen).find(" files in ") != std::string::npos) seen = true;
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        CloseHandle(error);
        EXPECT_EQ(0u, code);
        EXPECT_EQ(!quiet, seen);
        EXPECT_EQ(std::string::npos, ScreenText(screen).find_first_not_of(' ')) << "the line is cleared at the end";
    }
    CloseHandle(screen);
}
