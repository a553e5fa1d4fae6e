// The main dialog from its real template, driven in this process; the proposed name.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "browser.h"
#include "resource.h"
#include "support.h"

// The main dialog made modeless (EndDialog only hides it) and not yet shown;
// the module instance is set first, as WinMain does.
struct Host {
    HWND dialog = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr),
                                     MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    ~Host() { DestroyWindow(dialog); }
};

// The starting state and the system menu; then the options (subfolders, files, path
// on each line, full path heading, details, sort key) as clicks change the controls.
TEST(MainDialog, StartsWithTheDefaultsAndReadsTheOptionsFromTheControls) {
    Host host;
    std::string checks;  // x: checked, in the order of the ids below
    for (int id : {IDC_INCLUDE_SUBFOLDERS, IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH,
                   IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS, IDC_SORT_NAME, IDC_SORT_EXTENSION,
                   IDC_SORT_SIZE, IDC_SORT_DATE})
        checks += IsDlgButtonChecked(host.dialog, id) == BST_CHECKED ? 'x' : '-';
    EXPECT_EQ(checks + WindowText(GetDlgItem(host.dialog, IDC_FILTER)) +
                  WindowText(GetDlgItem(host.dialog, IDC_OUTPUT_FILE)), "-xxxxx---*.*");
    EXPECT_EQ(GetFocus(), GetDlgItem(host.dialog, IDC_FOLDER_LIST)) << "the focus";
    HMENU menu = GetSystemMenu(host.dialog, FALSE);
    int last = GetMenuItemCount(menu) - 1;
    char text[64] = "";
    GetMenuStringA(menu, UINT(last), text, sizeof text, MF_BYPOSITION);
    EXPECT_TRUE(GetMenuState(menu, UINT(last - 1), MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(std::to_string(GetMenuItemID(menu, last)) + text,
              std::to_string(IDM_ABOUT) + "About...");

    struct OptionsCase { std::vector<int> clicks; const char *expected, *why; };
    const OptionsCase cases[] = {
        {{IDC_INCLUDE_SUBFOLDERS, IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH, IDC_SORT_SIZE},
         "1 0 0 1 1 3", "three check boxes, by size"},
        {{IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS, IDC_SORT_EXTENSION}, "1 0 0 0 0 2", "the rest"},
        {{IDC_SORT_NAME, IDC_SORT_DATE}, "1 0 0 0 0 4", "by date, the last button clicked"},
    };
    for (const OptionsCase &row : cases) {
        SCOPED_TRACE(row.why);
        for (int id : row.clicks) SendDlgItemMessageA(host.dialog, id, BM_CLICK, 0, 0);
        ListingOptions o = ReadListingOptions(host.dialog);
        char got[32];
        std::snprintf(got, sizeof got, "%d %d %d %d %d %d", o.includeSubfolders, o.includeFiles,
                      o.pathOnEachLine, o.fullPathInHeading, o.showDetails, o.sortKey);
        EXPECT_STREQ(got, row.expected);
    }
}

// Keys go through IsDialogMessageA; a create command writes F:\keys.txt.
TEST(MainDialog, EscapeDoesNothingAndEnterPressesOnlyAFocusedPushButton) {
    struct KeyCase { int focus; WPARAM key; bool ends, creates; const char *why; };
    const KeyCase cases[] = {
        {IDC_EXIT, VK_ESCAPE, false, false, "IDCANCEL is not handled"},
        {IDC_FOLDER_LIST, VK_RETURN, false, false, "there is no default push button"},
        {IDC_EXIT, VK_RETURN, true, false, "Enter presses the focused exit button"},
        {IDC_CREATE, VK_RETURN, false, true, "Enter presses the focused create button"},
    };
    for (const KeyCase &row : cases) {
        SCOPED_TRACE(row.why);
        Host host;
        SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, "F:\\keys.txt");  // no save-file dialog
        ShowWindow(host.dialog, SW_SHOW);
        SendMessageA(host.dialog, WM_NEXTDLGCTL, WPARAM(GetDlgItem(host.dialog, row.focus)), TRUE);
        MSG key = {GetFocus(), WM_KEYDOWN, row.key, 1, 0, {0, 0}};
        EXPECT_TRUE(IsDialogMessageA(host.dialog, &key));
        EXPECT_EQ(!IsWindowVisible(host.dialog), row.ends);
        EXPECT_EQ(DeleteFileA("F:\\keys.txt") != FALSE, row.creates);
    }
}

// The proposal goes into a buffer with guard bytes after its MAX_PATH bytes.
TEST(ProposeOutputName, ProposesTheLastComponentOrNothing) {
    const std::string longest(254, 'a');  // "\" + 254 + ".txt": 259 characters
    struct ProposalCase { std::string folder, expected; const char *why; };
    const ProposalCase cases[] = {
        {"C:\\Music\\Rock", "\\Rock.txt", "the last component, backslash included"},
        {"C:\\", "\\.txt", "a drive root proposes a bare extension"},
        {"Music", "", "no backslash: no name"},
        {"C:\\" + longest, "\\" + longest + ".txt", "259 characters still fit"},
        {"C:\\" + longest + "b", "", "260 characters would not fit: no name"},
    };
    for (const ProposalCase &row : cases) {
        SCOPED_TRACE(row.why);
        std::string buffer(MAX_PATH + 16, 'X');
        ProposeOutputName(row.folder.c_str(), &buffer[0]);
        EXPECT_EQ(buffer.c_str() + buffer.substr(MAX_PATH), row.expected + std::string(16, 'X'));
    }
}

// Escape leaves the About dialog open (IDCANCEL is not handled); Enter presses its
// default button, which closes it.
TEST(AboutDialog, EscapeKeepsItOpenAndEnterClosesIt) {
    HWND about = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr),
                                    MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutDialogProc, 0);
    ShowWindow(about, SW_SHOW);
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        MSG message = {GetDlgItem(about, IDOK), WM_KEYDOWN, key, 1, 0, {0, 0}};
        IsDialogMessageA(about, &message);
        EXPECT_EQ(!IsWindowVisible(about), key == VK_RETURN) << "key " << key;
    }
    DestroyWindow(about);
}

