// The listing engine on real trees under D:, whole files compared byte for
// byte, and the entry ordering against a plain exchange sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdlib.h>

#include "format.h"
#include "listing.h"
#include "names.h"
#include "scan.h"
#include "support.h"

// Empties D:\<name>, runs `commands` there in Linux; `f SIZE 'TIME' NAME` makes a file written at a UTC TIME.
static std::string Tree(const std::string &name, const std::string &commands) {
    std::string folder = DriveFolderUnix('d') + "/" + name;
    ResetFolderUnix(folder);
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(folder) + " && f() { truncate -s \"$1\" \"$3\" && "
                         "TZ=UTC touch -d \"$2\" \"$3\"; } && " + commands));
    return "D:\\" + name;
}

// One folder block: heading, underline as long as the full path, blank, entries, two blanks; CR LF each.
static std::string Block(const std::string &heading, size_t pathLength, const std::vector<std::string> &entries) {
    std::string out = heading + "\r\n" + std::string(pathLength, '=') + "\r\n\r\n";
    for (const std::string &entry : entries) out += entry + "\r\n";
    return out + "\r\n\r\n";
}

// Runs WriteListing into a file off drive D: and returns its bytes.
static std::string List(const std::string &start, const char *filter, const ListingOptions &options) {
    std::string output = UnixToWindows(DriveFolderUnix('d') + "-listing.txt");
    DeleteFileA(output.c_str());
    WriteListing(output.c_str(), start.c_str(), filter, options);
    return ReadWholeFile(output);
}

const ListingOptions kNames = {true, true, SortByName, false, false, false};  // names alone: a tree's shape

struct OptionCase { ListingOptions options; std::string expected; const char *why; };

TEST(WriteListing, WorkedExampleAndItsOptions) {
    std::string tree = Tree("ARCHIVE", "mkdir Docs 'Old Stuff' && f 1234 '2001-03-07 14:30:15' readme.txt && "
                        "f 1048576 '2000-11-20 08:00:00' Setup.exe && f 0 '2002-01-02 10:11:12' notes && "
                        "TZ=UTC touch -d '2001-03-07 09:05:03' Docs && TZ=UTC touch -d '1999-12-31 23:59' 'Old Stuff'");
    const std::string below = Block("DOCS", 15, {}) + Block("OLD STUFF", 20, {});
    const std::vector<std::string> details = {
        "DOCS          DIR       3-7-2001    9:5:3", "OLD STUFF     DIR       12-31-1999  23:59:0",
        "notes         0         1-2-2002    10:11:12", "readme.txt    1234      3-7-2001    14:30:15",
        "Setup.exe     1048576   11-20-2000  8:0:0"};
    const OptionCase cases[] = {
        {{true, true, SortByName, false, false, true}, Block("ARCHIVE", 10, details) + below, "the worked example, 20 lines"},
        {{true, true, SortByName, false, true, true}, Block("D:\\ARCHIVE", 10, details) + Block("D:\\ARCHIVE\\DOCS", 15, {}) +
                                                           Block("D:\\ARCHIVE\\OLD STUFF", 20, {}), "full paths in headings"},
        {{true, true, SortByName, true, false, true},
         Block("ARCHIVE", 10, {"D:\\ARCHIVE\\DOCS         DIR       3-7-2001    9:5:3",
                               "D:\\ARCHIVE\\OLD STUFF    DIR       12-31-1999  23:59:0",
                               "D:\\ARCHIVE\\notes        0         1-2-2002    10:11:12",
                               "D:\\ARCHIVE\\readme.txt   1234      3-7-2001    14:30:15",
                               "D:\\ARCHIVE\\Setup.exe    1048576   11-20-2000  8:0:0"}) + below,
         "the path on each line widens the name column by the path alone"},
        {{true, true, SortBySize, false, false, false},
         Block("ARCHIVE", 10, {"DOCS", "OLD STUFF", "notes", "readme.txt", "Setup.exe"}) + below,
         "details off: names alone; by size"},
        {{false, true, SortByExtension, false, false, false},
         Block("ARCHIVE", 10, {"notes", "Setup.exe", "readme.txt"}), "files only, one block; by extension"},
        {{true, false, SortByDate, false, false, false}, Block("ARCHIVE", 10, {"DOCS", "OLD STUFF"}) + below,
         "folders only: a block for each"},
        {{false, false, SortByName, false, false, true}, Block("ARCHIVE", 10, {}), "neither: an empty block"},
    };
    for (const OptionCase &c : cases) { SCOPED_TRACE(c.why); EXPECT_EQ(List(tree, "*.*", c.options), c.expected); }
}

