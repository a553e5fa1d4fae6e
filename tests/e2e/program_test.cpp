// dirtally.exe end to end: started as its own process on drive F:, driven
// through its windows as a user would, its listing files compared byte for
// byte with the listings expected for real trees. Local time is UTC.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "program.h"
#include "support.h"

namespace {

const char TreeFolder[] = "F:\\e2e\\tree";
const char OutFolder[] = "F:\\e2e\\out";

// Lines joined into a listing file: every line, the last included, ends with CR LF.
std::string Listing(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += line + "\r\n";
    return text;
}

// A file with `size` bytes and a last-write time (UTC).
void MakeFile(const std::string &path, size_t size, int year, int month, int day, int hour,
              int minute, int second) {
    WriteWholeFile(path, std::string(size, 'x'));
    SetWriteTimeUtc(path, year, month, day, hour, minute, second);
}

// F:\e2e afresh: the listed tree, an empty output folder, and a small tree
// to walk. Folder times are set after their contents are made.
//   tree\alpha\          (empty)
//   tree\Beta\inner.txt
//   tree\.git\           (dot folders are never listed)
//   tree\notes, readme.txt, Setup.exe, song.mp3
//   walk\A\a.txt, walk\B\b.txt
void MakeTrees() {
    const std::string root = DriveFolderUnix('f') + "/e2e";
    ResetFolderUnix(root);
    ASSERT_EQ(RunUnix("cd " + ShellQuote(root) +
                      " && mkdir -p tree/alpha tree/Beta tree/.git out walk/A walk/B"),
              0);
    const std::string tree = TreeFolder;
    MakeFile(tree + "\\Beta\\inner.txt", 5, 2005, 5, 5, 5, 5, 5);
    MakeFile(tree + "\\readme.txt", 1234, 2001, 3, 7, 14, 30, 15);
    MakeFile(tree + "\\Setup.exe", 3000, 2000, 11, 20, 8, 0, 0);
    MakeFile(tree + "\\notes", 0, 2002, 1, 2, 10, 11, 12);
    MakeFile(tree + "\\song.mp3", 777, 1999, 12, 31, 23, 59, 0);
    SetWriteTimeUtc(tree + "\\alpha", 2003, 4, 5, 6, 7, 8);
    SetWriteTimeUtc(tree + "\\Beta", 2004, 10, 11, 12, 13, 14);
    MakeFile("F:\\e2e\\walk\\A\\a.txt", 1, 2011, 1, 1, 1, 1, 1);
    MakeFile("F:\\e2e\\walk\\B\\b.txt", 22, 2010, 1, 2, 3, 4, 5);
}

// Presses and releases `key` in a dialog of the program; its modal loop
// passes the key to the dialog manager.
void PostKey(HWND dialog, WPARAM key) {
    PostMessageA(dialog, WM_KEYDOWN, key, 1);
    PostMessageA(dialog, WM_KEYUP, key, static_cast<LPARAM>(static_cast<LONG>(0xC0000001u)));
}

std::string OutPath(const std::string &name) { return std::string(OutFolder) + "\\" + name; }

// The listing of the tree with the dialog's starting options.
const std::vector<std::string> DefaultListing = {
    "F:\\e2e\\tree",
    "===========",
    "",
    "F:\\e2e\\tree\\notes        0         1-2-2002    10:11:12",
    "F:\\e2e\\tree\\readme.txt   1234      3-7-2001    14:30:15",
    "F:\\e2e\\tree\\Setup.exe    3000      11-20-2000  8:0:0",
    "F:\\e2e\\tree\\song.mp3     777       12-31-1999  23:59:0",
    "",
    "",
};

// One run of the options table: the state of every option control, the
// filter, and the whole file expected.
struct RunCase {
    bool subfolders, files, mainPath, folderPath, details;
    int sortButton;
    const char *filter;
    std::vector<std::string> expected;
    const char *why;
};

const RunCase RunCases[] = {
    {false, true, true, true, true, IDC_SORT_NAME, "*.*", DefaultListing, "the starting options"},
    {true, true, true, true, true, IDC_SORT_NAME, "*.*",
     {
         "F:\\e2e\\tree",
         "===========",
         "",
         "F:\\e2e\\tree\\ALPHA        DIR       4-5-2003    6:7:8",
         "F:\\e2e\\tree\\BETA         DIR       10-11-2004  12:13:14",
         "F:\\e2e\\tree\\notes        0         1-2-2002    10:11:12",
         "F:\\e2e\\tree\\readme.txt   1234      3-7-2001    14:30:15",
         "F:\\e2e\\tree\\Setup.exe    3000      11-20-2000  8:0:0",
         "F:\\e2e\\tree\\song.mp3     777       12-31-1999  23:59:0",
         "",
         "",
         "F:\\e2e\\tree\\ALPHA",
         "=================",
         "",
         "",
         "",
         "F:\\e2e\\tree\\BETA",
         "================",
         "",
         "F:\\e2e\\tree\\BETA\\inner.txt   5         5-5-2005    5:5:5",
         "",
         "",
     },
     "subfolders: folders first, then a block per folder, dot folders left out"},
    {true, false, false, true, false, IDC_SORT_NAME, "*.*",
     {
         "F:\\e2e\\tree",
         "===========",
         "",
         "ALPHA",
         "BETA",
         "",
         "",
         "F:\\e2e\\tree\\ALPHA",
         "=================",
         "",
         "",
         "",
         "F:\\e2e\\tree\\BETA",
         "================",
         "",
         "",
         "",
     },
     "folders only"},
    {false, false, true, true, true, IDC_SORT_NAME, "*.*",
     {"F:\\e2e\\tree", "===========", "", "", ""},
     "neither folders nor files: an empty block"},
    {false, true, false, true, true, IDC_SORT_NAME, "*.*",
     {
         "F:\\e2e\\tree",
         "===========",
         "",
         "notes         0         1-2-2002    10:11:12",
         "readme.txt    1234      3-7-2001    14:30:15",
         "Setup.exe     3000      11-20-2000  8:0:0",
         "song.mp3      777       12-31-1999  23:59:0",
         "",
         "",
     },
     "no path on the lines"},
    {true, true, false, false, false, IDC_SORT_NAME, "*.*",
     {
         "tree",
         "===========",
         "",
         "ALPHA",
         "BETA",
         "notes",
         "readme.txt",
         "Setup.exe",
         "song.mp3",
         "",
         "",
         "ALPHA",
         "=================",
         "",
         "",
         "",
         "BETA",
         "================",
         "",
         "inner.txt",
         "",
         "",
     },
     "headings of the last component, underlined as long as the full path"},
    {false, true, true, true, false, IDC_SORT_NAME, "*.*",
     {
         "F:\\e2e\\tree",
         "===========",
         "",
         "F:\\e2e\\tree\\notes",
         "F:\\e2e\\tree\\readme.txt",
         "F:\\e2e\\tree\\Setup.exe",
         "F:\\e2e\\tree\\song.mp3",
         "",
         "",
     },
     "no details"},
    {false, true, false, true, false, IDC_SORT_EXTENSION, "*.*",
     {"F:\\e2e\\tree", "===========", "", "notes", "Setup.exe", "song.mp3", "readme.txt", "", ""},
     "by extension: none, exe, mp3, txt"},
    {false, true, false, true, false, IDC_SORT_SIZE, "*.*",
     {"F:\\e2e\\tree", "===========", "", "notes", "song.mp3", "readme.txt", "Setup.exe", "", ""},
     "by size: 0, 777, 1234, 3000"},
    {false, true, false, true, false, IDC_SORT_DATE, "*.*",
     {"F:\\e2e\\tree", "===========", "", "song.mp3", "Setup.exe", "readme.txt", "notes", "", ""},
     "by date: 1999, 2000, 2001, 2002"},
    {true, true, false, true, false, IDC_SORT_NAME, "*.txt",
     {
         "F:\\e2e\\tree",
         "===========",
         "",
         "ALPHA",
         "BETA",
         "readme.txt",
         "",
         "",
         "F:\\e2e\\tree\\ALPHA",
         "=================",
         "",
         "",
         "",
         "F:\\e2e\\tree\\BETA",
         "================",
         "",
         "inner.txt",
         "",
         "",
     },
     "the filter picks files only, in every folder"},
    {false, true, true, true, true, IDC_SORT_NAME, "   ",
     {"F:\\e2e\\tree", "===========", "", "", ""},
     "a filter of spaces is not empty: the run goes ahead and matches nothing"},
};

}  // namespace

