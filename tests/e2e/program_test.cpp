// dirtally.exe end to end: started as its own process on drive F:, driven
// through its windows as a user would, its listing files compared byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

#include "resource.h"
#include "support.h"

namespace {

// Polls `done` every 10 ms for up to 15 s; whether it came true.
template <typename Done> bool WaitUntil(Done done) {
    for (int waited = 0; !done(); waited += 10, Sleep(10))
        if (waited > 15000) return false;
    return true;
}

// Waits for a visible window of process `pid` with a child `childId`; null when none came.
HWND WaitForDialog(DWORD pid, int childId) {
    HWND w = nullptr;
    WaitUntil([&] {
        for (w = FindWindowExA(nullptr, nullptr, nullptr, nullptr); w; w = FindWindowExA(nullptr, w, nullptr, nullptr)) {
            DWORD owner = 0;
            if (GetWindowThreadProcessId(w, &owner) && owner == pid && IsWindowVisible(w) && GetDlgItem(w, childId)) break;
        }
        return w != nullptr;
    });
    return w;
}

// A dirtally.exe (env DIRTALLY_EXE) started in a folder, and its main dialog; ended when the test is.
struct Program {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
    explicit Program(const std::string &folder) {
        std::string path = UnixToWindows(std::getenv("DIRTALLY_EXE") ? std::getenv("DIRTALLY_EXE") : "");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
            dialog = WaitForDialog(process.dwProcessId, IDC_CREATE);
        EXPECT_TRUE(dialog) << "the main dialog of " << path << " in " << folder;
    }
    ~Program() {
        TerminateProcess(process.hProcess, 1);  // fails harmlessly once it has ended
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    // Sends `message` to control `id` (0: the dialog) and waits for it; false on a timeout.
    bool Send(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
        DWORD_PTR result = 0;
        HWND window = id ? GetDlgItem(dialog, id) : dialog;
        return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 30000, &result) != 0;
    }
};

// Answers the save-file dialog of `pid` with `fileName` in its name box (cmb13), or Cancel when
// it is empty; true when the dialog came and closed.
bool AnswerSaveDialog(DWORD pid, std::string fileName) {
    HWND dialog = WaitForDialog(pid, 0x47C);
    int button = fileName.empty() ? IDCANCEL : IDOK;
    SetDlgItemTextA(dialog, 0x47C, fileName.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(dialog, button)));
    return dialog && WaitUntil([&] { return !IsWindowVisible(dialog); });
}

// A listing file's text from lines separated by '|' ('~' stands for the tree).
std::string Listing(const std::string &lines) {
    std::string text;
    for (char c : lines + "|") text += c == '|' ? "\r\n" : c == '~' ? std::string("F:\\e2e\\tree") : std::string(1, c);
    return text;
}

// F:\e2e afresh, no F:\tree.txt: tree\ (alpha\, Beta\inner.txt, .git\ which is never listed,
// four files with sizes and UTC write times) and out\; F:\big, made once: 50,000 empty files,
// five in each of 100 x 100 subfolders, so that a listing with subfolders runs over a second.
void MakeTrees() {
    const char script[] = "rm -rf e2e tree.txt && mkdir -p e2e/out e2e/tree/alpha e2e/tree/Beta e2e/tree/.git"
        " && (cd e2e/tree && touch Beta/inner.txt && f() { truncate -s $1 $3 && TZ=UTC touch -d \"$2\" $3; }"
        " && f 0 '2002-01-02 10:11:12' notes && f 1234 '2001-03-07 14:30:15' readme.txt"
        " && f 3000 '2000-11-20 08:00' Setup.exe && f 777 '1999-12-31 23:59' song.mp3) && { [ -e big.done ] ||"
        " bash -c 'rm -rf big && for a in {0..99}; do mkdir -p big/d$a/s{0..99} && touch big/d$a/s{0..99}/f{0..4}.dat;"
        " done && touch big.done'; }";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('f')) + " && " + script), 0);
}

}  // namespace

