// dirtally.exe end to end: started as its own process on drive F:, driven
// through its windows as a user would, its listing files compared byte for
// byte with the listings expected for a real tree. Local time is UTC.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "program.h"
#include "resource.h"
#include "support.h"

namespace {

const char TreeFolder[] = "F:\\e2e\\tree";

// Lines joined into a listing file: every line ends with CR LF.
std::string Listing(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += line + "\r\n";
    return text;
}

// F:\e2e afresh: tree\ (alpha\, Beta\inner.txt, .git\ which is never listed, four
// files) and out\ holding full.txt, a link to /dev/full. Sizes and UTC write
// times are set on the Linux side, folders' times after their contents.
void MakeTrees() {
    const std::string root = DriveFolderUnix('f') + "/e2e";
    ResetFolderUnix(root);
    ASSERT_EQ(RunUnix("cd " + ShellQuote(root) + " && export TZ=UTC && mkdir -p out tree/alpha"
                      " tree/Beta tree/.git && ln -s /dev/full out/full.txt && cd tree"
                      " && f() { truncate -s $1 $3 && touch -d \"$2\" $3; }"
                      " && f 5 '2005-05-05 05:05:05' Beta/inner.txt && f 0 '2002-01-02 10:11:12'"
                      " notes && f 1234 '2001-03-07 14:30:15' readme.txt"
                      " && f 3000 '2000-11-20 08:00' Setup.exe && f 777 '1999-12-31 23:59' song.mp3"
                      " && touch -d '2003-04-05 06:07:08' alpha"
                      " && touch -d '2004-10-11 12:13:14' Beta"), 0);
}

// The listing of the tree with the dialog's starting options.
const std::vector<std::string> DefaultListing = {
    "F:\\e2e\\tree", "===========", "",
    "F:\\e2e\\tree\\notes        0         1-2-2002    10:11:12",
    "F:\\e2e\\tree\\readme.txt   1234      3-7-2001    14:30:15",
    "F:\\e2e\\tree\\Setup.exe    3000      11-20-2000  8:0:0",
    "F:\\e2e\\tree\\song.mp3     777       12-31-1999  23:59:0", "", ""};

// A create command with the options a user set and what it must write.
const int RunChecks[] = {IDC_INCLUDE_SUBFOLDERS, IDC_SAVE_MAIN_PATH, IDC_SAVE_FOLDER_PATH,
                         IDC_SAVE_DETAILS};
struct RunCase {
    bool checks[4];  // the RunChecks in order
    int sortButton;
    std::vector<std::string> expected;
    const char *why;
};
const RunCase RunCases[] = {
    {{false, true, true, true}, IDC_SORT_NAME, DefaultListing, "the starting options"},
    {{true, true, false, false}, IDC_SORT_NAME,
     {"tree", "===========", "", "F:\\e2e\\tree\\ALPHA", "F:\\e2e\\tree\\BETA",
      "F:\\e2e\\tree\\notes", "F:\\e2e\\tree\\readme.txt", "F:\\e2e\\tree\\Setup.exe",
      "F:\\e2e\\tree\\song.mp3", "", "", "ALPHA", "=================", "", "", "", "BETA",
      "================", "", "F:\\e2e\\tree\\BETA\\inner.txt", "", ""},
     "subfolders, no details: folders first, a block per folder, no dot folders, headings of "
     "the last component underlined to the full path's length"},
    {{false, true, true, false}, IDC_SORT_EXTENSION,
     {"F:\\e2e\\tree", "===========", "", "F:\\e2e\\tree\\notes", "F:\\e2e\\tree\\Setup.exe",
      "F:\\e2e\\tree\\song.mp3", "F:\\e2e\\tree\\readme.txt", "", ""},
     "no details; by extension: none, exe, mp3, txt"},
    {{false, false, true, false}, IDC_SORT_SIZE,
     {"F:\\e2e\\tree", "===========", "", "notes", "song.mp3", "readme.txt", "Setup.exe", "", ""},
     "by size: 0, 777, 1234, 3000"},
    {{false, false, true, false}, IDC_SORT_DATE,
     {"F:\\e2e\\tree", "===========", "", "song.mp3", "Setup.exe", "readme.txt", "notes", "", ""},
     "by date: 1999, 2000, 2001, 2002"},
};

// Sets a control's text in the program.
void SetText(const Program &program, int id, const std::string &text) {
    EXPECT_TRUE(program.Send(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

// Presses create while the save-file dialog is answered with `fileName`.
void CreateThroughSaveDialog(const Program &program, const std::string &fileName) {
    auto answered = std::async(std::launch::async, AnswerSaveDialog, program.Id(), fileName);
    ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
    EXPECT_TRUE(answered.get()) << "the save-file dialog came and was answered";
}

}  // namespace

// One program started on G:\, brought to the tree by a drive change and
// double clicks (down into Beta and back up); then one run per row, each to
// its own file: every create command reads every control again.
TEST(Program, WritesTheListingEachCombinationOfOptionsAsks) {
    MakeTrees();
    Program program("G:\\");
    program.Choose(IDC_DRIVE_COMBO, "F:", CBN_SELCHANGE);
    for (const char *row : {"e2e", "tree", "Beta", "tree"})
        program.Choose(IDC_FOLDER_LIST, row, LBN_DBLCLK);
    int serial = 0;
    for (const RunCase &row : RunCases) {
        SCOPED_TRACE(row.why);
        std::string output = "F:\\e2e\\out\\run" + std::to_string(++serial) + ".txt";
        SetText(program, IDC_OUTPUT_FILE, output);
        for (int i = 0; i < 4; ++i) program.Send(RunChecks[i], BM_SETCHECK, row.checks[i], 0);
        ASSERT_TRUE(program.Send(row.sortButton, BM_CLICK, 0, 0));
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        EXPECT_EQ(ReadWholeFile(output), Listing(row.expected));
    }
}

// What goes wrong on create is told in a box, and no file is left.
TEST(Program, TellsWhyNothingWasWritten) {
    MakeTrees();
    struct FailureCase { const char *output, *filter, *message, *why; };
    const FailureCase cases[] = {
        {"F:\\e2e\\out\\nofilter.txt", "", "Empty filter", "an empty filter stops the command"},
        {"F:\\e2e\\missing\\x.txt", "*.*", "Can't create output file", "a missing folder"},
        {"F:\\e2e\\out\\full.txt", "*.*", "Can't write output file", "a full disk"},
    };
    Program program(TreeFolder);
    for (const FailureCase &row : cases) {
        SCOPED_TRACE(row.why);
        BoxAnswerer answerer({IDOK}, program.Id());
        SetText(program, IDC_OUTPUT_FILE, row.output);
        SetText(program, IDC_FILTER, row.filter);
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(answerer.Seen()[0].text, row.message);
        EXPECT_FALSE(FileExists(row.output)) << "no file is left";
    }
}

// Create with an empty output field asks for the file first: a confirmed
// choice is used and shown; a cancel goes on with the proposed \tree.txt,
// at the root of the current drive.
TEST(Program, CreateWithAnEmptyOutputFieldAsksForTheFileFirst) {
    MakeTrees();
    DeleteFileA("F:\\tree.txt");
    Program program(TreeFolder);
    const std::string chosen = "F:\\e2e\\out\\chosen.txt";
    CreateThroughSaveDialog(program, chosen);
    EXPECT_EQ(WindowText(GetDlgItem(program.Dialog(), IDC_OUTPUT_FILE)), chosen);
    EXPECT_EQ(ReadWholeFile(chosen), Listing(DefaultListing));

    SetText(program, IDC_OUTPUT_FILE, "");
    CreateThroughSaveDialog(program, "");
    EXPECT_EQ(ReadWholeFile("F:\\tree.txt"), Listing(DefaultListing));
    DeleteFileA("F:\\tree.txt");
}

// The close box ends the program with 0; so does the exit button, after About
// has opened from the system menu, modal, and closed on its button.
TEST(Program, OpensAboutAndEndsWithExitCodeZero) {
    MakeTrees();
    Program closed(TreeFolder);
    PostMessageA(closed.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);  // the platform sends WM_CLOSE
    EXPECT_EQ(closed.WaitForExit(10000), 0u) << "the close box";
    Program program(TreeFolder);
    PostMessageA(program.Dialog(), WM_SYSCOMMAND, IDM_ABOUT, 0);
    HWND about = WaitForDialog(program.Id(), IDC_ABOUT_TEXT, 10000);
    EXPECT_FALSE(IsWindowEnabled(program.Dialog())) << "About is modal over the main dialog";
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntilClosed(about, 10000));
    PostMessageA(GetDlgItem(program.Dialog(), IDC_EXIT), BM_CLICK, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u) << "the exit button";
}
