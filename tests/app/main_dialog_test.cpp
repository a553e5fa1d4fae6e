// The main dialog from its real template, driven in this process; the proposed name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "app.h"
#include "browser.h"
#include "resource.h"
#include "support.h"

namespace {

const char Title[] = "Dirtally 1.1";

// A dialog from its template, modeless (EndDialog only hides it), the instance set as WinMain does.
HWND MakeDialog(int id, DLGPROC proc) {
    return CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, proc, 0);
}

// The main dialog on a thread of its own running the message loop the program's modal loop
// would, so that this thread can send it commands and watch it meanwhile. It starts in the
// process's current directory and counts how often its title is set.
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
    ~UiHost() { PostThreadMessageA(threadId, WM_QUIT, 0, 0); thread.join(); }
    static LRESULT CALLBACK CountTitleSets(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
        if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->hwnd == hooked) ++titleSets;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    // Sends from this thread; false when the dialog did not answer within `ms`.
    bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD ms = 200) const {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ms, &result) != 0;
    }
    // The create command as an automation script sends it; the bytes of `output` (if named)
    // when the command has returned.
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
    // The cursor the dialog sets when the mouse moves over its client area.
    HCURSOR CursorOverClient() const {
        Send(dialog, WM_SETCURSOR, WPARAM(dialog), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        CURSORINFO info = {};
        info.cbSize = sizeof info;
        GetCursorInfo(&info);
        return info.hCursor;
    }
    // The enabled state of every child, one character each (x: enabled).
    std::string EnabledStates() const {
        std::string states;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            states += IsWindowEnabled(child) ? 'x' : '-';
        return states;
    }
};

// G:\app: "big" with 50,000 empty files, five in each of 100 x 100 subfolders (made once: the
// many folders make a run last over a second); afresh "small" with s01.txt to s20.txt, "intl"
// with a Cyrillic folder, and "out" with full.txt -> /dev/full.
void MakeRunTrees() {
    const char script[] = "mkdir -p app && cd app && rm -rf small out intl && mkdir small out"
        " && ln -s /dev/full out/full.txt && (cd small && seq -f 's%02g.txt' 1 20 | xargs touch)"
        " && d=intl/$(printf '\\320\\237\\321\\200\\320\\270\\320\\262\\320\\265\\321\\202') && mkdir -p $d/sub"
        " && touch $d/a.txt $d/sub/$(printf '\\321\\204\\320\\260\\320\\271\\320\\273').txt"
        " && { [ -e big.done ] || bash -c 'rm -rf big && for a in {0..99}; do mkdir -p big/d$a/s{0..99}"
        " && touch big/d$a/s{0..99}/f{0..4}.dat; done && touch big.done'; }";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('g')) + " && " + script), 0);
}

// A progress title: the counts with commas between groups of three digits.
const std::regex Progress("Dirtally 1\\.1 - \\d{1,3}(,\\d{3})* files in \\d{1,3}(,\\d{3})* folders");

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

// The main dialog's starting options, filter and focus, and the About entry after a separator at
// the end of its system menu. Keys through IsDialogMessageA outside a run: Escape does nothing,
// Enter presses only a focused push button (a create writes F:\keys.txt; About's is its default).
TEST(MainDialog, StartsWithTheDefaultsAndEnterPressesOnlyAFocusedPushButton) {
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
        HWND dialog = MakeDialog(row.dialog, row.dialog == IDD_MAIN ? MainDialogProc : AboutDialogProc);
        if (&row == cases) {
            std::string checks;  // x: checked, in the order of the ids below
            for (int id : {IDC_INCLUDE_SUBFOLDERS, IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH, IDC_SAVE_FOLDER_PATH,
                           IDC_SAVE_DETAILS, IDC_SORT_NAME, IDC_SORT_EXTENSION, IDC_SORT_SIZE, IDC_SORT_DATE})
                checks += IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 'x' : '-';
            EXPECT_EQ(checks + WindowText(GetDlgItem(dialog, IDC_FILTER)) + WindowText(GetDlgItem(dialog, IDC_OUTPUT_FILE)),
                      "-xxxxx---*.*");
            EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_FOLDER_LIST)) << "the focus";
            HMENU menu = GetSystemMenu(dialog, FALSE);
            int last = GetMenuItemCount(menu) - 1;
            char text[64] = "";
            GetMenuStringA(menu, UINT(last), text, sizeof text, MF_BYPOSITION);
            EXPECT_TRUE(GetMenuState(menu, UINT(last - 1), MF_BYPOSITION) & MF_SEPARATOR);
            EXPECT_EQ(std::to_string(GetMenuItemID(menu, last)) + text, std::to_string(IDM_ABOUT) + "About...");
        }
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

