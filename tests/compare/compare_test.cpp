// Comparisons run as the console program on real trees changed on the Linux
// side: each change reported once as what it is, the same tree elsewhere
// reported unchanged, unreadable things never as removed, and damaged or
// foreign catalogues refused with a reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support.h"

using Args = std::vector<std::string>;

// The Linux folder of this program's trees, and the Windows path of a name in it.
static std::string Scratch() { return DriveFolderUnix('d') + "-compare"; }
static std::string Win(const std::string &name) { return UnixToWindows(Scratch() + "/" + name); }

// Runs shell commands in the scratch folder with times in UTC.
static void Shell(const std::string &commands) {
    ASSERT_EQ(0, RunUnix("export TZ=UTC && cd " + ShellQuote(Scratch()) + " && " + commands)) << commands;
}

// Writes bytes to a file of the scratch folder.
static void Put(const std::string &name, const std::string &bytes) {
    std::ofstream(Win(name), std::ios::binary) << bytes;
}

static std::string Golden(const std::string &name) { return ReadWholeFile(DIRTALLY_COMPARE_GOLDEN "/" + name); }

struct Outcome {
    DWORD code;
    std::string out, err;
};

// Runs the console program with its output and errors to files, and reads them back.
static Outcome Cli(const Args &args) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(Win("stdout").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(Win("stderr").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string line = "\"" + UnixToWindows(std::getenv("DIRTALLY_CLI_EXE")) + "\"";
    for (const std::string &arg : args) line += " \"" + arg + (arg.back() == '\\' ? "\\\"" : "\"");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdOutput = out, startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    DWORD code = 999;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, Win("").c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread), CloseHandle(process.hProcess);
    }
    CloseHandle(out), CloseHandle(err);
    return {code, ReadWholeFile(Win("stdout")), ReadWholeFile(Win("stderr"))};
}

// The tree as catalogued: every file of its own content, written at one time.
static const char MakeTree[] =
    "rm -rf tree copy && mkdir -p tree/Docs tree/Archive tree/Old && cd tree && "
    "f() { printf '%s' \"$2\" > \"$1\" && touch -d '2024-03-01 10:00:00' \"$1\"; } && "
    "f keep.txt 'kept as it was' && f grow.txt 'grows later' && f touch.txt 'only touched' && "
    "f same.txt AAAAAAAA && f gone.txt 'removed later' && f old-name.dat 'renamed later' && "
    "f Docs/report.pdf 'moved to Archive' && f Archive/index.txt 'archive index' && "
    "f Old/one.txt 'old one' && f Old/two.txt 'old two!' && f Readme.TXT 'case only'";

// Every kind of change, each once.
static const char ChangeTree[] =
    "cd tree && f() { printf '%s' \"$2\" > \"$1\" && touch -d '2024-05-02 11:00:00' \"$1\"; } && "
    "f grow.txt 'grows later, by a few more bytes' && touch -d '2024-05-02 11:00:00' touch.txt && "
    "f same.txt BBBBBBBB && rm gone.txt && f new.txt 'added later' && mv old-name.dat new-name.dat && "
    "mv Docs/report.pdf Archive/ && rm -r Old && mkdir -p Photos/2024 && f Photos/2024/a.jpg one && "
    "f Photos/2024/b.jpg two && f Photos/2024/c.jpg three && mv Readme.TXT readme.txt";

// A drive letter of this program's own for the same tree, read by Wine at each path's lookup.
static const char DriveQ[] = "ln -sfn \"$PWD/tree\" \"$WINEPREFIX/dosdevices/q:\"";

// The catalogues of the tree as made: JSON Lines with SHA-256, CSV without hashes.
static void Catalogue() {
    Shell(MakeTree);
    ASSERT_EQ(0u, Cli({"-s", "--format", "jsonl", "--hash", "sha256", "-o", Win("old.jsonl"), Win("tree")}).code);
    ASSERT_EQ(0u, Cli({"-s", "--format", "csv", "-o", Win("old.csv"), Win("tree")}).code);
}

