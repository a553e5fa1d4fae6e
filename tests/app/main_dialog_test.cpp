// The main dialog from its real template, driven in this process; the proposed name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "app.h"
#include "program.h"
#include "resource.h"
#include "support.h"
#include "version.h"

namespace {

// A dialog from its template, modeless (EndDialog only hides it), the instance set as WinMain does.
HWND MakeDialog(int id, DLGPROC proc) {
    return CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, proc, 0);
}

// The main dialog on a thread of its own running the loop the program's modal loop would, so that this
// thread can send it commands and watch it meanwhile. It starts in the current directory and counts how
// often its title is set.
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
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                if (!IsDialogMessageA(dialog, &message)) DispatchMessageA(&message);
            UnhookWindowsHookEx(hook);
            DestroyWindow(dialog);
        });
        made.get_future().wait();
    }
    ~UiHost() {
        PostThreadMessageA(threadId, WM_QUIT, 0, 0);
        thread.join();
    }
    static LRESULT CALLBACK CountTitleSets(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
        if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->hwnd == hooked) ++titleSets;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    // The create command as an automation script sends it; the bytes of `output` (if named) once it has returned.
    std::future<std::string> Create(const std::string &output) const {
        return std::async(std::launch::async, [this, output] {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CREATE, BN_CLICKED), LPARAM(GetDlgItem(dialog, IDC_CREATE)));
            return output.empty() ? std::string() : ReadWholeFile(output);
        });
    }
    HWND Focus() const {  // the focused control of the dialog's thread
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(threadId, &info);
        return info.hwndFocus;
    }
    // The enabled state of every child, one character each (x: enabled).
    std::string EnabledStates() const {
        std::string states;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            states += IsWindowEnabled(child) ? 'x' : '-';
        return states;
    }
};

// G:\app: "big" with 50,000 empty files, five in each of 100 x 100 subfolders (made once: the many folders
// make a run last over a second); afresh "small" with s01.txt to s20.txt, "intl" with a Cyrillic folder,
// and "out" with full.txt -> /dev/full.
void MakeRunTrees() {
    const char script[] = "mkdir -p app && cd app && rm -rf small out intl && mkdir small out"
        " && ln -s /dev/full out/full.txt && (cd small && seq -f 's%02g.txt' 1 20 | xargs touch)"
        " && d=intl/$(printf '\\320\\237\\321\\200\\320\\270\\320\\262\\320\\265\\321\\202') && mkdir -p $d/sub"
        " && touch $d/a.txt $d/sub/$(printf '\\321\\204\\320\\260\\320\\271\\320\\273').txt"
        " && { [ -e big.done ] || bash -c 'rm -rf big && for a in {0..99}; do mkdir -p big/d$a/s{0..99}"
        " && touch big/d$a/s{0..99}/f{0..4}.dat; done && touch big.done'; }";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('g')) + " && " + script), 0);
}

// The icon of the open message box of this process (the #32770 window with the static 0xFFFF).
HICON BoxIcon() {
    for (HWND box = FindWindowExA(nullptr, nullptr, "#32770", nullptr); box;
         box = FindWindowExA(nullptr, box, "#32770", nullptr))
        for (HWND child = GetWindow(box, GW_CHILD); child && GetDlgItem(box, 0xFFFF); child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                return reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    return nullptr;
}

}  // namespace

