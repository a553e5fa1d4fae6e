// The listing run on real trees: whole files compared byte for byte.
#include <gtest/gtest.h>

#include "listing_support.h"
#include "support.h"

// The tree of the worked example: D:\ARCHIVE with two empty folders and three files.
static std::string MakeArchive() {
    std::string tree = FreshTree("ARCHIVE");
    MakeFolder(tree + "\\Docs");
    MakeFolder(tree + "\\Old Stuff");
    MakeFile(tree + "\\readme.txt", 1234, 2001, 3, 7, 14, 30, 15);
    MakeFile(tree + "\\Setup.exe", 1048576, 2000, 11, 20, 8, 0, 0);
    MakeFile(tree + "\\notes", 0, 2002, 1, 2, 10, 11, 12);
    SetWriteTimeUtc(tree + "\\Docs", 2001, 3, 7, 9, 5, 3);
    SetWriteTimeUtc(tree + "\\Old Stuff", 1999, 12, 31, 23, 59, 0);
    return tree;
}

struct ExampleCase { ListingOptions options; std::vector<std::string> lines; const char *why; };

TEST(WriteListing, WorkedExampleAndItsOptions) {
    std::string tree = MakeArchive();
    const std::vector<std::string> docs = {"DOCS", std::string(15, '='), "", "", ""};
    const std::vector<std::string> old = {"OLD STUFF", std::string(20, '='), "", "", ""};
    const ExampleCase cases[] = {
        {Options(true, true, 1, false, false, true),
         {"ARCHIVE", "==========", "",
          "DOCS          DIR       3-7-2001    9:5:3",
          "OLD STUFF     DIR       12-31-1999  23:59:0",
          "notes         0         1-2-2002    10:11:12",
          "readme.txt    1234      3-7-2001    14:30:15",
          "Setup.exe     1048576   11-20-2000  8:0:0", "", "",
          "DOCS", std::string(15, '='), "", "", "", "OLD STUFF", std::string(20, '='), "", "", ""},
         "the worked example"},
        {Options(true, true, 1, true, true, true),
         {"D:\\ARCHIVE", "==========", "",
          "D:\\ARCHIVE\\DOCS         DIR       3-7-2001    9:5:3",
          "D:\\ARCHIVE\\OLD STUFF    DIR       12-31-1999  23:59:0",
          "D:\\ARCHIVE\\notes        0         1-2-2002    10:11:12",
          "D:\\ARCHIVE\\readme.txt   1234      3-7-2001    14:30:15",
          "D:\\ARCHIVE\\Setup.exe    1048576   11-20-2000  8:0:0", "", "",
          "D:\\ARCHIVE\\DOCS", std::string(15, '='), "", "", "",
          "D:\\ARCHIVE\\OLD STUFF", std::string(20, '='), "", "", ""},
         "full headings and the path on each line"},
        {Options(true, true, 3, false, false, false),
         {"ARCHIVE", "==========", "", "DOCS", "OLD STUFF", "notes", "readme.txt", "Setup.exe", "", "",
          "DOCS", std::string(15, '='), "", "", "", "OLD STUFF", std::string(20, '='), "", "", ""},
         "no details: names alone; by size"},
        {Options(false, true, 2, false, false, false),
         {"ARCHIVE", "==========", "", "notes", "Setup.exe", "readme.txt", "", ""},
         "files only, one block; by extension"},
        {Options(true, false, 4, false, false, false),
         {"ARCHIVE", "==========", "", "DOCS", "OLD STUFF", "", "",
          "DOCS", std::string(15, '='), "", "", "", "OLD STUFF", std::string(20, '='), "", "", ""},
         "folders only: a block for each"},
        {Options(false, false, 1, false, false, true), {"ARCHIVE", "==========", "", "", ""},
         "neither: an empty block"},
    };
    for (const ExampleCase &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ListTree(tree, "*.*", c.options), Lines(c.lines));
    }
}

struct KeyCase { int key; std::vector<std::string> names; const char *why; };

