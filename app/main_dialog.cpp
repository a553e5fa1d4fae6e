// The main dialog: its starting state, its commands and the create command.
#include <process.h>

#include <string>
#include <vector>

#include "app.h"
#include "browser.h"
#include "captions.h"
#include "message.h"
#include "resource.h"

// The text of the entry appended to the system menu.
static const char AboutMenuText[] = "About...";

// The filter the dialog starts with.
static const char DefaultFilter[] = "*.*";

// The option check boxes that start checked, in the order they are set.
static const int CheckedAtStart[] = {IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH,
                                     IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS, IDC_SORT_NAME};

// The sort buttons in the order they are queried, each with its key.
struct SortButton {
    int id;
    SortKey key;
};
static const SortButton SortButtons[] = {
    {IDC_SORT_NAME, SortByName},
    {IDC_SORT_EXTENSION, SortByExtension},
    {IDC_SORT_SIZE, SortBySize},
    {IDC_SORT_DATE, SortByDate},
};
static_assert(sizeof SortButtons / sizeof SortButtons[0] == SortByDate,
              "one sort button for every sort key");

// True when the check box or radio button `id` is checked (not grey).
static bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// Reads the five check boxes and the first checked sort button; with none
// checked, which the auto radio buttons never allow, files sort by name.
ListingOptions ReadListingOptions(HWND dialog) {
    ListingOptions options = {};
    options.includeSubfolders = IsChecked(dialog, IDC_INCLUDE_SUBFOLDERS);
    options.includeFiles = IsChecked(dialog, IDC_INCLUDE_FILES);
    options.pathOnEachLine = IsChecked(dialog, IDC_SAVE_MAIN_PATH);
    options.fullPathInHeading = IsChecked(dialog, IDC_SAVE_FOLDER_PATH);
    options.showDetails = IsChecked(dialog, IDC_SAVE_DETAILS);
    options.sortKey = SortByName;
    for (const SortButton &button : SortButtons) {
        if (IsChecked(dialog, button.id)) {
            options.sortKey = button.key;
            break;
        }
    }
    return options;
}

// How long a run goes on before the title shows its progress, and how often
// the title is refreshed after that, in milliseconds: a run that ends within
// the delay changes nothing on the screen but the cursor.
static const UINT ProgressDelay = 500;
static const UINT ProgressInterval = 250;

// The create command's timer goes by the create button's id.
static const UINT_PTR ProgressTimer = IDC_CREATE;

// One run handed to the worker thread, and what it came back with.
struct RunJob {
    ListingRequest request;
    ListingResult result;
};

// The run in progress, owned by the dialog's thread; `progress` is null
// outside a run, so at most one run exists at a time.
struct ActiveRun {
    ListingProgress *progress;
    bool closeRequested;         // the close box, Alt+F4 or exit came during the run
    bool showingProgress;        // the title shows the counts and the controls are disabled
    char title[128];             // the title to put back
    HWND focus;                  // the control that had the focus
    std::vector<HWND> disabled;  // the controls the run disabled, to enable again
};
static ActiveRun CurrentRun;

// The worker thread: one whole run of the engine.
static unsigned __stdcall RunJobThread(void *argument) {
    RunJob *job = static_cast<RunJob *>(argument);
    job->result = RunListing(job->request);
    return 0;
}

// Shows the counts of the run so far in the title, after the dialog's own.
static void ShowProgressTitle(HWND dialog) {
    std::string title = std::string(CurrentRun.title) + " - " + ProgressText(*CurrentRun.progress);
    SetWindowTextA(dialog, title.c_str());
}

// Once a run has gone on for the delay: disables every enabled control,
// remembering which, so that nothing can be started or changed, and from
// then on refreshes the title with the counts.
static void OnProgressTimer(HWND dialog) {
    if (!CurrentRun.progress) return;
    if (!CurrentRun.showingProgress) {
        CurrentRun.showingProgress = true;
        for (HWND control = GetWindow(dialog, GW_CHILD); control;
             control = GetWindow(control, GW_HWNDNEXT)) {
            if (!IsWindowEnabled(control)) continue;
            CurrentRun.disabled.push_back(control);
            EnableWindow(control, FALSE);
        }
        SetTimer(dialog, ProgressTimer, ProgressInterval, nullptr);
    }
    ShowProgressTitle(dialog);
}

// Marks the run as started: remembers the title and the focus, and starts
// the timer that shows the progress once the delay has passed.
static void BeginRun(HWND dialog, ListingProgress *progress) {
    CurrentRun.progress = progress;
    CurrentRun.closeRequested = false;
    CurrentRun.showingProgress = false;
    GetWindowTextA(dialog, CurrentRun.title, sizeof CurrentRun.title);
    CurrentRun.focus = GetFocus();
    CurrentRun.disabled.clear();
    SetTimer(dialog, ProgressTimer, ProgressDelay, nullptr);
}