// One program, one run per row, each to its own file: every create command
// reads every control again.
TEST(Program, WritesTheListingEachCombinationOfOptionsAsks) {
    MakeTrees();
    Program program(TreeFolder);
    ASSERT_TRUE(program.Dialog());
    int serial = 0;
    for (const RunCase &row : RunCases) {
        SCOPED_TRACE(row.why);
        std::string output = OutPath("run" + std::to_string(++serial) + ".txt");
        program.SetText(IDC_OUTPUT_FILE, output);
        program.SetText(IDC_FILTER, row.filter);
        program.SetCheck(IDC_INCLUDE_SUBFOLDERS, row.subfolders);
        program.SetCheck(IDC_INCLUDE_FILES, row.files);
        program.SetCheck(IDC_SAVE_MAIN_PATH, row.mainPath);
        program.SetCheck(IDC_SAVE_FOLDER_PATH, row.folderPath);
        program.SetCheck(IDC_SAVE_DETAILS, row.details);
        ASSERT_TRUE(program.Click(row.sortButton));
        ASSERT_TRUE(program.Click(IDC_CREATE)) << "the run ends";
        EXPECT_EQ(ReadWholeFile(output), Listing(row.expected));
    }
    EXPECT_EQ(program.Text(IDC_FILTER), "   ") << "the controls keep their contents";
}