TEST(WriteListing, SortKeysAndTies) {
    std::string tree = FreshTree("keys");
    // Wine enumerates by the uppercased name (AB, A_B, BA.H, B_X.H, ZETA.C, _TMP.C, ...);
    // the ordering folds to lower case, so the two orders differ.
    struct { const char *name; size_t size; int day; } files[] = {
        {"A_B", 30, 5}, {"AB", 20, 4}, {"Zeta.c", 10, 3}, {"_tmp.C", 10, 3},
        {"notes.txt", 40, 2}, {"notes", 40, 1}, {"\xE9t\xE9.txt", 0, 9}, {"bA.h", 7, 6}, {"b_x.h", 7, 6}};
    for (const auto &f : files) MakeFile(tree + "\\" + f.name, f.size, 2001, 3, f.day, 0, 0, 0);
    MakeFolder(tree + "\\zDir");
    MakeFolder(tree + "\\_dir");
    const KeyCase cases[] = {
        {1, {"_tmp.C", "A_B", "AB", "b_x.h", "bA.h", "notes", "notes.txt", "Zeta.c", "\xE9t\xE9.txt"}, "by name"},
        {2, {"AB", "A_B", "notes", "Zeta.c", "_tmp.C", "bA.h", "b_x.h", "notes.txt", "\xE9t\xE9.txt"},
         "no extension first; equal extensions keep scan order"},
        {3, {"\xE9t\xE9.txt", "bA.h", "b_x.h", "Zeta.c", "_tmp.C", "AB", "A_B", "notes", "notes.txt"},
         "by size; ties keep scan order"},
        {4, {"notes", "notes.txt", "Zeta.c", "_tmp.C", "AB", "A_B", "bA.h", "b_x.h", "\xE9t\xE9.txt"}, "by date"},
        {0, {"AB", "A_B", "bA.h", "b_x.h", "notes", "notes.txt", "Zeta.c", "_tmp.C", "\xE9t\xE9.txt"},
         "another key: scan order"},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::string> lines = {"keys", std::string(7, '='), "", "_DIR", "ZDIR"};
        lines.insert(lines.end(), c.names.begin(), c.names.end());
        lines.insert(lines.end(), {"", ""});
        std::string listing = ListTree(tree, "*.*", Options(true, true, c.key, false, false, false));
        EXPECT_EQ(listing.substr(0, Lines(lines).size()), Lines(lines));
    }
}

// Names of blocks and entries, no details: the shape of a listing.
static std::vector<std::string> Block(const std::string &heading, size_t pathLength,
                                      const std::vector<std::string> &entries) {
    std::vector<std::string> lines = {heading, std::string(pathLength, '='), ""};
    lines.insert(lines.end(), entries.begin(), entries.end());
    lines.insert(lines.end(), {"", ""});
    return lines;
}

static std::string Blocks(const std::vector<std::vector<std::string>> &blocks) {
    std::string out;
    for (const auto &block : blocks) out += Lines(block);
    return out;
}

TEST(WriteListing, DriveRootDotNamesAndFilter) {
    ResetFolderUnix(DriveFolderUnix('d'));
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(DriveFolderUnix('d')) +
                         " && mkdir -p Jazz/Live Rock .git/objects sub.txt && touch .profile a.txt b.doc Jazz/x.txt"));
    SCOPED_TRACE("a root gets no second backslash; dot-folders skipped, dot-files kept");
    EXPECT_EQ(ListTree("D:\\", "*.*", Options(true, true, 1, true, false, false)),
              Blocks({Block("D:\\", 3, {"D:\\JAZZ", "D:\\ROCK", "D:\\SUB.TXT", "D:\\.profile", "D:\\a.txt", "D:\\b.doc"}),
                      Block("JAZZ", 7, {"D:\\JAZZ\\LIVE", "D:\\JAZZ\\x.txt"}), Block("LIVE", 12, {}),
                      Block("ROCK", 7, {}), Block("SUB.TXT", 10, {})}));
    SCOPED_TRACE("the filter applies to files only; a folder matching it is listed once");
    EXPECT_EQ(ListTree("D:\\", "*.txt", Options(true, true, 1, false, false, false)),
              Blocks({Block("D:\\", 3, {"JAZZ", "ROCK", "SUB.TXT", "a.txt"}), Block("JAZZ", 7, {"LIVE", "x.txt"}),
                      Block("LIVE", 12, {}), Block("ROCK", 7, {}), Block("SUB.TXT", 10, {})}));
}

