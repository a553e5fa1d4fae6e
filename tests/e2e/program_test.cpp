// dirtally.exe end to end: started as its own process on drive F:, driven
// through its windows as a user would, its listing files compared byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "resource.h"
#include "support.h"

namespace {

// A dirtally.exe (env DIRTALLY_EXE) started in a folder, and its main dialog; ended when the test is.
struct Program {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
    explicit Program(const std::string &folder) {
        std::string path = UnixToWindows(std::getenv("DIRTALLY_EXE") ? std::getenv("DIRTALLY_EXE") : "");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
            WaitUntil([&] { return (dialog = FindDialog(process.dwProcessId, IDC_CREATE)) != nullptr; });
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

// F:\e2e afresh, no F:\tree.txt: tree\ (alpha\, Beta\inner.txt, .git\, four files with sizes and UTC write times)
// and out\; F:\big, made once: 50,000 empty files, five in each of 100 x 100 subfolders (a run of over a second).
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

// One program brought to the tree by double clicks (into Beta and back up by its path row), then one run per row
// of check boxes and sort button, each file the engine's for the same choices. An empty output field asks for the
// file in the save-file dialog.
TEST(Program, WritesTheListingEachCombinationOfOptionsAsks) {
    MakeTrees();
    Program program("F:\\e2e");
    HWND list = GetDlgItem(program.dialog, IDC_FOLDER_LIST);
    for (const char *name : {"tree", "Beta", "tree"})
        EXPECT_TRUE(SendMessageA(list, LB_SELECTSTRING, ~WPARAM(0), LPARAM(name)) >= 0 &&
                    program.Send(0, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_LIST, LBN_DBLCLK), LPARAM(list))) << name;
    // The check boxes a row's `on` sets ('1': checked), each with the choice it stands for.
    const struct { int id; bool ListingRequest::*choice; } checks[] = {
        {IDC_INCLUDE_SUBFOLDERS, &ListingRequest::includeSubfolders}, {IDC_SAVE_MAIN_PATH, &ListingRequest::pathOnEachLine},
        {IDC_SAVE_FOLDER_PATH, &ListingRequest::fullPathInHeading}, {IDC_SAVE_DETAILS, &ListingRequest::showDetails}};
    // answer: the save-file dialog's answer ("": cancel), null when the output field names F:\e2e\out\run<n>.txt.
    const struct { const char *answer, *on; int sortButton; SortKey key; const char *why; } cases[] = {
        {"F:\\e2e\\out\\chosen.txt", "1100", IDC_SORT_NAME, SortKey::Name, "the choice used and shown; subfolders, no details"},
        {"", "0111", IDC_SORT_NAME, SortKey::Name, "the save-file dialog cancelled: the proposed \\tree.txt at the root"},
        {nullptr, "0110", IDC_SORT_EXTENSION, SortKey::Extension, "no details; by extension"},
        {nullptr, "0010", IDC_SORT_SIZE, SortKey::Size, "by size"},
        {nullptr, "0010", IDC_SORT_DATE, SortKey::Date, "by date"},
        {"F:\\e2e\\out\\chosen.txt", "0001", IDC_SORT_NAME, SortKey::Name, "the first file chosen again: asked before replacing"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        std::string output = "F:\\e2e\\out\\run" + std::to_string(&row - cases) + ".txt";
        if (row.answer) output = *row.answer ? row.answer : "F:\\tree.txt";
        program.Send(IDC_OUTPUT_FILE, WM_SETTEXT, 0, LPARAM(row.answer ? "" : output.c_str()));
        ListingRequest request;
        request.sortKey = row.key;
        for (int i = 0; i < 4; ++i) {
            program.Send(checks[i].id, BM_SETCHECK, row.on[i] == '1', 0);
            request.*checks[i].choice = row.on[i] == '1';
        }
        ASSERT_TRUE(program.Send(row.sortButton, BM_CLICK, 0, 0));
        BoxAnswerer saveDialog({row.answer && *row.answer ? IDOK : IDCANCEL}, [&](const SeenBox &box) {
            SetDlgItemTextA(box.window, 0x47C, row.answer);  // cmb13, the name box
        }, program.process.dwProcessId, 0x47C);
        BoxAnswerer replace({IDYES}, nullptr, program.process.dwProcessId);  // the save-file dialog's own question
        const bool exists = row.answer && *row.answer && FileExists(row.answer);
        ASSERT_TRUE(program.Send(IDC_CREATE, BM_CLICK, 0, 0));
        EXPECT_TRUE(saveDialog.Seen().size() == (row.answer ? 1u : 0u) &&
                    (!row.answer || WindowText(GetDlgItem(program.dialog, IDC_OUTPUT_FILE)) == row.answer)) << "asked, shown";
        EXPECT_EQ(replace.Seen().size(), exists ? 1u : 0u) << "replacing a file picked in the save-file dialog is asked first";
        ASSERT_EQ(WriteListing("F:\\e2e\\out\\expected.txt", "F:\\e2e\\tree", request), ListingOutcome::Complete);
        EXPECT_EQ(ReadWholeFile(output), ReadWholeFile("F:\\e2e\\out\\expected.txt"));
    }
}

// The close box after About (modal from the system menu, closed by its button), and the close box and Alt+F4
// during a long run (the title shows its progress): the run stops, nothing is left and the program ends with 0.
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
            bool modal = false;
            BoxAnswerer about({IDOK}, [&](const SeenBox &) { modal = !IsWindowEnabled(program.dialog); },
                              program.process.dwProcessId, IDC_ABOUT_TEXT);
            PostMessageA(program.dialog, WM_SYSCOMMAND, IDM_ABOUT, 0);
            EXPECT_TRUE(WaitUntil([&] { return !about.Seen().empty() && !IsWindowVisible(about.Seen()[0].window); }) &&
                        modal) << "About over a disabled main dialog, closed by its button";
        }
        PostMessageA(program.dialog, row.message, row.wParam, row.lParam);
        EXPECT_EQ(WaitForSingleObject(program.process.hProcess, 10000), WAIT_OBJECT_0) << "the program ends";
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(GetExitCodeProcess(program.process.hProcess, &code) && code == 0) << "exit code " << code;
        EXPECT_FALSE(FileExists("F:\\e2e\\out\\closed.txt")) << "no file is left";
    }
}