struct KeyCase { int key; std::vector<std::string> names; const char *why; };

TEST(WriteListing, SortKeysTiesAndNameCorners) {
    // Wine enumerates by the uppercased name (AB, A_B, BA.H, B_X.Z.H, ...);
    // the ordering folds to lower case, so the two orders differ.
    std::string tree = Tree("keys", "mkdir zDir _dir && f 30 2001-03-05 A_B && f 20 2001-03-04 AB && "
                            "f 10 2001-03-03 Zeta.c && f 10 2001-03-03 _tmp.C && f 40 2001-03-02 notes.txt && "
                            "f 40 2001-03-01 notes && f 0 2001-03-09 \"$(printf '\\303\\251t\\303\\251.txt')\" && "
                            "f 7 2001-03-06 bA.h && f 7 2001-03-06 b_x.z.h");
    const KeyCase cases[] = {
        {SortByName, {"_tmp.C", "A_B", "AB", "b_x.z.h", "bA.h", "notes", "notes.txt", "Zeta.c", "\xE9t\xE9.txt"},
         "A_B before AB, Zeta after bA, notes before notes.txt, 0x80 and up after ASCII"},
        {SortByExtension, {"AB", "A_B", "notes", "Zeta.c", "_tmp.C", "bA.h", "b_x.z.h", "notes.txt", "\xE9t\xE9.txt"},
         "no extension first; the last dot starts it; equal extensions keep scan order"},
        {SortBySize, {"\xE9t\xE9.txt", "bA.h", "b_x.z.h", "Zeta.c", "_tmp.C", "AB", "A_B", "notes", "notes.txt"},
         "by size; ties keep scan order"},
        {SortByDate, {"notes", "notes.txt", "Zeta.c", "_tmp.C", "AB", "A_B", "bA.h", "b_x.z.h", "\xE9t\xE9.txt"},
         "by date; ties keep scan order"},
        {0, {"AB", "A_B", "bA.h", "b_x.z.h", "notes", "notes.txt", "Zeta.c", "_tmp.C", "\xE9t\xE9.txt"},
         "a key outside 1..4: scan order"},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::string> entries = {"_DIR", "ZDIR"};
        entries.insert(entries.end(), c.names.begin(), c.names.end());
        EXPECT_EQ(List(tree, "*.*", {true, true, c.key, false, false, false}),
                  Block("keys", 7, entries) + Block("_DIR", 12, {}) + Block("ZDIR", 12, {}));
    }
}

// Whether `a` must follow `b` in the exchange sort the ordering must match, the keys written out anew.
static bool Follows(const FolderEntry *a, const FolderEntry *b, int key) {
    if (a->isFolder != b->isFolder) return b->isFolder;
    if (a->isFolder || key == 1) return CompareNamesNoCase(a->name, b->name) > 0;
    if (key == 2) return CompareNamesNoCase(a->name + a->extensionOffset, b->name + b->extensionOffset) > 0;
    if (key == 3) return a->size > b->size;
    return key == 4 && CompareFileTime(&a->lastWriteTime, &b->lastWriteTime) > 0;
}

static int allocationsLeft = 0;
static void *FewAllocations(size_t bytes) { return allocationsLeft-- > 0 ? malloc(bytes) : nullptr; }