struct RunCase {
    Args args;
    DWORD code;
    std::string expected;  // the whole output
    const char *why;
};

static void Check(const std::vector<RunCase> &rows) {
    for (const RunCase &row : rows) {
        SCOPED_TRACE(row.why);
        Outcome run = Cli(row.args);
        EXPECT_EQ(row.code, run.code) << run.err;
        EXPECT_EQ(row.expected, run.out);
        EXPECT_EQ("", run.err);
    }
}

TEST(Compare, EachChangeOnceAsWhatItIs) {
    ResetFolderUnix(Scratch());
    Catalogue();
    Shell(ChangeTree);
    ASSERT_EQ(0u, Cli({"-s", "--format", "csv", "--hash", "sha256", "-o", Win("new.csv"), Win("tree")}).code);
    Shell(DriveQ);
    const std::string old = Win("old.jsonl"), hashed = Golden("hashed.txt"), plain = Golden("plain.txt");
    Check({
        {{"--compare", old}, 3, hashed, "hashes: the rename and the move paired, the same-size rewrite by its digest"},
        {{"--compare", old, "Q:\\"}, 3, hashed, "the same tree under another drive letter"},
        {{"--compare", old, Win("new.csv")}, 3, hashed, "catalogue against catalogue, JSON Lines against CSV"},
        {{"--compare", Win("old.csv")}, 3, plain, "no hashes: moves as removals and additions, the rewrite by its time"},
        {{"--compare", old, "--hash", "md5"}, 3, plain, "a digest only one side has is never compared"},
        {{"--compare", old, "--format", "jsonl", "-o", Win("diff.jsonl")}, 3, "", "JSON Lines to a file"},
    });
    EXPECT_EQ(Golden("hashed.jsonl"), ReadWholeFile(Win("diff.jsonl")));
    // Each object is one that Python's json module reads.
    Shell("python3 -c 'import json,sys; [json.loads(l) for l in open(sys.argv[1])]' diff.jsonl");
    Shell("rm -f \"$WINEPREFIX/dosdevices/q:\"");
}

TEST(Compare, UnchangedTreeAnywhere) {
    ResetFolderUnix(Scratch());
    Catalogue();
    Shell("cp -a tree copy && " + std::string(DriveQ));
    const std::string none = "0 added, 0 removed, 0 changed, 0 moved, 0 unreadable\r\n";
    Check({
        {{"--compare", Win("old.jsonl")}, 0, none, "the start folder the catalogue names"},
        {{"--compare", Win("old.jsonl"), Win("copy")}, 0, none, "a copy in another place"},
        {{"--compare", Win("old.csv"), "Q:\\"}, 0, none, "CSV, the tree as the root of another drive"},
        {{"--compare", Win("old.csv"), Win("old.jsonl")}, 0, none, "two catalogues of one tree, one without hashes"},
    });
    Shell("rm -f \"$WINEPREFIX/dosdevices/q:\"");
}

// Turns a catalogue into one where a folder could not be read: its row
// carries the error, its contents are gone.
static const char HideFolder[] =
    "python3 -c 'import json,sys\n"
    "src, dst, name = sys.argv[1:]\n"
    "out = []\n"
    "for line in open(src):\n"
    "    o = json.loads(line); p = o.get(\"path\", \"\")\n"
    "    if p.endswith(\"\\\\\" + name): o[\"error\"] = \"Access is denied.\"\n"
    "    elif \"\\\\\" + name + \"\\\\\" in p: continue\n"
    "    out.append(json.dumps(o, separators=(\",\", \":\")))\n"
    "open(dst, \"w\").write(\"\\n\".join(out) + \"\\n\")' ";