namespace {

// The main dialog on a thread of its own running its message loop, as the program's modal
// loop would, so that this thread can send it commands and watch it meanwhile. It starts
// in the process's current directory.
struct UiHost {
    HWND dialog = nullptr;
    DWORD threadId = 0;
    std::thread thread;
    UiHost() {
        std::promise<void> made;
        thread = std::thread([this, &made] {
            dialog = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr),
                                        MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
            threadId = GetCurrentThreadId();
            ShowWindow(dialog, SW_SHOW);
            HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CountTitleSets, nullptr, threadId);
            made.set_value();
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                if (!IsDialogMessageA(dialog, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
            UnhookWindowsHookEx(hook);
            DestroyWindow(dialog);
        });
        made.get_future().wait();
        titleSets = 0;
    }
    ~UiHost() {
        PostThreadMessageA(threadId, WM_QUIT, 0, 0);
        thread.join();
    }
    HWND Control(int id) const { return GetDlgItem(dialog, id); }
    // Sends from this thread; false when the dialog did not answer within `ms`.
    bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD ms = 200) const {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ms, &result) != 0;
    }
    // The create command as an automation script sends it: returns when the command
    // has, with the bytes of `output` (if named) at that moment.
    std::future<std::string> Create(const std::string &output) const {
        return std::async(std::launch::async, [this, output] {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CREATE, BN_CLICKED),
                         reinterpret_cast<LPARAM>(Control(IDC_CREATE)));
            return output.empty() ? std::string() : ReadWholeFile(output);
        });
    }
    // Escape as the keyboard delivers it: to the focused control, or as a system key to
    // the dialog when no control has the focus (a disabled one loses it).
    void PressEscape() const {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(threadId, &info);
        if (info.hwndFocus) PostMessageA(info.hwndFocus, WM_KEYDOWN, VK_ESCAPE, 1);
        else PostMessageA(dialog, WM_SYSKEYDOWN, VK_ESCAPE, 1);
    }
    // How often the dialog's title has been set since it was made.
    static int TitleSets() { return titleSets; }
    static LRESULT CALLBACK CountTitleSets(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
        if (code == HC_ACTION && sent->message == WM_SETTEXT && GetParent(sent->hwnd) == nullptr)
            ++titleSets;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static std::atomic<int> titleSets;
    HWND Focus() const {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(threadId, &info);
        return info.hwndFocus;
    }
};

std::atomic<int> UiHost::titleSets{0};

const char Title[] = "Dirtally 1.1";
const char RunRoot[] = "G:\\app";  // G:\app\big (50,000 files), G:\app\small, G:\app\out\...