TEST(OrderEntries, MatchesAnExchangeSortOnRandomLists) {
    std::mt19937 random(20261206);
    const char *pieces[] = {"a", "B", "_", "b.", ".x", "\xE9", "Z", "txt", "."};
    for (int round = 0; round < 300; ++round) {
        int key = static_cast<int>(random() % 7) - 1;  // the four keys and three others
        SCOPED_TRACE("round " + std::to_string(round) + " key " + std::to_string(key));
        std::vector<FolderEntry *> scanned, got;
        for (size_t count = random() % 40; count > 0; --count) {
            std::string name;
            for (size_t n = 1 + random() % 4; n > 0; --n) name += pieces[random() % 9];
            bool folder = random() % 3 == 0;
            auto *e = static_cast<FolderEntry *>(calloc(1, EntryBytes(folder, name.size())));
            e->isFolder = folder ? 1 : 0;
            name.copy(e->name, name.size());  // calloc left the terminator
            size_t dot = name.rfind('.');
            e->extensionOffset = folder ? 0 : static_cast<int>(dot == std::string::npos ? name.size() : dot + 1);
            // Few distinct sizes and times, so that ties are common; sizes pass 32 bits.
            e->size = (random() % 4) * 1500000000ull;
            e->lastWriteTime.dwHighDateTime = static_cast<DWORD>(random() % 3);
            if (!scanned.empty()) scanned.back()->next = e;
            scanned.push_back(e);
        }
        std::vector<FolderEntry *> expected = scanned;
        for (bool swapped = true; swapped;) {
            swapped = false;
            for (size_t i = 0; i + 1 < expected.size(); ++i)
                if (Follows(expected[i], expected[i + 1], key)) std::swap(expected[i], expected[i + 1]), swapped = true;
        }
        if (round % 5 == 0) { allocationsLeft = 0; SetEntryAllocator(FewAllocations); }  // no scratch array
        for (FolderEntry *e = OrderEntries(scanned.empty() ? nullptr : scanned[0], key); e; e = e->next) got.push_back(e);
        SetEntryAllocator(nullptr);
        EXPECT_EQ(got, expected);
        FreeEntryList(got.empty() ? nullptr : got[0]);
    }
}

TEST(WriteListing, SizesKeepAll64BitsUnsigned) {
    std::string tree = Tree("big", "for s in 5000000000:five 3000000000:three 4294967296:four 0:empty; do "
                                   "f ${s%:*} '2020-01-01 00:00' ${s#*:}; done");
    EXPECT_EQ(List(tree, "*.*", {false, true, SortBySize, false, false, true}),
              Block("big", 6, {"empty    0         1-1-2020    0:0:0", "three    3000000000 1-1-2020    0:0:0",
                               "four     4294967296 1-1-2020    0:0:0", "five     5000000000 1-1-2020    0:0:0"}));
}

struct FilterCase { const char *filter; ListingOptions options; std::string expected; const char *why; };

TEST(WriteListing, DriveRootDotNamesAndTheFilter) {
    std::string root = Tree("", "mkdir -p Jazz/Live Rock .git/objects sub.txt && touch .profile a.txt b.doc Jazz/x.txt");
    const ListingOptions paths = {true, true, SortByName, true, false, false};
    const std::string all = Block("D:\\", 3, {"D:\\JAZZ", "D:\\ROCK", "D:\\SUB.TXT", "D:\\.profile", "D:\\a.txt", "D:\\b.doc"}) +
                            Block("JAZZ", 7, {"D:\\JAZZ\\LIVE", "D:\\JAZZ\\x.txt"}) + Block("LIVE", 12, {}) +
                            Block("ROCK", 7, {}) + Block("SUB.TXT", 10, {});
    const FilterCase cases[] = {
        {"*.*", paths, all, "a root gets no second backslash; dot-folders skipped, dot-files kept"},
        {"?*", paths, all, "every name again, enumerated in two passes: the same bytes"},
        {"*.txt", kNames, Block("D:\\", 3, {"JAZZ", "ROCK", "SUB.TXT", "a.txt"}) + Block("JAZZ", 7, {"LIVE", "x.txt"}) +
                              Block("LIVE", 12, {}) + Block("ROCK", 7, {}) + Block("SUB.TXT", 10, {}),
         "the filter applies to files only; a folder matching it is listed once"},
    };
    for (const FilterCase &c : cases) { SCOPED_TRACE(c.why); EXPECT_EQ(List(root, c.filter, c.options), c.expected); }
}