TEST(Compare, UnreadableNeverRemovedNorChanged) {
    ResetFolderUnix(Scratch());
    Catalogue();
    Shell(std::string(HideFolder) + "old.jsonl hidden.jsonl Archive");
    // A file another program holds without sharing cannot be hashed now.
    HANDLE held = CreateFileA(Win("tree\\same.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    char busy[512];
    std::string reason(busy, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            ERROR_SHARING_VIOLATION, 0, busy, sizeof busy, nullptr));
    reason = reason.substr(0, reason.find_last_not_of("\r\n ") + 1);
    const std::string counts = "0 added, 0 removed, 0 changed, 0 moved, 1 unreadable\r\n";
    Check({
        {{"--compare", Win("old.jsonl")}, 4, "! same.txt  not read in NEW: " + reason + "\r\n" + counts,
         "a file whose content cannot be read now"},
        {{"--compare", Win("old.jsonl"), Win("hidden.jsonl")}, 4, "! Archive\\  not read in NEW: Access is denied.\r\n" + counts,
         "a folder not read now: its files are not removed"},
        {{"--compare", Win("hidden.jsonl"), Win("old.jsonl")}, 4, "! Archive\\  not read in OLD: Access is denied.\r\n" + counts,
         "a folder not read then: its files are not added"},
    });
    CloseHandle(held);
}

// A catalogue made by hand: the description of one start folder, then `rows`.
static std::string Handmade(const std::string &rows) {
    return "{\"format\":\"dirtally-catalogue\",\"formatVersion\":1,\"startFolders\":[\"C:\\\\x\"],\"subfolders\":true,"
           "\"hashes\":[]}\n{\"type\":\"folder\",\"path\":\"C:\\\\x\"}\n" + rows + "{\"type\":\"totals\"}\n";
}

TEST(Compare, DamagedOrForeignCataloguesRefused) {
    ResetFolderUnix(Scratch());
    Catalogue();
    ASSERT_EQ(0u, Cli({"-s", "-o", Win("listing.txt"), Win("tree")}).code);
    const std::string jsonl = ReadWholeFile(Win("old.jsonl")), csv = ReadWholeFile(Win("old.csv"));
    std::string badDigest = jsonl, outside = jsonl, badDate = jsonl;
    badDigest.replace(badDigest.find("\"sha256\":\"") + 10, 2, "zz");
    badDate.replace(badDate.find("2024-03-01T10"), 10, "2023-02-29");
    outside.replace(outside.find("tree\\\\keep.txt"), 4, "elsewhere");
    std::string deep, deeper;
    for (int i = 0; i < 16400; ++i) (i < 5000 ? deep : deeper) += "a\\\\";
    struct Case { const char *name; std::string bytes; DWORD code; const char *says, *why; };
    const Case rows[] = {
        {"cut.jsonl", jsonl.substr(0, jsonl.size() - 40), 2, "cut short", "a line cut off"},
        {"nototals.jsonl", jsonl.substr(0, jsonl.rfind('\n', jsonl.size() - 2) + 1), 2, "totals line is missing", "whole lines cut off"},
        {"listing.txt", ReadWholeFile(Win("listing.txt")), 2, "is not a catalogue", "the text listing"},
        {"header.csv", "Path,Name,Kind\r\n" + csv.substr(csv.find('\n') + 1), 2, "is not a catalogue", "a foreign header"},
        {"cut.csv", csv.substr(0, csv.size() - 5), 2, "cut short", "a row cut off"},
        {"digest.jsonl", badDigest, 2, "line 3: the sha256 digest is not 64 hex digits", "a digest that is not hex"},
        {"date.jsonl", badDate, 2, "\"2023-02-29T10:00:00Z\" is not a time", "a day the calendar does not have"},
        {"outside.jsonl", outside, 2, "is not below the start folder", "a path outside the start folder"},
        {"array.jsonl", Handmade("[1,2]\n"), 2, "line 3: not a JSON object", "a row that is not an object"},
        {"utf8.jsonl", Handmade("{\"type\":\"file\",\"path\":\"C:\\\\x\\\\\xC3(\",\"size\":1}\n"), 2,
         "line 3: not a JSON object", "a name that is not UTF-8"},
        {"surrogate.jsonl", Handmade("{\"type\":\"file\",\"path\":\"C:\\\\x\\\\\\ud800\",\"size\":1}\n"), 2,
         "line 3: not a JSON object", "half of a surrogate pair"},
        {"size.jsonl", Handmade("{\"type\":\"file\",\"path\":\"C:\\\\x\\\\f\",\"size\":-1}\n"), 2, "without a size", "a negative size"},
        {"empty.jsonl", "", 2, "it is empty", "an empty file"},
        {"bomb.jsonl", Handmade("{\"type\":\"file\",\"path\":\"C:\\\\x\\\\" + deep + deeper + "f\",\"size\":1}\n"), 2,
         "or too many", "deeper than any path can be"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        Put(row.name, row.bytes);
        for (bool asNew : {false, true}) {
            Outcome run = asNew ? Cli({"--compare", Win("old.jsonl"), Win(row.name)}) : Cli({"--compare", Win(row.name)});
            EXPECT_EQ(row.code, run.code);
            EXPECT_NE(std::string::npos, run.err.find(asNew ? "NEW" : "OLD")) << run.err;
            EXPECT_NE(std::string::npos, run.err.find(row.says)) << run.err;
            EXPECT_EQ("", run.out);
        }
    }
    // Usage errors: each said, exit 2, nothing written.
    struct Usage { Args args; const char *says, *why; };
    const Usage usage[] = {
        {{"--compare"}, "needs a catalogue file", "no OLD"},
        {{"--compare", Win("old.jsonl"), "--format", "csv"}, "as text or jsonl", "a form differences are not written in"},
        {{"--compare", Win("old.jsonl"), Win("tree"), Win("tree")}, "one FOLDER", "two things to compare with"},
        {{"--compare", Win("tree")}, "is a folder", "a folder as OLD"},
        {{"--compare", Win("old.jsonl"), Win("missing")}, "not found", "NEW not there"},
        {{"--compare", Win("moved.jsonl")}, "is not there", "OLD's start folder gone, none named"},
    };
    Put("moved.jsonl", Handmade(""));
    for (const Usage &row : usage) {
        SCOPED_TRACE(row.why);
        Outcome run = Cli(row.args);
        EXPECT_EQ(2u, run.code);
        EXPECT_NE(std::string::npos, run.err.find(row.says)) << run.err;
        EXPECT_EQ("", run.out);
    }
    // A tree as deep as a path can go is compared, without running out of stack.
    Put("deep.jsonl", Handmade("{\"type\":\"file\",\"path\":\"C:\\\\x\\\\" + deep + "f\",\"size\":1}\n"));
    Put("flat.jsonl", Handmade(""));
    Check({{{"--compare", Win("deep.jsonl"), Win("flat.jsonl")}, 3,
            "- a\\  (1 file, 1 byte)\r\n0 added, 1 removed, 0 changed, 0 moved, 0 unreadable\r\n", "5,000 folders deep"}});
}

TEST(Compare, ChoicesOfTheCatalogueAndHostileNames) {
    ResetFolderUnix(Scratch());
    Shell("mkdir -p tree/.git tree/one/two && cd tree && "
          "f() { printf '%s' \"$2\" > \"$1\" && touch -d '2024-03-01 10:00:00' \"$1\"; } && "
          "f \"$(printf '\\303\\211t\\303\\251.txt')\" summer && f 'a,b \"q\".txt' quoted && "
          "f \"$(printf 'line\\nend.txt')\" broken && f .git/HEAD head && f one/two/deep.txt deep && f one/x.txt x");
    const Args choices = {"--exclude", ".git", "--filter", "*.txt", "--max-depth", "1"};
    Args jsonl = {"-s", "--format", "jsonl", "-o", Win("old.jsonl"), Win("tree")}, csv = jsonl;
    jsonl.insert(jsonl.end(), choices.begin(), choices.end());
    csv[2] = "csv", csv[4] = Win("old.csv");
    csv.insert(csv.end(), choices.begin(), choices.end());
    ASSERT_EQ(0u, Cli(jsonl).code);
    ASSERT_EQ(0u, Cli(csv).code);
    // Changes the catalogues' choices leave out, a case-only rename beyond
    // ASCII and a name with a line end touched.
    Shell("cd tree && touch .git/new one/two/new.txt x.dat && mv \"$(printf '\\303\\211t\\303\\251.txt')\" "
          "\"$(printf '\\303\\251t\\303\\251.txt')\" && touch -d '2024-05-02 11:00:00' \"$(printf 'line\\nend.txt')\"");
    // Paths in the order of their upper case: "L" (0x4C) before "\xC9".
    const std::string changes = "~ line?end.txt  modified 2024-03-01T10:00:00Z -> 2024-05-02T11:00:00Z\r\n"
                                "~ \xC3\xA9t\xC3\xA9.txt  name case \xC3\x89t\xC3\xA9.txt -> \xC3\xA9t\xC3\xA9.txt\r\n"
                                "0 added, 0 removed, 2 changed, 0 moved, 0 unreadable\r\n";
    Args fromCsv = {"--compare", Win("old.csv")};
    fromCsv.insert(fromCsv.end(), choices.begin(), choices.end());
    Check({
        {{"--compare", Win("old.jsonl")}, 3, changes, "JSON Lines: the filter, exclusion and depth it was made with"},
        {fromCsv, 3, changes, "CSV (quoted names, a line end in a name): the choices given again"},
    });
    // A comparison that cannot be written fails, whatever it found.
    Shell("ln -sfn /dev/full full.txt");
    Outcome full = Cli({"--compare", Win("old.jsonl"), "-o", Win("full.txt")});
    EXPECT_EQ(1u, full.code);
    EXPECT_NE(std::string::npos, full.err.find("can't write")) << full.err;
}

// Ctrl+C (a terminal's SIGINT, once the output file exists) during the scan
// of a long tree (100,000 empty files, kept between runs as they take
// seconds to make): exit 130, the incomplete output removed, no message.
TEST(Compare, StopsOnCtrlCLeavingNothing) {
    const std::string big = Scratch() + "-big";
    ASSERT_EQ(0, RunUnix("test -e " + ShellQuote(big) + "/d100/f1000 || { rm -rf " + ShellQuote(big) + " && mkdir -p " +
                         ShellQuote(big) + " && cd " + ShellQuote(big) + " && for d in $(seq 100); do mkdir d$d && "
                         "(cd d$d && seq -f f%g 1000 | xargs touch); done; }"));
    std::string start = UnixToWindows(big), escaped;
    for (char c : start) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    Put("big.jsonl", "{\"format\":\"dirtally-catalogue\",\"formatVersion\":1,\"startFolders\":[\"" + escaped +
                         "\"],\"subfolders\":true,\"hashes\":[]}\n{\"type\":\"totals\"}\n");
    EXPECT_EQ(130, RunUnix("cd " + ShellQuote(Scratch()) + " && rm -f diff.txt && { wine " +
                           ShellQuote(std::getenv("DIRTALLY_CLI_EXE")) + " --compare big.jsonl -o diff.txt >/dev/null "
                           "2>ctrlc.err & p=$!; i=0; while [ ! -e diff.txt ] && [ $i -lt 2000 ]; do sleep 0.005; "
                           "i=$((i+1)); done; kill -INT $p; wait $p; }"));
    EXPECT_FALSE(FileExists(Win("diff.txt"))) << "the incomplete output is removed";
    EXPECT_EQ("", ReadWholeFile(Win("ctrlc.err")));
}