// One program brought from G:\ to the tree by a drive change and double clicks (into Beta and
// back up), then one run per row of options (subfolders, path on each line, full path heading,
// details) and sort button. An empty output field asks for the file in the save-file dialog.
TEST(Program, WritesTheListingEachCombinationOfOptionsAsks) {
    MakeTrees();
    Program program("G:\\");
    for (const char *step : {"F:", "e2e", "tree", "Beta", "tree"}) {
        const bool drive = step[1] == ':';
        HWND control = GetDlgItem(program.dialog, drive ? IDC_DRIVE_COMBO : IDC_FOLDER_LIST);
        EXPECT_TRUE(SendMessageA(control, drive ? CB_SELECTSTRING : LB_SELECTSTRING, ~WPARAM(0), LPARAM(step)) >= 0 &&
                    program.Send(0, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), drive ? CBN_SELCHANGE : LBN_DBLCLK),
                                 LPARAM(control))) << step;
    }
    const char Defaults[] = "~|===========||~\\notes        0         1-2-2002    10:11:12|"
                            "~\\readme.txt   1234      3-7-2001    14:30:15|~\\Setup.exe    3000      11-20-2000  8:0:0|"
                            "~\\song.mp3     777       12-31-1999  23:59:0||";
    const int checks[] = {IDC_INCLUDE_SUBFOLDERS, IDC_SAVE_MAIN_PATH, IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS};
    // answer: the save-file dialog's answer ("": cancel), null when the output field names F:\e2e\out\run<n>.txt.
    const struct { const char *answer, *on; int sortButton; const char *expected, *why; } cases[] = {
        {"F:\\e2e\\out\\chosen.txt", "0111", IDC_SORT_NAME, Defaults, "the starting options; the choice is used and shown"},
        {"", "0111", IDC_SORT_NAME, Defaults, "the save-file dialog cancelled: the proposed \\tree.txt at the root"},
        {nullptr, "1100", IDC_SORT_NAME, "tree|===========||~\\ALPHA|~\\BETA|~\\notes|~\\readme.txt|~\\Setup.exe|"
         "~\\song.mp3|||ALPHA|=================||||BETA|================||~\\BETA\\inner.txt||",
         "subfolders: folders first, no dot folders, path-long underlines"},
        {nullptr, "0110", IDC_SORT_EXTENSION, "~|===========||~\\notes|~\\Setup.exe|~\\song.mp3|~\\readme.txt||",
         "no details; by extension: none, exe, mp3, txt"},
        {nullptr, "0010", IDC_SORT_SIZE, "~|===========||notes|song.mp3|readme.txt|Setup.exe||", "by size"},
        {nullptr, "0010", IDC_SORT_DATE, "~|===========||song.mp3|Setup.exe|readme.txt|notes||", "by date"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        std::string output = "F:\\e2e\\out\\run" + std::to_string(&row - cases) + ".txt";
        if (row.answer) output = *row.answer ? row.answer : "F:\\tree.txt";
        program.Send(IDC_OUTPUT_FILE, WM_SETTEXT, 0, LPARAM(row.answer ? "" : output.c_str()));
        for (int i = 0; i < 4; ++i) program.Send(checks[i], BM_SETCHECK, row.on[i] == '1', 0);
        ASSERT_TRUE(program.Send(row.sortButton, BM_CLICK, 0, 0));
        std::future<bool> answered;
        if (row.answer) answered = std::async(std::launch::async, AnswerSaveDialog, program.process.dwProcessId, row.answer);
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        EXPECT_TRUE(!row.answer || (answered.get() && WindowText(GetDlgItem(program.dialog, IDC_OUTPUT_FILE)) == row.answer));
        EXPECT_EQ(ReadWholeFile(output), Listing(row.expected));
    }
}

// The close box after About (which opens modal from the system menu and closes on its button),
// and the close box and Alt+F4 during a long run (the title shows its progress): the run stops,
// nothing is left and the program ends with 0.
TEST(Program, ClosesWithZeroAlsoDuringARunLeavingNothing) {
    MakeTrees();
    const struct { bool run; UINT message; WPARAM wParam; LPARAM lParam; const char *why; } cases[] = {
        {false, WM_SYSCOMMAND, SC_CLOSE, 0, "the close box after About (the platform sends WM_CLOSE)"},
        {true, WM_SYSCOMMAND, SC_CLOSE, 0, "the close box during a run"},
        {true, WM_SYSKEYDOWN, VK_F4, 0x203E0001, "Alt+F4 during a run as the keyboard sends it, Alt held"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        Program program("F:\\big");
        program.Send(IDC_OUTPUT_FILE, WM_SETTEXT, 0, LPARAM("F:\\e2e\\out\\closed.txt"));
        program.Send(IDC_INCLUDE_SUBFOLDERS, BM_SETCHECK, BST_CHECKED, 0);
        if (row.run) {
            PostMessageA(GetDlgItem(program.dialog, IDC_CREATE), BM_CLICK, 0, 0);
            EXPECT_TRUE(WaitUntil([&] { return WindowText(program.dialog).find(" files in ") != std::string::npos; }))
                << "under way: " << WindowText(program.dialog);
        } else {
            PostMessageA(program.dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
            HWND about = WaitForDialog(program.process.dwProcessId, IDC_ABOUT_TEXT);
            EXPECT_FALSE(IsWindowEnabled(program.dialog)) << "About is modal over the main dialog";
            PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(about); }));
        }
        PostMessageA(program.dialog, row.message, row.wParam, row.lParam);
        EXPECT_EQ(WaitForSingleObject(program.process.hProcess, 10000), WAIT_OBJECT_0) << "the program ends";
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(GetExitCodeProcess(program.process.hProcess, &code) && code == 0) << "exit code " << code;
        EXPECT_FALSE(FileExists("F:\\e2e\\out\\closed.txt")) << "no file is left";
    }
}