TEST(WriteListing, RelativeOutputPathsMissingFoldersAndTheCurrentDirectoryAfter) {
    std::string tree = Tree("cwd", "mkdir -p a b/Deep && touch b/Deep/f");
    ASSERT_TRUE(SetCurrentDirectoryA((tree + "\\a").c_str()));
    BoxAnswerer answerer;
    EXPECT_EQ(WriteListing("D:\\cwd\\missing\\out.txt", "D:\\", "*.*", kNames), ListingNotCreated);
    EXPECT_EQ(CurrentDirectory(), tree + "\\a") << "nothing was scanned";
    EXPECT_FALSE(FileExists(tree + "\\missing"));
    // A relative name is resolved where the current directory stands when the run starts.
    EXPECT_EQ(WriteListing("out.txt", tree.c_str(), "*.*", kNames), ListingComplete);
    EXPECT_EQ(ReadWholeFile(tree + "\\a\\out.txt"), Block("cwd", 6, {"A", "B"}) + Block("A", 8, {"out.txt"}) +
                                                        Block("B", 8, {"DEEP"}) + Block("DEEP", 13, {"f"}));
    EXPECT_EQ(CurrentDirectory(), tree + "\\b\\Deep");  // the last folder scanned, entered as enumerated
    EXPECT_FALSE(answerer.WaitFor(1, 300)) << "the engine tells its caller and shows nothing";
}

// A shell word for a UTF-8 name: bytes from 0x80 up cannot cross the ANSI command line, so printf makes them.
static std::string Word(const std::string &utf8) {
    std::string out = "\"$(printf '";
    for (unsigned char c : utf8) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\" + std::to_string(c >> 6) +
                                                   std::to_string((c >> 3) & 7) + std::to_string(c & 7);
    return out + "')\"";
}