// The drop-down and the folder list choose the folder that is listed: a
// refused drive change keeps the folder, a drive change goes to the root,
// and double clicks walk down and back up.
TEST(Program, ListsTheFolderChosenWithTheDriveAndTheFolderList) {
    MakeTrees();
    Program program("G:\\");
    ASSERT_TRUE(program.Dialog());
    EXPECT_EQ(program.SelectedDrive().substr(0, 2), "G:") << "the starting directory's drive";
    {
        BoxAnswerer answerer({IDCANCEL}, program.ProcessId());
        program.ChooseDrive('N');
        ASSERT_TRUE(answerer.WaitFor(1, 5000));
        EXPECT_EQ(answerer.Seen()[0].text, "Drive N:\\ is not ready");
        EXPECT_EQ(answerer.Seen()[0].caption, "Dirtally 1.1");
    }
    EXPECT_EQ(program.SelectedDrive().substr(0, 2), "G:") << "a cancelled change goes back";
    EXPECT_EQ(program.Rows().at(0), "G:") << "the list shows the unchanged folder";

    program.ChooseDrive('F');
    EXPECT_EQ(program.SelectedDrive().substr(0, 2), "F:");
    program.OpenRow("e2e");
    program.OpenRow("walk");
    program.OpenRow("A");
    std::vector<std::string> inA = {"F:", "e2e", "walk", "A"};
    EXPECT_EQ(program.Rows(), inA) << "down into A, which has no subfolders";
    program.OpenRow("walk");
    program.SelectRow("A");
    std::vector<std::string> inWalk = {"F:", "e2e", "walk", "A", "B"};
    EXPECT_EQ(program.Rows(), inWalk) << "back up in walk; a single click only selects";
    program.OpenRow("B");

    std::string output = OutPath("walk.txt");
    program.SetText(IDC_OUTPUT_FILE, output);
    ASSERT_TRUE(program.Click(IDC_CREATE));
    EXPECT_EQ(ReadWholeFile(output), Listing({
                                         "F:\\e2e\\walk\\B",
                                         "=============",
                                         "",
                                         "F:\\e2e\\walk\\B\\b.txt   22        1-2-2010    3:4:5",
                                         "",
                                         "",
                                     }));
}