TEST(WriteListing, OnePassAndTwoPassesListTheSame) {
    std::string tree = FreshTree("passes");
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) + " && mkdir -p 'Sub Dir/x.y' .hid Inner && "
                         "touch README readme.TXT '.dot' 'a.b.c' 'Sub Dir/n' 'Inner/Z_z' 'Inner/z.Z' 'x y.txt'"));
    ListingOptions all = Options(true, true, 2, true, true, true);
    std::string onePass = ListTree(tree, "*.*", all);
    // "?*" matches every name too, but goes through the separate passes.
    EXPECT_EQ(ListTree(tree, "?*", all), onePass);
    EXPECT_EQ(ListTree(tree, "*", all), onePass);
    EXPECT_NE(onePass.find("D:\\passes\\INNER\\Z_z"), std::string::npos);
    EXPECT_NE(onePass.find("D:\\passes\\README"), std::string::npos);
}

TEST(WriteListing, LargeFilesKeepAll64Bits) {
    std::string tree = FreshTree("big");
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) + " && truncate -s 5000000000 five && "
                         "truncate -s 3000000000 three && truncate -s 4294967296 four && touch empty"));
    for (const char *name : {"five", "three", "four", "empty"})
        SetWriteTimeUtc(tree + "\\" + name, 2020, 1, 1, 0, 0, 0);
    EXPECT_EQ(ListTree(tree, "*.*", Options(false, true, 3, false, false, true)),
              Lines({"big", "======", "",
                     "empty    0         1-1-2020    0:0:0",
                     "three    3000000000 1-1-2020    0:0:0",
                     "four     4294967296 1-1-2020    0:0:0",
                     "five     5000000000 1-1-2020    0:0:0", "", ""}));
}

TEST(WriteListing, LinksBackIntoTheTreeAreNotFollowed) {
    std::string tree = FreshTree("loop");
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) +
                         " && mkdir -p A/B C && ln -s .. A/B/up && ln -s . A/B/self && ln -s ../C A/toC"));
    // UP and SELF lead to folders being reported: listed, no block. TOC leads
    // to a sibling, which is listed again like any folder.
    EXPECT_EQ(ListTree(tree, "*.*", Options(true, true, 1, false, true, false)),
              Blocks({Block("D:\\loop", 7, {"A", "C"}), Block("D:\\loop\\A", 9, {"B", "TOC"}),
                      Block("D:\\loop\\A\\B", 11, {"SELF", "UP"}), Block("D:\\loop\\A\\TOC", 13, {}),
                      Block("D:\\loop\\C", 9, {})}));
    SCOPED_TRACE("from B, UP leads above the start: followed once, and its B is the start again");
    EXPECT_EQ(ListTree(tree + "\\A\\B", "*.*", Options(true, true, 1, false, true, false)),
              Blocks({Block("D:\\loop\\A\\B", 11, {"SELF", "UP"}), Block("D:\\loop\\A\\B\\UP", 14, {"B", "TOC"}),
                      Block("D:\\loop\\A\\B\\UP\\TOC", 18, {})}));
}

TEST(WriteListing, SubfolderPathsPast259CharactersGetNoBlock) {
    std::string tree = FreshTree("long");
    std::string a(200, 'a'), b(51, 'b'), c(50, 'c');
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) + " && mkdir -p " + a + "/" + b + "/deep " + a + "/" + c));
    std::string upperA(200, 'A'), upperB(51, 'B'), upperC(50, 'C');
    // D:\long\A... is 208 characters: with B... it would be 260, with C... exactly 259.
    EXPECT_EQ(ListTree(tree, "*.*", Options(true, true, 1, false, false, false)),
              Blocks({Block("long", 7, {upperA}), Block(upperA, 208, {upperB, upperC}), Block(upperC, 259, {})}));
    // Wine cannot start a process from a 259-character current directory.
    SetCurrentDirectoryA("D:\\");
}

TEST(WriteListing, FoldersThatCannotBeEnteredGetAnEmptyBlock) {
    // Running as root, Wine enters even a folder with mode 000. A Linux name
    // that is not UTF-8 arrives mangled ("BAD?"), and no folder has that name.
    std::string tree = FreshTree("closed");
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) + " && bad=$(printf 'bad\\377') && mkdir \"$bad\" && touch \"$bad/f\""));
    EXPECT_EQ(ListTree(tree, "*.*", Options(true, true, 1, false, false, false)),
              Blocks({Block("closed", 9, {"BAD?"}), Block("BAD?", 14, {})}));
    SCOPED_TRACE("a start folder on a drive that is not ready");
    EXPECT_EQ(ListTree("N:\\", "*.*", Options(true, true, 1, false, false, false)), Blocks({Block("N:\\", 3, {})}));
}