// The main dialog starts with the engine's own choices (one sort button checked), an empty output field, the
// focus on the folder list and About after a separator at the end of its system menu. Keys through
// IsDialogMessageA outside a run: Escape does nothing, Enter presses only a focused push button (a create
// writes F:\keys.txt; About's button is its default).
TEST(MainDialog, StartsWithTheEngineDefaultsAndEnterPressesOnlyAFocusedPushButton) {
    auto choices = [](const ListingRequest &r) {
        return std::to_string(r.includeSubfolders) + std::to_string(r.includeFiles) + std::to_string(r.pathOnEachLine) +
               std::to_string(r.fullPathInHeading) + std::to_string(r.showDetails) + std::to_string(int(r.sortKey));
    };
    HWND dialog = MakeDialog(IDD_MAIN, MainDialogProc);
    ListingRequest shown;
    ReadListingChoices(dialog, shown);
    wchar_t filter[64] = L"";
    GetDlgItemTextW(dialog, IDC_FILTER, filter, 64);
    int radios = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        radios += (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
                  SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
    EXPECT_EQ(choices(shown) + "|" + std::to_string(radios) + "|" + WindowText(GetDlgItem(dialog, IDC_OUTPUT_FILE)),
              choices(ListingRequest()) + "|1|");
    EXPECT_TRUE(filter == ListingRequest().filter) << "the engine's filter";
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_FOLDER_LIST)) << "the focus";
    HMENU menu = GetSystemMenu(dialog, FALSE);
    int last = GetMenuItemCount(menu) - 1;
    char text[64] = "";
    GetMenuStringA(menu, UINT(last), text, sizeof text, MF_BYPOSITION);
    EXPECT_TRUE(GetMenuState(menu, UINT(last - 1), MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(std::to_string(GetMenuItemID(menu, last)) + text, std::to_string(IDM_ABOUT) + "About...");
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
        DestroyWindow(dialog);
    }
}