// Puts the dialog back as the run found it: the title, each control the run
// disabled, and the focus. Returns whether a close was asked for meanwhile.
static bool EndRun(HWND dialog) {
    KillTimer(dialog, ProgressTimer);
    if (CurrentRun.showingProgress) {
        for (HWND control : CurrentRun.disabled) EnableWindow(control, TRUE);
        SetWindowTextA(dialog, CurrentRun.title);
    }
    HWND focus = CurrentRun.focus;
    if (focus && focus != GetFocus() && IsChild(dialog, focus) && IsWindowEnabled(focus))
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    CurrentRun.progress = nullptr;
    CurrentRun.disabled.clear();
    return CurrentRun.closeRequested;
}

// Asks the run to stop; the engine removes the incomplete file. With
// `thenClose` the dialog ends once the run has.
static void StopRun(bool thenClose) {
    CurrentRun.progress->cancel = true;
    if (thenClose) CurrentRun.closeRequested = true;
}

// Handles a message of the nested loop that is input to the dialog during a
// run; returns false for every other message. Escape asks to stop (as the
// dialog manager would send it, IDCANCEL); system keys go to the platform
// without the dialog manager, so Alt+F4 and Alt+Space work and mnemonics do
// not; every other key and every click is dropped. Escape also comes as a
// system key when the focused control has just been disabled.
static bool HandleRunInput(HWND dialog, const MSG &message) {
    if (message.hwnd != dialog && !IsChild(dialog, message.hwnd)) return false;
    UINT type = message.message;
    bool key = type >= WM_KEYFIRST && type <= WM_KEYLAST;
    bool click = type >= WM_LBUTTONDOWN && type <= WM_MOUSELAST;
    if (!key && !click) return false;
    if ((type == WM_KEYDOWN || type == WM_SYSKEYDOWN) && message.wParam == VK_ESCAPE) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    } else if (type == WM_SYSKEYDOWN || type == WM_SYSKEYUP || type == WM_SYSCHAR) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}

// Keeps the thread's messages flowing until `thread` has ended: the dialog
// repaints, answers messages sent to it and takes Escape and the close box.
// A quit request stops the run and is posted again once it has ended.
static void PumpUntilEnded(HWND dialog, HANDLE thread) {
    bool quit = false;
    WPARAM quitCode = 0;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                StopRun(false);
            } else if (!HandleRunInput(dialog, message) && !IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

// Runs `job` on a worker thread while the dialog stays responsive, and
// returns once the run has ended; returns whether a close was asked for
// meanwhile. Without a thread the run goes on this one, as it always could.
static bool RunInBackground(HWND dialog, RunJob *job) {
    uintptr_t started = _beginthreadex(nullptr, 0, RunJobThread, job, 0, nullptr);
    if (!started) {
        job->result = RunListing(job->request);
        return false;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(started);
    BeginRun(dialog, job->request.progress);
    PumpUntilEnded(dialog, thread);
    CloseHandle(thread);
    return EndRun(dialog);
}

// Gathers the output path, the filter and the options and runs the listing;
// an empty output field first runs the save-file dialog, and whatever it
// leaves in OutputPath (the choice, or the proposed name when cancelled) is used.
// The command returns when the run has ended, the file complete or removed.
void CreateListing(HWND dialog) {
    if (CurrentRun.progress) return;  // one run at a time
    GetDlgItemTextA(dialog, IDC_OUTPUT_FILE, OutputPath, MAX_PATH);
    if (OutputPath[0] == '\0') BrowseOutputFile(dialog);

    char filter[256];  // at most 255 characters and the terminator
    GetDlgItemTextA(dialog, IDC_FILTER, filter, sizeof filter);
    if (filter[0] == '\0') {
        ShowMessage("Empty filter", MB_OK | MB_ICONWARNING);
        return;
    }
    std::wstring outputPath = WidenAnsi(OutputPath);
    std::wstring wideFilter = WidenAnsi(filter);
    ListingProgress progress;
    RunJob job = {};
    job.request.outputPath = outputPath.c_str();
    job.request.startFolder = CurrentFolderWide;
    job.request.filter = wideFilter.c_str();
    job.request.options = ReadListingOptions(dialog);
    job.request.progress = &progress;

    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    bool closeRequested = RunInBackground(dialog, &job);
    SetCursor(previous);
    ListingOutcome outcome = job.result.outcome;
    if (outcome == ListingNotCreated) ShowMessage("Can't create output file", MB_ICONWARNING);
    if (outcome == ListingNotWritten) ShowMessage("Can't write output file", MB_ICONWARNING);
    if (closeRequested) EndDialog(dialog, 0);
}

// Installs the icon and the About entry, fills the drive drop-down before
// the folder list (it sets the CurrentFolder the list shows), and sets the
// default filter and options.
static void OnInitDialog(HWND dialog) {
    HICON icon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_APP));
    SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

    HMENU systemMenu = GetSystemMenu(dialog, FALSE);
    AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, AboutMenuText);

    BuildDriveTable();
    FillDriveCombo(GetDlgItem(dialog, IDC_DRIVE_COMBO));
    FillFolderList(GetDlgItem(dialog, IDC_FOLDER_LIST));

    SetDlgItemTextA(dialog, IDC_FILTER, DefaultFilter);
    for (int id : CheckedAtStart) CheckDlgButton(dialog, id, BST_CHECKED);
    ApplyLegibleCaptions(dialog);
}