// G:\app: "big" with 50,000 empty files, five in each of 100 x 100 subfolders (made once:
// the many folders make a run last over a second), and afresh "small" with 20 files and "out"
// with full.txt -> /dev/full.
void MakeRunTrees() {
    const char script[] = "mkdir -p app && cd app && rm -rf small out && mkdir small out"
        " && ln -s /dev/full out/full.txt && (cd small && seq -f 's%02g.txt' 1 20 | xargs touch)"
        " && if [ ! -e big.done ]; then rm -rf big && mkdir big && cd big"
        " && awk 'BEGIN { for (a = 0; a < 100; a++) for (b = 0; b < 100; b++) print \"d\" a \"/s\" b }'"
        " | xargs mkdir -p && awk 'BEGIN { for (a = 0; a < 100; a++) for (b = 0; b < 100; b++)"
        " for (f = 0; f < 5; f++) print \"d\" a \"/s\" b \"/f\" f \".dat\" }' | xargs touch"
        " && touch ../big.done; fi";
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('g')) + " && " + script), 0);
}

// The files and folders counts of a progress title (thousands separated by commas), or
// false when `title` is not one.
bool ParseProgress(const std::string &title, long *files, long *folders) {
    static const std::regex form("Dirtally 1\\.1 - (\\d{1,3}(,\\d{3})*) files in "
                                 "(\\d{1,3}(,\\d{3})*) folders");
    std::smatch match;
    if (!std::regex_match(title, match, form)) return false;
    std::string counts[2] = {match[1], match[3]};
    for (std::string &count : counts) count.erase(std::remove(count.begin(), count.end(), ','), count.end());
    *files = std::atol(counts[0].c_str());
    *folders = std::atol(counts[1].c_str());
    return true;
}

// The enabled state of every child of the dialog, one character each (x: enabled).
std::string EnabledStates(HWND dialog) {
    std::string states;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        states += IsWindowEnabled(child) ? 'x' : '-';
    return states;
}

// The cursor the dialog sets when the mouse moves over its client area.
HCURSOR CursorOverClient(const UiHost &host) {
    host.Send(host.dialog, WM_SETCURSOR, WPARAM(host.dialog), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return info.hCursor;
}

// What a watcher saw of the dialog while a create command ran.
struct Watch {
    int unanswered = 0;           // messages not answered within 200 ms
    std::vector<std::string> titles;  // every distinct title, in order
    std::string statesWhileShown;     // the controls' states while the progress showed
    bool createAnswered = true;   // a second create sent during the progress returned at once
    bool waitCursor = false;      // the cursor the dialog set over its client area was IDC_WAIT
    std::string result;           // the file as the command's return found it
};

// Watches the dialog every 10 ms until the create command returns; while the progress
// shows, sends a second create once and runs `during` once (may be null).
Watch WatchRun(const UiHost &host, std::future<std::string> created,
               void (*during)(const UiHost &host) = nullptr) {
    Watch watch;
    bool acted = false;
    while (created.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        char text[256] = "";
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutA(host.dialog, WM_GETTEXT, sizeof text,
                                 reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 200, &got)) {
            ++watch.unanswered;
            continue;
        }
        if (watch.titles.empty() || watch.titles.back() != text) watch.titles.push_back(text);
        if (std::string(text) != Title && !acted) {
            acted = true;
            watch.statesWhileShown = EnabledStates(host.dialog);
            watch.createAnswered = host.Send(host.dialog, WM_COMMAND, IDC_CREATE, 0);
            watch.waitCursor = CursorOverClient(host) == LoadCursorA(nullptr, IDC_WAIT);
            if (during) during(host);
        }
    }
    watch.result = created.get();
    return watch;
}

// Finds the open message box of this process (the window with the static 0xFFFF).
BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != GetCurrentProcessId() || !IsWindowVisible(window) || !GetDlgItem(window, 0xFFFF))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// The icon that the open message box shows in its icon control.
HICON BoxIcon() {
    HWND box = nullptr;
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&box));
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    return nullptr;
}

}  // namespace