// The proposal goes into a buffer with guard bytes after its MAX_PATH bytes.
TEST(ProposeOutputName, ProposesTheLastComponentOrNothing) {
    const std::string longest(254, 'a');  // "\" + 254 + ".txt": 259 characters
    const struct { std::string folder, expected; const char *why; } cases[] = {
        {"C:\\Music\\Rock", "\\Rock.txt", "the last component, backslash included"},
        {"C:\\", "\\.txt", "a drive root proposes a bare extension"},
        {"Music", "", "no backslash: no name"},
        {"C:\\" + longest, "\\" + longest + ".txt", "259 characters still fit"},
        {"C:\\" + longest + "b", "", "260 characters would not fit: no name"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        std::string buffer(MAX_PATH + 16, 'X');
        ProposeOutputName(row.folder.c_str(), &buffer[0]);
        EXPECT_EQ(buffer.c_str() + buffer.substr(MAX_PATH), row.expected + std::string(16, 'X'));
    }
}

// Creates sent from another thread, which watches the dialog until the command returns. A long run answers
// meanwhile: its counts in the title, every control disabled, a second create refused, the wait cursor;
// Escape stops it (no file, no box) and the same dialog runs again. A short run never sets the title.
// Failures tell why in a warning box and leave nothing. Afterwards title, controls (one disabled before)
// and focus are as before, and the file, complete when the command returns, equals WriteListing's.
TEST(MainDialog, CreateRunsWhileTheDialogKeepsAnsweringAndRestoresIt) {
    MakeRunTrees();
    const struct { const char *folder, *output, *filter; bool subfolders, escape; const char *box, *why; } cases[] = {
        {"G:\\app\\big", "G:\\app\\out\\run.txt", "*.*", true, true, "", "50,000 files, Escape once the progress shows"},
        {"G:\\app\\big", "G:\\app\\out\\run.txt", "*.*", true, false, "", "the same dialog again: the whole run"},
        {"G:\\app\\small", "G:\\app\\out\\caf\xE9.txt", "s1*", false, false, "", "20 files, a filter, an ANSI name"},
        {"G:\\app\\small", "G:\\app\\missing\\x.txt", "*.*", false, false, "Can't create output file", "no folder"},
        {"G:\\app\\small", "G:\\app\\out\\full.txt", "*.*", false, false, "Can't write output file", "a full disk"},
        {"G:\\app\\small", "G:\\app\\out\\empty.txt", "", false, false, "Empty filter", "no filter"},
    };
    const std::string title = PROGRAM_TITLE;
    const std::regex counts("\\d{1,3}(,\\d{3})* files in \\d{1,3}(,\\d{3})* folders");  // groups of three digits
    std::unique_ptr<UiHost> host;
    std::string hostFolder, before;
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        if (hostFolder != row.folder) {
            host.reset();
            ASSERT_TRUE(SetCurrentDirectoryA(row.folder));
            host.reset(new UiHost);
            hostFolder = row.folder;
            SendMessageA(host->dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(host->dialog, IDC_FILTER)), TRUE);
            EnableWindow(GetDlgItem(host->dialog, IDC_BROWSE), FALSE);  // must stay disabled afterwards
            before = host->EnabledStates();
        }
        SetDlgItemTextA(host->dialog, IDC_OUTPUT_FILE, row.output);
        SetDlgItemTextA(host->dialog, IDC_FILTER, row.filter);
        SendMessageA(GetDlgItem(host->dialog, IDC_INCLUDE_SUBFOLDERS), BM_SETCHECK, row.subfolders, 0);
        BoxAnswerer answerer;
        HICON boxIcon = nullptr;
        answerer.SetBeforeAnswer([](const SeenBox &, void *icon) { *static_cast<HICON *>(icon) = BoxIcon(); }, &boxIcon);
        UiHost::titleSets = 0;
        const bool writes = !*row.box && !row.escape;
        auto created = host->Create(writes ? row.output : "");
        std::string shown, shownStates;
        bool waitCursor = false;
        // Each WM_GETTEXT is answered by the dialog's thread: a progress title read here was read during the run.
        while (created.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            const std::string text = WindowText(host->dialog);
            if (text.empty() || text == title) continue;
            shown = text;
            EXPECT_TRUE(shown.compare(0, title.size() + 3, title + " - ") == 0 &&
                        std::regex_match(shown.substr(title.size() + 3), counts)) << shown;
            if (!shownStates.empty()) continue;
            shownStates = host->EnabledStates();
            SendMessageA(host->dialog, WM_COMMAND, IDC_CREATE, 0);  // refused: a nested run would never return here
            SendMessageA(host->dialog, WM_SETCURSOR, WPARAM(host->dialog), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
            CURSORINFO cursor = {};
            cursor.cbSize = sizeof cursor;
            waitCursor = GetCursorInfo(&cursor) && cursor.hCursor == LoadCursorA(nullptr, IDC_WAIT);
            // Escape as the keyboard sends it when no control has the focus (all are disabled).
            if (row.escape) PostMessageA(host->dialog, WM_SYSKEYDOWN, VK_ESCAPE, 1);
        }
        const std::string result = created.get();
        if (row.subfolders) {
            EXPECT_TRUE(!shown.empty() && shown.find(" - 0 files") == std::string::npos) << "counts: " << shown;
            EXPECT_EQ(shownStates, std::string(before.size(), '-')) << "all disabled";
            EXPECT_TRUE(waitCursor) << "the wait cursor over the dialog";
        } else {
            EXPECT_EQ(UiHost::titleSets, 0) << "the title was never set";
        }
        EXPECT_EQ(WindowText(host->dialog), title) << "the title is restored";
        EXPECT_EQ(host->EnabledStates(), before);
        std::string boxes;
        for (const SeenBox &box : answerer.Seen()) boxes += box.text;
        EXPECT_EQ(boxes, row.box);
        EXPECT_TRUE(!*row.box || boxIcon == LoadIconA(nullptr, IDI_WARNING)) << "the warning icon";
        EXPECT_EQ(FileExists(row.output), writes) << "a file only from a whole run";
        if (!writes) continue;
        EXPECT_EQ(host->Focus(), GetDlgItem(host->dialog, IDC_FILTER)) << "the focus is back";
        ListingRequest request;  // the dialog's starting choices, which the first test holds to the defaults
        request.filter = std::wstring(row.filter, row.filter + std::strlen(row.filter));
        request.includeSubfolders = row.subfolders;
        ASSERT_EQ(WriteListing("G:\\app\\out\\expected.txt", row.folder, request), ListingOutcome::Complete);
        EXPECT_TRUE(result == ReadWholeFile("G:\\app\\out\\expected.txt")) << "byte-exact, complete at the return";
    }
}

