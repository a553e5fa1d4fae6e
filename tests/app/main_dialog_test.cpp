// The main dialog from its real template, driven in this process; the proposed name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <regex>
#include <thread>

#include "app.h"
#include "browser.h"
#include "names.h"
#include "program.h"
#include "resource.h"
#include "support.h"
#include "version.h"

namespace {

// A dialog from its template, modeless (EndDialog only hides it), the instance set as WinMain does.
HWND MakeDialog(int id, DLGPROC proc) {
    return CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, proc, 0);
}

// The main dialog on a thread of its own running the loop the program's modal loop would, so that this thread
// can send it commands and watch it meanwhile. It starts in the current directory and counts its title's sets.
struct UiHost {
    HWND dialog = nullptr;
    DWORD threadId = 0;
    std::thread thread;
    static inline std::atomic<int> titleSets{0};
    static inline HWND hooked = nullptr;
    UiHost() {
        std::promise<void> made;
        thread = std::thread([this, &made] {
            hooked = dialog = MakeDialog(IDD_MAIN, MainDialogProc);
            threadId = GetCurrentThreadId();
            ShowWindow(dialog, SW_SHOW);
            HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CountTitleSets, nullptr, threadId);
            made.set_value();
            for (MSG message; GetMessageA(&message, nullptr, 0, 0) > 0;)
                if (!IsDialogMessageA(dialog, &message)) DispatchMessageA(&message);
            UnhookWindowsHookEx(hook);
            DestroyWindow(dialog);
        });
        made.get_future().wait();
    }
    ~UiHost() { PostThreadMessageA(threadId, WM_QUIT, 0, 0), thread.join(); }
    static LRESULT CALLBACK CountTitleSets(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
        if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->hwnd == hooked) ++titleSets;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HWND Focus() const {  // the focused control of the dialog's thread
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
    }
    std::string EnabledStates() const {  // one character per child, x: enabled
        std::string states;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            states += IsWindowEnabled(child) ? 'x' : '-';
        return states;
    }
};

}  // namespace