// A create sent from another thread on a tree of 50,000 files and on a small one: the dialog
// keeps answering; the long run shows its growing counts in the title with every control
// disabled and a second create refused at once; the short one changes nothing on screen.
// Afterwards title, controls (one left disabled before) and focus are as before, and the
// file, complete when the command returns, equals WriteListing's.
TEST(MainDialog, CreateRunsWhileTheDialogKeepsAnsweringAndRestoresIt) {
    MakeRunTrees();
    struct RunCase {
        const char *folder, *output, *filter;
        bool subfolders, showsProgress;
        const char *why;
    };
    const RunCase cases[] = {
        {"G:\\app\\big", "run.txt", "*.*", true, true,
         "50,000 files: the progress shows after half a second"},
        {"G:\\app\\small", "caf\xE9.txt", "s1*", false, false,
         "20 files, a filter, an ANSI output name: over before the half second"},
    };
    for (const RunCase &row : cases) {
        SCOPED_TRACE(row.why);
        ASSERT_TRUE(SetCurrentDirectoryA(row.folder));
        UiHost host;
        const std::string output = std::string(RunRoot) + "\\out\\" + row.output;
        SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, output.c_str());
        SetDlgItemTextA(host.dialog, IDC_FILTER, row.filter);
        host.Send(host.Control(IDC_INCLUDE_SUBFOLDERS), BM_SETCHECK, row.subfolders, 0);
        host.Send(host.dialog, WM_NEXTDLGCTL, WPARAM(host.Control(IDC_FILTER)), TRUE);
        EnableWindow(host.Control(IDC_BROWSE), FALSE);  // must stay disabled afterwards
        const std::string before = EnabledStates(host.dialog);

        Watch watch = WatchRun(host, host.Create(output));
        EXPECT_EQ(watch.unanswered, 0) << "the dialog answers within 200 ms";
        EXPECT_EQ(WindowText(host.dialog), Title) << "the title is restored";
        long lastFiles = -1, lastFolders = -1, files = 0, folders = 0;
        size_t shown = 0;
        for (const std::string &title : watch.titles) {
            if (title == Title) continue;
            ++shown;
            ASSERT_TRUE(ParseProgress(title, &files, &folders)) << title;
            EXPECT_TRUE(files >= lastFiles && folders >= lastFolders) << title << " grows";
            EXPECT_TRUE(files <= 50000 && folders <= 10101) << title;
            lastFiles = files;
            lastFolders = folders;
        }
        if (row.showsProgress) {
            EXPECT_GE(shown, 1u) << "progress in the title";
            EXPECT_GT(lastFiles, 0) << "counts that move";
            EXPECT_EQ(watch.statesWhileShown, std::string(before.size(), '-')) << "all disabled";
            EXPECT_TRUE(watch.createAnswered) << "a second create is refused, not nested";
            EXPECT_TRUE(watch.waitCursor) << "the wait cursor over the dialog";
        } else {
            EXPECT_EQ(host.TitleSets(), 0) << "the title was never set";
            EXPECT_EQ(EnabledStates(host.dialog), before) << "no control was ever disabled";
        }
        EXPECT_EQ(EnabledStates(host.dialog), before);
        EXPECT_NE(CursorOverClient(host), LoadCursorA(nullptr, IDC_WAIT)) << "the arrow again";
        EXPECT_EQ(host.Focus(), host.Control(IDC_FILTER)) << "the focus is back";
        EXPECT_EQ(CurrentFolder, std::string(row.folder)) << "no navigation happened";

        const std::string expected = std::string(RunRoot) + "\\out\\expected.txt";
        ListingOptions options = ReadListingOptions(host.dialog);
        ASSERT_EQ(WriteListing(expected.c_str(), row.folder, row.filter, options), ListingComplete);
        std::string wanted = ReadWholeFile(expected);
        EXPECT_GT(wanted.size(), 500u);
        EXPECT_TRUE(watch.result == wanted) << "byte-exact, complete when the command returned";
        EXPECT_TRUE(ReadWholeFile(output) == wanted);
    }
}

// Escape during a long run stops it: the command returns soon, no file and no box are
// left, the dialog is as before and a second run then writes its listing.
TEST(MainDialog, EscapeDuringARunStopsItAndTheDialogStaysUsable) {
    MakeRunTrees();
    ASSERT_TRUE(SetCurrentDirectoryA("G:\\app\\big"));
    BoxAnswerer answerer;
    UiHost host;
    const std::string output = std::string(RunRoot) + "\\out\\escaped.txt";
    SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, output.c_str());
    host.Send(host.Control(IDC_INCLUDE_SUBFOLDERS), BM_SETCHECK, BST_CHECKED, 0);
    const std::string before = EnabledStates(host.dialog);

    Watch watch = WatchRun(host, host.Create(output), [](const UiHost &h) { h.PressEscape(); });
    long files = 0, folders = 0;
    ASSERT_GE(watch.titles.size(), 2u) << "the run was under way when Escape came";
    EXPECT_TRUE(ParseProgress(watch.titles[1], &files, &folders)) << watch.titles[1];
    EXPECT_EQ(watch.result, "");
    EXPECT_FALSE(FileExists(output)) << "the incomplete file is removed";
    EXPECT_TRUE(answerer.Seen().empty()) << "no message";
    EXPECT_TRUE(IsWindowVisible(host.dialog));
    EXPECT_EQ(WindowText(host.dialog), Title);
    EXPECT_EQ(EnabledStates(host.dialog), before);

    host.Send(host.Control(IDC_INCLUDE_SUBFOLDERS), BM_SETCHECK, BST_UNCHECKED, 0);
    std::string second = host.Create(output).get();
    EXPECT_EQ(second.substr(0, 15), "G:\\app\\big\r\n===") << "the second run's listing";
}