// Creates sent from another thread, watched every 10 ms: the dialog always answers within 200 ms. A long
// run shows its counts in the title, every control disabled, a second create refused at once and the wait
// cursor; Escape then stops it (no file, no box) and the same dialog runs again. A short run never sets the
// title. Failures tell why in a warning box and leave nothing. Afterwards title, controls (one disabled
// before) and focus are as before, and the file, complete when the command returns, equals WriteListing's.
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
    std::unique_ptr<UiHost> host;
    std::string hostFolder, before;
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        if (hostFolder != row.folder) {
            host.reset();
            hostFolder = row.folder;
            ASSERT_TRUE(SetCurrentDirectoryA(row.folder));
            host.reset(new UiHost);
            host->Send(host->dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(host->dialog, IDC_FILTER)), TRUE);
            EnableWindow(GetDlgItem(host->dialog, IDC_BROWSE), FALSE);  // must stay disabled afterwards
            before = host->EnabledStates();
        }
        SetDlgItemTextA(host->dialog, IDC_OUTPUT_FILE, row.output);
        SetDlgItemTextA(host->dialog, IDC_FILTER, row.filter);
        host->Send(GetDlgItem(host->dialog, IDC_INCLUDE_SUBFOLDERS), BM_SETCHECK, row.subfolders, 0);
        BoxAnswerer answerer;
        HICON boxIcon = nullptr;
        answerer.SetBeforeAnswer([](const SeenBox &, void *icon) { *static_cast<HICON *>(icon) = BoxIcon(); }, &boxIcon);
        UiHost::titleSets = 0;
        const bool writes = !*row.box && !row.escape;
        auto created = host->Create(writes ? row.output : "");
        int unanswered = 0;
        std::string shown, shownStates;
        bool createAnswered = false, waitCursor = false;
        while (created.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            char text[256] = "";
            if (!host->Send(host->dialog, WM_GETTEXT, sizeof text, LPARAM(text))) ++unanswered;
            if (!*text || text == std::string(Title)) continue;
            shown = text;
            EXPECT_TRUE(std::regex_match(shown, Progress)) << shown;
            if (!shownStates.empty()) continue;
            shownStates = host->EnabledStates();
            createAnswered = host->Send(host->dialog, WM_COMMAND, IDC_CREATE, 0);
            waitCursor = host->CursorOverClient() == LoadCursorA(nullptr, IDC_WAIT);
            // Escape as the keyboard sends it when no control has the focus (all are disabled).
            if (row.escape) PostMessageA(host->dialog, WM_SYSKEYDOWN, VK_ESCAPE, 1);
        }
        const std::string result = created.get();
        EXPECT_EQ(unanswered, 0) << "the dialog answers within 200 ms";
        if (row.subfolders) {
            EXPECT_TRUE(!shown.empty() && shown.find(" - 0 files") == std::string::npos) << "counts: " << shown;
            EXPECT_EQ(shownStates, std::string(before.size(), '-')) << "all disabled";
            EXPECT_TRUE(createAnswered) << "a second create is refused, not nested";
            EXPECT_TRUE(waitCursor) << "the wait cursor over the dialog";
        } else {
            EXPECT_EQ(UiHost::titleSets, 0) << "the title was never set";
        }
        EXPECT_EQ(WindowText(host->dialog), Title) << "the title is restored";
        EXPECT_EQ(host->EnabledStates(), before);
        std::string boxes;
        for (const SeenBox &box : answerer.Seen()) boxes += box.text;
        EXPECT_EQ(boxes, row.box);
        EXPECT_TRUE(!*row.box || boxIcon == LoadIconA(nullptr, IDI_WARNING)) << "the warning icon";
        EXPECT_EQ(FileExists(row.output), writes) << "a file only from a whole run";
        if (!writes) continue;
        EXPECT_EQ(host->Focus(), GetDlgItem(host->dialog, IDC_FILTER)) << "the focus is back";
        const char expected[] = "G:\\app\\out\\expected.txt";
        ASSERT_EQ(WriteListing(expected, row.folder, row.filter, ReadListingOptions(host->dialog)), ListingComplete);
        EXPECT_TRUE(result == ReadWholeFile(expected)) << "byte-exact, complete when the command returned";
    }
}

// A folder whose name is outside the code page: its row shows "??????", a double click enters
// it by its real name, and the listing made from there holds everything below it.
TEST(MainDialog, ListsAFolderEnteredByANameOutsideTheCodePage) {
    MakeRunTrees();
    ASSERT_TRUE(SetCurrentDirectoryA("G:\\app\\intl"));
    UiHost host;
    HWND list = GetDlgItem(host.dialog, IDC_FOLDER_LIST);
    LRESULT row = SendMessageA(list, LB_FINDSTRINGEXACT, WPARAM(-1), LPARAM("??????"));
    ASSERT_NE(row, LB_ERR) << "the Cyrillic folder's row, as the code page shows it";
    ASSERT_TRUE(host.Send(list, LB_SETCURSEL, WPARAM(row), 0));
    ASSERT_TRUE(host.Send(host.dialog, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_LIST, LBN_DBLCLK), LPARAM(list), 2000));
    CheckDlgButton(host.dialog, IDC_INCLUDE_SUBFOLDERS, BST_CHECKED);
    CheckDlgButton(host.dialog, IDC_SAVE_DETAILS, BST_UNCHECKED);
    SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, "G:\\app\\out\\intl.txt");
    const std::string top = "G:\\app\\intl\\??????", sub = top + "\\SUB";
    EXPECT_EQ(host.Create("G:\\app\\out\\intl.txt").get(),
              top + "\r\n" + std::string(top.size(), '=') + "\r\n\r\n" + sub + "\r\n" + top + "\\a.txt\r\n\r\n\r\n" +
                  sub + "\r\n" + std::string(sub.size(), '=') + "\r\n\r\n" + sub + "\\????.txt\r\n\r\n\r\n");
}