// The dialog starts with the engine's own choices (one sort button checked), no output file, the focus on the
// folder list and About after a separator at the end of its system menu. Keys through IsDialogMessageA outside
// a run: Escape does nothing, Enter presses only a focused push button (a create writes F:\keys.txt).
TEST(MainDialog, StartsWithTheEngineDefaultsAndEnterPressesOnlyAFocusedPushButton) {
    auto choices = [](const ListingRequest &r) {
        return std::to_string(r.includeSubfolders) + std::to_string(r.includeFiles) + std::to_string(r.pathOnEachLine) +
               std::to_string(r.fullPathInHeading) + std::to_string(r.showDetails) + std::to_string(int(r.sortKey));
    };
    BoxAnswerer answerer;  // a box that should not come (e.g. a create that is refused) would wait for ever
    HWND dialog = MakeDialog(IDD_MAIN, MainDialogProc);
    ListingRequest shown;
    ReadListingChoices(dialog, shown);
    int radios = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        radios += (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
                  SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
    EXPECT_EQ(choices(shown) + "|" + std::to_string(radios) + "|" + WindowText(GetDlgItem(dialog, IDC_OUTPUT_FILE)),
              choices(ListingRequest()) + "|1|");
    EXPECT_TRUE(WidenAnsi(WindowText(GetDlgItem(dialog, IDC_FILTER)).c_str()) == ListingRequest().filter &&
                GetFocus() == GetDlgItem(dialog, IDC_FOLDER_LIST)) << "filter, focus";
    HMENU menu = GetSystemMenu(dialog, FALSE);
    char text[64] = "";
    GetMenuStringA(menu, UINT(GetMenuItemCount(menu) - 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_TRUE(GetMenuState(menu, UINT(GetMenuItemCount(menu) - 2), MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(std::to_string(GetMenuItemID(menu, GetMenuItemCount(menu) - 1)) + text, std::to_string(IDM_ABOUT) + "About...");
    DestroyWindow(dialog);
    const struct { int dialog, focus; WPARAM key; bool ends, creates; const char *why; } cases[] = {
        {IDD_MAIN, IDC_EXIT, VK_ESCAPE, false, false, "IDCANCEL is not handled"},
        {IDD_MAIN, IDC_FOLDER_LIST, VK_RETURN, false, false, "there is no default push button"},
        {IDD_MAIN, IDC_EXIT, VK_RETURN, true, false, "Enter presses the focused exit button"},
        {IDD_MAIN, IDC_CREATE, VK_RETURN, false, true, "Enter presses the focused create button"},
        {IDD_ABOUT, IDOK, VK_ESCAPE, false, false, "About: IDCANCEL is not handled"},
        {IDD_ABOUT, IDOK, VK_RETURN, true, false, "About: Enter presses its button"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        dialog = MakeDialog(row.dialog, row.dialog == IDD_MAIN ? MainDialogProc : AboutDialogProc);
        SetDlgItemTextA(dialog, IDC_OUTPUT_FILE, "F:\\keys.txt");  // no save-file dialog
        ShowWindow(dialog, SW_SHOW);
        SendMessageA(dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(dialog, row.focus)), TRUE);
        MSG key = {GetFocus(), WM_KEYDOWN, row.key, 1, 0, {0, 0}};
        IsDialogMessageA(dialog, &key);
        EXPECT_EQ(!IsWindowVisible(dialog), row.ends);
        EXPECT_EQ(DeleteFileA("F:\\keys.txt") != FALSE, row.creates);
        EXPECT_TRUE(answerer.Seen().empty()) << "no box";
        DestroyWindow(dialog);
    }
}

// The proposal goes into a buffer with guard bytes after its MAX_PATH bytes (a deeper folder: the end-to-end test).
TEST(ProposeOutputName, ProposesTheLastComponentOrNothing) {
    const std::string longest(254, 'a');  // "\" + 254 + ".txt": 259 characters
    const struct { std::string folder, expected; const char *why; } cases[] = {
        {"C:\\", "\\.txt", "a drive root proposes a bare extension"},
        {"Music", "", "no backslash: no name"},
        {"C:\\" + longest, "\\" + longest + ".txt", "259 characters still fit"},
        {"C:\\" + longest + "b", "", "260 characters would not fit: no name"},
    };
    for (const auto &row : cases) {
        std::string buffer(MAX_PATH + 16, 'X');
        ProposeOutputName(row.folder.c_str(), &buffer[0]);
        EXPECT_EQ(buffer.c_str() + buffer.substr(MAX_PATH), row.expected + std::string(16, 'X')) << row.why;
    }
}

// Creates in one dialog over folders set as the browser sets them, sent from a thread that watches until the command
// returns. A long run (G:\app\huge: big twenty times over, by links) shows its counts in the title, all controls
// disabled and the wait cursor, refuses a second create and stops on Escape (no file, no box); a short run never sets
// the title; failures warn in a box and leave nothing. After each, title, controls (one disabled before) and focus
// are back, and the file, complete at the return, is the engine's for the dialog's choices and folder.
TEST(MainDialog, CreateRunsWhileTheDialogKeepsAnsweringAndRestoresIt) {
    const char script[] = "mkdir -p app && cd app && rm -rf small out intl && mkdir small out"
        " && ln -s /dev/full out/full.txt && (cd small && seq -f 's%02g.txt' 1 20 | xargs touch)"
        " && d=intl/$(printf '\\320\\237\\321\\200\\320\\270\\320\\262\\320\\265\\321\\202') && mkdir -p $d/sub"
        " && touch $d/a.txt $d/sub/$(printf '\\321\\204\\320\\260\\320\\271\\320\\273').txt"
        " && { [ -e big.done ] || bash -c 'rm -rf big && for a in {0..99}; do mkdir -p big/d$a/s{0..99}"
        " && touch big/d$a/s{0..99}/f{0..4}.dat; done && touch big.done'; }"
        " && mkdir -p huge && for n in $(seq 20); do ln -sfn ../big huge/l$n; done"
        // Folders of 200 characters, 23 deep: the last one's Linux path passes 4,096 bytes (bash's cd gets there, dash's not).
        " && rm -rf deep && bash -c 'mkdir deep && cd deep && for i in {1..23}; do n=$(printf %0200d $i); mkdir $n && cd $n; done'";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('g')) + " && " + script), 0);
    const std::wstring huge = L"G:\\app\\huge", big = L"G:\\app\\big", small = L"G:\\app\\small", intl = L"G:\\app\\intl\\\u041F\u0440\u0438\u0432\u0435\u0442", deep = L"G:\\app\\deep";
    const struct { const std::wstring &folder; const char *output, *filter; bool subfolders, escape, writes; const char *box, *why; }
        cases[] = {
        {huge, "G:\\app\\out\\run.txt", "*.*", true, true, false, "", "a long run: Escape once the progress shows"},
        {big, "G:\\app\\out\\run.txt", "*.*", true, false, true, "", "50,000 files: a whole run after a stopped one"},
        {small, "G:\\app\\out\\caf\xE9.txt", "s1*", false, false, true, "", "20 files, a filter, an ANSI name"},
        {intl, "G:\\app\\out\\intl.txt", "*.*", true, false, true, "", "a folder whose name is outside the code page"},
        {deep, "G:\\app\\out\\deep.txt", "*.*", true, false, true, "1 folder could not be read: it is marked in the listing file",
         "a folder whose Linux path is too long to open: written, marked, and said"},
        {small, "G:\\app\\missing\\x.txt", "*.*", false, false, false, "Can't create output file", "no folder"},
        {small, "G:\\app\\out\\full.txt", "*.*", false, false, false, "Can't write output file", "a full disk"},
        {small, "G:\\app\\out\\empty.txt", "", false, false, false, "Empty filter", "no filter"},
    };
    const std::string title = PROGRAM_TITLE;
    const std::regex progress(title + " - \\d{1,3}(,\\d{3})* files in \\d{1,3}(,\\d{3})* folders");
    ASSERT_TRUE(SetCurrentDirectoryA("G:\\app"));
    UiHost host;
    SendMessageA(host.dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(host.dialog, IDC_FILTER)), TRUE);
    EnableWindow(GetDlgItem(host.dialog, IDC_BROWSE), FALSE);  // must stay disabled afterwards
    const std::string before = host.EnabledStates();
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        const bool writes = row.writes;
        ASSERT_TRUE(SetCurrentFolder(row.folder.c_str()));  // the dialog is idle: its folder may change
        SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, row.output);
        SetDlgItemTextA(host.dialog, IDC_FILTER, row.filter);
        SendMessageA(GetDlgItem(host.dialog, IDC_INCLUDE_SUBFOLDERS), BM_SETCHECK, row.subfolders, 0);
        BoxAnswerer answerer;
        UiHost::titleSets = 0;
        auto created = std::async(std::launch::async, [&] {  // as an automation script sends it
            SendMessageA(host.dialog, WM_COMMAND, IDC_CREATE, LPARAM(GetDlgItem(host.dialog, IDC_CREATE)));
            return writes ? ReadWholeFile(row.output) : "";
        });
        std::string shown, shownStates;
        bool waitCursor = false, refused = false;
        // The dialog's thread answers each WM_GETTEXT: a progress title read here was read during the run.
        while (created.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            const std::string text = WindowText(host.dialog);
            if (text.empty() || text == title) continue;
            EXPECT_TRUE(std::regex_match(shown = text, progress)) << shown;
            if (!shownStates.empty()) continue;
            shownStates = host.EnabledStates();
            SendMessageA(host.dialog, WM_COMMAND, IDC_CREATE, 0);  // a nested run would return only after its end
            refused = std::regex_match(WindowText(host.dialog), progress);
            for (int hit : {HTCAPTION, HTCLIENT})  // the arrow over the caption, then the client area's cursor
                SendMessageA(host.dialog, WM_SETCURSOR, WPARAM(host.dialog), MAKELPARAM(WORD(hit), WM_MOUSEMOVE));
            CURSORINFO cursor = {};
            cursor.cbSize = sizeof cursor;
            waitCursor = GetCursorInfo(&cursor) && cursor.hCursor == LoadCursorA(nullptr, IDC_WAIT);
            // Escape as the keyboard sends it when no control has the focus (all are disabled).
            if (row.escape) PostMessageA(host.dialog, WM_SYSKEYDOWN, VK_ESCAPE, 1);
        }
        const std::string result = created.get();
        if (row.escape) {
            EXPECT_TRUE(!shown.empty() && shown.find(" - 0 files") == std::string::npos) << "counts: " << shown;
            EXPECT_EQ(shownStates, std::string(before.size(), '-')) << "all disabled";
            EXPECT_TRUE(waitCursor) << "the wait cursor over the dialog";
            EXPECT_TRUE(refused) << "a second create is refused while the first goes on";
        }
        EXPECT_TRUE(row.escape || &row.folder == &big || UiHost::titleSets == 0) << "a short run never sets the title";
        EXPECT_EQ(WindowText(host.dialog), title) << "the title is restored";
        EXPECT_EQ(host.EnabledStates(), before);
        std::string boxes;
        for (const SeenBox &box : answerer.Seen()) boxes += box.text + (box.icon == LoadIconA(nullptr, IDI_WARNING) ? "" : "?");
        EXPECT_EQ(boxes, row.box) << "each with the warning icon (else ?)";
        EXPECT_EQ(FileExists(row.output), writes) << "a file only from a whole run";
        if (!writes) continue;
        EXPECT_EQ(host.Focus(), GetDlgItem(host.dialog, IDC_FILTER)) << "the focus is back";
        ListingRequest request;  // the dialog's starting choices, which the first test holds to the defaults
        request.startFolders = {row.folder};
        request.filter = WidenAnsi(row.filter);
        request.includeSubfolders = row.subfolders;
        request.outputPath = L"G:\\app\\out\\expected.txt";
        ASSERT_EQ(RunListing(request).outcome, ListingOutcome::Complete);
        EXPECT_TRUE(result == ReadWholeFile("G:\\app\\out\\expected.txt")) << "byte-exact, complete at the return";
    }
}