// The names FindFirstFileA gives for the files of `folder`, in the listing's name order.
static std::vector<std::string> AnsiFileNames(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    do if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::stable_sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return CompareNamesNoCase(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

TEST(WriteListing, NamesAreWrittenAsTheAnsiCallsGiveThemAndEveryFolderIsReachedByItsRealName) {
    ASSERT_EQ(1252u, GetACP()) << "the test run sets LANG=C.UTF-8, which Wine reads as code page 1252";
    // Latin Extended (best fit or "?"), Greek, Cyrillic, Hebrew, CJK, symbols (some in 1252),
    // an emoji (a surrogate pair), Latin-1 (kept): byte for byte what the ANSI calls give.
    std::string commands = "true";
    for (const char *name : {"ĀāŁł Ǻ.txt", "Ωμέγα.doc", "Привет", "שלום.txt", "日本語.mp3", "€ ™ • … ♫", "smile 😀.png",
                             "café naïve.txt"})
        commands += " && touch " + Word(name);
    std::string tree = Tree("scripts", commands);
    EXPECT_EQ(List(tree, "*.*", {false, true, SortByName, false, false, false}), Block("scripts", 10, AnsiFileNames(tree)));
    // Two siblings both become "???" and keep their enumeration order (中 before 日); each is entered
    // by its real name. café is raised by the ASCII rule alone.
    tree = Tree("intl", "mkdir -p " + Word("日本語/深い") + " " + Word("中文字") + " " + Word("Привет") + " " + Word("café") +
                            " && touch " + Word("日本語/a.txt") + " " + Word("中文字/b.txt") + " " + Word("Привет/файл.txt") +
                            " " + Word("café/x") + " " + Word("日本語/深い/z"));
    EXPECT_EQ(List(tree, "*.*", {true, true, SortByName, false, true, false}),
              Block("D:\\intl", 7, {"???", "???", "??????", "CAF\xE9"}) + Block("D:\\intl\\???", 11, {"b.txt"}) +
                  Block("D:\\intl\\???", 11, {"??", "a.txt"}) + Block("D:\\intl\\???\\??", 14, {"z"}) +
                  Block("D:\\intl\\??????", 14, {"????.txt"}) + Block("D:\\intl\\CAF\xE9", 12, {"x"}));
    // A Linux name that is not UTF-8 arrives mangled ("BAD?"), and names ending in a dot or a
    // space are cut by the Windows path rules: only the long form of the real name reaches them.
    tree = Tree("closed", "mkdir \"$(printf 'bad\\377')\" end end. 'sp ' && touch \"$(printf 'bad\\377')/f\" end/plain "
                          "end./dot 'sp /space'");
    EXPECT_EQ(List(tree, "*.*", kNames), Block("closed", 9, {"BAD?", "END", "END.", "SP "}) + Block("BAD?", 14, {"f"}) +
                                             Block("END", 13, {"plain"}) + Block("END.", 14, {"dot"}) + Block("SP ", 13, {"space"}));
    EXPECT_EQ(List("N:\\", "*.*", kNames), Block("N:\\", 3, {})) << "a start folder on a drive that is not ready";
}

TEST(WriteListing, DeepTreesGetEveryBlockWithLinesUncut) {
    // Twenty levels of 49 letters: paths pass 1,000 characters; files at three depths.
    std::string unixPath = ".", path = "D:\\deep", commands = "true", expected;
    for (int i = 0; i < 20; ++i) {
        unixPath += "/" + std::string(49, static_cast<char>('a' + i));
        std::string child = path + "\\" + std::string(49, static_cast<char>('A' + i));
        std::vector<std::string> entries = {child};
        if (i == 5 || i == 13) {
            commands += " && mkdir -p " + unixPath + " && touch " + unixPath + "/../f";
            entries.push_back(path + "\\f");
        }
        expected += Block(path, path.size(), entries);
        path = child;
    }
    std::string tree = Tree("deep", commands + " && mkdir -p " + unixPath + " && touch " + unixPath + "/f");
    expected += Block(path, 1007, {path + "\\f"});
    EXPECT_EQ(List(tree, "*.*", {true, true, SortByName, true, true, false}), expected);
    SetCurrentDirectoryA("D:\\");  // Wine cannot start a process from a deep current directory
}

TEST(WriteListing, LinksBackIntoTheTreeAreNotFollowed) {
    std::string tree = Tree("loop", "mkdir -p A/B C && ln -s .. A/B/up && ln -s ../C A/toC");
    const ListingOptions full = {true, true, SortByName, false, true, false};
    // UP leads back to A: listed, no block; TOC to a sibling, listed like any folder. Followed, UP
    // would repeat the tree to the path limit, and with two such links the next case would never end.
    ASSERT_EQ(List(tree, "*.*", full),
              Block("D:\\loop", 7, {"A", "C"}) + Block("D:\\loop\\A", 9, {"B", "TOC"}) +
                  Block("D:\\loop\\A\\B", 11, {"UP"}) + Block("D:\\loop\\A\\TOC", 13, {}) + Block("D:\\loop\\C", 9, {}));
    ASSERT_EQ(0, RunUnix("ln -s . " + ShellQuote(DriveFolderUnix('d') + "/loop/A/B/self")));
    const std::string fromB = Block("D:\\loop\\A\\B", 11, {"SELF", "UP"}) + Block("D:\\loop\\A\\B\\UP", 14, {"B", "TOC"}) +
                              Block("D:\\loop\\A\\B\\UP\\TOC", 18, {});
    // Two links in B; from B, UP leads above the start: followed once, and its B is the start again.
    // A check that holds only most of the time is no check: 200 runs, not one miss.
    for (int round = 0; round < 200; ++round) ASSERT_EQ(List(tree + "\\A\\B", "*.*", full), fromB) << "round " << round;
}

TEST(WriteListing, MountsLeadingBackAreNotEnteredAndEqualIdsOnOtherVolumesAre) {
    std::string base = DriveFolderUnix('d') + "/mounts", umount = "cd " + ShellQuote(base) +
        " 2>/dev/null && for m in roots/one/two roots/one bind/A/B; do umount $m 2>/dev/null; done; true";
    RunUnix(umount);
    std::string tree = Tree("mounts", "mkdir -p bind/A/B roots/one && touch bind/A/f");
    if (RunUnix("cd " + ShellQuote(base) + " && mount --bind bind/A bind/A/B 2>/dev/null") != 0)
        GTEST_SKIP() << "mounting is refused here (needs root and a mount namespace that allows it)";
    const ListingOptions full = {true, true, SortByName, false, true, false};
    // A folder mounted into itself is the same folder again: listed, not entered.
    EXPECT_EQ(List(tree + "\\bind", "*.*", full),
              Block("D:\\mounts\\bind", 14, {"A"}) + Block("D:\\mounts\\bind\\A", 16, {"B", "f"}));
    // Two file systems whose roots have the same file id, one inside the other: both entered.
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(base) + "/roots && mount -t tmpfs -o size=64k tmpfs one && mkdir one/two && "
                         "mount -t tmpfs -o size=64k tmpfs one/two && touch one/x one/two/y"));
    EXPECT_EQ(List(tree + "\\roots", "*.*", full),
              Block("D:\\mounts\\roots", 15, {"ONE"}) + Block("D:\\mounts\\roots\\ONE", 19, {"TWO", "x"}) +
                  Block("D:\\mounts\\roots\\ONE\\TWO", 23, {"y"}));
    SetCurrentDirectoryA("D:\\");
    RunUnix(umount);
}