// A folder whose name is outside the code page: its row shows "??????", a double click enters it by its real
// name, and the listing made from there holds everything below it.
TEST(MainDialog, ListsAFolderEnteredByANameOutsideTheCodePage) {
    MakeRunTrees();
    ASSERT_TRUE(SetCurrentDirectoryA("G:\\app\\intl"));
    UiHost host;
    HWND list = GetDlgItem(host.dialog, IDC_FOLDER_LIST);
    LRESULT row = SendMessageA(list, LB_FINDSTRINGEXACT, WPARAM(-1), LPARAM("??????"));
    ASSERT_NE(row, LB_ERR) << "the Cyrillic folder's row, as the code page shows it";
    SendMessageA(list, LB_SETCURSEL, WPARAM(row), 0);
    SendMessageA(host.dialog, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_LIST, LBN_DBLCLK), LPARAM(list));
    CheckDlgButton(host.dialog, IDC_INCLUDE_SUBFOLDERS, BST_CHECKED);
    CheckDlgButton(host.dialog, IDC_SAVE_DETAILS, BST_UNCHECKED);
    SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, "G:\\app\\out\\intl.txt");
    const std::string top = "G:\\app\\intl\\??????", sub = top + "\\SUB";
    EXPECT_EQ(host.Create("G:\\app\\out\\intl.txt").get(),
              top + "\r\n" + std::string(top.size(), '=') + "\r\n\r\n" + sub + "\r\n" + top + "\\a.txt\r\n\r\n\r\n" +
                  sub + "\r\n" + std::string(sub.size(), '=') + "\r\n\r\n" + sub + "\\????.txt\r\n\r\n\r\n");
}

// A drive that is not ready (M: leads to a missing folder) is asked about until it is or until the user
// cancels, and the drop-down then goes back to the drive it had; either way the folder list shows the folder.
TEST(MainDialog, AsksAgainAboutADriveThatIsNotReadyUntilCancelled) {
    const std::string missing = ShellQuote(DriveFolderUnix('m') + "-missing");
    const struct { std::vector<int> answers; std::string where, boxes, why; } cases[] = {
        {{IDCANCEL}, "Z:\\tmp", "|Drive M:\\ is not ready", "cancelled: the drop-down back, the folder kept"},
        {{IDRETRY, IDRETRY, IDCANCEL}, "M:\\", "|Drive M:\\ is not ready|Drive M:\\ is not ready",
         "asked again, then retried after the drive appeared"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        ASSERT_EQ(RunUnix("rm -rf " + missing), 0);
        ASSERT_TRUE(SetCurrentDirectoryA("Z:\\tmp"));  // as the program starts
        HWND dialog = MakeDialog(IDD_MAIN, MainDialogProc), combo = GetDlgItem(dialog, IDC_DRIVE_COMBO);
        BoxAnswerer answerer(row.answers);
        int retries = 0;  // the second Retry finds the drive there
        answerer.SetBeforeAnswer([](const SeenBox &box, void *count) {
            if (box.answer == IDRETRY && ++*static_cast<int *>(count) == 2)
                RunUnix("mkdir " + ShellQuote(DriveFolderUnix('m') + "-missing"));
        }, &retries);
        SendMessageA(combo, CB_SELECTSTRING, WPARAM(-1), LPARAM("M:"));
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DRIVE_COMBO, CBN_SELCHANGE), LPARAM(combo));
        char first[MAX_PATH] = "";
        SendDlgItemMessageA(dialog, IDC_FOLDER_LIST, LB_GETTEXT, 0, LPARAM(first));
        std::string shown = CurrentDirectory() + "|" + WindowText(combo).substr(0, 2) + "|" + first;
        for (const SeenBox &box : answerer.Seen()) shown += (box.caption == PROGRAM_TITLE ? "|" : "|?") + box.text;
        EXPECT_EQ(shown, row.where + "|" + row.where.substr(0, 2) + "|" + row.where.substr(0, 2) + row.boxes);
        DestroyWindow(dialog);
    }
    RunUnix("rm -rf " + missing);
}

// Without its row icons the dialog cannot paint its folder list: it shows "The internal error", answered in the
// dying child (which tells the parent through standard error), and the process ends with -1.
TEST(MainDialog, MissingRowIconsEndTheProgramWithTheInternalError) {
    EXPECT_EXIT(([] {  // in parentheses: the macro splits its arguments at commas
        BoxAnswerer answerer;
        answerer.SetBeforeAnswer([](const SeenBox &box, void *) {
            std::fprintf(stderr, "[%s|%s]\n", box.caption.c_str(), box.text.c_str());
        }, nullptr);
        HWND dialog = MakeDialog(IDD_MAIN, MainDialogProc);
        ModuleInstance = GetModuleHandleA("kernel32.dll");  // a module without the icons
        ShowWindow(dialog, SW_SHOW);
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    })(), ::testing::ExitedWithCode(-1),
                ::testing::Matcher<const std::string &>("[" PROGRAM_TITLE "|The internal error]\n"));
}