// Moves the CurrentFolder to the double-clicked row.
static void OnFolderListCommand(HWND control, UINT code) {
    if (code == LBN_DBLCLK) OpenFolderRow(control);
}

// Changes to the chosen drive and refills the folder list, also when the
// change was refused, so that the list always shows the CurrentFolder.
static void OnDriveComboCommand(HWND dialog, HWND combo, UINT code) {
    if (code != CBN_SELCHANGE) return;
    ChangeDrive(combo);
    FillFolderList(GetDlgItem(dialog, IDC_FOLDER_LIST));
}

// During a run only stopping is possible: Escape (IDCANCEL) stops the run,
// the exit button stops it and then ends the dialog, and the commands that
// would start, browse or navigate are dropped.
static bool OnCommandDuringRun(int id) {
    switch (id) {
    case IDCANCEL: StopRun(false); return true;
    case IDC_EXIT: StopRun(true); return true;
    case IDC_FOLDER_LIST:
    case IDC_BROWSE:
    case IDC_CREATE:
    case IDC_DRIVE_COMBO: return true;
    default: return false;
    }
}

// Dispatches a command by control id; returns whether it was one of ours.
// Outside a run IDOK and IDCANCEL are not: the dialog has no default button,
// and Escape does nothing.
static bool OnCommand(HWND dialog, int id, HWND control, UINT code) {
    if (CurrentRun.progress) return OnCommandDuringRun(id);
    switch (id) {
    case IDC_FOLDER_LIST: OnFolderListCommand(control, code); return true;
    case IDC_BROWSE: BrowseOutputFile(dialog); return true;
    case IDC_CREATE: CreateListing(dialog); return true;
    case IDC_EXIT: EndDialog(dialog, 0); return true;
    case IDC_DRIVE_COMBO: OnDriveComboCommand(dialog, control, code); return true;
    default: return false;
    }
}

// Paints a row of the folder list; no other control is owner-drawn.
static void OnDrawItem(HWND dialog, UINT_PTR id, const DRAWITEMSTRUCT *request) {
    if (id == IDC_FOLDER_LIST) DrawFolderRow(GetDlgItem(dialog, IDC_FOLDER_LIST), request);
}

// Opens the About dialog for the system menu's entry, except during a run;
// every other system command is left to the platform (move, close and the rest).
static bool OnSysCommand(HWND dialog, WPARAM command) {
    if ((command & 0xFFF0) != IDM_ABOUT) return false;
    if (CurrentRun.progress) return true;
    DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0);
    return true;
}

// The close box and Alt+F4 end the dialog; during a run they stop it first,
// and the create command ends the dialog once the run has ended.
static void OnClose(HWND dialog) {
    if (CurrentRun.progress) StopRun(true);
    else EndDialog(dialog, 0);
}

// Shows the wait cursor over the dialog's client area and its controls
// while a run goes on; returns whether it did.
static bool OnSetCursor(HWND dialog, int hitTest) {
    if (!CurrentRun.progress || (hitTest != HTCLIENT && hitTest != HTERROR)) return false;
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
    return true;
}

// The main dialog's procedure: dispatches each message to its handler and
// returns whether it was handled.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;  // the dialog manager focuses the folder list
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
    case WM_DRAWITEM:
        OnDrawItem(dialog, wParam, reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSysCommand(dialog, wParam);
    case WM_CLOSE:
        OnClose(dialog);
        return TRUE;
    case WM_SETCURSOR:
        return OnSetCursor(dialog, static_cast<short>(LOWORD(lParam)));  // HTERROR is negative
    case WM_TIMER:
        if (wParam != ProgressTimer) return FALSE;
        OnProgressTimer(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}