TEST(WriteListing, RelativeOutputInsideTheTreeAndTheCurrentDirectoryAfter) {
    std::string tree = FreshTree("cwd");
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) + " && mkdir -p a b/Deep && touch b/Deep/f"));
    ASSERT_TRUE(SetCurrentDirectoryA((tree + "\\a").c_str()));
    // The relative name is resolved where the current directory stands now.
    WriteListing("out.txt", tree.c_str(), "*.*", Options(true, true, 1, false, false, false));
    EXPECT_EQ(ReadWholeFile(tree + "\\a\\out.txt"),
              Blocks({Block("cwd", 6, {"A", "B"}), Block("A", 8, {"out.txt"}), Block("B", 8, {"DEEP"}),
                      Block("DEEP", 13, {"f"})}));
    // Left in the last folder scanned, entered by its name as enumerated.
    EXPECT_EQ(CurrentDirectory(), tree + "\\b\\Deep");
}

TEST(WriteListing, OutputThatCannotBeCreated) {
    std::string tree = FreshTree("nocreate");
    ASSERT_TRUE(SetCurrentDirectoryA(tree.c_str()));
    BoxAnswerer answerer;
    WriteListing("D:\\nocreate\\missing\\out.txt", "D:\\", "*.*", Options(true, true, 1, false, false, false));
    ASSERT_TRUE(answerer.WaitFor(1, 5000));
    EXPECT_EQ(answerer.Seen()[0].caption, "Dirtally 1.1");
    EXPECT_EQ(answerer.Seen()[0].text, "Can't create output file");
    EXPECT_FALSE(FileExists(tree + "\\missing"));
    EXPECT_EQ(CurrentDirectory(), tree);  // nothing was scanned
}

enum StopCause { DevFull, SmallDisk, NoMemory };
struct StopCase { StopCause cause; const char *why; };
static int allocationsLeft = 0;
static void *FewAllocations(size_t bytes) { return allocationsLeft-- > 0 ? malloc(bytes) : nullptr; }

TEST(WriteListing, FailedWriteOrAllocationStopsAndRemovesTheFile) {
    std::string tree = FreshTree("stop");
    std::string out = OnLinux(tree) + "/out";
    // A's block alone is larger than the program's write buffer.
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(OnLinux(tree)) + " && mkdir -p A Z out && cd A && "
                         "seq -f 'file-%05g-with-a-rather-long-name.txt' 3000 | xargs touch"));
    const StopCase cases[] = {
        {DevFull, "every write fails (a link to /dev/full)"},
        {SmallDisk, "a 16 KiB file system fills up part way"},
        {NoMemory, "memory runs out"},
    };
    for (const StopCase &c : cases) {
        SCOPED_TRACE(c.why);
        ResetFolderUnix(out);
        if (c.cause == DevFull) {
            ASSERT_EQ(0, RunUnix("ln -s /dev/full " + ShellQuote(out + "/out.txt")));
        }
        // Mounting needs root; where it is refused this case has nothing to show.
        if (c.cause == SmallDisk && RunUnix("mount -t tmpfs -o size=16k tmpfs " + ShellQuote(out)) != 0) continue;
        ASSERT_TRUE(SetCurrentDirectoryA((tree + "\\out").c_str()));
        BoxAnswerer answerer;
        allocationsLeft = 2000;
        if (c.cause == NoMemory) SetEntryAllocator(FewAllocations);
        WriteListing("out.txt", tree.c_str(), "*.*", Options(true, true, 1, false, false, true));
        SetEntryAllocator(nullptr);
        ASSERT_TRUE(answerer.WaitFor(1, 5000));
        EXPECT_EQ(answerer.Seen()[0].caption, "Dirtally 1.1");
        EXPECT_EQ(answerer.Seen()[0].text, "Can't write output file");
        // Wine cannot remove a link to a device, so that case checks the rest.
        if (c.cause != DevFull) {
            EXPECT_EQ(0, RunUnix("test ! -e " + ShellQuote(out + "/out.txt")));
        }
        // The run stopped in A: Z was never scanned.
        EXPECT_EQ(CurrentDirectory(), tree + "\\A");
        SetCurrentDirectoryA("D:\\");
        if (c.cause == SmallDisk) RunUnix("umount " + ShellQuote(out));
    }
}