// The drive table in letter order with its labels, the drop-down on the starting drive (row 0 when no row has
// its letter), a change to a drive's root, and a drive that is not ready (M: leads to a missing folder) asked
// about until it is or until the user cancels: the drop-down then goes back. The folder list shows the folder.
TEST(MainDialog, DrivesInLetterOrderAndAChangeAskedAgainWhileNotReady) {
    const std::string missing = "rm -rf " + ShellQuote(DriveFolderUnix('m') + "-missing");
    const struct { const char *start, *pick; std::vector<int> answers; std::string where; int asked; const char *why; }
        cases[] = {
        {"z:\\tmp", nullptr, {}, "z:\\tmp", 0, "a small letter matches no row: row 0"},
        {"Z:\\tmp", "Z:", {}, "Z:\\", 0, "the root, not Z:\\tmp where the program started"},
        {"Z:\\tmp", "M:", {IDCANCEL}, "Z:\\tmp", 1, "not ready, cancelled: the drop-down back, the folder kept"},
        {"Z:\\tmp", "M:", {IDRETRY, IDRETRY, IDCANCEL}, "M:\\", 2, "asked again, then retried after the drive appeared"},
    };
    auto labelOf = [](char letter) {  // the table's label of drive `letter`, row 0's when no row has it
        int i = DriveTable.Count - 1;
        while (i > 0 && DriveTable.Rows[i].RootPath[0] != letter) --i;
        return std::string(DriveTable.Rows[i].Label);
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        ASSERT_TRUE(RunUnix(missing) == 0 && SetCurrentDirectoryA(row.start));  // as the program starts
        HWND dialog = MakeDialog(IDD_MAIN, MainDialogProc), combo = GetDlgItem(dialog, IDC_DRIVE_COMBO);
        int retries = 0;  // the second Retry finds the drive there
        BoxAnswerer answerer(row.answers, [&](const SeenBox &box) {
            if (box.answer == IDRETRY && ++retries == 2) RunUnix("mkdir " + ShellQuote(DriveFolderUnix('m') + "-missing"));
        });
        if (row.pick && SendMessageA(combo, CB_SELECTSTRING, WPARAM(-1), LPARAM(row.pick)) != CB_ERR)
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DRIVE_COMBO, CBN_SELCHANGE), LPARAM(combo));
        std::string roots, drives, wide;
        for (int i = 0; i < DriveTable.Count; ++i) roots += DriveTable.Rows[i].RootPath;
        for (char d = 'A'; d <= 'Z'; ++d) drives += GetLogicalDrives() & (1u << (d - 'A')) ? d + std::string(":\\") : "";
        NarrowText(CurrentFolderWide, wcslen(CurrentFolderWide), CP_UTF8, wide);
        char first[MAX_PATH] = "";  // the folder list's first row
        SendDlgItemMessageA(dialog, IDC_FOLDER_LIST, LB_GETTEXT, 0, LPARAM(first));
        std::string shown = roots + labelOf('E') + "|" + labelOf('M') + "|" + CurrentFolder + "|" + wide + "|" +
                            CurrentDirectory() + "|" + first + "|" + WindowText(combo) + "|" +
                            DriveTable.Rows[DriveTable.SelectedIndex].Label;
        std::string expected = drives + "E:  TESTVOL|M:  |" + row.where + "|" + row.where + "|" + row.where + "|" +
                               row.where.substr(0, 2) + "|" + labelOf(row.where[0]) + "|" + labelOf(row.where[0]);
        for (const SeenBox &box : answerer.Seen()) shown += "|" + box.caption + ": " + box.text;
        for (int i = 0; i < row.asked; ++i) expected += "|" PROGRAM_TITLE ": Drive M:\\ is not ready";
        EXPECT_EQ(shown, expected);
        DestroyWindow(dialog);
    }
    RunUnix(missing);
}

// Without its row icons the dialog cannot paint its folder list: it shows "The internal error", answered in the
// dying child (which tells the parent through standard error), and the process ends with -1.
TEST(MainDialog, MissingRowIconsEndTheProgramWithTheInternalError) {
    EXPECT_EXIT(([] {  // in parentheses: the macro splits its arguments at commas
        BoxAnswerer answerer({}, [](const SeenBox &box) { std::fprintf(stderr, "[%s|%s]\n", box.caption.c_str(), box.text.c_str()); });
        HWND dialog = MakeDialog(IDD_MAIN, MainDialogProc);
        ModuleInstance = GetModuleHandleA("kernel32.dll");  // a module without the icons
        ShowWindow(dialog, SW_SHOW);
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    })(), ::testing::ExitedWithCode(-1), ::testing::Matcher<const std::string &>("[" PROGRAM_TITLE "|The internal error]\n"));
}
