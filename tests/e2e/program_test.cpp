// dirtally.exe end to end: started as its own process on drive F:, driven
// through its windows as a user would, its listing files compared byte for byte.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "program.h"
#include "resource.h"
#include "support.h"

namespace {

const char TreeFolder[] = "F:\\e2e\\tree";

// A listing file's text from lines separated by '|' ('~' stands for the tree).
std::string Listing(const std::string &lines) {
    std::string text;
    for (char c : lines + "|")
        text += c == '|' ? "\r\n" : c == '~' ? std::string(TreeFolder) : std::string(1, c);
    return text;
}

// F:\e2e afresh, no F:\tree.txt: tree\ (alpha\, Beta\inner.txt, .git\ which is never
// listed, four files with sizes and UTC write times) and out\full.txt -> /dev/full.
void MakeTrees() {
    const char script[] = "rm -rf e2e tree.txt && mkdir -p e2e/out e2e/tree/alpha e2e/tree/Beta"
        " e2e/tree/.git && ln -s /dev/full e2e/out/full.txt && cd e2e/tree && touch Beta/inner.txt"
        " && f() { truncate -s $1 $3 && TZ=UTC touch -d \"$2\" $3; } && f 0 '2002-01-02 10:11:12'"
        " notes && f 1234 '2001-03-07 14:30:15' readme.txt && f 3000 '2000-11-20 08:00' Setup.exe"
        " && f 777 '1999-12-31 23:59' song.mp3";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('f')) + " && " + script), 0);
}

// The listing of the tree with the dialog's starting options.
const char DefaultListing[] = "~|===========||~\\notes        0         1-2-2002    10:11:12|"
                              "~\\readme.txt   1234      3-7-2001    14:30:15|"
                              "~\\Setup.exe    3000      11-20-2000  8:0:0|"
                              "~\\song.mp3     777       12-31-1999  23:59:0||";

// The options a user set before create and the listing they ask for.
const int RunChecks[] = {IDC_INCLUDE_SUBFOLDERS, IDC_SAVE_MAIN_PATH, IDC_SAVE_FOLDER_PATH,
                         IDC_SAVE_DETAILS};
struct RunCase { const char *on; int sortButton; const char *expected, *why; };
const RunCase RunCases[] = {
    {"1100", IDC_SORT_NAME, "tree|===========||~\\ALPHA|~\\BETA|~\\notes|~\\readme.txt|"
     "~\\Setup.exe|~\\song.mp3|||ALPHA|=================||||BETA|================||"
     "~\\BETA\\inner.txt||", "subfolders: folders first, no dot folders, path-long underlines"},
    {"0110", IDC_SORT_EXTENSION, "~|===========||~\\notes|~\\Setup.exe|~\\song.mp3|"
     "~\\readme.txt||", "no details; by extension: none, exe, mp3, txt"},
    {"0010", IDC_SORT_SIZE, "~|===========||notes|song.mp3|readme.txt|Setup.exe||", "by size"},
    {"0010", IDC_SORT_DATE, "~|===========||song.mp3|Setup.exe|readme.txt|notes||", "by date"},
};