// What can go wrong on create is told in a box; nothing is left behind, and
// the dialog goes on working.
TEST(Program, TellsWhyNothingWasWritten) {
    MakeTrees();
    std::string fullDisk = OutPath("full.txt");
    ASSERT_EQ(RunUnix("ln -sfn /dev/full " + ShellQuote(DriveFolderUnix('f') + "/e2e/out/full.txt")),
              0);
    struct FailureCase { std::string output, filter, message; const char *why; };
    const FailureCase cases[] = {
        {OutPath("nofilter.txt"), "", "Empty filter", "an empty filter stops the command"},
        {"F:\\e2e\\missing\\x.txt", "*.*", "Can't create output file", "a missing output folder"},
        {fullDisk, "*.*", "Can't write output file", "a full disk"},
    };
    Program program(TreeFolder);
    ASSERT_TRUE(program.Dialog());
    for (const FailureCase &row : cases) {
        SCOPED_TRACE(row.why);
        BoxAnswerer answerer({IDOK}, program.ProcessId());
        program.SetText(IDC_OUTPUT_FILE, row.output);
        program.SetText(IDC_FILTER, row.filter);
        ASSERT_TRUE(program.Click(IDC_CREATE)) << "the command ends once the box is answered";
        std::vector<SeenBox> seen = answerer.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, row.message);
        EXPECT_EQ(seen[0].caption, "Dirtally 1.1");
        EXPECT_FALSE(FileExists(row.output)) << "no file is left";
    }
    std::string output = OutPath("after.txt");
    program.SetText(IDC_OUTPUT_FILE, output);
    program.SetText(IDC_FILTER, "*.*");
    ASSERT_TRUE(program.Click(IDC_CREATE));
    EXPECT_EQ(ReadWholeFile(output), Listing(DefaultListing));
}

// The browse button fills the output field from the save-file dialog and
// writes nothing; an existing file is only taken after a question.
TEST(Program, BrowseButtonPutsTheChosenPathIntoTheOutputField) {
    MakeTrees();
    Program program(TreeFolder);
    ASSERT_TRUE(program.Dialog());
    std::string chosen = OutPath("chosen.txt");
    {
        SaveDialogAnswerer answerer(program.ProcessId(), chosen);
        ASSERT_TRUE(program.Click(IDC_BROWSE));
        EXPECT_TRUE(answerer.Answered());
        EXPECT_EQ(answerer.Offered(), "tree.txt") << "the folder's name is proposed";
    }
    EXPECT_EQ(program.Text(IDC_OUTPUT_FILE), chosen);
    EXPECT_FALSE(FileExists(chosen)) << "nothing is written before create";
    {
        SaveDialogAnswerer answerer(program.ProcessId(), "");
        ASSERT_TRUE(program.Click(IDC_BROWSE));
        EXPECT_TRUE(answerer.Answered());
    }
    EXPECT_EQ(program.Text(IDC_OUTPUT_FILE), chosen) << "a cancel changes nothing";

    std::string existing = OutPath("existing.txt");
    WriteWholeFile(existing, "old");
    {
        BoxAnswerer boxes({IDYES}, program.ProcessId());
        SaveDialogAnswerer answerer(program.ProcessId(), existing);
        ASSERT_TRUE(program.Click(IDC_BROWSE));
        EXPECT_TRUE(answerer.Answered());
        EXPECT_EQ(boxes.Seen().size(), 1u) << "asked whether to replace the existing file";
    }
    EXPECT_EQ(program.Text(IDC_OUTPUT_FILE), existing);
    EXPECT_EQ(ReadWholeFile(existing), "old");

    ASSERT_TRUE(program.Click(IDC_CREATE));
    EXPECT_EQ(ReadWholeFile(existing), Listing(DefaultListing)) << "replaced on create";
}