// Writes that report success with at most `writeLimit` bytes (none at 0); or that ask the run to stop.
static DWORD writeLimit = 0;
static int writesSeen = 0;
static ListingProgress *stopOnWrite = nullptr;
static BOOL WINAPI TestWrite(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
    ++writesSeen;
    if (stopOnWrite) stopOnWrite->cancel = true;
    else if (writeLimit == 0) return *written = 0, TRUE;
    else bytes = bytes < writeLimit ? bytes : writeLimit;
    return WriteFile(file, data, bytes, written, overlapped);
}

enum StopCause { DevFull, OutOfMemory, ZeroWrite, Cancel, SmallDisk };

TEST(RunListing, FailedWriteAllocationOrStopRequestEndsTheRunAndRemovesTheFile) {
    std::string tree = Tree("stop", "mkdir A Z out && cd A && seq -f 'file-%05g-with-a-rather-long-name.txt' 3000 | xargs touch");
    std::string out = DriveFolderUnix('d') + "/stop/out";
    std::vector<std::string> names(3000);
    for (size_t i = 0; i < names.size(); ++i)
        names[i] = "file-" + std::to_string(100001 + i).substr(1) + "-with-a-rather-long-name.txt";
    // Unbroken, A's block outgrows the write buffer twice over and comes out whole, also when
    // every write takes only part of what it is given (the rest is written after).
    const std::string whole = Block("stop", 7, {"A", "OUT", "Z"}) + Block("A", 9, names) + Block("OUT", 11, {}) + Block("Z", 9, {});
    EXPECT_EQ(List(tree, "*.*", kNames), whole);
    writeLimit = 1000;
    SetOutputWriter(TestWrite);
    EXPECT_EQ(List(tree, "*.*", kNames), whole);
    const char *const why[] = {"every write fails (a link to /dev/full)", "memory runs out: no partial listing",
                               "a write succeeds and takes nothing", "asked to stop: nothing written after",
                               "a 16 KiB file system fills up part way"};
    for (StopCause cause : {DevFull, OutOfMemory, ZeroWrite, Cancel, SmallDisk}) {
        SCOPED_TRACE(why[cause]);
        ResetFolderUnix(out);
        ASSERT_EQ(0, cause == DevFull ? RunUnix("ln -s /dev/full " + ShellQuote(out + "/out.txt")) : 0);
        if (cause == SmallDisk && RunUnix("mount -t tmpfs -o size=16k tmpfs " + ShellQuote(out)) != 0)
            GTEST_SKIP() << "mounting a small file system needs root";
        ASSERT_TRUE(SetCurrentDirectoryA((tree + "\\out").c_str()));
        BoxAnswerer answerer;
        allocationsLeft = 2000;  // enough for the top folder, not for A
        SetEntryAllocator(cause == OutOfMemory ? FewAllocations : nullptr);
        ListingProgress progress;
        writeLimit = 0;
        writesSeen = 0;
        stopOnWrite = cause == Cancel ? &progress : nullptr;
        SetOutputWriter(cause == ZeroWrite || cause == Cancel ? TestWrite : nullptr);
        std::wstring start = WidenAnsi(tree.c_str());
        ListingRequest request;
        request.outputPath = L"out.txt";
        request.startFolder = start.c_str();
        request.options = {true, true, SortByName, false, false, true};
        request.progress = &progress;
        EXPECT_EQ(RunListing(request).outcome, cause == Cancel ? ListingCancelled : ListingNotWritten);
        SetEntryAllocator(nullptr);
        SetOutputWriter(nullptr);
        EXPECT_EQ(CurrentDirectory(), tree + "\\A");  // the run stopped in A: Z was never scanned
        EXPECT_TRUE(cause != Cancel || writesSeen == 1) << "nothing is written after the request, not even the rest of A";
        SetCurrentDirectoryA("D:\\");
        // Wine cannot remove a link to a device, so that case checks the rest.
        EXPECT_TRUE(cause == DevFull || RunUnix("test ! -e " + ShellQuote(out + "/out.txt")) == 0);
        if (cause == SmallDisk) RunUnix("umount " + ShellQuote(out));
        EXPECT_FALSE(answerer.WaitFor(1, 300)) << "the engine tells its caller and shows nothing";
    }
}