// A file that cannot be created or written is told in a warning box (text and icon), and
// nothing is left.
TEST(MainDialog, TellsWhyNoListingWasWrittenWithTheWarningIcon) {
    MakeRunTrees();
    ASSERT_TRUE(SetCurrentDirectoryA("G:\\app\\small"));
    struct FailureCase { const char *output, *message; };
    const FailureCase cases[] = {
        {"G:\\app\\missing\\x.txt", "Can't create output file"},  // no such folder
        {"G:\\app\\out\\full.txt", "Can't write output file"},    // a full disk
    };
    UiHost host;
    for (const FailureCase &row : cases) {
        SCOPED_TRACE(row.message);
        BoxAnswerer answerer;
        static HICON seenIcon;
        seenIcon = nullptr;
        answerer.SetBeforeAnswer([](const SeenBox &, void *) { seenIcon = BoxIcon(); }, nullptr);
        SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, row.output);
        host.Create("").get();  // the full disk's link must not be read
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(answerer.Seen()[0].text, row.message);
        EXPECT_EQ(seenIcon, LoadIconA(nullptr, IDI_WARNING)) << "the warning icon";
        EXPECT_FALSE(FileExists(row.output)) << "nothing is left";
    }
}

// A folder whose name is outside the code page: its row shows "??????", a double click enters
// it by its real name, and the listing made from there holds everything below it.
TEST(MainDialog, ListsAFolderEnteredByANameOutsideTheCodePage) {
    ASSERT_EQ(RunUnix("cd " + ShellQuote(DriveFolderUnix('g')) + " && rm -rf app/intl && mkdir -p app/intl app/out && "
                      "cd app/intl && d=$(printf '\\320\\237\\321\\200\\320\\270\\320\\262\\320\\265\\321\\202') && "
                      "mkdir -p \"$d/sub\" && touch \"$d/a.txt\" \"$d/sub/$(printf '\\321\\204\\320\\260\\320\\271\\320\\273').txt\""), 0);
    ASSERT_TRUE(SetCurrentDirectoryA("G:\\app\\intl"));
    UiHost host;
    HWND list = host.Control(IDC_FOLDER_LIST);
    LRESULT row = SendMessageA(list, LB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>("??????"));
    ASSERT_NE(row, LB_ERR) << "the Cyrillic folder's row, as the code page shows it";
    ASSERT_TRUE(host.Send(list, LB_SETCURSEL, WPARAM(row), 0));
    ASSERT_TRUE(host.Send(host.dialog, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_LIST, LBN_DBLCLK), LPARAM(list), 2000));
    EXPECT_STREQ(CurrentFolder, "G:\\app\\intl\\??????");
    CheckDlgButton(host.dialog, IDC_INCLUDE_SUBFOLDERS, BST_CHECKED);
    CheckDlgButton(host.dialog, IDC_SAVE_DETAILS, BST_UNCHECKED);
    SetDlgItemTextA(host.dialog, IDC_OUTPUT_FILE, "G:\\app\\out\\intl.txt");
    const std::string top = "G:\\app\\intl\\??????", sub = top + "\\SUB";
    EXPECT_EQ(host.Create("G:\\app\\out\\intl.txt").get(),
              top + "\r\n" + std::string(top.size(), '=') + "\r\n\r\n" + sub + "\r\n" + top + "\\a.txt\r\n\r\n\r\n" +
                  sub + "\r\n" + std::string(sub.size(), '=') + "\r\n\r\n" + sub + "\\????.txt\r\n\r\n\r\n");
    SetCurrentDirectoryA("G:\\");
}