// Create with an empty output field asks for the file first: a confirmed
// choice is used and shown; a cancel goes on with the proposed name, which
// begins with a backslash and so lands at the root of the current drive.
TEST(Program, CreateWithAnEmptyOutputFieldAsksForTheFileFirst) {
    MakeTrees();
    Program program(TreeFolder);
    ASSERT_TRUE(program.Dialog());

    std::string chosen = OutPath("fromcreate.txt");
    {
        SaveDialogAnswerer answerer(program.ProcessId(), chosen);
        ASSERT_TRUE(program.Click(IDC_CREATE));
        EXPECT_TRUE(answerer.Answered());
    }
    EXPECT_EQ(program.Text(IDC_OUTPUT_FILE), chosen);
    EXPECT_EQ(ReadWholeFile(chosen), Listing(DefaultListing));

    program.SetText(IDC_OUTPUT_FILE, "");
    const std::string proposed = "F:\\tree.txt";
    DeleteFileA(proposed.c_str());
    {
        SaveDialogAnswerer answerer(program.ProcessId(), "");
        ASSERT_TRUE(program.Click(IDC_CREATE));
        EXPECT_TRUE(answerer.Answered());
    }
    EXPECT_EQ(program.Text(IDC_OUTPUT_FILE), "") << "a cancel leaves the field empty";
    EXPECT_EQ(ReadWholeFile(proposed), Listing(DefaultListing));
    DeleteFileA(proposed.c_str());

    std::string unused = OutPath("nofilter.txt");
    program.SetText(IDC_FILTER, "");
    {
        BoxAnswerer boxes({IDOK}, program.ProcessId());
        SaveDialogAnswerer answerer(program.ProcessId(), unused);
        ASSERT_TRUE(program.Click(IDC_CREATE));
        EXPECT_TRUE(answerer.Answered());
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].text, "Empty filter") << "the filter is checked after the choice";
    }
    EXPECT_EQ(program.Text(IDC_OUTPUT_FILE), unused) << "the choice is kept";
    EXPECT_FALSE(FileExists(unused));
}

// A folder whose name fills the 259 characters of a path under the drive
// root leaves no room for ".txt": no name is proposed, and a cancelled save-
// file dialog leaves create nothing to write to.
TEST(Program, ProposesNoNameWhenTheFoldersNameWouldNotFit) {
    MakeTrees();
    const std::string name(255, 'n');
    ASSERT_EQ(RunUnix("mkdir -p " + ShellQuote(DriveFolderUnix('f') + "/" + name)), 0);
    Program program("F:\\" + name);
    ASSERT_TRUE(program.Dialog());
    BoxAnswerer boxes({IDOK}, program.ProcessId());
    {
        SaveDialogAnswerer answerer(program.ProcessId(), "");
        ASSERT_TRUE(program.Click(IDC_CREATE));
        EXPECT_TRUE(answerer.Answered());
        EXPECT_EQ(answerer.Offered(), "");
    }
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "Can't create output file");
    RunUnix("rmdir " + ShellQuote(DriveFolderUnix('f') + "/" + name));
}

// The About dialog opens from the system menu over a disabled main dialog,
// any number of times; the exit button ends the program with exit code 0.
TEST(Program, OpensAboutAndEndsOnTheExitButton) {
    MakeTrees();
    Program program(TreeFolder);
    ASSERT_TRUE(program.Dialog());
    enum Closing { ByButton, ByCloseBox, ByEnter };
    for (Closing closing : {ByButton, ByCloseBox, ByEnter}) {
        SCOPED_TRACE(closing == ByButton     ? "closed by its button"
                     : closing == ByCloseBox ? "closed by its close box"
                                             : "closed by Enter, not by Escape");
        PostMessageA(program.Dialog(), WM_SYSCOMMAND, IDM_ABOUT, 0);
        HWND about = WaitForDialog(program.ProcessId(), IDC_ABOUT_TEXT, 10000);
        ASSERT_TRUE(about);
        EXPECT_EQ(GetWindow(about, GW_OWNER), program.Dialog());
        EXPECT_FALSE(IsWindowEnabled(program.Dialog())) << "modal over the main dialog";
        if (closing == ByButton) PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
        if (closing == ByCloseBox) PostMessageA(about, WM_CLOSE, 0, 0);
        if (closing == ByEnter) {
            PostKey(about, VK_ESCAPE);
            EXPECT_FALSE(WaitUntilClosed(about, 300)) << "Escape leaves it open";
            PostKey(about, VK_RETURN);
        }
        EXPECT_TRUE(WaitUntilClosed(about, 10000));
        for (int waited = 0; waited < 5000 && !IsWindowEnabled(program.Dialog()); waited += 10)
            Sleep(10);
        EXPECT_TRUE(IsWindowEnabled(program.Dialog()));
    }
    PostMessageA(program.Item(IDC_EXIT), BM_CLICK, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}

TEST(Program, EndsOnTheCloseBoxWithExitCodeZero) {
    MakeTrees();
    Program program(TreeFolder);
    ASSERT_TRUE(program.Dialog());
    PostMessageA(program.Dialog(), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}