// Where the test program runs again under another time zone.
static const char kZoneChild[] = "DIRTALLY_ZONE_CHILD";

TEST(WriteListing, TimesAreShownInTheLocalZone) {
    if (!getenv(kZoneChild)) {
        // The test run pins TZ=UTC; this runs the same case 5:45 ahead of UTC, without summer
        // time (POSIX form: no zone database needed). Wine takes the zone from the Linux
        // environment a program starts in, so the child starts from the Linux side.
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string unixSelf = std::string(self).substr(2);  // the test programs run from Z:
        for (char &c : unixSelf) c = c == '\\' ? '/' : c;
        EXPECT_EQ(0, RunUnix("TZ=NPT-5:45 " + std::string(kZoneChild) + "=1 wine " + ShellQuote(unixSelf) +
                             " --gtest_filter=WriteListing.TimesAreShownInTheLocalZone >/dev/null 2>&1"))
            << "the listing 5:45 ahead of UTC differs (run the case with TZ=NPT-5:45 " << kZoneChild << "=1 to see how)";
        return;
    }
    std::string tree = Tree("zone", "f 5 '2001-03-07 20:30:15' late && f 6 '1999-12-31 12:00:00' noon");
    EXPECT_EQ(List(tree, "*.*", {false, true, SortByName, false, false, true}),
              Block("zone", 7, {"late    5         3-8-2001    2:15:15", "noon    6         12-31-1999  17:45:0"}));
}