// Sets a control's text in the program.
void SetText(const Program &program, int id, const std::string &text) {
    EXPECT_TRUE(program.Send(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

}  // namespace

// One program brought from G:\ to the tree by a drive change and double clicks (into
// Beta and back up). An empty output field asks for the file: a choice is used and
// shown, a cancel writes the proposed \tree.txt at the root. Then one run per row.
TEST(Program, WritesTheListingEachCombinationOfOptionsAsks) {
    MakeTrees();
    Program program("G:\\");
    program.Choose(IDC_DRIVE_COMBO, "F:", CBN_SELCHANGE);
    for (const char *row : {"e2e", "tree", "Beta", "tree"})
        program.Choose(IDC_FOLDER_LIST, row, LBN_DBLCLK);
    for (std::string chosen : {"F:\\e2e\\out\\chosen.txt", ""}) {
        SCOPED_TRACE("save-file dialog answered with '" + chosen + "'");
        SetText(program, IDC_OUTPUT_FILE, "");
        auto answered = std::async(std::launch::async, AnswerSaveDialog, program.Id(), chosen);
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        ASSERT_TRUE(answered.get());
        EXPECT_EQ(WindowText(GetDlgItem(program.dialog, IDC_OUTPUT_FILE)), chosen);
        EXPECT_EQ(ReadWholeFile(chosen.empty() ? "F:\\tree.txt" : chosen), Listing(DefaultListing));
    }
    int serial = 0;
    for (const RunCase &row : RunCases) {
        SCOPED_TRACE(row.why);
        std::string output = "F:\\e2e\\out\\run" + std::to_string(++serial) + ".txt";
        SetText(program, IDC_OUTPUT_FILE, output);
        for (int i = 0; i < 4; ++i) program.Send(RunChecks[i], BM_SETCHECK, row.on[i] == '1', 0);
        ASSERT_TRUE(program.Send(row.sortButton, BM_CLICK, 0, 0));
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        EXPECT_EQ(ReadWholeFile(output), Listing(row.expected));
    }
}

// What goes wrong on create is told in a box, and no file is left; the close box
// then ends the program with 0.
TEST(Program, TellsWhyNothingWasWrittenAndClosesWithZero) {
    MakeTrees();
    struct FailureCase { const char *output, *filter, *message; };
    const FailureCase cases[] = {
        {"F:\\e2e\\out\\nofilter.txt", "", "Empty filter"},
        {"F:\\e2e\\missing\\x.txt", "*.*", "Can't create output file"},  // no such folder
        {"F:\\e2e\\out\\full.txt", "*.*", "Can't write output file"},     // a full disk
    };
    Program program(TreeFolder);
    for (const FailureCase &row : cases) {
        SCOPED_TRACE(row.message);
        BoxAnswerer answerer({IDOK}, program.Id());
        SetText(program, IDC_OUTPUT_FILE, row.output);
        SetText(program, IDC_FILTER, row.filter);
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(answerer.Seen()[0].text, row.message);
        EXPECT_FALSE(FileExists(row.output)) << "no file is left";
    }
    PostMessageA(program.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the platform sends WM_CLOSE
    EXPECT_EQ(program.WaitForExit(10000), 0u) << "the close box";
}

// F:\big, made once: 50,000 empty files, five in each of 100 x 100 subfolders, so that a
// listing with subfolders runs for over a second.
static void MakeBigTree() {
    const char script[] = "[ -e big.done ] || { rm -rf big && mkdir big && cd big"
        " && awk 'BEGIN { for (a = 0; a < 100; a++) for (b = 0; b < 100; b++) print \"d\" a \"/s\" b }'"
        " | xargs mkdir -p && awk 'BEGIN { for (a = 0; a < 100; a++) for (b = 0; b < 100; b++)"
        " for (f = 0; f < 5; f++) print \"d\" a \"/s\" b \"/f\" f \".dat\" }' | xargs touch"
        " && touch ../big.done; }";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('f')) + " && " + script), 0);
}

// The close box and Alt+F4 during a long run: the run stops, nothing is left and the
// program ends with 0.
TEST(Program, ClosingDuringARunStopsItAndExitsWithZero) {
    MakeTrees();
    MakeBigTree();
    struct CloseCase { UINT message; WPARAM wParam; LPARAM lParam; const char *why; };
    const CloseCase cases[] = {
        {WM_SYSCOMMAND, SC_CLOSE, 0, "the close box (the platform sends WM_CLOSE)"},
        {WM_SYSKEYDOWN, VK_F4, 0x203E0001, "Alt+F4 as the keyboard sends it, Alt held"},
    };
    for (const CloseCase &row : cases) {
        SCOPED_TRACE(row.why);
        Program program("F:\\big");
        const std::string output = "F:\\e2e\\out\\closed.txt";
        SetText(program, IDC_OUTPUT_FILE, output);
        program.Send(IDC_INCLUDE_SUBFOLDERS, BM_SETCHECK, BST_CHECKED, 0);
        PostMessageA(GetDlgItem(program.dialog, IDC_CREATE), BM_CLICK, 0, 0);
        std::string title = "Dirtally 1.1";
        for (int waited = 0; title == "Dirtally 1.1" && waited < 10000; waited += 10, Sleep(10))
            title = WindowText(program.dialog);
        EXPECT_NE(title.find(" files in "), std::string::npos) << "under way: " << title;
        PostMessageA(program.dialog, row.message, row.wParam, row.lParam);
        EXPECT_EQ(program.WaitForExit(10000), 0u);
        EXPECT_FALSE(FileExists(output)) << "the incomplete file is removed";
    }
}

// About opens from the system menu, modal, and closes on its button; the exit
// button ends the program with 0.
TEST(Program, OpensAboutAndExitsWithZero) {
    MakeTrees();
    Program program(TreeFolder);
    PostMessageA(program.dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
    HWND about = WaitForDialog(program.Id(), IDC_ABOUT_TEXT, 10000);
    EXPECT_FALSE(IsWindowEnabled(program.dialog)) << "About is modal over the main dialog";
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntilClosed(about, 10000));
    PostMessageA(GetDlgItem(program.dialog, IDC_EXIT), BM_CLICK, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u) << "the exit button";
}
